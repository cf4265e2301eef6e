// The filter dialog's controls, datasets and event wiring.
#include "filter/frmfiltrogeranf.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

#include "host/catalogues.h"
#include "navigation/consolidationscreen.h"
#include "navigation/modulestate.h"
#include "remote/replydatasets.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>
#include <hostkit/widgets/operations.h>

namespace qfx {

using namespace hostkit;

namespace {

QCheckBox* checkBox(const QString& name, const QString& caption, QWidget* parent) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(name);
  return c;
}

// Search buttons start disabled: the choice handlers enable them.
TBtnPesquisa* searchButton(const QString& name, QWidget* parent, const QString& title = {},
                           const QString& emptyError = {}) {
  auto* b = new TBtnPesquisa(parent, name);
  b->SetTitle(title);
  b->SetEmptyError(emptyError);
  b->SetHint(QStringLiteral("Pesquisar"));
  b->setEnabled(false);
  return b;
}

TDateEditPlus* dateEdit(const QString& name, QWidget* parent) {
  auto* d = new TDateEditPlus(parent, name);
  d->SetWeekdayNames({QStringLiteral("Domingo"), QStringLiteral("Segunda"), QStringLiteral("Terça"),
                      QStringLiteral("Quarta"), QStringLiteral("Quinta"), QStringLiteral("Sexta"),
                      QStringLiteral("Sábado")});
  d->SetSaveTime(false);
  d->setMaximumWidth(110);
  return d;
}

TMaskEdit* nameEdit(const QString& name, QWidget* parent) {
  auto* e = new TMaskEdit(parent, name);
  e->setMaxLength(50);  // NMRAZSOCCLIE
  return e;
}

void addRow(QBoxLayout* layout, std::initializer_list<QWidget*> widgets) {
  for (QWidget* w : widgets) layout->addWidget(w);
  layout->addStretch(1);
}

struct Campo {
  const char* name;
  int size = 0;
  const char* label = "";
  bool visible = true;
  int displayWidth = 0;
  bool required = false;
  bool calculated = false;
};

void defineFields(TDataSet& ds, std::initializer_list<Campo> campos) {
  for (const Campo& c : campos) {
    FieldSpec definition;
    definition.name = QString::fromLatin1(c.name);
    definition.size = c.size;
    definition.label = QString::fromUtf8(c.label);
    definition.visible = c.visible;
    definition.displayWidth = c.displayWidth;
    definition.required = c.required;
    definition.calculated = c.calculated;
    ds.AddField(definition);
  }
}

// The customer lookups all show the same columns.
void defineClienteFields(TDataSet& ds) {
  defineFields(ds, {{"CDCLIENTE", 21, "Código", false, 0, true},
                    {"NRINSJURCLIE", 14, "Inscrição", true, 18},
                    {"IDTPIJURCLIE", 1, "", false},
                    {"NMRAZSOCCLIE", 50, "Razão Social"}});
}

}  // namespace

ConsolidationScreen& telaConsolidacao() {
  ConsolidationScreen* tela = consolidationScreen();
  if (!tela) throw EHostError(QStringLiteral("A tela Consolidação de Vendas não está aberta."));
  return *tela;
}

TfrmFiltroGeraNF::TfrmFiltroGeraNF(QWidget* parent) : TfrmFiltroPadrao(parent, QStringLiteral("frmFiltroGeraNF")) {
  setWindowTitle(QStringLiteral("Filtro Consolidação de Vendas"));
  HelpFile = QStringLiteral("PdvHELP.hlp");
  HelpContext = 13031701;
  lblCodTela->setText(QStringLiteral("Qfx31701"));
  msgPadrao->setEntries(catalogoFiltroGeraNF());
  buildData();
  buildControls();
  wireHandlers();
  createForm();
}

// ---- controls ----------------------------------------------------------------------

void TfrmFiltroGeraNF::buildControls() {
  QWidget* area = grbFiltroPadrao;
  auto* grid = new QGridLayout(area);
  buildDateGroup(area);
  buildCaixaGroup(area);
  buildClienteGroup(area);
  buildTipoConsGroup(area);
  buildCentroCustoGroup(area);
  buildVendaGroup(area);
  buildNFGroup(area);
  buildProdutosGroup(area);
  // read left to right, top to bottom, the groups come in their tab order
  grid->addWidget(grbDtMov, 0, 0);
  grid->addWidget(grbCaixa, 0, 1);
  grid->addWidget(grbCliente, 1, 0, 1, 2);
  grid->addWidget(grbTipoCome, 2, 0);
  grid->addWidget(grbCentroCusto, 2, 1);
  grid->addWidget(grbVenda, 3, 0);
  grid->addWidget(grbNF, 3, 1);
  grid->addWidget(grbProdutos, 4, 0);
  setTabOrder();
}

void TfrmFiltroGeraNF::buildDateGroup(QWidget* parent) {
  grbDtMov = hostkit::named<QGroupBox>(QStringLiteral("grbDtMov"), QStringLiteral("Data de Movimento "), parent);
  lblPeriodo = hostkit::named<QLabel>(QStringLiteral("lblPeriodo"), QStringLiteral("Inicial"), grbDtMov);
  depInicial = dateEdit(QStringLiteral("depInicial"), grbDtMov);
  Label4 = hostkit::named<QLabel>(QStringLiteral("Label4"), QStringLiteral("Final"), grbDtMov);
  depFinal = dateEdit(QStringLiteral("depFinal"), grbDtMov);
  addRow(new QHBoxLayout(grbDtMov), {lblPeriodo, depInicial, Label4, depFinal});
}

void TfrmFiltroGeraNF::buildCaixaGroup(QWidget* parent) {
  grbCaixa = hostkit::named<QGroupBox>(QStringLiteral("grbCaixa"), QStringLiteral("Caixa "), parent);
  rbtTCaixa = hostkit::named<QRadioButton>(QStringLiteral("rbtTCaixa"), QStringLiteral("Todos"), grbCaixa);
  rbtCaixa = hostkit::named<QRadioButton>(QStringLiteral("rbtCaixa"), QStringLiteral("Lista"), grbCaixa);
  btpCaixa = searchButton(QStringLiteral("btpCaixa"), grbCaixa, QStringLiteral("Caixa"),
                          QStringLiteral("Não há caixa cadastrado."));
  addRow(new QHBoxLayout(grbCaixa), {rbtTCaixa, rbtCaixa, btpCaixa});
}

void TfrmFiltroGeraNF::buildClienteGroup(QWidget* parent) {
  grbCliente = hostkit::named<QGroupBox>(QStringLiteral("grbCliente"), QStringLiteral("Cliente"), parent);
  rbtTodosCliente =
      hostkit::named<QRadioButton>(QStringLiteral("rbtTodosCliente"), QStringLiteral("Todos"), grbCliente);
  rbtTodosCliente->setChecked(true);
  rbtListaCliente =
      hostkit::named<QRadioButton>(QStringLiteral("rbtListaCliente"), QStringLiteral("Lista"), grbCliente);
  btpCliente = searchButton(QStringLiteral("btpCliente"), grbCliente);
  rbtIntervaloCli =
      hostkit::named<QRadioButton>(QStringLiteral("rbtIntervaloCli"), QStringLiteral("Intervalo"), grbCliente);
  lblde = hostkit::named<QLabel>(QStringLiteral("lblde"), QStringLiteral("de"), grbCliente);
  medCliDe = nameEdit(QStringLiteral("medCliDe"), grbCliente);
  btnPesqCliDe = searchButton(QStringLiteral("btnPesqCliDe"), grbCliente, QStringLiteral("Cliente"),
                              QStringLiteral("Não há cliente cadastrado."));
  Label1 = hostkit::named<QLabel>(QStringLiteral("Label1"), QStringLiteral("até"), grbCliente);
  medCliAte = nameEdit(QStringLiteral("medCliAte"), grbCliente);
  btnPesqCliAte = searchButton(QStringLiteral("btnPesqCliAte"), grbCliente, QStringLiteral("Cliente"),
                               QStringLiteral("Não há cliente cadastrado."));
  auto* grid = new QGridLayout(grbCliente);
  grid->addWidget(rbtTodosCliente, 0, 0);
  grid->addWidget(rbtListaCliente, 0, 1);
  grid->addWidget(btpCliente, 0, 2);
  grid->addWidget(rbtIntervaloCli, 1, 0);
  grid->addWidget(lblde, 1, 1, Qt::AlignRight);
  grid->addWidget(medCliDe, 1, 2, 1, 2);
  grid->addWidget(btnPesqCliDe, 1, 4);
  grid->addWidget(Label1, 2, 1, Qt::AlignRight);
  grid->addWidget(medCliAte, 2, 2, 1, 2);
  grid->addWidget(btnPesqCliAte, 2, 4);
  grid->setColumnStretch(3, 1);
}

void TfrmFiltroGeraNF::buildTipoConsGroup(QWidget* parent) {
  grbTipoCome = hostkit::named<QGroupBox>(QStringLiteral("grbTipoCome"), QStringLiteral("Tipo de Consumidor"), parent);
  rdtTodosTipoCons =
      hostkit::named<QRadioButton>(QStringLiteral("rdtTodosTipoCons"), QStringLiteral("Todos"), grbTipoCome);
  rdtTodosTipoCons->setChecked(true);
  rdtListaTipoCons =
      hostkit::named<QRadioButton>(QStringLiteral("rdtListaTipoCons"), QStringLiteral("Lista"), grbTipoCome);
  btpTipoCons = searchButton(QStringLiteral("btpTipoCons"), grbTipoCome);
  addRow(new QHBoxLayout(grbTipoCome), {rdtTodosTipoCons, rdtListaTipoCons, btpTipoCons});
}

void TfrmFiltroGeraNF::buildCentroCustoGroup(QWidget* parent) {
  grbCentroCusto =
      hostkit::named<QGroupBox>(QStringLiteral("grbCentroCusto"), QStringLiteral("Centro de Custo "), parent);
  rbtTodosCentroCusto =
      hostkit::named<QRadioButton>(QStringLiteral("rbtTodosCentroCusto"), QStringLiteral("Todos"), grbCentroCusto);
  rbtTodosCentroCusto->setChecked(true);
  rbtListaCentroCusto =
      hostkit::named<QRadioButton>(QStringLiteral("rbtListaCentroCusto"), QStringLiteral("Lista"), grbCentroCusto);
  btnCentroCusto = searchButton(QStringLiteral("btnCentroCusto"), grbCentroCusto, QStringLiteral("Centro de Custo"),
                                QStringLiteral("Não há centro de custo cadastrado."));
  addRow(new QHBoxLayout(grbCentroCusto), {rbtTodosCentroCusto, rbtListaCentroCusto, btnCentroCusto});
}

void TfrmFiltroGeraNF::buildVendaGroup(QWidget* parent) {
  grbVenda = hostkit::named<QGroupBox>(QStringLiteral("grbVenda"), QStringLiteral("Vendas "), parent);
  rbtTodos = hostkit::named<QRadioButton>(QStringLiteral("rbtTodos"), QStringLiteral("Todas"), grbVenda);
  rbtLista = hostkit::named<QRadioButton>(QStringLiteral("rbtLista"), QStringLiteral("Lista"), grbVenda);
  btpVenda = searchButton(QStringLiteral("btpVenda"), grbVenda, QStringLiteral("Venda"),
                          QStringLiteral("Não há vendas concluídas."));
  addRow(new QHBoxLayout(grbVenda), {rbtTodos, rbtLista, btpVenda});
}

void TfrmFiltroGeraNF::buildNFGroup(QWidget* parent) {
  grbNF = hostkit::named<QGroupBox>(QStringLiteral("grbNF"), QString(), parent);
  chkAgrupaNF = checkBox(QStringLiteral("chkAgrupaNF"),
                         QStringLiteral("Agrupa itens de vendas para realizar consolidação"), grbNF);
  chkAgrupaNF->setChecked(true);
  chkVendaNF =
      checkBox(QStringLiteral("chkVendaNF"), QStringLiteral("Somente itens de vendas não consolidados"), grbNF);
  auto* column = new QVBoxLayout(grbNF);
  column->addWidget(chkAgrupaNF);
  column->addWidget(chkVendaNF);
}

void TfrmFiltroGeraNF::buildProdutosGroup(QWidget* parent) {
  grbProdutos = hostkit::named<QGroupBox>(QStringLiteral("grbProdutos"), QStringLiteral("Produtos"), parent);
  rbtTodosProdutos =
      hostkit::named<QRadioButton>(QStringLiteral("rbtTodosProdutos"), QStringLiteral("Todos"), grbProdutos);
  rbtTodosProdutos->setChecked(true);
  rbtListaProdutos =
      hostkit::named<QRadioButton>(QStringLiteral("rbtListaProdutos"), QStringLiteral("Lista"), grbProdutos);
  btnProdutos = searchButton(QStringLiteral("btnProdutos"), grbProdutos, QStringLiteral("Produtos"),
                             QStringLiteral("Não há vendas concluídas."));
  addRow(new QHBoxLayout(grbProdutos), {rbtTodosProdutos, rbtListaProdutos, btnProdutos});
}

// Groups in the order the operator reads them, and each group's controls in
// turn; the search buttons take no focus, so the chain skips them.
void TfrmFiltroGeraNF::setTabOrder() {
  const QList<QWidget*> controls = {depInicial,
                                    depFinal,
                                    rbtTCaixa,
                                    rbtCaixa,
                                    btpCaixa,
                                    rbtTodosCliente,
                                    rbtListaCliente,
                                    btpCliente,
                                    rbtIntervaloCli,
                                    medCliDe,
                                    btnPesqCliDe,
                                    medCliAte,
                                    btnPesqCliAte,
                                    rdtTodosTipoCons,
                                    rdtListaTipoCons,
                                    btpTipoCons,
                                    rbtTodosCentroCusto,
                                    rbtListaCentroCusto,
                                    btnCentroCusto,
                                    rbtTodos,
                                    rbtLista,
                                    btpVenda,
                                    chkAgrupaNF,
                                    chkVendaNF,
                                    rbtTodosProdutos,
                                    rbtListaProdutos,
                                    btnProdutos};
  QWidget* previous = nullptr;
  for (QWidget* control : controls) {
    if (control->focusPolicy() == Qt::NoFocus) continue;
    if (previous) QWidget::setTabOrder(previous, control);
    previous = control;
  }
}

// ---- datasets ----------------------------------------------------------------------

void TfrmFiltroGeraNF::buildData() {
  auto source = [this](const char* name, TDataSet* ds) {
    auto* s = new TDataSource(this, QString::fromLatin1(name));
    s->SetDataSet(ds);
    return s;
  };
  buildQueries();
  cdsVendas = new TDataSet(this, QStringLiteral("cdsVendas"));
  defineCdsVendas(*cdsVendas);
  cdsProdutos = new TDataSet(this, QStringLiteral("cdsProdutos"));
  defineCdsProdutos(*cdsProdutos);
  dtsCaixa = source("dtsCaixa", qryCaixa);
  dtsVendas = source("dtsVendas", cdsVendas);
  dtsTipoCons = source("dtsTipoCons", qryTipoCons);
  dtsCliente = source("dtsCliente", qryCliente);
  dtsCentroCusto = source("dtsCentroCusto", qryCentroCusto);
  dtsProdutos = source("dtsProdutos", cdsProdutos);
  dtsPesqCli = source("dtsPesqCli", qryPesqCli);

  defineFields(*qryValCli, {{"CDCLIENTE", 21}, {"NRINSJURCLIE", 14}, {"IDTPIJURCLIE", 1}, {"NMRAZSOCCLIE", 50}});
  defineFields(*qryCaixa, {{"CDCAIXA", 3, "Código", true, 0, true}, {"NMCAIXA", 30, "Nome"}, {"CODIGO", 7, "", false}});
  defineFields(*qryTipoCons, {{"CDTIPOCONS", 2, "Código", true, 0, true}, {"NMTIPOCONS", 30, "Nome"}});
  defineClienteFields(*qryCliente);
  defineClienteFields(*qryPesqCli);
  defineFields(*qryCentroCusto, {{"NRINSJURCLIE", 14, "Inscrição", true, 22},
                                 {"NMRAZSOCCLIE", 50, "Cliente", true, 0, false, true},
                                 {"CDCCUSCLIE", 10, "Código", true, 12},
                                 {"NMCCUSCLIE", 40, "Nome"},
                                 {"CHAVE", 31, "", false},
                                 {"IDTPIJURCLIE", 1, "", false}});

  qryCliente->FieldByName(QStringLiteral("NRINSJURCLIE"))->OnGetText = [this](int row) {
    return qryClienteNRINSJURCLIEGetText(row);
  };
  qryPesqCli->FieldByName(QStringLiteral("NRINSJURCLIE"))->OnGetText = [this](int row) {
    return qryPesqCliNRINSJURCLIEGetText(row);
  };
  qryCentroCusto->FieldByName(QStringLiteral("NRINSJURCLIE"))->OnGetText = [this](int row) {
    return qryCentroCustoNRINSJURCLIEGetText(row);
  };
  qryCentroCusto->FieldByName(QStringLiteral("NMRAZSOCCLIE"))->OnGetText = [this](int row) {
    return qryCentroCustoNMRAZSOCCLIEGetText(row);
  };
  defineFields(*qryNomeCliente, {{"CDCLIENTE", 21}, {"NMRAZSOCCLIE", 50}});
}

// ---- events ------------------------------------------------------------------------

// A choice handler runs when its control becomes selected, by the operator or
// by code; being unselected runs nothing.
void TfrmFiltroGeraNF::onSelected(QRadioButton* button, void (TfrmFiltroGeraNF::*handler)()) {
  connect(button, &QRadioButton::toggled, this, [this, handler](bool selected) {
    if (selected) guardedOn(this, [this, handler] { (this->*handler)(); });
  });
}

void TfrmFiltroGeraNF::wireHandlers() {
  onSelected(rbtTodos, &TfrmFiltroGeraNF::rbtTodosClick);
  onSelected(rbtLista, &TfrmFiltroGeraNF::rbtListaClick);
  onSelected(rbtTCaixa, &TfrmFiltroGeraNF::rbtTCaixaClick);
  onSelected(rbtCaixa, &TfrmFiltroGeraNF::rbtCaixaClick);
  onSelected(rdtTodosTipoCons, &TfrmFiltroGeraNF::rdtTodosTipoConsClick);
  onSelected(rdtListaTipoCons, &TfrmFiltroGeraNF::rdtListaTipoConsClick);
  onSelected(rbtTodosCentroCusto, &TfrmFiltroGeraNF::rbtTodosCentroCustoClick);
  onSelected(rbtListaCentroCusto, &TfrmFiltroGeraNF::rbtListaCentroCustoClick);
  onSelected(rbtTodosProdutos, &TfrmFiltroGeraNF::rbtTodosProdutosClick);
  onSelected(rbtListaProdutos, &TfrmFiltroGeraNF::rbtListaProdutosClick);
  onSelected(rbtTodosCliente, &TfrmFiltroGeraNF::rbtTodosClienteClick);
  onSelected(rbtListaCliente, &TfrmFiltroGeraNF::rbtListaClienteClick);
  onSelected(rbtIntervaloCli, &TfrmFiltroGeraNF::rbtIntervaloCliClick);
  // A check box handler runs on every change of state.
  connect(chkVendaNF, &QCheckBox::toggled, this, [this] { guardedOn(this, [this] { chkVendaNFClick(); }); });
  connect(chkAgrupaNF, &QCheckBox::toggled, this, [this] { guardedOn(this, [this] { chkAgrupaNFClick(); }); });

  btpCaixa->OnClick = [this](TBtnPesquisa*) { btpCaixaClick(); };
  btpVenda->OnClick = [this](TBtnPesquisa*) { btpVendaClick(); };
  btpTipoCons->OnClick = [this](TBtnPesquisa*) { btpTipoConsClick(); };
  btpCliente->OnClick = [this](TBtnPesquisa*) { btpClienteClick(); };
  btnCentroCusto->OnClick = [this](TBtnPesquisa*) { btnCentroCustoClick(); };
  btnProdutos->OnClick = [this](TBtnPesquisa*) { btnProdutosClick(); };
  // F2 on a chosen "Lista" opens its search
  btpCaixa->SetAssociate(rbtCaixa);
  btpVenda->SetAssociate(rbtLista);
  btpTipoCons->SetAssociate(rdtListaTipoCons);
  btpCliente->SetAssociate(rbtListaCliente);
  btnCentroCusto->SetAssociate(rbtListaCentroCusto);
  btnProdutos->SetAssociate(rbtListaProdutos);

  btnPesqCliDe->SetAssociate(medCliDe);
  btnPesqCliDe->SetDataSource(dtsPesqCli);
  btnPesqCliDe->OnBeforePesq = [this](TBtnPesquisa* s, bool& p) { btnPesqCliDeBeforePesq(s, p); };
  btnPesqCliDe->OnAfterPesq = [this](TBtnPesquisa* s, TDataSet* ds) { btnPesqCliDeAfterPesq(s, ds); };
  btnPesqCliAte->SetAssociate(medCliAte);
  btnPesqCliAte->SetDataSource(dtsPesqCli);
  btnPesqCliAte->OnBeforePesq = [this](TBtnPesquisa* s, bool& p) { btnPesqCliAteBeforePesq(s, p); };
  btnPesqCliAte->OnAfterPesq = [this](TBtnPesquisa* s, TDataSet* ds) { btnPesqCliAteAfterPesq(s, ds); };

  foco_ = new FocusTracker(this);
  foco_->fieldExit(depInicial, [this] { depInicialExit(); });
  foco_->fieldExit(depFinal, [this] { depFinalExit(); });
  foco_->fieldExit(medCliDe, [this] { medCliDeExit(); });
  foco_->fieldExit(medCliAte, [this] { medCliAteExit(); });
}

void TfrmFiltroGeraNF::FormClose(CloseAction& action) {
  TfrmFiltroPadrao::FormClose(action);
  action = CloseAction::Hide;
}

}  // namespace qfx
