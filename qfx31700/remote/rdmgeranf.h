// Typed calls of the application server object "Qfx31700.rdmGeraNF".
//
// Each function places every argument of its method at the position the
// contract names (contract_methods.h), reading each value at the moment of
// the call, copies the by-reference values back into the program's
// variables, passes the reply through CheckResultServ and loads it into the
// dataset it fills.
// A failed call raises EServerError whose message is the refusal key or a
// readable text; a reply of the wrong shape raises EServerError too.
#pragma once

#include <QString>
#include <array>
#include <memory>

#include <hostkit/core/dataset.h>
#include <hostkit/core/netconnection.h>
#include <qfx31700/remote/filtro.h>

namespace qfx {

// The host's busy animation the screens show while the server works.
inline constexpr int kBusyAnimation = 6;

// Flag letters indexed by a boolean: false gives "N", true gives "S".
extern const std::array<QString, 2> stFilBool;
inline const QString& flagLetter(bool value) { return stFilBool[value ? 1 : 0]; }

// Points a connection at the host's application server (address, TLS,
// time limit, session) each time it connects.
void configureServerConnection(hostkit::TNetConnection& net);

// What CheckResultServ lets through: the payload of a usable reply. A failed
// call raises EServerError with the server's message (a refusal key or a
// readable text).
hostkit::RemoteValue CheckResultServ(const hostkit::CallOutcome& reply);

// The reply of SemGeraNF, elements 0 to 3.
struct SemGeraNFReply {
  qint64 lancamento = 0;  // element 1: last stock posting created; 0: nothing posted
  QString chave;          // element 3: message key, or empty
  QString detalhes;       // what the server says beside the key (the days left out)
};

// The reply of EstornaGeraNF.
struct EstornaGeraNFReply {
  QString lancamento;  // element 0: the reversing stock posting
  qint64 itens = 0;    // element 1: sale items pending again
};

// The filter's inputs for the products picker, made just before the call.
struct ProdutosSelecao {
  QString caixaLista, caixaMarca, vendasLista, vendasMarca;
};

// A load whose call is on its way (see hostkit::PendingCall): the reply is
// loaded when taken, raising EServerError as the synchronous call does.
class PendingLoad {
 public:
  void LoadInto(hostkit::TDataSet& ds);

 private:
  friend class RdmGeraNF;
  PendingLoad(const char* method, std::shared_ptr<void> variables, hostkit::PendingCall call)
      : method_(method), variables_(std::move(variables)), call_(std::move(call)) {}
  const char* method_;
  std::shared_ptr<void> variables_;  // what the by-reference values go back into, besides the filter
  hostkit::PendingCall call_;
};

class RdmGeraNF {
 public:
  explicit RdmGeraNF(hostkit::TNetConnection& net) : net_(net) {}

  void GetParamFilial(const QString& filial, hostkit::TDataSet& cdsParamFilial);
  void GetParamVend(const QString& filial, hostkit::TDataSet& cdsParamVend);
  // Validation: the code and ""; listing: "" and "T".
  void getTipoReti(const QString& codigo, const QString& todos, hostkit::TDataSet& cdsTipoReti);
  void getSetor(const QString& codigo, const QString& todos, hostkit::TDataSet& cdsSetor);
  void GetPrincipal(const QString& filial, const QString& loja, TFiltro& filtro, hostkit::TDataSet& cdsPrincipal);
  bool getPeriodoCTBOK(const QString& filial, TFiltro& filtro);
  // The three dates are the caller's copies; the reply is not used.
  void Verifica_Venda_Anterior(const QString& filial, double& inicio, double& fim, double& inicioConsolidacao,
                               const QString& idUtilAlmox, const QString& idUtilLcEstq, const QString& cdAlmoxarife,
                               const QString& cdLocalEstoque);
  void GetVerifVenda(const QString& filial, const QString& loja, TFiltro& filtro, hostkit::TDataSet& cdsVerifVenda);
  void GetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia, TFiltro& filtro,
               hostkit::TDataSet& cdsSoma);
  void GetReducaoZ(const QString& filial, const QString& caixa, double dia, hostkit::TDataSet& cdsReducaoZ);
  // The same two, sent without waiting: several register-days may be on
  // their way at once. The filter must outlive the load.
  PendingLoad StartGetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia,
                           TFiltro& filtro);
  PendingLoad StartGetReducaoZ(const QString& filial, const QString& caixa, double dia);
  // Loads element 0 into cdsErroConsolida and element 2 into cdsProdBloq.
  // `execucao` names the run (see hostkit::CallOptions::runId): asked again
  // under the same name, the server answers the run it has done.
  SemGeraNFReply SemGeraNF(const QString& filiProc, const QString& filial, const QString& loja, TFiltro& filtro,
                           const QString& tipoReti, const QString& setor, const QString& operador, bool verificaEstoque,
                           const QString& execucao, hostkit::TDataSet& cdsErroConsolida,
                           hostkit::TDataSet& cdsProdBloq);
  // The consolidation's stock postings of the branch's sales between two days.
  void GetConsolidacoes(const QString& filial, double inicio, double fim, hostkit::TDataSet& cdsConsolidacoes);
  // Reverses the stock posting filialEst/nrLancEstq of the branch's sales.
  EstornaGeraNFReply EstornaGeraNF(const QString& filiProc, const QString& filial, const QString& filialEst,
                                   const QString& nrLancEstq, const QString& motivo, const QString& operador);
  // stCaixa is the working copy's list itself: what the server leaves in it stays.
  void GetVendas(const QString& filial, const QString& loja, double inicio, double fim, bool todosCaixa,
                 QString& stCaixa, hostkit::TDataSet& cdsVendas);
  void GetProdutos(const QString& filial, const QString& loja, double inicio, double fim, ProdutosSelecao selecao,
                   hostkit::TDataSet& cdsProdutos);

 private:
  hostkit::RemoteValue invoke(const char* method, const std::vector<hostkit::RemoteArg>& args);
  void loadInto(const char* method, const std::vector<hostkit::RemoteArg>& args, hostkit::TDataSet& ds);
  template <class Call>
  void loadInto(const Call& call, hostkit::TDataSet& ds) {
    loadInto(call.method(), call.args(), ds);
  }
  hostkit::TNetConnection& net_;
};

}  // namespace qfx
