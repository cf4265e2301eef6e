// One consolidation of the screen's filtered sales: the accounting period,
// the earlier pending sales and the registers' Z reductions are checked, the
// operator confirms, then the application server posts the pending items and
// the outcome is shown (blocked products, negative stock, the server's own
// refusals). The screen's list is reloaded whatever happens once the server
// has been asked.
//
// A run lives for one click. It reads the entry codes and datasets its port
// gives and writes the datasets the host's screens show; a refusal anywhere
// ends it with the silent abort, after its message.
#pragma once

#include <qfx31700/consolidation/consolidationport.h>

namespace hostkit {
class EServerError;
}

namespace qfx {

class ConsolidationRun {
 public:
  explicit ConsolidationRun(ConsolidationPort& port) : p_(port), d_(port.dataSets()) {}

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

  ConsolidationPort& p_;
  const ConsolidationDataSets d_;
};

}  // namespace qfx
