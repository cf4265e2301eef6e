#include "rdmgeranf.h"

#include "abort.h"

namespace qfx {

const std::array<QString, 2> stFilBool = {QStringLiteral("N"), QStringLiteral("S")};

using hostkit::EServerError;
using hostkit::RemoteArg;
using hostkit::RemoteValue;
using hostkit::TDataSet;

hostkit::RemoteValue CheckResultServ(const hostkit::CallOutcome& reply, bool, int) {
  if (!reply.ok()) throw EServerError(reply.error, reply.details);
  return *reply.value;
}

RemoteValue RdmGeraNF::invoke(const char* method, const std::vector<RemoteArg>& args) {
  // a fresh dispatch object for every call
  return CheckResultServ(net_.AppServer().Invoke(QString::fromLatin1(method), args), true, 0);
}

static void loadPacket(const char* method, const RemoteValue& value, TDataSet& ds) {
  if (!value.isPacket())
    throw EServerError(QStringLiteral("Resposta inválida do servidor para %1: era esperado um pacote de dados.")
                           .arg(QString::fromLatin1(method)));
  ds.SetData(value.takePacket());
}

void RdmGeraNF::loadInto(const char* method, const std::vector<RemoteArg>& args, TDataSet& ds) {
  loadPacket(method, invoke(method, args), ds);
}

void RdmGeraNF::GetParamFilial(const QString& filial, TDataSet& cdsParamFilial) {
  loadInto("GetParamFilial", {RemoteArg::Text(filial)}, cdsParamFilial);
}

void RdmGeraNF::GetParamVend(const QString& filial, TDataSet& cdsParamVend) {
  loadInto("GetParamVend", {RemoteArg::Text(filial)}, cdsParamVend);
}

void RdmGeraNF::getTipoReti(const QString& codigo, const QString& todos, TDataSet& cdsTipoReti) {
  loadInto("getTipoReti", {RemoteArg::Text(codigo), RemoteArg::Text(todos)}, cdsTipoReti);
}

void RdmGeraNF::getSetor(const QString& codigo, const QString& todos, TDataSet& cdsSetor) {
  loadInto("getSetor", {RemoteArg::Text(codigo), RemoteArg::Text(todos)}, cdsSetor);
}

// The flag letters travel by reference, as the server expects, but bound to
// copies: whatever the server writes back never reaches the module's table.
void RdmGeraNF::GetPrincipal(const QString& filial, const QString& loja, TFiltro& f, TDataSet& cdsPrincipal) {
  QString todasNF = flagLetter(f.boTodasNF);
  QString todasVendas = flagLetter(f.boTodasVendas);
  loadInto("GetPrincipal",
           {RemoteArg::Text(filial),
            RemoteArg::DateRef(f.dtInicial),
            RemoteArg::DateRef(f.dtFinal),
            RemoteArg::TextRef(todasNF),
            RemoteArg::TextRef(todasNF),
            RemoteArg::TextRef(todasVendas),
            RemoteArg::TextRef(f.stVendas),
            RemoteArg::Text(loja),
            RemoteArg::Boolean(f.boTodosCaixa),
            RemoteArg::TextRef(f.stCaixa),
            RemoteArg::Boolean(f.boTodosTipoCons),
            RemoteArg::TextRef(f.stTipoCons),
            RemoteArg::Boolean(f.boTodosCliente),
            RemoteArg::Boolean(f.boIntervaloCli),
            RemoteArg::TextRef(f.stCliDe),
            RemoteArg::TextRef(f.stCliAte),
            RemoteArg::TextRef(f.stCliente),
            RemoteArg::TextRef(f.stCentroCusto),
            RemoteArg::Boolean(f.boTodosCentroCusto),
            RemoteArg::TextRef(f.stProdutos),
            RemoteArg::Boolean(f.boTodosProdutos)},
           cdsPrincipal);
}

bool RdmGeraNF::getPeriodoCTBOK(const QString& filial, TFiltro& f) {
  const RemoteValue reply = invoke(
      "getPeriodoCTBOK", {RemoteArg::Text(filial), RemoteArg::DateRef(f.dtInicial), RemoteArg::DateRef(f.dtFinal)});
  if (!reply.isBoolean())
    throw EServerError(QStringLiteral("Resposta inválida do servidor para getPeriodoCTBOK: era esperado um lógico."));
  return reply.toBoolean();
}

void RdmGeraNF::Verifica_Venda_Anterior(const QString& filial, double& inicio, double& fim, double& inicioConsolidacao,
                                        const QString& idUtilAlmox, const QString& idUtilLcEstq,
                                        const QString& cdAlmoxarife, const QString& cdLocalEstoque) {
  invoke("Verifica_Venda_Anterior",
         {RemoteArg::Text(filial), RemoteArg::DateRef(inicio), RemoteArg::DateRef(fim),
          RemoteArg::DateRef(inicioConsolidacao), RemoteArg::Text(idUtilAlmox), RemoteArg::Text(idUtilLcEstq),
          RemoteArg::Text(cdAlmoxarife), RemoteArg::Text(cdLocalEstoque)});
}

void RdmGeraNF::GetVerifVenda(const QString& filial, const QString& loja, TFiltro& f, TDataSet& cdsVerifVenda) {
  QString todasNF = flagLetter(f.boTodasNF);
  QString todasVendas = flagLetter(f.boTodasVendas);
  loadInto("GetVerifVenda",
           {RemoteArg::Text(filial), RemoteArg::DateRef(f.dtInicial), RemoteArg::DateRef(f.dtFinal),
            RemoteArg::TextRef(todasNF), RemoteArg::TextRef(todasNF), RemoteArg::TextRef(todasVendas),
            RemoteArg::TextRef(f.stVendas), RemoteArg::Text(loja), RemoteArg::Boolean(f.boTodosCaixa),
            RemoteArg::TextRef(f.stCaixa), RemoteArg::Boolean(f.boTodosTipoCons), RemoteArg::TextRef(f.stTipoCons)},
           cdsVerifVenda);
}

namespace {
// GetSoma's flag letters: sent by reference, bound to copies.
struct SomaFlags {
  QString todasVendas, todasNF;
};

std::vector<RemoteArg> somaArgs(const QString& filial, const QString& loja, const QString& caixa, double dia,
                                TFiltro& f, SomaFlags& flags) {
  return {RemoteArg::Text(filial),
          RemoteArg::Text(loja),
          RemoteArg::Text(caixa),
          RemoteArg::Date(dia),
          RemoteArg::TextRef(flags.todasVendas),
          RemoteArg::TextRef(f.stVendas),
          RemoteArg::Boolean(f.boTodosTipoCons),
          RemoteArg::TextRef(f.stTipoCons),
          RemoteArg::TextRef(flags.todasNF)};
}

std::vector<RemoteArg> reducaoZArgs(const QString& filial, const QString& caixa, double dia) {
  return {RemoteArg::Text(filial), RemoteArg::Text(caixa), RemoteArg::Date(dia)};
}
}  // namespace

void RdmGeraNF::GetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia, TFiltro& f,
                        TDataSet& cdsSoma) {
  SomaFlags flags{flagLetter(f.boTodasVendas), flagLetter(f.boTodasNF)};
  loadInto("GetSoma", somaArgs(filial, loja, caixa, dia, f, flags), cdsSoma);
}

void RdmGeraNF::GetReducaoZ(const QString& filial, const QString& caixa, double dia, TDataSet& cdsReducaoZ) {
  loadInto("GetReducaoZ", reducaoZArgs(filial, caixa, dia), cdsReducaoZ);
}

// The server gives the by-reference values back as it got them, so a
// register-day sent before the previous one's values came back sends what
// the sequential calls would have sent.
PendingLoad RdmGeraNF::StartGetSoma(const QString& filial, const QString& loja, const QString& caixa, double dia,
                                    TFiltro& f) {
  auto flags = std::make_shared<SomaFlags>(SomaFlags{flagLetter(f.boTodasVendas), flagLetter(f.boTodasNF)});
  auto call = net_.AppServer().Start(QStringLiteral("GetSoma"), somaArgs(filial, loja, caixa, dia, f, *flags));
  return PendingLoad("GetSoma", std::move(flags), std::move(call));
}

PendingLoad RdmGeraNF::StartGetReducaoZ(const QString& filial, const QString& caixa, double dia) {
  return PendingLoad("GetReducaoZ", nullptr,
                     net_.AppServer().Start(QStringLiteral("GetReducaoZ"), reducaoZArgs(filial, caixa, dia)));
}

void PendingLoad::LoadInto(TDataSet& ds) { loadPacket(method_, CheckResultServ(call_.Take(), true, 0), ds); }

SemGeraNFReply RdmGeraNF::SemGeraNF(const QString& filiProc, const QString& filial, const QString& loja, TFiltro& f,
                                    const QString& tipoReti, const QString& setor, const QString& operador,
                                    bool verificaEstoque, TDataSet& cdsErroConsolida, TDataSet& cdsProdBloq) {
  QString todasVendas = flagLetter(f.boTodasVendas);
  const RemoteValue reply = invoke("SemGeraNF", {RemoteArg::Text(filiProc),
                                                 RemoteArg::Text(filial),
                                                 RemoteArg::Text(loja),
                                                 RemoteArg::TextRef(todasVendas),
                                                 RemoteArg::TextRef(f.stVendas),
                                                 RemoteArg::DateRef(f.dtInicial),
                                                 RemoteArg::DateRef(f.dtFinal),
                                                 RemoteArg::TextRef(f.stCaixa),
                                                 RemoteArg::Boolean(f.boTodosCaixa),
                                                 RemoteArg::TextRef(f.stCliente),
                                                 RemoteArg::Boolean(f.boTodosCliente),
                                                 RemoteArg::Boolean(f.boIntervaloCli),
                                                 RemoteArg::TextRef(f.stCliDe),
                                                 RemoteArg::TextRef(f.stCliAte),
                                                 RemoteArg::TextRef(f.stTipoCons),
                                                 RemoteArg::Boolean(f.boTodosTipoCons),
                                                 RemoteArg::Text(tipoReti),
                                                 RemoteArg::Text(setor),
                                                 RemoteArg::Text(operador),
                                                 RemoteArg::TextRef(f.stCentroCusto),
                                                 RemoteArg::Boolean(f.boTodosCentroCusto),
                                                 RemoteArg::TextRef(f.stProdutos),
                                                 RemoteArg::Boolean(f.boTodosProdutos),
                                                 RemoteArg::Boolean(verificaEstoque)});
  const auto& items = reply.list();
  if (!reply.isList() || items.size() < 4)
    throw EServerError(QStringLiteral("Resposta inválida do servidor para SemGeraNF: eram esperados 5 elementos."));
  loadPacket("SemGeraNF", items[0], cdsErroConsolida);
  loadPacket("SemGeraNF", items[2], cdsProdBloq);
  return {items[1].toInteger(), items[3].toText()};
}

void RdmGeraNF::GetVendas(const QString& filial, const QString& loja, double inicio, double fim, bool todosCaixa,
                          QString& stCaixa, TDataSet& cdsVendas) {
  loadInto("GetVendas",
           {RemoteArg::Text(filial), RemoteArg::Text(loja), RemoteArg::Date(inicio), RemoteArg::Date(fim),
            RemoteArg::Boolean(todosCaixa), RemoteArg::TextRef(stCaixa)},
           cdsVendas);
}

void RdmGeraNF::GetProdutos(const QString& filial, const QString& loja, double inicio, double fim, ProdutosSelecao s,
                            TDataSet& cdsProdutos) {
  // references to the local copies: nothing flows back into the filter
  loadInto("GetProdutos",
           {RemoteArg::Text(filial), RemoteArg::Text(loja), RemoteArg::Date(inicio), RemoteArg::Date(fim),
            RemoteArg::TextRef(s.caixaLista), RemoteArg::TextRef(s.caixaMarca), RemoteArg::TextRef(s.vendasLista),
            RemoteArg::TextRef(s.vendasMarca)},
           cdsProdutos);
}

}  // namespace qfx
