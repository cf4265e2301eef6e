#include "reversal/frmconsolidacoes.h"

#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "host/catalogues.h"
#include "navigation/consolidationscreen.h"
#include "remote/replydatasets.h"
#include <hostkit/core/messages.h>
#include <hostkit/core/routines.h>
#include <hostkit/widgets/entrychecks.h>
#include <proto/contract_methods.h>
#include <proto/contract_refusals.h>

namespace qfx {

using namespace hostkit;

namespace {

// The server's refusals of a reversal, each shown with the screen's text.
bool isRefusal(const QString& key) {
  for (const std::string_view refusal : contract::refusals::reversal::kAll)
    if (key == QLatin1String(refusal.data(), qsizetype(refusal.size()))) return true;
  return false;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QWidget* buddy = nullptr) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QString::fromLatin1(name));
  if (buddy) l->setBuddy(buddy);
  return l;
}

}  // namespace

TfrmConsolidacoes::TfrmConsolidacoes(const QString& filial, QWidget* parent)
    : TfrmPadraoGrid(parent, QStringLiteral("frmConsolidacoes")),
      netConsolidacoes(new TNetConnection(this, QStringLiteral("netConsolidacoes"))),
      cdsConsolidacoes(new TDataSet(this, QStringLiteral("cdsConsolidacoes"))),
      dtsConsolidacoes(new TDataSource(this, QStringLiteral("dtsConsolidacoes"))),
      filial_(filial),
      rdm_(*netConsolidacoes) {
  SetCaption(QStringLiteral("Consolidações realizadas"));
  HelpFile = QStringLiteral("PdvHELP.hlp");
  HelpContext = 13031703;
  lblCodTela->setText(QStringLiteral("Qfx31700"));
  msgPadrao->setEntries(catalogoConsolidacoes());
  configureServerConnection(*netConsolidacoes);
  defineCdsConsolidacoes(*cdsConsolidacoes);
  dtsConsolidacoes->SetDataSet(cdsConsolidacoes);
  buildToolbar();
  buildPanel();
  buildGrid();
  resize(1120, 520);
  createForm();
}

void TfrmConsolidacoes::buildToolbar() {
  sbtEstornar = textButton(panMenu, QStringLiteral("sbtEstornar"), QStringLiteral("&Estornar..."), Glyph::Cancel);
  sbtEstornar->setEnabled(false);
  panMenuLayout->insertWidget(0, sbtEstornar);
  mnuManutencao->addSeparator();
  mnuEstornar = menuAction(mnuManutencao, QStringLiteral("mnuEstornar"), QStringLiteral("&Estornar..."));
  mnuEstornar->setShortcut(QKeySequence(Qt::Key_F8));  // Ctrl+letters belong to the date edits
  mnuEstornar->setEnabled(false);
  connect(sbtEstornar, &QToolButton::clicked, this, [this] { command([this] { sbtEstornarClick(); }); });
  connect(mnuEstornar, &QAction::triggered, this, [this] { command([this] { sbtEstornarClick(); }); });
}

void TfrmConsolidacoes::buildPanel() {
  panPeriodo = new QFrame(this);
  panPeriodo->setObjectName(QStringLiteral("panPeriodo"));
  panPeriodo->setFrameShape(QFrame::StyledPanel);
  edtFilial = new QLineEdit(panPeriodo);
  edtFilial->setObjectName(QStringLiteral("edtFilial"));
  edtFilial->setReadOnly(true);
  edtFilial->setFocusPolicy(Qt::NoFocus);  // fixed for the screen: Tab goes from date to date
  edtFilial->setMaximumWidth(60);
  edtFilial->setText(filial_);
  depInicial = new TDateEditPlus(panPeriodo, QStringLiteral("depInicial"));
  depFinal = new TDateEditPlus(panPeriodo, QStringLiteral("depFinal"));
  lblFilial = label(panPeriodo, "lblFilial", QStringLiteral("Filial:"), edtFilial);
  lblPeriodo = label(panPeriodo, "lblPeriodo", QStringLiteral("&Período:"), depInicial);
  lblAte = label(panPeriodo, "lblAte", QStringLiteral("&até"), depFinal);
  auto* row = new QHBoxLayout(panPeriodo);
  row->setContentsMargins(6, 4, 6, 4);
  for (QWidget* w : std::initializer_list<QWidget*>{lblFilial, edtFilial, lblPeriodo, depInicial, lblAte, depFinal})
    row->addWidget(w);
  row->addStretch(1);
  panTopLayout->addWidget(panPeriodo);
  // Enter in either date loads the period, as Verificar does
  for (TDateEditPlus* edit : {depInicial, depFinal})
    connect(edit, &QLineEdit::returnPressed, this, [this] { command([this] { sbtVerificarClick(); }); });
  setTabOrder(depInicial, depFinal);
  setTabOrder(depFinal, dbgPadrao);
}

void TfrmConsolidacoes::buildGrid() {
  pgcPadrao->setTabText(pgcPadrao->indexOf(tshPadrao), QStringLiteral("Consolidações"));
  const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter, right = Qt::AlignRight | Qt::AlignVCenter;
  SetGridDataSource(dtsConsolidacoes,
                    {
                        {QStringLiteral("NRLANCESTQ"), QStringLiteral("Lancto.Estoque"), 96, left},
                        {QStringLiteral("DTLANCESTQ"), QStringLiteral("Dia"), 80, left},
                        {QStringLiteral("CDOPERADOR"), QStringLiteral("Operador"), 80, left},
                        {QStringLiteral("CDLOJA"), QStringLiteral("Loja"), 44, left},
                        {QStringLiteral("CDTIPORETI"), QStringLiteral("Tipo Ret."), 60, left},
                        {QStringLiteral("CDSETOR"), QStringLiteral("Setor"), 48, left},
                        {QStringLiteral("QTITENS"), QStringLiteral("Itens"), 56, right},
                        {QStringLiteral("VRTOTLANCTONF"), QStringLiteral("Valor"), 90, right},
                        {QStringLiteral("NRLANCTONF"), QStringLiteral("Lancto.NF"), 88, left},
                        {QStringLiteral("DTINCLUSAO"), QStringLiteral("Consolidado em"), 130, left},
                        {QStringLiteral("CDOPERESTORNO"), QStringLiteral("Estornado por"), 90, left},
                        {QStringLiteral("DTESTORNO"), QStringLiteral("Estornado em"), 130, left},
                        {QStringLiteral("NRLANCESTQESTORNO"), QStringLiteral("Lancto.Estorno"), 96, left},
                        {QStringLiteral("DSMOTIVOESTORNO"), QStringLiteral("Motivo"), 260, left},
                    });
  dbgPadrao->setSelectionBehavior(QAbstractItemView::SelectRows);
  panNavegadorLayout->addStretch(1);  // the navigator's buttons at the left, as on the other screens
  connect(dtsConsolidacoes, &TDataSource::DataChange, this, [this] { updateCommands(); });
}

void TfrmConsolidacoes::SetFilial(const QString& filial) {
  if (filial == filial_) return;
  filial_ = filial;
  edtFilial->setText(filial);
  if (cdsConsolidacoes->Active()) cdsConsolidacoes->Close();
  carregada_ = false;
  updateCommands();
}

void TfrmConsolidacoes::SetPeriodo(double inicio, double fim) {
  depInicial->SetDate(inicio);
  depFinal->SetDate(fim);
}

void TfrmConsolidacoes::FormCreate() {
  TfrmPadraoGrid::FormCreate();
  netConsolidacoes->SetConnected(true);
  // the last thirty days until the screen that opens it says otherwise
  SetPeriodo(Date() - 30, Date());
  updateCommands();
}

// The first activation loads the period; later ones leave the list as it is.
void TfrmConsolidacoes::FormActivate() {
  TfrmPadraoGrid::FormActivate();
  if (!carregada_) {
    carregada_ = true;
    dbgPadrao->setFocus();  // the keys of the list and of its menu work at once
    sbtVerificarClick();
  }
}

void TfrmConsolidacoes::FormClose(CloseAction& action) {
  TfrmPadraoGrid::FormClose(action);
  netConsolidacoes->SetConnected(false);
}

void TfrmConsolidacoes::Vd_Periodo() {
  const TMessages* m = msgPadrao;
  checkDateEdit(depInicial, true, m->Msg(QStringLiteral("DATAINI_VAZIA")), m->Msg(QStringLiteral("DATA_INV")));
  checkDateEdit(depFinal, true, m->Msg(QStringLiteral("DATAFIM_VAZIA")), m->Msg(QStringLiteral("DATA_INV")));
  if (depInicial->GetDate() > depFinal->GetDate())
    focusOnFailure(depInicial, [m] { MensErro(m->Msg(QStringLiteral("DATAINI_MAIOR")), true); });
}

void TfrmConsolidacoes::sbtVerificarClick() {
  TfrmPadraoGrid::sbtVerificarClick();
  Vd_Periodo();
  carregada_ = true;
  try {
    BusyAnimation busy(this, kBusyAnimation, msgPadrao->Msg(QStringLiteral("Carregando")));
    rdm_.GetConsolidacoes(filial_, depInicial->GetDate(), depFinal->GetDate(), *cdsConsolidacoes);
  } catch (...) {
    SetGridOutOfDate(true);
    updateCommands();
    throw;
  }
  SetGridOutOfDate(false);
  updateCommands();
}

void TfrmConsolidacoes::mostraLancamento(const QString& filialEst, const QString& lancamento) {
  TDataSet& ds = *cdsConsolidacoes;
  for (int row = 0; row < ds.RecordCount(); ++row) {
    ds.SetRecNo(row);
    if (fieldText(&ds, "CDFILIAL") == filialEst && fieldText(&ds, "NRLANCESTQ") == lancamento) return;
  }
  if (!ds.IsEmpty()) ds.First();
}

void TfrmConsolidacoes::sbtProcurarClick() { Procura(cdsConsolidacoes, this, gridSearchColumns()); }

bool TfrmConsolidacoes::estornada() const { return !fieldText(cdsConsolidacoes, "NRLANCESTQESTORNO").isEmpty(); }

void TfrmConsolidacoes::updateCommands() {
  const bool linha = cdsConsolidacoes->Active() && !cdsConsolidacoes->IsEmpty();
  // a reversed run stays selectable, and "Estornar..." then says why it cannot
  sbtEstornar->setEnabled(linha);
  mnuEstornar->setEnabled(linha);
}

bool TfrmConsolidacoes::tratarRecusa(const QString& chave) {
  if (!isRefusal(chave)) return false;
  MensErro(msgPadrao->Msg(chave), true);
  return true;
}

void TfrmConsolidacoes::sbtEstornarClick() {
  if (!cdsConsolidacoes->Active() || cdsConsolidacoes->IsEmpty())
    MensErro(msgPadrao->Msg(QStringLiteral("Sem_Consol")), true);
  if (estornada()) MensErro(msgPadrao->Msg(QString::fromLatin1(contract::refusals::reversal::kAlreadyReversed)), true);
  const QString filialEst = fieldText(cdsConsolidacoes, "CDFILIAL");
  const QString lancamento = fieldText(cdsConsolidacoes, "NRLANCESTQ");
  const QString dia = DateToStr(cdsConsolidacoes->FieldByName(QStringLiteral("DTLANCESTQ"))->AsDateTime());
  const QString itens = QString::number(cdsConsolidacoes->FieldByName(QStringLiteral("QTITENS"))->AsInteger());
  const QString valor = FormatFloat(QStringLiteral("#,##0.00"),
                                    cdsConsolidacoes->FieldByName(QStringLiteral("VRTOTLANCTONF"))->AsFloat());
  const auto motivo = TfrmMotivoEstorno::Pergunta(
      msgPadrao->Msg(QStringLiteral("Lanc_Estorno"), {lancamento, dia, itens, valor}), this);
  if (!motivo) Abort();
  if (MessageDlg(msgPadrao->Msg(QStringLiteral("Conf_Estorno"), {lancamento, dia}), MsgDlgType::Confirmation,
                 mbYes | mbNo, 0) != mrYes)
    Abort();
  EstornaGeraNFReply feito;
  try {
    BusyAnimation busy(this, kBusyAnimation, msgPadrao->Msg(QStringLiteral("Estornando")));
    feito = rdm_.EstornaGeraNF(FiliProc(), filial_, filialEst, lancamento, *motivo, Operador());
  } catch (const EServerError& e) {
    // whatever the answer, the list shows what the server now holds
    try {
      sbtVerificarClick();
    } catch (...) {
    }
    if (!tratarRecusa(e.message())) throw;
    return;
  }
  // the outcome first: a list that cannot be loaded again must not hide it
  MessageDlg(msgPadrao->Msg(QStringLiteral("Estorno_OK"), {feito.lancamento, lancamento, QString::number(feito.itens)}),
             MsgDlgType::Information, mbOK, 0);
  if (ConsolidationScreen* consolidacao = consolidationScreen()) consolidacao->salesChangedElsewhere();
  sbtVerificarClick();
  mostraLancamento(filialEst, lancamento);  // the row just reversed, now with who reversed it
}

// ---- the reason ------------------------------------------------------------------

TfrmMotivoEstorno::TfrmMotivoEstorno(const QString& lancamento, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmMotivoEstorno"));
  setWindowTitle(QStringLiteral("Motivo do estorno"));
  lblLancamento = new QLabel(lancamento, this);
  lblLancamento->setObjectName(QStringLiteral("lblLancamento"));
  lblLancamento->setWordWrap(true);
  memMotivo = new QPlainTextEdit(this);
  memMotivo->setObjectName(QStringLiteral("memMotivo"));
  memMotivo->setTabChangesFocus(true);
  lblMotivo = label(this, "lblMotivo", QStringLiteral("&Motivo (obrigatório):"), memMotivo);
  lblContador = new QLabel(this);
  lblContador->setObjectName(QStringLiteral("lblContador"));
  lblContador->setAlignment(Qt::AlignRight);
  auto* buttons = new QDialogButtonBox(this);
  btnConfirmar = buttons->addButton(QStringLiteral("&Confirmar"), QDialogButtonBox::AcceptRole);
  btnConfirmar->setObjectName(QStringLiteral("btnConfirmar"));
  btnCancelar = buttons->addButton(QStringLiteral("C&ancelar"), QDialogButtonBox::RejectRole);
  btnCancelar->setObjectName(QStringLiteral("btnCancelar"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblLancamento);
  layout->addWidget(lblMotivo);
  layout->addWidget(memMotivo);
  layout->addWidget(lblContador);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(memMotivo, &QPlainTextEdit::textChanged, this, &TfrmMotivoEstorno::motivoChanged);
  motivoChanged();
  resize(460, 240);
  memMotivo->setFocus();
}

QString TfrmMotivoEstorno::Motivo() const { return memMotivo->toPlainText().simplified(); }

// The reason is cut at the length kept, and the confirmation waits for one.
void TfrmMotivoEstorno::motivoChanged() {
  constexpr int maximo = contract::EstornaGeraNF::kMotivoMaximo;
  const QString texto = memMotivo->toPlainText();
  if (texto.size() > maximo) {
    const QSignalBlocker quiet(memMotivo);
    memMotivo->setPlainText(texto.left(maximo));
    memMotivo->moveCursor(QTextCursor::End);
  }
  lblContador->setText(QStringLiteral("%1/%2").arg(memMotivo->toPlainText().size()).arg(maximo));
  btnConfirmar->setEnabled(!Motivo().isEmpty());
  btnConfirmar->setDefault(false);  // Enter in the reason is a new line, not a confirmation
}

std::optional<QString> TfrmMotivoEstorno::Pergunta(const QString& lancamento, QWidget* parent) {
  TfrmMotivoEstorno dialog(lancamento, parent);
  if (dialog.exec() != QDialog::Accepted || dialog.Motivo().isEmpty()) return std::nullopt;
  return dialog.Motivo();
}

}  // namespace qfx
