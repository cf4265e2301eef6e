#include "report/frmrelprodevol.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QVBoxLayout>

#include "host/catalogues.h"
#include "navigation/consolidationscreen.h"
#include "navigation/modulestate.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>
#include <hostkit/core/routines.h>
#include <hostkit/widgets/drawing.h>
#include <hostkit/widgets/entrychecks.h>
#include <hostkit/widgets/operations.h>

namespace qfx {

using namespace hostkit;
using namespace reportkit;

namespace {

const QStringList kWeekdays = {QStringLiteral("Domingo"), QStringLiteral("Segunda"), QStringLiteral("Terça"),
                               QStringLiteral("Quarta"),  QStringLiteral("Quinta"),  QStringLiteral("Sexta"),
                               QStringLiteral("Sábado")};

TDateEditPlus* periodEdit(const QString& name, QWidget* parent) {
  auto* edit = new TDateEditPlus(parent, name);
  edit->SetValidDateColor(Qt::blue);
  edit->SetSaveTime(false);
  edit->SetWeekdayNames(kWeekdays);
  edit->setMaximumWidth(110);
  return edit;
}

// A code of the consolidation screen's entry panel; empty without the screen.
QString entryText(QString (ConsolidationScreen::*code)() const) {
  const ConsolidationScreen* tela = consolidationScreen();
  return tela ? (tela->*code)() : QString();
}

}  // namespace

TfrmRelProdEvol::TfrmRelProdEvol(QWidget* parent) : TfrmDadosGerRel(parent, QStringLiteral("frmRelProdEvol")) {
  setWindowTitle(QStringLiteral("Produtos não Evoluídos em Estoque"));
  lblCodTela->setText(QStringLiteral("QFX31702"));
  lblCodRel->setText(QStringLiteral("Qfx317"));
  HelpFile = QStringLiteral("PdvHELP.hlp");
  HelpContext = 13031702;
  msgPadrao->setEntries(catalogoRelProdEvol());
  buildControls();
  wireHandlers();
  createForm();
}

void TfrmRelProdEvol::buildControls() {
  grbFilial = new QGroupBox(QStringLiteral("Filial"), this);
  grbFilial->setObjectName(QStringLiteral("grbFilial"));
  auto* branch = new QHBoxLayout(grbFilial);
  rbtTodos = hostkit::named<QRadioButton>(QStringLiteral("rbtTodos"), QStringLiteral("Todos"), grbFilial);
  rbtTodos->setChecked(true);
  rbtLista = hostkit::named<QRadioButton>(QStringLiteral("rbtLista"), QStringLiteral("Lista"), grbFilial);
  btpFilial = new TBtnPesquisa(grbFilial, QStringLiteral("btpFilial"));
  btpFilial->SetHint(QStringLiteral("Pesquisar"));
  btpFilial->setEnabled(false);
  btpFilial->SetAssociate(rbtLista);
  btpFilial->SetTitle(QStringLiteral("Filial"));
  btpFilial->SetEmptyError(QStringLiteral("Não há filial cadastrada"));
  branch->addWidget(rbtTodos);
  branch->addWidget(rbtLista);
  branch->addWidget(btpFilial);
  branch->addStretch(1);
  panParametrosLayout->addWidget(grbFilial);

  grbPeriodo = new QGroupBox(QStringLiteral("Período"), this);
  grbPeriodo->setObjectName(QStringLiteral("grbPeriodo"));
  auto* period = new QHBoxLayout(grbPeriodo);
  lblDeVenda = hostkit::named<QLabel>(QStringLiteral("lblDeVenda"), QStringLiteral("de"), grbPeriodo);
  depDePeriodo = periodEdit(QStringLiteral("depDePeriodo"), grbPeriodo);
  lblAteVenda = hostkit::named<QLabel>(QStringLiteral("lblAteVenda"), QStringLiteral("até"), grbPeriodo);
  depAtePeriodo = periodEdit(QStringLiteral("depAtePeriodo"), grbPeriodo);
  for (QWidget* w : std::initializer_list<QWidget*>{lblDeVenda, depDePeriodo, lblAteVenda, depAtePeriodo})
    period->addWidget(w);
  period->addStretch(1);
  panParametrosLayout->addWidget(grbPeriodo);

  qryPesqFilial = new TADOIBQuery(this, QStringLiteral("qryPesqFilial"));
  qryPesqFilial->SetSQL({QStringLiteral("SELECT"), QStringLiteral("   CDFILIAL,"), QStringLiteral("   NMFILIAL"),
                         QStringLiteral("FROM "), QStringLiteral("   FILIAL"), QStringLiteral("ORDER BY"),
                         QStringLiteral("  CDFILIAL")});
  FieldSpec code;
  code.name = QStringLiteral("CDFILIAL");
  code.size = 4;
  code.label = QStringLiteral("Código");
  code.required = true;
  qryPesqFilial->AddField(code);
  FieldSpec name;
  name.name = QStringLiteral("NMFILIAL");
  name.size = 30;
  name.label = QStringLiteral("Nome");
  qryPesqFilial->AddField(name);
  dtsFilial = new TDataSource(this, QStringLiteral("dtsFilial"));
  dtsFilial->SetDataSet(qryPesqFilial);
  btpFilial->SetDataSource(dtsFilial);
}

void TfrmRelProdEvol::wireHandlers() {
  // Choosing a radio button from code runs its handler as a click would.
  connect(rbtTodos, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guardedOn(this, [this] { rbtTodosClick(); });
  });
  connect(rbtLista, &QRadioButton::toggled, this, [this](bool on) {
    if (on) guardedOn(this, [this] { rbtListaClick(); });
  });
  btpFilial->OnClick = [this](TBtnPesquisa*) { btpFilialClick(); };
  auto* focus = new FocusTracker(this);
  focus->fieldExit(depDePeriodo, [this] { depDePeriodoExit(); });
  focus->fieldExit(depAtePeriodo, [this] { depAtePeriodoExit(); });
}

// ---- lifecycle -----------------------------------------------------------------------

void TfrmRelProdEvol::FormCreate() {
  TfrmDadosGerRel::FormCreate();
  stFiliais.clear();
}

void TfrmRelProdEvol::FormActivate() {
  TfrmDadosGerRel::FormActivate();
  Habilita_Desabilita();
  if (ModuFili()) TravaFilial();
}

void TfrmRelProdEvol::TravaFilial() {
  SetChildEnabled(grbFilial, !ModuFili());
  rbtLista->setChecked(true);
  btpFilial->setEnabled(false);
  stFiliais = QStringLiteral("_") + FiliProc() + QStringLiteral("_");
}

// The other reports print the consolidation filter's period: their disabled
// period fields show it, and the first report gets back what was typed for it.
void TfrmRelProdEvol::mostraPeriodo(bool doFiltro) {
  if (doFiltro) {
    if (!periodoDigitado_) periodoDigitado_ = std::make_pair(depDePeriodo->text(), depAtePeriodo->text());
    depDePeriodo->SetDate(Filtro.dtInicial);
    depAtePeriodo->SetDate(Filtro.dtFinal);
  } else if (periodoDigitado_) {
    depDePeriodo->setText(periodoDigitado_->first);
    depAtePeriodo->setText(periodoDigitado_->second);
    periodoDigitado_.reset();
  }
}

void TfrmRelProdEvol::Habilita_Desabilita() {
  mostraPeriodo(!SelectedParameterSetIsFirst());
  if (SelectedParameterSetIsFirst()) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{grbFilial, rbtTodos, rbtLista, grbPeriodo, depDePeriodo, depAtePeriodo})
      w->setEnabled(true);
    btpFilial->setEnabled(rbtLista->isChecked());
    // An operator bound to a branch must not reach "Todos" again by way of
    // another report and back: the lock of the activation is kept.
    if (ModuFili()) TravaFilial();
    return;
  }
  rbtTodos->setChecked(true);
  for (QWidget* w : std::initializer_list<QWidget*>{grbFilial, rbtTodos, rbtLista, btpFilial, grbPeriodo, depDePeriodo,
                                                    depAtePeriodo})
    w->setEnabled(false);
}

// ---- branch choice -----------------------------------------------------------------

void TfrmRelProdEvol::rbtTodosClick() { btpFilial->setEnabled(rbtLista->isChecked()); }

void TfrmRelProdEvol::rbtListaClick() { btpFilial->setEnabled(rbtLista->isChecked()); }

void TfrmRelProdEvol::btpFilialClick() {
  qryPesqFilial->Close();
  PesquisaLista(dtsFilial, QStringLiteral("CDFILIAL"),
                msgPadrao->Msg(QStringLiteral("Filial")) + u'|' + msgPadrao->Msg(QStringLiteral("NAO_HA_FILIAL")),
                false, stFiliais);
}

// ---- period checks -----------------------------------------------------------------

void TfrmRelProdEvol::Vd_DataEdit(TDateEditPlus* edit, bool informa, const QString& emptyKey) {
  // "Per_Inv" starts with a blank: two blanks stand before "não".
  checkDateEdit(edit, informa, msgPadrao->Msg(emptyKey), msgPadrao->Msg(QStringLiteral("Per_Inv")));
}

void TfrmRelProdEvol::Vd_DataIni(bool informa) { Vd_DataEdit(depDePeriodo, informa, QStringLiteral("PerIni_Dv_Inf")); }

void TfrmRelProdEvol::Vd_DataFim(bool informa) { Vd_DataEdit(depAtePeriodo, informa, QStringLiteral("PerFim_Dv_Inf")); }

void TfrmRelProdEvol::Vd_Data() {
  if (EmptyString(depDePeriodo->EditText()) || EmptyString(depAtePeriodo->EditText())) return;
  // An invalid date is its own edit's report (on leaving it, and before
  // every action); the order is compared only between two real dates.
  if (!depDePeriodo->IsDateValid() || !depAtePeriodo->IsDateValid()) return;
  try {
    if (depAtePeriodo->GetDate() < depDePeriodo->GetDate())
      MensErro(msgPadrao->Msg(QStringLiteral("PerINI>PerFIM")), true);
  } catch (...) {
    depDePeriodo->setFocus();
    throw;
  }
}

void TfrmRelProdEvol::depDePeriodoExit() {
  if (boVerificando) return;
  Vd_DataIni(false);
  Vd_Data();
}

void TfrmRelProdEvol::depAtePeriodoExit() {
  if (boVerificando) return;
  Vd_DataFim(false);
  Vd_Data();
}

// ---- actions -----------------------------------------------------------------------

void TfrmRelProdEvol::VerificaAcao(bool comPeriodo) {
  const QScopedValueRollback verificando(boVerificando, true);
  if (rbtLista->isChecked() && EmptyString(stFiliais)) {
    rbtLista->setFocus();
    MensErro(msgPadrao->Msg(QStringLiteral("FILIAL_dv")), true);
  }
  if (!comPeriodo) return;
  Vd_DataIni(true);
  Vd_DataFim(true);
  Vd_Data();
}

void TfrmRelProdEvol::sbtPreviewClick() {
  VerificaAcao(grbPeriodo->isEnabled());
  TfrmDadosGerRel::sbtPreviewClick();
  Habilita_Desabilita();
}

void TfrmRelProdEvol::sbtPrintClick() {
  VerificaAcao(SelectedParameterSetIsFirst());
  TfrmDadosGerRel::sbtPrintClick();
  Habilita_Desabilita();
}

void TfrmRelProdEvol::sbtSalvarComoClick() {
  VerificaAcao(SelectedParameterSetIsFirst());
  TfrmDadosGerRel::sbtSalvarComoClick();
  Habilita_Desabilita();
}

void TfrmRelProdEvol::sbtReportEditClick() {
  VerificaAcao(SelectedParameterSetIsFirst());
  TfrmDadosGerRel::sbtReportEditClick();
  Habilita_Desabilita();
}

void TfrmRelProdEvol::cbbReportNamesChange() { Habilita_Desabilita(); }

// ---- query parameters --------------------------------------------------------------

void TfrmRelProdEvol::setText(ReportParams& params, const char* name, const QString& value) {
  const QString param = QString::fromLatin1(name);
  if (ExistParam(param)) params.ParamByName(param).SetAsString(value);
}

void TfrmRelProdEvol::rpddPadraoBeforeGetQueryParams(ReportParams& params, bool& proceed) {
  TfrmDadosGerRel::rpddPadraoBeforeGetQueryParams(params, proceed);
  if (SelectedParameterSetIsFirst())
    ParametrosPrimeiro(params);
  else
    ParametrosConsolidacao(params);
}

void TfrmRelProdEvol::ParametrosPrimeiro(ReportParams& params) {
  const bool lista = rbtLista->isChecked();
  setText(params, "P_CDFILIAL", lista ? stFiliais : QString());
  setText(params, "P_TCDFILIAL", lista ? QString() : QStringLiteral("T"));
  if (ExistParam(QStringLiteral("P_DATAINI")))
    params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(depDePeriodo->GetDate());
  if (ExistParam(QStringLiteral("P_DATAFIN")))
    params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(depAtePeriodo->GetDate());
}

void TfrmRelProdEvol::ParametrosConsolidacao(ReportParams& params) {
  const QString todos = QStringLiteral("T");
  const QString nao = QStringLiteral("N");
  setText(params, "P_CDFILIAL", entryText(&ConsolidationScreen::branch));
  if (ExistParam(QStringLiteral("P_DTVENDAINI")))
    params.ParamByName(QStringLiteral("P_DTVENDAINI")).SetAsDateTime(Filtro.dtInicial);
  if (ExistParam(QStringLiteral("P_DTVENDAFIM")))
    params.ParamByName(QStringLiteral("P_DTVENDAFIM")).SetAsDateTime(Filtro.dtFinal);
  setText(params, "P_TODASNF2", flagLetter(Filtro.boTodasNF));
  setText(params, "P_TODASVND", flagLetter(Filtro.boTodasVendas));
  setText(params, "P_LSTVENDAS", Filtro.stVendas);
  setText(params, "P_CDLOJA", entryText(&ConsolidationScreen::store));
  setText(params, "P_CDCAIXA", Filtro.boTodosCaixa ? QString() : Filtro.stCaixa);
  setText(params, "P_TCDCAIXA", Filtro.boTodosCaixa ? todos : nao);
  // All consumption types are "S", not "T", in these queries.
  setText(params, "P_CDTIPOCONS", Filtro.boTodosTipoCons ? QString() : Filtro.stTipoCons);
  setText(params, "P_TCDTIPOCONS", Filtro.boTodosTipoCons ? QStringLiteral("S") : nao);
  if (Filtro.boTodosCliente) {
    setText(params, "P_CDCLIENTE", QString());
    setText(params, "P_TCDCLIENTE", todos);
    setText(params, "P_NOMEINI", QString());
    setText(params, "P_NOMEFIN", QString());
  } else if (Filtro.boIntervaloCli) {
    setText(params, "P_NOMEINI", Filtro.stCliDe);
    setText(params, "P_NOMEFIN", Filtro.stCliAte);
    setText(params, "P_CDCLIENTE", QString());
    setText(params, "P_TCDCLIENTE", QString());
  } else {
    setText(params, "P_CDCLIENTE", Filtro.stCliente);
    setText(params, "P_TCDCLIENTE", nao);
    setText(params, "P_NOMEINI", QString());
    setText(params, "P_NOMEFIN", QString());
  }
  setText(params, "P_CDTIPORETI", entryText(&ConsolidationScreen::withdrawalType));
  // the cost centres and products the run narrows to as well, so a report of
  // what the run refused names exactly what it refused on
  setText(params, "P_CDCCUSCLIE", Filtro.boTodosCentroCusto ? QString() : Filtro.stCentroCusto);
  setText(params, "P_TCDCCUSCLIE", Filtro.boTodosCentroCusto ? todos : nao);
  setText(params, "P_CDPRODUTO", Filtro.boTodosProdutos ? QString() : Filtro.stProdutos);
  setText(params, "P_TCDPRODUTO", Filtro.boTodosProdutos ? todos : nao);
}

}  // namespace qfx
