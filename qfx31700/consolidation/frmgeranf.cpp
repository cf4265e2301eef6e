#include "consolidation/frmgeranf.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <utility>

#include "consolidation/consolidationrun.h"
#include "consolidation/servermirrors.h"
#include "host/catalogues.h"
#include "navigation/modulestate.h"
#include "remote/replydatasets.h"
#include "statusicons.h"
#include <hostkit/core/messages.h>
#include <hostkit/core/routines.h>
#include <hostkit/widgets/drawing.h>
#include <hostkit/widgets/entrychecks.h>
#include <hostkit/widgets/operations.h>

namespace qfx {

using namespace hostkit;

namespace {

const QColor kOlive(128, 128, 0);
const QColor kPurple(128, 0, 128);

const QString kStatusField = QStringLiteral("IDNOTAFISCAL");

// Draws each cell of the sales grid, and tells its tool tip, through the screen.
class SalesGridDelegate : public TGridDelegate {
 public:
  explicit SalesGridDelegate(TfrmGeraNF* screen) : TGridDelegate(screen), screen_(screen) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    painter->save();
    screen_->dbgPadraoDrawColumnCell(*painter, opt, index.row(), fieldOf(index));
    painter->restore();
  }

 protected:
  QString cellHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return screen_->dbgPadraoCellHint(index.row(), fieldOf(index), option.rect.width());
  }

 private:
  static QString fieldOf(const QModelIndex& index) { return index.data(TDataSetModel::FieldNameRole).toString(); }
  TfrmGeraNF* screen_;
};

// The room for a cell's text: its indent of two pixels on either side.
int textRoom(int cellWidth) { return cellWidth - 4; }

QLabel* boldLabel(const QString& text, const QString& name, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

// Code fields have the info-tip background.
void infoBackground(QWidget* edit) {
  QPalette p = edit->palette();
  p.setColor(QPalette::Base, p.color(QPalette::ToolTipBase));
  edit->setPalette(p);
}

QLineEdit* nameField(const QString& name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setEnabled(false);  // shows the name only
  return edit;
}

TBtnPesquisa* searchButton(const QString& name, const QString& title, const QString& emptyError, QWidget* associate,
                           TDataSource* source, QWidget* parent) {
  auto* button = new TBtnPesquisa(parent, name);
  button->SetTitle(title);
  button->SetEmptyError(emptyError);
  button->SetAssociate(associate);
  button->SetDataSource(source);
  button->SetHint(QStringLiteral("Pesquisar"));
  return button;
}

}  // namespace

CellText gridCellText(const TField& field, int row, const QString& productTreeMask) {
  if (field.isNullAt(row)) return {QString(), false};
  const QString& name = field.FieldName();
  if (name == QLatin1String("CDARVPROD")) return {FormatMaskText(productTreeMask, field.textAt(row)), false};
  const double value = field.valueAt(row).toDouble();
  if (name == QLatin1String("QTPRODVEND")) return {FormatFloat(QStringLiteral("##0.000"), value), true};
  if (name == QLatin1String("VRUNITVEND") || name == QLatin1String("TOTITEM"))
    return {FormatFloat(QStringLiteral("###0.00"), value), true};
  return {field.textAt(row), false};
}

// ---- construction ------------------------------------------------------------------

TfrmGeraNF::TfrmGeraNF(QWidget* parent)
    : TfrmPadraoGrid(parent, QStringLiteral("frmGeraNF")),
      netGeraNF(new TNetConnection(this, QStringLiteral("netGeraNF"))),
      rdm_(*netGeraNF) {
  SetCaption(QStringLiteral("Consolidação de Vendas"));
  HelpFile = QStringLiteral("PdvHELP.hlp");
  HelpContext = 13031700;
  lblCodTela->setText(QStringLiteral("Qfx31700"));
  msgPadrao->setEntries(catalogoGeraNF());
  buildData();
  buildToolbar();
  buildEntryPanel();
  buildGrid();
  buildMenu();
  wireEntryEvents();
  // verify and search act on a list, and a list comes only from a valid
  // exit of the entry panel: until then they stay off (F5 included)
  dtsVendaStateChange();
  resize(1120, 620);  // room for the grid's columns at first show
  createForm();
}

TfrmGeraNF::~TfrmGeraNF() = default;

void TfrmGeraNF::buildData() {
  configureServerConnection(*netGeraNF);  // netGeraNFBeforeConnect

  qryFilial = new TADOIBQuery(this, QStringLiteral("qryFilial"));
  const QString filialSelect = QStringLiteral(
      "SELECT FI.CDFILIAL, FI.NMFILIAL, FI.CDEMPRESA, FI.CDINSCESTA, EM.NMEMPRESA, EM.NMRAZSOCEMPR, FI.CDSERIE, "
      "FI.CDINSCMUNI FROM FILIAL FI, EMPRESA EM");
  qryFilial->setText(DatabaseKind::Generic,
                     {filialSelect + QStringLiteral(" WHERE (FI.CDFILIAL = NVL(:P_CDFILIAL,FI.CDFILIAL)) AND "
                                                    "(FI.CDEMPRESA = EM.CDEMPRESA) ORDER BY FI.CDFILIAL")});
  qryFilial->setText(DatabaseKind::Oracle, {qryFilial->text(DatabaseKind::Generic)});
  qryFilial->setText(DatabaseKind::SQLServer,
                     {filialSelect + QStringLiteral(" WHERE (FI.CDFILIAL = ISNULL(:P_CDFILIAL,FI.CDFILIAL)) AND "
                                                    "(FI.CDEMPRESA = EM.CDEMPRESA) ORDER BY FI.CDFILIAL")});
  qryFilial->setText(
      DatabaseKind::InterBase,
      {filialSelect +
       QStringLiteral(", PARAM(:P_CDFILIAL) P_CDFILIAL WHERE (FI.CDFILIAL = NVLSTR(P_CDFILIAL.PARAM,FI.CDFILIAL)) AND "
                      "(FI.CDEMPRESA = EM.CDEMPRESA) ORDER BY FI.CDFILIAL")});

  qryLoja = new TADOIBQuery(this, QStringLiteral("qryLoja"));
  const QString lojaSelect = QStringLiteral("SELECT CDLOJA, NMLOJA, CDALMOXARIFE, CDLOCALESTOQ, CDTIPOOPER FROM LOJA");
  qryLoja->setText(
      DatabaseKind::Generic,
      {lojaSelect +
       QStringLiteral(" WHERE (CDFILIAL = :P_CDFILIAL) AND (CDLOJA = NVL(:P_CDLOJA, CDLOJA)) ORDER BY CDLOJA")});
  qryLoja->setText(DatabaseKind::Oracle, {qryLoja->text(DatabaseKind::Generic)});
  qryLoja->setText(
      DatabaseKind::SQLServer,
      {lojaSelect +
       QStringLiteral(" WHERE (CDFILIAL = :P_CDFILIAL) AND (CDLOJA = ISNULL(:P_CDLOJA, CDLOJA)) ORDER BY CDLOJA")});
  qryLoja->setText(
      DatabaseKind::InterBase,
      {lojaSelect +
       QStringLiteral(
           ", PARAM(:P_CDLOJA) P_CDLOJA WHERE (CDFILIAL = :P_CDFILIAL) AND (CDLOJA = NVLSTR(P_CDLOJA.PARAM, CDLOJA)) "
           "ORDER BY CDLOJA")});
  // what the searches show; the other columns are read by the after-search handlers
  qryFilial->SetShownColumns({{QStringLiteral("CDFILIAL"), QStringLiteral("Código"), 4},
                              {QStringLiteral("NMFILIAL"), QStringLiteral("Nome"), 30},
                              {QStringLiteral("CDSERIE"), QStringLiteral("Série Padrão"), 5}});
  qryLoja->SetShownColumns({{QStringLiteral("CDLOJA"), QStringLiteral("Código"), 10},
                            {QStringLiteral("NMLOJA"), QStringLiteral("Nome"), 50}});
  // qryLojaBeforeOpen: the store list always belongs to the branch in the field
  qryLoja->BeforeOpen = [this](TDataSet&) {
    qryLoja->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(medFilial->text());
  };

  auto dataset = [this](const char* name, void (*define)(TDataSet&)) {
    auto* ds = new TDataSet(this, QString::fromLatin1(name));
    if (define) define(*ds);
    return ds;
  };
  cdsParamFilial = dataset("cdsParamFilial", defineCdsParamFilial);
  cdsParamVend = dataset("cdsParamVend", defineCdsParamVend);
  cdsPrincipal = dataset("cdsPrincipal", defineCdsPrincipal);
  cdsTipoReti = dataset("cdsTipoReti", defineCdsTipoReti);
  cdsSetor = dataset("cdsSetor", defineCdsSetor);
  cdsVerifVenda = dataset("cdsVerifVenda", defineCdsVerifVenda);
  cdsSoma = dataset("cdsSoma", defineCdsSoma);
  cdsReducaoZ = dataset("cdsReducaoZ", defineCdsReducaoZ);
  cdsIrregEst = dataset("cdsIrregEst", defineCdsIrregEst);
  cdsBloqConsolida = dataset("cdsBloqConsolida", defineCdsBloqConsolida);
  cdsPrincipal->OnCalcFields = [this](TDataSet& ds) { cdsPrincipalCalcFields(ds); };

  auto source = [this](const char* name, TDataSet* ds) {
    auto* s = new TDataSource(this, QString::fromLatin1(name));
    s->SetDataSet(ds);
    return s;
  };
  dtsVenda = source("dtsVenda", cdsPrincipal);
  dtsFilial = source("dtsFilial", qryFilial);
  dtsLoja = source("dtsLoja", qryLoja);
  dtsTipoReti = source("dtsTipoReti", cdsTipoReti);
  dtsSetor = source("dtsSetor", cdsSetor);
  connect(dtsVenda, &TDataSource::StateChange, this, [this] { run([this] { dtsVendaStateChange(); }); });
}

void TfrmGeraNF::buildToolbar() {
  sbtGeraNF = new TButtonFlat(panMenu, QStringLiteral("sbtGeraNF"), QStringLiteral("Consolidar Vendas"));
  sbtGeraNF->setIcon(consolidateIcon());
  sbtGeraNF->setEnabled(false);
  sbtFiltro = new TButtonFlat(panMenu, QStringLiteral("sbtFiltro"), QStringLiteral("Filtrar"));
  sbtFiltro->setIcon(filterIcon());
  sbtFiltro->setEnabled(false);
  panMenuLayout->insertWidget(0, sbtGeraNF);
  panMenuLayout->insertWidget(1, sbtFiltro);
  lblPeriodoVigente = new QLabel(panMenu);
  lblPeriodoVigente->setObjectName(QStringLiteral("lblPeriodoVigente"));
  lblPeriodoVigente->setContentsMargins(12, 0, 0, 0);
  panMenuLayout->insertWidget(panMenuLayout->indexOf(sbtImprimir) + 1, lblPeriodoVigente);
  imgNFOk = new QLabel(panMenu);
  imgNFOk->setObjectName(QStringLiteral("imgNFOk"));
  imgNFOk->setPixmap(statusPixmap(true));
  imgNFOk->hide();
  imgNFNaoOk = new QLabel(panMenu);
  imgNFNaoOk->setObjectName(QStringLiteral("imgNFNaoOk"));
  imgNFNaoOk->setPixmap(statusPixmap(false));
  imgNFNaoOk->hide();
  connect(sbtGeraNF, &QToolButton::clicked, this, [this] { command([this] { sbtGeraNFClick(); }); });
  connect(sbtFiltro, &QToolButton::clicked, this, [this] { command([this] { sbtFiltroClick(); }); });
}

void TfrmGeraNF::buildEntryPanel() {
  panFiltro = new QFrame(this);
  panFiltro->setObjectName(QStringLiteral("panFiltro"));
  panFiltro->setFixedHeight(90);
  panFiltro->setFrameShape(QFrame::StyledPanel);
  auto* grid = new QGridLayout(panFiltro);

  lblFilial = boldLabel(QStringLiteral("Filial"), QStringLiteral("lblFilial"), panFiltro);
  medFilial = new TMaskEdit(panFiltro, QStringLiteral("medFilial"));
  medFilial->SetEditMask(QStringLiteral(">aaaa;0; "));
  edtFilial = nameField(QStringLiteral("edtFilial"), panFiltro);
  btpPesqFilial = searchButton(QStringLiteral("btpPesqFilial"), QStringLiteral("Filial"),
                               QStringLiteral("Não há filial cadastrada"), medFilial, dtsFilial, panFiltro);

  lblLoja = boldLabel(QStringLiteral("Loja"), QStringLiteral("lblLoja"), panFiltro);
  medCdLoja = new TMaskEdit(panFiltro, QStringLiteral("medCdLoja"));
  medCdLoja->setMaxLength(10);
  edtNmLoja = nameField(QStringLiteral("edtNmLoja"), panFiltro);
  btpLoja = searchButton(QStringLiteral("btpLoja"), QStringLiteral("Loja"), {}, medCdLoja, dtsLoja, panFiltro);

  lblTipoReti = boldLabel(QStringLiteral("Tipo Retirada"), QStringLiteral("lblTipoReti"), panFiltro);
  medTipoReti = new TMaskEdit(panFiltro, QStringLiteral("medTipoReti"));
  medTipoReti->SetEditMask(QStringLiteral("99;0; "));
  edtTipoReti = nameField(QStringLiteral("edtTipoReti"), panFiltro);
  btnTipoReti = searchButton(QStringLiteral("btnTipoReti"), QStringLiteral("Tipo de Retirada"),
                             QStringLiteral("Não há Tipo de Retirada cadastrado"), medTipoReti, dtsTipoReti, panFiltro);

  lblSetor = boldLabel(QStringLiteral("Setor"), QStringLiteral("lblSetor"), panFiltro);
  medSetor = new TMaskEdit(panFiltro, QStringLiteral("medSetor"));
  medSetor->setMaxLength(4);
  edtSetor = nameField(QStringLiteral("edtSetor"), panFiltro);
  btnSetor = searchButton(QStringLiteral("btnSetor"), QStringLiteral("Setor"),
                          QStringLiteral("Não há setor cadastrado."), medSetor, dtsSetor, panFiltro);

  const struct {
    QLabel* label;
    TMaskEdit* code;
    TBtnPesquisa* search;
    QLineEdit* name;
  } trios[] = {{lblFilial, medFilial, btpPesqFilial, edtFilial},
               {lblLoja, medCdLoja, btpLoja, edtNmLoja},
               {lblTipoReti, medTipoReti, btnTipoReti, edtTipoReti},
               {lblSetor, medSetor, btnSetor, edtSetor}};
  for (int i = 0; i < 4; ++i) {
    const int row = i / 2, col = (i % 2) * 4;
    grid->addWidget(trios[i].label, row, col);
    grid->addWidget(trios[i].code, row, col + 1);
    grid->addWidget(trios[i].search, row, col + 2);
    grid->addWidget(trios[i].name, row, col + 3);
    trios[i].code->setFixedWidth(80);
    infoBackground(trios[i].code);
  }
  grid->setColumnStretch(3, 1);
  grid->setColumnStretch(7, 1);
  panTopLayout->addWidget(panFiltro);
}

void TfrmGeraNF::buildGrid() {
  pgcPadrao->setTabText(pgcPadrao->indexOf(tshPadrao), QStringLiteral("Venda"));
  // The grid selects one cell, not the whole row: the selected cell is drawn
  // highlighted while the rest of its row keeps its colours. Columns may be
  // as narrow as the status column.
  dbgPadrao->setSelectionBehavior(QAbstractItemView::SelectItems);
  dbgPadrao->horizontalHeader()->setMinimumSectionSize(16);
  const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter, right = Qt::AlignRight | Qt::AlignVCenter;
  SetGridDataSource(dtsVenda, {
                                  {QStringLiteral("IDNOTAFISCAL"), QStringLiteral("Sit."), 19, left},
                                  {QStringLiteral("CDCAIXA"), QStringLiteral("Caixa"), 31, left},
                                  {QStringLiteral("DTENTRVENDA"), QStringLiteral("Data Venda"), 87, left},
                                  {QStringLiteral("NRSEQVENDA"), QStringLiteral("Nr da Venda"), 71, left},
                                  {QStringLiteral("NRCUPOMFIS"), QStringLiteral("Nr. Cupom"), 72, left},
                                  {QStringLiteral("CDARVPROD"), QStringLiteral("Produto"), 85, left},
                                  {QStringLiteral("NMPRODUTO"), QStringLiteral("Nome"), 178, left},
                                  {QStringLiteral("QTPRODVEND"), QStringLiteral("Qtde."), 71, right},
                                  {QStringLiteral("VRUNITVEND"), QStringLiteral("Valor Unit."), 81, right},
                                  {QStringLiteral("TOTITEM"), QStringLiteral("Total"), 83, right},
                                  {QStringLiteral("NRLANCESTQ"), QStringLiteral("Lancto.Estoque"), 0, left},
                                  {QStringLiteral("NRLANCTONF"), QStringLiteral("Lancto.NF"), 89, left},
                                  {QStringLiteral("QtEstoque"), QStringLiteral("Qtde. Estoque"), 0, left},
                                  {QStringLiteral("VrSaldo"), QStringLiteral("Saldo"), 0, left},
                                  {QStringLiteral("NMRAZSOCCLIE"), QStringLiteral("Cliente"), 184, left},
                                  {QStringLiteral("NMCONSUMIDOR"), QStringLiteral("Consumidor"), 190, left},
                              });
  dbgPadrao->setItemDelegate(new SalesGridDelegate(this));
  dbgPadrao->setTabKeyNavigation(true);

  lblAvisoLista = new QLabel(dbgPadrao->viewport());
  lblAvisoLista->setObjectName(QStringLiteral("lblAvisoLista"));
  lblAvisoLista->setAlignment(Qt::AlignCenter);
  lblAvisoLista->setWordWrap(true);
  lblAvisoLista->setMargin(24);
  lblAvisoLista->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
  lblAvisoLista->setAttribute(Qt::WA_TransparentForMouseEvents);
  lblAvisoLista->hide();
  dbgPadrao->viewport()->installEventFilter(this);

  lblCliente = new QLabel(panNavegador);
  lblCliente->setObjectName(QStringLiteral("lblCliente"));
  panNavegadorLayout->addWidget(lblCliente, 1);
  lblResultadoIncerto = new QLabel(
      QStringLiteral("Resultado da última consolidação desconhecido: será consultado quando o servidor responder."),
      panNavegador);
  lblResultadoIncerto->setObjectName(QStringLiteral("lblResultadoIncerto"));
  lblResultadoIncerto->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
  lblResultadoIncerto->setVisible(false);
  panNavegadorLayout->addWidget(lblResultadoIncerto);
  connect(dtsVenda, &TDataSource::DataChange, this,
          [this] { lblCliente->setText(fieldText(cdsPrincipal, "NMRAZSOCCLIE")); });
}

void TfrmGeraNF::buildMenu() {
  mnuManutencao->addSeparator();
  mnuGeraNota = mnuManutencao->addAction(QStringLiteral("&Gerar Nota Fiscal"));
  mnuGeraNota->setObjectName(QStringLiteral("mnuGeraNota"));
  mnuGeraNota->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
  mnuGeraNota->setEnabled(false);
  mnuFiltrar = mnuManutencao->addAction(QStringLiteral("&Filtrar"));
  mnuFiltrar->setObjectName(QStringLiteral("mnuFiltrar"));
  mnuFiltrar->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  mnuFiltrar->setEnabled(false);
  mnuManutencao->addSeparator();
  mnuConsolidacoes = mnuManutencao->addAction(QStringLiteral("Consolidações realiza&das..."));
  mnuConsolidacoes->setObjectName(QStringLiteral("mnuConsolidacoes"));
  // a function key: Ctrl+letter goes to the line edits (Ctrl+E is their end of line)
  mnuConsolidacoes->setShortcut(QKeySequence(Qt::Key_F7));
  for (QAction* editing : {mnuIncluir, mnuAlterar, mnuExcluir, mnuCancelar, mnuConfirmar}) editing->setEnabled(false);
  mnuResultadoConsolidacao = mnuManutencao->addAction(QStringLiteral("Consultar &resultado da consolidação"));
  mnuResultadoConsolidacao->setObjectName(QStringLiteral("mnuResultadoConsolidacao"));
  mnuResultadoConsolidacao->setEnabled(false);
  connect(mnuGeraNota, &QAction::triggered, this, [this] { command([this] { mnuGeraNotaClick(); }); });
  connect(mnuResultadoConsolidacao, &QAction::triggered, this,
          [this] { command([this] { mnuResultadoConsolidacaoClick(); }); });
  connect(mnuFiltrar, &QAction::triggered, this, [this] { command([this] { mnuFiltrarClick(); }); });
  connect(mnuConsolidacoes, &QAction::triggered, this, [this] { command([this] { mnuConsolidacoesClick(); }); });
}

void TfrmGeraNF::wireEntryEvents() {
  // change handlers: writing a code clears its name; a new branch clears the store
  connect(medFilial, &QLineEdit::textChanged, this, [this] {
    edtFilial->clear();
    medCdLoja->clear();
  });
  connect(medCdLoja, &QLineEdit::textChanged, edtNmLoja, &QLineEdit::clear);
  connect(medTipoReti, &QLineEdit::textChanged, edtTipoReti, &QLineEdit::clear);
  connect(medSetor, &QLineEdit::textChanged, edtSetor, &QLineEdit::clear);

  focus_ = new FocusTracker(this);
  focus_->fieldExit(medFilial, [this] { Vd_CDFilial(false); });
  focus_->fieldExit(medCdLoja, [this] { Vd_Loja(false); });
  focus_->fieldExit(medTipoReti, [this] { Vd_TipoRetirada(false); });
  focus_->fieldExit(medSetor, [this] { Vd_Setor(false); });
  focus_->containerEnter(panFiltro, [this] { panFiltroEnter(); });
  focus_->containerExit(panFiltro, [this] { panFiltroExit(); });

  btpPesqFilial->OnBeforePesq = [this](TBtnPesquisa*, bool&) {
    qryFilial->Close();
    qryFilial->ParamByName(QStringLiteral("P_CDFILIAL")).Clear();
    qryFilial->Open();
  };
  btpPesqFilial->OnAfterPesq = [this](TBtnPesquisa*, TDataSet* ds) {
    medFilial->setText(ds->FieldByName(QStringLiteral("CDFILIAL"))->AsString());
    edtFilial->setText(ds->FieldByName(QStringLiteral("NMFILIAL"))->AsString());
  };
  btpLoja->OnBeforePesq = [this](TBtnPesquisa*, bool&) {
    qryLoja->Close();
    qryLoja->ParamByName(QStringLiteral("P_CDLOJA")).Clear();
    qryLoja->Open();
  };
  btpLoja->OnAfterPesq = [this](TBtnPesquisa*, TDataSet* ds) {
    medCdLoja->setText(ds->FieldByName(QStringLiteral("CDLOJA"))->AsString());
    edtNmLoja->setText(ds->FieldByName(QStringLiteral("NMLOJA"))->AsString());
  };
  btnTipoReti->OnBeforePesq = [this](TBtnPesquisa*, bool&) {
    BusyAnimation busy(this, kBusyAnimation);
    rdm_.getTipoReti({}, QStringLiteral("T"), *cdsTipoReti);
  };
  btnTipoReti->OnAfterPesq = [this](TBtnPesquisa*, TDataSet* ds) {
    medTipoReti->setText(ds->FieldByName(QStringLiteral("CDTIPORETI"))->AsString());
    edtTipoReti->setText(ds->FieldByName(QStringLiteral("NMTIPORETI"))->AsString());
  };
  btnSetor->OnBeforePesq = [this](TBtnPesquisa*, bool&) {
    BusyAnimation busy(this, kBusyAnimation);
    rdm_.getSetor({}, QStringLiteral("T"), *cdsSetor);
  };
  btnSetor->OnAfterPesq = [this](TBtnPesquisa*, TDataSet* ds) {
    medSetor->setText(ds->FieldByName(QStringLiteral("CDSETOR"))->AsString());
    edtSetor->setText(ds->FieldByName(QStringLiteral("NMSETOR"))->AsString());
  };
}

// ---- lifecycle ---------------------------------------------------------------------

void TfrmGeraNF::FormCreate() {
  TfrmPadraoGrid::FormCreate();
  netGeraNF->SetConnected(true);
  cdsErroConsolida = new TDataSet(this, QStringLiteral("cdsErroConsolida"));
  cdsProdBloq = new TDataSet(this, QStringLiteral("cdsProdBloq"));
  boPrimVez = true;
  if (pgcPadrao->currentWidget() != tshPadrao) pgcPadrao->setCurrentWidget(tshPadrao);
}

void TfrmGeraNF::FormActivate() {
  TfrmPadraoGrid::FormActivate();
  update();
  if (boPrimVez) firstActivation();
}

void TfrmGeraNF::firstActivation() {
  Filtro.stFilial = FiliProc();
  Filtro.dtInicial = Date();
  Filtro.dtFinal = Date();
  Filtro.boTodasNF = false;
  Filtro.boAgrupaNF = true;
  Filtro.boTodasVendas = true;
  Filtro.boTodosCaixa = true;
  Filtro.boTodosTipoCons = true;
  Filtro.boTodosCliente = true;
  Filtro.stVendas.clear();
  Filtro.boTodosCentroCusto = true;
  Filtro.boTodosProdutos = true;
  medFilial->setText(Filtro.stFilial);
  Vd_CDFilial(false);  // a failure leaves boPrimVez set: the next activation tries again
  cdsPrincipal->FieldByName(QStringLiteral("CDARVPROD"))->SetEditMask(DBPict(0));
  const bool livre = !ModuFili();
  lblFilial->setEnabled(livre);
  medFilial->setEnabled(livre);
  btpPesqFilial->setEnabled(livre);
  mostraPeriodoEmVigor();
  LJ_Padrao();
  (livre ? static_cast<QWidget*>(medFilial) : medCdLoja)->setFocus();
  panFiltroEnter();  // the focus is now inside the entry panel
  boPrimVez = false;
}

void TfrmGeraNF::FormClose(CloseAction& action) {
  TfrmPadraoGrid::FormClose(action);
  netGeraNF->SetConnected(false);
  boIdCriado = false;
}

void TfrmGeraNF::LJ_Padrao() {
  if (EmptyString(medFilial->text())) return;
  rdm_.GetParamVend(medFilial->text(), *cdsParamVend);
  if (cdsParamVend->IsEmpty()) return;
  cdsParamVend->First();
  // each code before its name: writing a code clears the name
  medCdLoja->setText(fieldText(cdsParamVend, "CDLOJA"));
  edtNmLoja->setText(fieldText(cdsParamVend, "NMLOJA"));
  medTipoReti->setText(fieldText(cdsParamVend, "CDTIPORETI"));
  edtTipoReti->setText(fieldText(cdsParamVend, "NMTIPORETI"));
  medSetor->setText(fieldText(cdsParamVend, "CDSETOR"));
  edtSetor->setText(fieldText(cdsParamVend, "NMSETOR"));
}

// ---- entry panel ---------------------------------------------------------------------

void TfrmGeraNF::panFiltroEnter() {
  // A check of the panel exit that put the focus back on its field keeps the
  // operator in the panel: no new entry, and what the exit enabled stays.
  if (std::exchange(focusReturnedToPanel_, false)) return;
  sbtFiltro->setEnabled(false);
  mnuFiltrar->setEnabled(false);
  cdsPrincipal->Close();  // the state change disables consolidation
}

void TfrmGeraNF::panFiltroExit() {
  try {
    Vd_CDFilial(true);
    Vd_Loja(true);
    sbtFiltro->setEnabled(true);
    mnuFiltrar->setEnabled(true);
    Vd_TipoRetirada(true);
    Vd_Setor(true);
    rdm_.GetParamFilial(medFilial->text(), *cdsParamFilial);
    rdm_.GetParamVend(medFilial->text(), *cdsParamVend);
  } catch (...) {
    const QWidget* foco = window()->focusWidget();
    focusReturnedToPanel_ = foco && panFiltro->isAncestorOf(foco);
    throw;
  }
  CriaFiltroGeraNF();
  mostraPeriodoEmVigor();  // a cancelled dialog keeps the dates it had checked
}

void TfrmGeraNF::dtsVendaStateChange() {
  const bool browsing = cdsPrincipal->State() == DataSetState::Browse;
  if (pgcPadrao->currentWidget() == tshPadrao) {
    sbtVerificar->setEnabled(browsing);
    mnuVerificar->setEnabled(browsing);
    sbtProcurar->setEnabled(browsing);
    mnuProcurar->setEnabled(browsing);
  }
  updateConsolidateCommand();
  mostraPeriodoEmVigor();
}

bool TfrmGeraNF::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dbgPadrao->viewport() && event->type() == QEvent::Resize)
    lblAvisoLista->setGeometry(dbgPadrao->viewport()->rect());
  return TfrmPadraoGrid::eventFilter(watched, event);
}

void TfrmGeraNF::mostraPeriodoEmVigor() {
  if (Filtro.dtInicial == 0 && Filtro.dtFinal == 0) return;  // before the first activation gives it
  const bool invertido = Filtro.dtInicial > Filtro.dtFinal;
  const QString periodo = QStringLiteral("%1 a %2").arg(DateToStr(Filtro.dtInicial), DateToStr(Filtro.dtFinal));
  lblPeriodoVigente->setText((invertido ? QStringLiteral("Período invertido: ") : QStringLiteral("Período: ")) +
                             periodo);
  lblPeriodoVigente->setStyleSheet(invertido ? QStringLiteral("color: #a00000; font-weight: bold") : QString());
  lblPeriodoVigente->setToolTip(
      invertido ? QStringLiteral("A data inicial é posterior à final: nenhuma venda cabe neste período. "
                                 "Abra o filtro (Ctrl+L) e corrija as datas.")
                : QStringLiteral("O período do filtro, que a lista segue; o filtro (Ctrl+L) o muda."));
  const bool vaziaPorIsso =
      listaDePeriodoInvertido_ && cdsPrincipal->State() == DataSetState::Browse && cdsPrincipal->IsEmpty();
  if (vaziaPorIsso)
    lblAvisoLista->setText(
        QStringLiteral("Nenhum item: a lista foi lida com o período %1, em que a data inicial é posterior à final. "
                       "Abra o filtro (Ctrl+L) e corrija as datas.")
            .arg(periodo));
  lblAvisoLista->setGeometry(dbgPadrao->viewport()->rect());
  lblAvisoLista->setVisible(vaziaPorIsso);
}

void TfrmGeraNF::updateConsolidateCommand() {
  const bool consolidavel = cdsPrincipal->State() == DataSetState::Browse && !cdsPrincipal->IsEmpty();
  sbtGeraNF->setEnabled(consolidavel);
  mnuGeraNota->setEnabled(consolidavel);
}

// ---- entry checks ----------------------------------------------------------------------

// A failed check puts the focus back on its own field (when it can take it)
// and then shows its message, which stops the operation.
void TfrmGeraNF::failOn(QWidget* field, const QString& key) {
  if (field->isEnabled()) field->setFocus();
  MensErro(msgPadrao->Msg(key), true);
}

void TfrmGeraNF::Vd_CDFilial(bool obrigatorio) {
  const bool vazio = EmptyString(medFilial->text());
  medFilial->setText(Ajusta(medFilial->text(), 4));
  if (obrigatorio && vazio) failOn(medFilial, QStringLiteral("INFO_COD_FILIAL"));
  if (!vazio && !obrigatorio) {
    focusOnFailure(medFilial, [this] {
      qryFilial->Close();
      qryFilial->ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(medFilial->text());
      qryFilial->Open();
    });
    if (qryFilial->IsEmpty()) failOn(medFilial, QStringLiteral("COD_NAO_CAD_FILIAL"));
    Filtro.stFilial = qryFilial->FieldByName(QStringLiteral("CDFILIAL"))->AsString();
  }
  edtFilial->setText(vazio ? QString() : fieldText(qryFilial, "NMFILIAL"));
}

void TfrmGeraNF::Vd_Loja(bool obrigatorio) {
  const bool vazio = EmptyString(medCdLoja->text());
  if (obrigatorio && vazio) failOn(medCdLoja, QStringLiteral("Loja_inf"));
  if (vazio) return;
  focusOnFailure(medCdLoja, [this] {
    qryLoja->Close();
    qryLoja->ParamByName(QStringLiteral("P_CDLOJA")).SetAsString(medCdLoja->text());
    qryLoja->Open();
  });
  if (qryLoja->IsEmpty()) failOn(medCdLoja, QStringLiteral("Loja_cad"));
  edtNmLoja->setText(fieldText(qryLoja, "NMLOJA"));
}

void TfrmGeraNF::Vd_TipoRetirada(bool obrigatorio) {
  const bool vazio = EmptyString(medTipoReti->text());
  if (obrigatorio && vazio) failOn(medTipoReti, QStringLiteral("TIPORETI_NULL"));
  if (vazio) return;
  medTipoReti->setText(Ajusta(medTipoReti->text(), 2));
  focusOnFailure(medTipoReti, [this] {
    BusyAnimation busy(this, kBusyAnimation);
    rdm_.getTipoReti(medTipoReti->text(), {}, *cdsTipoReti);
  });
  if (cdsTipoReti->IsEmpty()) failOn(medTipoReti, QStringLiteral("TIPORETI_NCAD"));
  cdsTipoReti->First();
  edtTipoReti->setText(fieldText(cdsTipoReti, "NMTIPORETI"));
}

void TfrmGeraNF::Vd_Setor(bool obrigatorio) {
  const bool vazio = EmptyString(medSetor->text());
  if (obrigatorio && vazio) failOn(medSetor, QStringLiteral("SETOR_NULL"));
  if (vazio) return;
  medSetor->setText(Ajusta(medSetor->text(), 4));
  focusOnFailure(medSetor, [this] {
    BusyAnimation busy(this, kBusyAnimation);
    rdm_.getSetor(medSetor->text(), {}, *cdsSetor);
  });
  if (cdsSetor->IsEmpty()) failOn(medSetor, QStringLiteral("SETOR_NCAD"));
  cdsSetor->First();
  edtSetor->setText(fieldText(cdsSetor, "NMSETOR"));
}

// ---- sales list -------------------------------------------------------------------------

void TfrmGeraNF::sbtVerificarClick() {
  TfrmPadraoGrid::sbtVerificarClick();
  BusyAnimation busy(this, kBusyAnimation);
  // a failed load leaves the list as it was, marked as possibly out of date
  try {
    const bool invertido = Filtro.dtInicial > Filtro.dtFinal;
    rdm_.GetPrincipal(medFilial->text(), medCdLoja->text(), Filtro, *cdsPrincipal);
    listaDePeriodoInvertido_ = invertido;
  } catch (...) {
    SetGridOutOfDate(cdsPrincipal->Active());
    mostraPeriodoEmVigor();
    throw;
  }
  SetGridOutOfDate(false);
  mostraPeriodoEmVigor();
}

void TfrmGeraNF::sbtFiltroClick() {
  CriaFiltroGeraNF();
  sbtVerificarClick();  // confirmed or cancelled, the list follows Filtro
}

void TfrmGeraNF::mnuFiltrarClick() { sbtFiltroClick(); }
void TfrmGeraNF::mnuGeraNotaClick() { sbtGeraNFClick(); }
// The runs of the entered branch (the login's while none is entered), over
// the period of the filter in force.
void TfrmGeraNF::mnuConsolidacoesClick() {
  const QString filial = medFilial->text().isEmpty() ? FiliProc() : medFilial->text();
  CriaConsolidacoes(filial, Filtro.dtInicial, Filtro.dtFinal);
}
void TfrmGeraNF::salesChangedElsewhere() {
  if (cdsPrincipal->Active()) reloadSales();
}

void TfrmGeraNF::mnuResultadoConsolidacaoClick() { ConsolidationRun(*this).consultarResultado(); }

void TfrmGeraNF::lembraExecucaoIncerta(const ExecucaoIncerta& execucao) {
  execucaoIncerta = execucao;
  mnuResultadoConsolidacao->setEnabled(true);
  lblResultadoIncerto->setVisible(true);
  if (vigiaServidor_) return;
  constexpr int kIntervalo = 2000;  // ms between rounds of health checks
  vigiaServidor_ = netGeraNF->WatchForServer(this, kIntervalo);
  connect(vigiaServidor_, &hostkit::ServerWatch::serverAnswers, this, &TfrmGeraNF::servidorRespondeu);
}

void TfrmGeraNF::esqueceExecucaoIncerta() {
  execucaoIncerta.reset();
  mnuResultadoConsolidacao->setEnabled(false);
  lblResultadoIncerto->setVisible(false);
  delete std::exchange(vigiaServidor_, nullptr);
}

void TfrmGeraNF::servidorRespondeu() {
  delete std::exchange(vigiaServidor_, nullptr);  // its thread has ended
  if (!execucaoIncerta) return;
  const bool ocupada = hostkit::callInFlight() || QApplication::activeModalWidget() ||
                       hostkit::operationRunningAround(this) || !isVisible();
  if (ocupada) {
    constexpr int kDeNovo = 1000;  // ms
    QTimer::singleShot(kDeNovo, this, [this] { servidorRespondeu(); });
    return;
  }
  command([this] { ConsolidationRun(*this).consultarResultado(); });
}

void TfrmGeraNF::sbtGeraNFClick() { ConsolidationRun(*this).executar(); }

void TfrmGeraNF::Verifica_Venda_Anterior(double inicio, double fim, double inicioConsolidacao) {
  ConsolidationRun(*this).verificaVendaAnterior(inicio, fim, inicioConsolidacao);
}

void TfrmGeraNF::Verifica_Valor() { ConsolidationRun(*this).verificaValor(); }

ConsolidationEntry TfrmGeraNF::entry() const {
  return {medFilial->text(), medCdLoja->text(), medTipoReti->text(), medSetor->text()};
}

ConsolidationDataSets TfrmGeraNF::dataSets() {
  return {.paramFilial = cdsParamFilial,
          .paramVend = cdsParamVend,
          .loja = qryLoja,
          .verifVenda = cdsVerifVenda,
          .soma = cdsSoma,
          .reducaoZ = cdsReducaoZ,
          .erroConsolida = cdsErroConsolida,
          .prodBloq = cdsProdBloq,
          .bloqConsolida = cdsBloqConsolida,
          .irregEst = cdsIrregEst};
}

void TfrmGeraNF::focusList() { dbgPadrao->setFocus(); }

bool TfrmGeraNF::serverAnswersWithin(int ms) { return netGeraNF->Ping(ms); }

QString TfrmGeraNF::branch() const { return medFilial->text(); }
QString TfrmGeraNF::store() const { return medCdLoja->text(); }
QString TfrmGeraNF::withdrawalType() const { return medTipoReti->text(); }

bool TfrmGeraNF::consolidatesWithoutProducts() const {
  return cdsParamVend->FieldByName(QStringLiteral("IDGERANFVENPROD"))->AsString() == QLatin1String("N");
}

void TfrmGeraNF::reloadSales() {
  sbtVerificarClick();
  updateConsolidateCommand();
}
void TfrmGeraNF::sbtProcurarClick() { Procura(cdsPrincipal, this, gridSearchColumns()); }
void TfrmGeraNF::sbtImprimirClick() { CriaRelProdEvol(); }

void TfrmGeraNF::cdsPrincipalCalcFields(TDataSet& ds) {
  if (!calcFields_)
    calcFields_ =
        CalcFields{ds.FieldByName(QStringLiteral("CDFILIALEST")), ds.FieldByName(QStringLiteral("NRLANCESTQ")),
                   ds.FieldByName(QStringLiteral("IDNOTAFISCAL"))};
  calcFields_->consolidated->SetAsBoolean(
      mirror::isConsolidatedItem(*calcFields_->stockBranch, *calcFields_->stockPosting));
}

CellText TfrmGeraNF::cellTextAt(const TField& field, int row) const {
  const QString mask = field.FieldName() == QLatin1String("CDARVPROD") ? field.EditMask() : QString();
  return gridCellText(field, row, mask);
}

bool TfrmGeraNF::isReturnedSale(int row) const {
  const TField* situacao = cdsPrincipal->FindField(QStringLiteral("IDSITUVENDA"));
  return situacao && situacao->textAt(row) == QLatin1String("D");
}

void TfrmGeraNF::dbgPadraoDrawColumnCell(QPainter& painter, const QStyleOptionViewItem& option, int row,
                                         const QString& fieldName) {
  const QRect cell = option.rect;
  painter.fillRect(cell, option.palette.color(QPalette::ToolTipBase));
  QColor pen = option.palette.color(QPalette::Text);
  if (isReturnedSale(row)) pen = kPurple;
  if (option.state & QStyle::State_Selected) {
    painter.fillRect(cell, option.palette.color(QPalette::Highlight));
    pen = option.palette.color(QPalette::HighlightedText);
  }
  const TField* field = cdsPrincipal->FindField(fieldName);
  if (!field) return;
  const bool statusIcon = !cdsPrincipal->IsEmpty() && fieldName == kStatusField;
  if (!statusIcon) {  // the icon stands for the status column's text
    const CellText cellText = cellTextAt(*field, row);
    const QString shown = option.fontMetrics.elidedText(cellText.text, Qt::ElideRight, textRoom(cell.width()));
    const int textWidth = option.fontMetrics.horizontalAdvance(shown);
    const int indent = cellText.alignRight ? cell.width() - textWidth - 2 : 2;
    painter.setPen(pen);
    painter.setFont(option.font);
    painter.drawText(QPoint(cell.left() + indent, cell.top() + 2 + option.fontMetrics.ascent()), shown);
  }
  if (option.state & QStyle::State_HasFocus) {
    QStyleOptionFocusRect focusRect;
    focusRect.rect = cell;
    focusRect.palette = option.palette;
    dbgPadrao->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focusRect, &painter, dbgPadrao);
  }
  if (statusIcon) {
    const QPixmap icon = (field->valueAt(row).toBool() ? imgNFOk : imgNFNaoOk)->pixmap();  // a copy
    InsereImagem(painter, cell, icon, kOlive);
  }
}

QString TfrmGeraNF::statusHint(int row) const {
  if (!cdsPrincipal->FieldByName(kStatusField)->valueAt(row).toBool())
    return QStringLiteral("Item pendente: ainda não lançado no estoque");
  const QString posting = cdsPrincipal->FieldByName(QStringLiteral("NRLANCESTQ"))->textAt(row);
  if (posting.isEmpty()) return QStringLiteral("Item consolidado no estoque");
  return QStringLiteral("Item consolidado no estoque (lançamento %1)").arg(posting);
}

// The grid has no discount column: the total's tool tip shows how it follows
// from quantity, unit price and discount.
QString TfrmGeraNF::totalHint(int row) const {
  const auto value = [&](const char* name) {
    const TField* f = cdsPrincipal->FindField(QString::fromLatin1(name));
    return f && !f->isNullAt(row) ? f->valueAt(row).toDouble() : 0.0;
  };
  const QLocale& br = productLocale();
  const QString discount = br.toString(value("VRDESITVEND"), 'f', 2);
  return QStringLiteral("%1 × %2 − %3 de desconto = %4")
      .arg(br.toString(value("QTPRODVEND"), 'f', 3), br.toString(value("VRUNITVEND"), 'f', 2), discount,
           br.toString(value("TOTITEM"), 'f', 2));
}

QString TfrmGeraNF::dbgPadraoCellHint(int row, const QString& fieldName, int cellWidth) const {
  const TField* field = cdsPrincipal->FindField(fieldName);
  if (!field || row < 0 || row >= cdsPrincipal->RecordCount()) return {};
  QStringList lines;
  if (fieldName == kStatusField) {
    lines << statusHint(row);
  } else if (fieldName == QLatin1String("TOTITEM")) {
    lines << totalHint(row);
  } else {
    const QString text = cellTextAt(*field, row).text;
    if (dbgPadrao->fontMetrics().horizontalAdvance(text) > textRoom(cellWidth)) lines << text;
  }
  if (isReturnedSale(row)) lines << QStringLiteral("Venda devolvida");
  return lines.join(u'\n');
}

}  // namespace qfx
