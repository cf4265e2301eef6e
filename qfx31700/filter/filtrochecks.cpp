// The filter dialog's activation, choice handlers, checks, confirmation,
// cancel and saved options.
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <array>
#include <utility>

#include "filter/frmfiltrogeranf.h"
#include "navigation/consolidationscreen.h"
#include "navigation/modulestate.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>
#include <hostkit/core/routines.h>
#include <hostkit/widgets/drawing.h>
#include <hostkit/widgets/entrychecks.h>
#include <hostkit/widgets/qthostservices.h>

namespace qfx {

using namespace hostkit;

namespace {

// A check that stops puts the focus back on its field after its message.
const std::array<std::pair<const char*, QString TFiltro::*>, 6> kOpcoes = {{
    {"FiltroTmp.stCaixa", &TFiltro::stCaixa},
    {"FiltroTmp.stVendas", &TFiltro::stVendas},
    {"FiltroTmp.stTipoCons", &TFiltro::stTipoCons},
    {"FiltroTmp.stCliente", &TFiltro::stCliente},
    {"FiltroTmp.stCentroCusto", &TFiltro::stCentroCusto},
    {"FiltroTmp.stProdutos", &TFiltro::stProdutos},
}};

}  // namespace

// ---- activation --------------------------------------------------------------------

// Each selection below runs the handler of a control that becomes selected,
// and every value is read from FiltroTmp as those handlers leave it.
void TfrmFiltroGeraNF::FormActivate() {
  TfrmFiltroPadrao::FormActivate();
  update();
  FiltroTmp = Filtro;
  rbtTodos->setChecked(FiltroTmp.boTodasVendas);
  rbtLista->setChecked(!FiltroTmp.boTodasVendas);
  btpVenda->setEnabled(!FiltroTmp.boTodasVendas);
  chkVendaNF->setChecked(!FiltroTmp.boTodasNF);
  chkAgrupaNF->setChecked(FiltroTmp.boAgrupaNF);
  rbtTCaixa->setChecked(FiltroTmp.boTodosCaixa);
  rbtCaixa->setChecked(!FiltroTmp.boTodosCaixa);
  rbtTodosCliente->setChecked(FiltroTmp.boTodosCliente);
  rbtListaCliente->setChecked(!FiltroTmp.boTodosCliente);
  rdtTodosTipoCons->setChecked(FiltroTmp.boTodosTipoCons);
  rdtListaTipoCons->setChecked(!FiltroTmp.boTodosTipoCons);
  depInicial->SetDate(FiltroTmp.dtInicial);
  depFinal->SetDate(FiltroTmp.dtFinal);
  // after the customer choice, whose handlers empty these edits
  medCliDe->setText(FiltroTmp.stCliDe);
  medCliAte->setText(FiltroTmp.stCliAte);
  rbtIntervaloCli->setChecked(FiltroTmp.boIntervaloCli);
  rbtTodosCentroCusto->setChecked(FiltroTmp.boTodosCentroCusto);
  rbtListaCentroCusto->setChecked(!FiltroTmp.boTodosCentroCusto);
  rbtTodosProdutos->setChecked(FiltroTmp.boTodosProdutos);
  rbtListaProdutos->setChecked(!FiltroTmp.boTodosProdutos);
  if (rbtTodosCliente->isChecked()) {
    medCliDe->setEnabled(false);
    medCliAte->setEnabled(false);
  }
  ativaProdutos();
  // every opening starts on the first field, not on the one last left: what
  // the operator types first is the start date
  foco_->startAt(depInicial);
  depInicial->selectAll();
}

// Branches that consolidate without products ("IDGERANFVENPROD" = "N") take all of them.
void TfrmFiltroGeraNF::ativaProdutos() {
  if (telaConsolidacao().consolidatesWithoutProducts()) {
    SetChildEnabled(grbProdutos, false);
    rbtTodosProdutos->setChecked(true);
    return;
  }
  SetChildEnabled(grbProdutos, true);
  btnProdutos->setEnabled(rbtListaProdutos->isChecked());
}

// ---- choice handlers ---------------------------------------------------------------

TfrmFiltroGeraNF::EscolhaDupla TfrmFiltroGeraNF::escolhaVendas() const {
  return {rbtTodos, rbtLista, btpVenda, &TFiltro::boTodasVendas, &TFiltro::stVendas};
}
TfrmFiltroGeraNF::EscolhaDupla TfrmFiltroGeraNF::escolhaCaixa() const {
  return {rbtTCaixa, rbtCaixa, btpCaixa, &TFiltro::boTodosCaixa, nullptr};
}
TfrmFiltroGeraNF::EscolhaDupla TfrmFiltroGeraNF::escolhaTipoCons() const {
  return {rdtTodosTipoCons, rdtListaTipoCons, btpTipoCons, &TFiltro::boTodosTipoCons, nullptr};
}
TfrmFiltroGeraNF::EscolhaDupla TfrmFiltroGeraNF::escolhaCentroCusto() const {
  return {rbtTodosCentroCusto, rbtListaCentroCusto, btnCentroCusto, &TFiltro::boTodosCentroCusto, nullptr};
}
TfrmFiltroGeraNF::EscolhaDupla TfrmFiltroGeraNF::escolhaProdutos() const {
  return {rbtTodosProdutos, rbtListaProdutos, btnProdutos, &TFiltro::boTodosProdutos, &TFiltro::stProdutos};
}

void TfrmFiltroGeraNF::aplicaEscolha(const EscolhaDupla& escolha, bool todosSelecionado) {
  if (todosSelecionado && escolha.listaEsvaziada) (FiltroTmp.*escolha.listaEsvaziada).clear();
  FiltroTmp.*escolha.flag = escolha.todos->isChecked();
  escolha.botao->setEnabled(escolha.lista->isChecked());
}

void TfrmFiltroGeraNF::rbtTodosClick() { aplicaEscolha(escolhaVendas(), true); }
void TfrmFiltroGeraNF::rbtListaClick() { aplicaEscolha(escolhaVendas(), false); }
void TfrmFiltroGeraNF::rbtTCaixaClick() { aplicaEscolha(escolhaCaixa(), true); }
void TfrmFiltroGeraNF::rbtCaixaClick() { aplicaEscolha(escolhaCaixa(), false); }
void TfrmFiltroGeraNF::rdtTodosTipoConsClick() { aplicaEscolha(escolhaTipoCons(), true); }
void TfrmFiltroGeraNF::rdtListaTipoConsClick() { aplicaEscolha(escolhaTipoCons(), false); }
void TfrmFiltroGeraNF::rbtTodosCentroCustoClick() { aplicaEscolha(escolhaCentroCusto(), true); }
void TfrmFiltroGeraNF::rbtListaCentroCustoClick() { aplicaEscolha(escolhaCentroCusto(), false); }
void TfrmFiltroGeraNF::rbtTodosProdutosClick() { aplicaEscolha(escolhaProdutos(), true); }
void TfrmFiltroGeraNF::rbtListaProdutosClick() { aplicaEscolha(escolhaProdutos(), false); }

// The cost centres picked depend on the customer choice: every change drops them.
void TfrmFiltroGeraNF::clienteTodosOuLista() {
  FiltroTmp.stCentroCusto.clear();
  FiltroTmp.boTodosCliente = rbtTodosCliente->isChecked();
  btpCliente->setEnabled(rbtListaCliente->isChecked());
  btnPesqCliDe->setEnabled(rbtIntervaloCli->isChecked());
  btnPesqCliAte->setEnabled(rbtIntervaloCli->isChecked());
  // emptied before disabled: an edit losing the focus then has no name to check
  for (TMaskEdit* nome : {medCliDe, medCliAte}) {
    nome->clear();
    nome->setEnabled(false);
  }
}

void TfrmFiltroGeraNF::rbtTodosClienteClick() { clienteTodosOuLista(); }
void TfrmFiltroGeraNF::rbtListaClienteClick() { clienteTodosOuLista(); }

void TfrmFiltroGeraNF::rbtIntervaloCliClick() {
  FiltroTmp.stCentroCusto.clear();
  FiltroTmp.boIntervaloCli = rbtIntervaloCli->isChecked();
  btpCliente->setEnabled(rbtListaCliente->isChecked());
  btnPesqCliDe->setEnabled(rbtIntervaloCli->isChecked());
  btnPesqCliAte->setEnabled(rbtIntervaloCli->isChecked());
  medCliDe->setEnabled(true);
  medCliAte->setEnabled(true);
}

void TfrmFiltroGeraNF::chkVendaNFClick() { FiltroTmp.boTodasNF = !chkVendaNF->isChecked(); }
void TfrmFiltroGeraNF::chkAgrupaNFClick() { FiltroTmp.boAgrupaNF = chkAgrupaNF->isChecked(); }

// ---- checks ------------------------------------------------------------------------

// The period texts are the consolidation screen's; a valid date goes into
// Filtro at once, even if the dialog is then cancelled.
void TfrmFiltroGeraNF::verificaData(TDateEditPlus* campo, double TFiltro::*destino, const char* chaveVazia,
                                    bool informar) {
  const TMessages& mensagens = *telaConsolidacao().messages();
  if (checkDateEdit(campo, informar, mensagens.Msg(QString::fromLatin1(chaveVazia)),
                    mensagens.Msg(QStringLiteral("DATA_INV"))))
    Filtro.*destino = campo->GetDate();
}

void TfrmFiltroGeraNF::Vd_DataIni(bool informar) {
  verificaData(depInicial, &TFiltro::dtInicial, "DATAINI_VAZIA", informar);
}
void TfrmFiltroGeraNF::Vd_DataFim(bool informar) {
  verificaData(depFinal, &TFiltro::dtFinal, "DATAFIM_VAZIA", informar);
}

// The name must be a customer's company name, in any case.
void TfrmFiltroGeraNF::verificaCliente(TMaskEdit* campo, bool informar) {
  focusOnFailure(campo, [&] {
    if (campo->text().trimmed().isEmpty()) {
      if (informar) MensErro(msgPadrao->Msg(QStringLiteral("CLIENTE_N_INF")), true);
      return;
    }
    qryValCli->Close();
    qryValCli->ParamByName(QStringLiteral("P_CLIENTE")).SetAsString(campo->text());
    qryValCli->Open();
    if (qryValCli->IsEmpty()) MensErro(msgPadrao->Msg(QStringLiteral("CLIE_N_CAD")), true);
  });
}

void TfrmFiltroGeraNF::Vd_Cliente(bool informar) { verificaCliente(medCliDe, informar); }
void TfrmFiltroGeraNF::vd_ClienteAte(bool informar) { verificaCliente(medCliAte, informar); }

// Leaving a field checks it; an empty field is no error until confirmation.
void TfrmFiltroGeraNF::depInicialExit() {
  if (!focoPorCodigo_) Vd_DataIni(false);
}
void TfrmFiltroGeraNF::depFinalExit() {
  if (!focoPorCodigo_) Vd_DataFim(false);
}
void TfrmFiltroGeraNF::medCliDeExit() {
  if (!focoPorCodigo_) Vd_Cliente(false);
}
void TfrmFiltroGeraNF::medCliAteExit() {
  if (!focoPorCodigo_) vd_ClienteAte(false);
}

// The date or name the operator is typing in, checked and kept as leaving
// the field would: a picker refused for its precondition moves the focus by
// code, which runs no exit check, and the typed date would never reach Filtro.
void TfrmFiltroGeraNF::concluiCampoEmEdicao() {
  const QWidget* campo = focusWidget();
  const auto em = [campo](const QWidget* w) { return campo && (campo == w || w->isAncestorOf(campo)); };
  if (em(depInicial))
    Vd_DataIni(false);
  else if (em(depFinal))
    Vd_DataFim(false);
  else if (em(medCliDe))
    Vd_Cliente(false);
  else if (em(medCliAte))
    vd_ClienteAte(false);
}

// A refused choice puts the focus on its control before the message.
void TfrmFiltroGeraNF::recusaAntes(QWidget* campo, const char* chave) {
  campo->setFocus();
  MensErro(msgPadrao->Msg(QString::fromLatin1(chave)), true);
}

// ---- confirmation ------------------------------------------------------------------

void TfrmFiltroGeraNF::sbtConfirmaClick() {
  FocoPorCodigo quieto(focoPorCodigo_);
  Vd_DataIni(true);
  Vd_DataFim(true);
  if (depInicial->GetDate() > depFinal->GetDate()) {
    MensErro(telaConsolidacao().messages()->Msg(QStringLiteral("PERIODO_INV")), false);
    depFinal->setFocus();
    Abort();
  }
  confereListas();
  gravaEscolhas();
  Filtro = FiltroTmp;
  telaConsolidacao().reloadSales();
  SetModalResult(mrOk);
  close();
}

// A list choice needs a list; the first one missing is the one reported.
void TfrmFiltroGeraNF::confereListas() {
  if (FiltroTmp.stCaixa.isEmpty() && rbtCaixa->isChecked()) recusaAntes(rbtCaixa, "Cxa_inf");
  if (FiltroTmp.stCliente.isEmpty() && rbtListaCliente->isChecked()) recusaAntes(rbtListaCliente, "CLIENTE_N_INF");
  if (rbtIntervaloCli->isChecked()) {
    Vd_Cliente(true);
    vd_ClienteAte(true);
    // the order of the texts as typed, code by code: capitals sort first
    if (QString::compare(medCliDe->text(), medCliAte->text(), Qt::CaseSensitive) > 0) recusaAntes(medCliDe, "CLIEINI");
  }
  if (FiltroTmp.stTipoCons.isEmpty() && rdtListaTipoCons->isChecked()) recusaAntes(rdtListaTipoCons, "TIPCONS_N_INF");
  if (FiltroTmp.stCentroCusto.isEmpty() && rbtListaCentroCusto->isChecked())
    recusaAntes(rbtListaCentroCusto, "CCUSTO_N_INF");
  if (FiltroTmp.stVendas.isEmpty() && rbtLista->isChecked()) recusaAntes(rbtLista, "VENDA_N_INF");
  if (FiltroTmp.stProdutos.isEmpty() && rbtListaProdutos->isChecked()) recusaAntes(rbtListaProdutos, "Prod_Inf");
}

// The rest of the working copy follows the controls; the lists and the
// other flags are kept current by the handlers and pickers.
void TfrmFiltroGeraNF::gravaEscolhas() {
  FiltroTmp.boTodosCaixa = rbtTCaixa->isChecked();
  FiltroTmp.boTodosCliente = rbtTodosCliente->isChecked();
  FiltroTmp.boTodosTipoCons = rdtTodosTipoCons->isChecked();
  FiltroTmp.dtInicial = depInicial->GetDate();
  FiltroTmp.dtFinal = depFinal->GetDate();
  FiltroTmp.boIntervaloCli = rbtIntervaloCli->isChecked();
  FiltroTmp.stCliDe = medCliDe->text();
  FiltroTmp.stCliAte = medCliAte->text();
  FiltroTmp.boTodosCentroCusto = rbtTodosCentroCusto->isChecked();
  FiltroTmp.boTodosProdutos = rbtTodosProdutos->isChecked();
}

// ---- cancel and close --------------------------------------------------------------

// FiltroTmp stays as edited: the next activation copies Filtro over it.
void TfrmFiltroGeraNF::sbtCancelClick() {
  TfrmFiltroPadrao::sbtCancelClick();
  close();
}

// ---- saved options -----------------------------------------------------------------

const QStringList& TfrmFiltroGeraNF::nomesOpcoes() {
  static const QStringList nomes = [] {
    QStringList n;
    for (const auto& [nome, campo] : kOpcoes) n << QString::fromLatin1(nome);
    return n;
  }();
  return nomes;
}

// An empty list removes its line; the base writes the list out afterwards.
void TfrmFiltroGeraNF::btfSaveOpcClick() {
  TfrmFiltroPadrao::btfSaveOpcClick();
  for (const auto& [nome, campo] : kOpcoes) Opcoes.setValue(QString::fromLatin1(nome), FiltroTmp.*campo);
}

// Only the six lists come back, and only into the working copy. Registers
// and sales are keyed by their branch: those of another branch (options saved
// while working on it) would select nothing here, and are left out.
void TfrmFiltroGeraNF::btfLoadOpcClick() {
  TfrmFiltroPadrao::btfLoadOpcClick();
  for (const auto& [nome, campo] : kOpcoes) FiltroTmp.*campo = Opcoes.value(QString::fromLatin1(nome));
  const QString filial = telaConsolidacao().branch();
  const auto daFilial = [&filial](const QString& chave) { return chave.startsWith(filial); };
  int caixas = 0, vendas = 0;
  FiltroTmp.stCaixa = keepKeys(FiltroTmp.stCaixa, daFilial, caixas);
  FiltroTmp.stVendas = keepKeys(FiltroTmp.stVendas, daFilial, vendas);
  QStringList fora;
  if (caixas > 0) fora << (caixas == 1 ? QStringLiteral("1 caixa") : QStringLiteral("%1 caixas").arg(caixas));
  if (vendas > 0) fora << (vendas == 1 ? QStringLiteral("1 venda") : QStringLiteral("%1 vendas").arg(vendas));
  if (!fora.isEmpty())
    noteOnLoad(QStringLiteral("Deixados de fora por serem de outra filial que não a %1: %2.")
                   .arg(filial, fora.join(QStringLiteral(" e "))));
}

}  // namespace qfx
