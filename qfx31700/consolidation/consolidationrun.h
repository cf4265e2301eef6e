// One consolidation of the screen's filtered sales: the accounting period,
// the earlier pending sales and the registers' Z reductions are checked, the
// operator confirms, then the application server posts the pending items and
// the outcome is shown (blocked products, negative stock, the server's own
// refusals). The screen's list is reloaded whatever happens once the server
// has been asked.
//
// A run lives for one click. It reads the screen's entry panel and datasets
// and writes the datasets the host's screens show; a refusal anywhere ends
// it with the silent abort, after its message.
#pragma once

#include "remote/rdmgeranf.h"

namespace hostkit {
class EServerError;
}

namespace qfx {

class TfrmGeraNF;

// A posting call that reached a server which gave no answer: whether the
// consolidation was made is not known. Kept by the screen with what the call
// sent, to ask again under the same run identifier, where the server answers
// the run it has done (or does it now, once).
struct ExecucaoIncerta {
  QString id;
  bool verificaEstoque = true;
  QString filiProc, filial, loja, tipoReti, setor, operador;
  TFiltro filtro;
};

class ConsolidationRun {
 public:
  explicit ConsolidationRun(TfrmGeraNF& screen) : s_(screen) {}

  // The checks, the question and the consolidation.
  void executar();

  // The checks on their own (the screen offers them by name).
  void verificaVendaAnterior(double inicio, double fim, double inicioConsolidacao);
  void verificaValor();

  // Asks the server again for the outcome of the posting whose reply was
  // lost, and shows it as the run would have.
  void consultarResultado();

 private:
  void verificaPeriodoContabil();
  void consolidar(void (ConsolidationRun::*passo)());
  void consolidarProtegido();
  void consultarProtegido();
  void tratarResposta(SemGeraNFReply reply);
  void avisarResultadoIncerto(const hostkit::EServerError& e);
  void recarregarSeHouverServidor();
  SemGeraNFReply enviar(const ExecucaoIncerta& execucao, hostkit::TDataSet& erros, hostkit::TDataSet& bloqueados,
                        TFiltro& filtro);
  QString produtosIrregulares() const;
  bool mostrarProdutosBloqueados();
  SemGeraNFReply tratarEstoqueNegativoPermitido(const SemGeraNFReply& primeira);
  void tratarEstoqueNegativoNaoPermitido(const SemGeraNFReply& primeira);
  SemGeraNFReply chamarSemGeraNF(bool verificaEstoque);
  void mensagemFinal(const SemGeraNFReply& reply);
  bool tratarRecusa(const QString& chave, const QString& detalhes);

  TfrmGeraNF& s_;
};

}  // namespace qfx
