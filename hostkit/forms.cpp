#include "forms.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSettings>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>

#include "messages.h"
#include "operations.h"
#include "optionsets.h"

namespace hostkit {

TButtonFlat* toolButton(QWidget* parent, const QString& name, const QString& hint, Glyph glyph) {
  auto* b = new TButtonFlat(parent, name, hint);
  b->setIcon(glyphIcon(glyph));
  return b;
}

// `text` may mark its Alt key with "&"; the hint shows the text without it.
TButtonFlat* textButton(QWidget* parent, const QString& name, const QString& text, Glyph glyph) {
  auto* b = toolButton(parent, name, QString(text).remove(QLatin1Char('&')), glyph);
  b->setText(text);
  b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  return b;
}

QAction* menuAction(QMenu* menu, const QString& name, const QString& text) {
  auto* a = menu->addAction(text);
  a->setObjectName(name);
  return a;
}

QLabel* codeLabel(QWidget* parent, const QString& name) {
  auto* l = new QLabel(parent);
  l->setObjectName(name);
  QFont f = l->font();
  f.setPointSizeF(f.pointSizeF() * 0.85);
  l->setFont(f);
  l->setForegroundRole(QPalette::PlaceholderText);
  return l;
}

// The help button and F1 run the dialog's help handler.
void connectHelp(QWidget* dialog, TButtonFlat* button, const std::function<void()>& help) {
  QObject::connect(button, &QToolButton::clicked, dialog, help);
  auto* f1 = new QShortcut(QKeySequence::HelpContents, dialog);
  QObject::connect(f1, &QShortcut::activated, dialog, help);
}

namespace {

// A window opened by the screen itself: a message box, picker or dialog
// whose transient parent (or widget parent) leads back to `owner`'s window.
bool isOwnedWindow(const QWindow* window, const QWidget* owner) {
  const QWindow* mine = owner->window()->windowHandle();
  for (const QWindow* t = window ? window->transientParent() : nullptr; t; t = t->transientParent())
    if (t == mine) return true;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->windowHandle() != window) continue;
    for (const QWidget* p = top->parentWidget(); p; p = p->parentWidget())
      if (p->window() == owner->window()) return true;
  }
  return false;
}

}  // namespace

// ---- grid screen ------------------------------------------------------------------

TfrmPadraoGrid::TfrmPadraoGrid(QWidget* parent, const QString& name) : QWidget(parent) {
  setObjectName(name);
  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  buildMenu();
  root->setMenuBar(mnuPrincipal);
  buildToolbar();
  root->addWidget(panMenu);
  panTopLayout = new QVBoxLayout;
  panTopLayout->setContentsMargins(4, 4, 4, 4);
  root->addLayout(panTopLayout);
  buildPages();
  root->addWidget(pgcPadrao, 1);
  buildNavigator();
  root->addWidget(panNavegador);

  msgPadrao = new TMessages(this, QStringLiteral("msgPadrao"));
  msgMensagensPadroes = new TMessages(this, QStringLiteral("msgMensagensPadroes"));

  // only within this screen: two screens side by side would make F1 ambiguous
  auto* help = new QShortcut(QKeySequence::HelpContents, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
  connect(help, &QShortcut::activated, this, [this] { run([this] { sbtAjudaClick(); }); });
  connect(qApp, &QGuiApplication::focusWindowChanged, this, &TfrmPadraoGrid::trackWindowFocus);
}

void TfrmPadraoGrid::buildMenu() {
  mnuPrincipal = new QMenuBar(this);
  mnuPrincipal->setObjectName(QStringLiteral("mnuPrincipal"));
  mnuManutencao = mnuPrincipal->addMenu(QStringLiteral("&Manutenção"));
  mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
  mnuIncluir = menuAction(mnuManutencao, QStringLiteral("mnuIncluir"), QStringLiteral("&Incluir"));
  mnuAlterar = menuAction(mnuManutencao, QStringLiteral("mnuAlterar"), QStringLiteral("&Alterar"));
  mnuExcluir = menuAction(mnuManutencao, QStringLiteral("mnuExcluir"), QStringLiteral("&Excluir"));
  mnuCancelar = menuAction(mnuManutencao, QStringLiteral("mnuCancelar"), QStringLiteral("&Cancelar"));
  mnuConfirmar = menuAction(mnuManutencao, QStringLiteral("mnuConfirmar"), QStringLiteral("C&onfirmar"));
  mnuManutencao->addSeparator();
  mnuProcurar = menuAction(mnuManutencao, QStringLiteral("mnuProcurar"), QStringLiteral("&Procurar"));
  mnuProcurar->setShortcut(QKeySequence::Find);
  mnuVerificar = menuAction(mnuManutencao, QStringLiteral("mnuVerificar"), QStringLiteral("&Verificar"));
  mnuVerificar->setShortcut(QKeySequence::Refresh);
  mnuImprimir = menuAction(mnuManutencao, QStringLiteral("mnuImprimir"), QStringLiteral("I&mprimir..."));
  mnuImprimir->setShortcut(QKeySequence::Print);
  for (QAction* a : {mnuIncluir, mnuAlterar, mnuExcluir, mnuCancelar, mnuConfirmar}) a->setEnabled(false);

  connect(mnuIncluir, &QAction::triggered, this, [this] { command([this] { mnuIncluirClick(); }); });
  connect(mnuAlterar, &QAction::triggered, this, [this] { command([this] { mnuAlterarClick(); }); });
  connect(mnuExcluir, &QAction::triggered, this, [this] { command([this] { mnuExcluirClick(); }); });
  connect(mnuCancelar, &QAction::triggered, this, [this] { command([this] { mnuCancelarClick(); }); });
  connect(mnuConfirmar, &QAction::triggered, this, [this] { command([this] { mnuConfirmarClick(); }); });
  connect(mnuProcurar, &QAction::triggered, this, [this] { command([this] { sbtProcurarClick(); }); });
  connect(mnuVerificar, &QAction::triggered, this, [this] { command([this] { sbtVerificarClick(); }); });
  connect(mnuImprimir, &QAction::triggered, this, [this] { command([this] { sbtImprimirClick(); }); });
}

void TfrmPadraoGrid::buildToolbar() {
  panMenu = new QFrame(this);
  panMenu->setObjectName(QStringLiteral("panMenu"));
  static_cast<QFrame*>(panMenu)->setFrameShape(QFrame::StyledPanel);
  panMenuLayout = new QHBoxLayout(panMenu);
  panMenuLayout->setContentsMargins(2, 2, 2, 2);
  panMenuLayout->setSpacing(1);
  sbtProcurar = toolButton(panMenu, QStringLiteral("sbtProcurar"), QStringLiteral("Procurar"), Glyph::Search);
  sbtVerificar = toolButton(panMenu, QStringLiteral("sbtVerificar"), QStringLiteral("Verificar"), Glyph::Verify);
  sbtImprimir = toolButton(panMenu, QStringLiteral("sbtImprimir"), QStringLiteral("Imprimir"), Glyph::Print);
  sbtAjuda = toolButton(panMenu, QStringLiteral("sbtAjuda"), QStringLiteral("Ajuda"), Glyph::Help);
  sbtFechar = toolButton(panMenu, QStringLiteral("sbtFechar"), QStringLiteral("Fechar"), Glyph::Close);
  lblCodTela = codeLabel(panMenu, QStringLiteral("lblCodTela"));
  for (QWidget* w :
       {static_cast<QWidget*>(sbtProcurar), static_cast<QWidget*>(sbtVerificar), static_cast<QWidget*>(sbtImprimir)})
    panMenuLayout->addWidget(w);
  panMenuLayout->addStretch(1);
  panMenuLayout->addWidget(lblCodTela);
  panMenuLayout->addWidget(sbtAjuda);
  panMenuLayout->addWidget(sbtFechar);

  connect(sbtProcurar, &QToolButton::clicked, this, [this] { command([this] { sbtProcurarClick(); }); });
  connect(sbtVerificar, &QToolButton::clicked, this, [this] { command([this] { sbtVerificarClick(); }); });
  connect(sbtImprimir, &QToolButton::clicked, this, [this] { command([this] { sbtImprimirClick(); }); });
  connect(sbtAjuda, &QToolButton::clicked, this, [this] { run([this] { sbtAjudaClick(); }); });
  connect(sbtFechar, &QToolButton::clicked, this, [this] { Close(); });
}

void TfrmPadraoGrid::buildPages() {
  pgcPadrao = new QTabWidget(this);
  pgcPadrao->setObjectName(QStringLiteral("pgcPadrao"));
  // the page tabs take no focus: Tab from the entry panel goes straight to
  // the grid, and a click on a tab does not leave the panel for nowhere
  pgcPadrao->setFocusPolicy(Qt::NoFocus);
  pgcPadrao->tabBar()->setFocusPolicy(Qt::NoFocus);
  tshPadrao = new QWidget(pgcPadrao);
  tshPadrao->setObjectName(QStringLiteral("tshPadrao"));
  auto* page = new QVBoxLayout(tshPadrao);
  page->setContentsMargins(0, 0, 0, 0);
  dbgPadrao = new QTableView(tshPadrao);
  dbgPadrao->setObjectName(QStringLiteral("dbgPadrao"));
  setupGrid(dbgPadrao);
  page->addWidget(dbgPadrao);
  pgcPadrao->addTab(tshPadrao, QString());
}

void TfrmPadraoGrid::buildNavigator() {
  panNavegador = new QWidget(this);
  panNavegador->setObjectName(QStringLiteral("panNavegador"));
  panNavegadorLayout = new QHBoxLayout(panNavegador);
  panNavegadorLayout->setContentsMargins(2, 2, 2, 2);
  panNavegadorLayout->setSpacing(1);
  dbnFirst = toolButton(panNavegador, QStringLiteral("dbnFirst"), QStringLiteral("Primeiro registro"), Glyph::First);
  dbnPrior = toolButton(panNavegador, QStringLiteral("dbnPrior"), QStringLiteral("Registro anterior"), Glyph::Prior);
  dbnNext = toolButton(panNavegador, QStringLiteral("dbnNext"), QStringLiteral("Próximo registro"), Glyph::Next);
  dbnLast = toolButton(panNavegador, QStringLiteral("dbnLast"), QStringLiteral("Último registro"), Glyph::Last);
  for (TButtonFlat* b : {dbnFirst, dbnPrior, dbnNext, dbnLast}) panNavegadorLayout->addWidget(b);
  lblDesatualizado = new QLabel(
      QStringLiteral("Lista desatualizada: a última leitura falhou. Verificar (F5) tenta de novo."), panNavegador);
  lblDesatualizado->setObjectName(QStringLiteral("lblDesatualizado"));
  lblDesatualizado->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
  lblDesatualizado->setVisible(false);
  panNavegadorLayout->addWidget(lblDesatualizado);
  auto move = [this](void (TDataSet::*step)()) {
    run([this, step] {
      if (TDataSet* ds = GridDataSet(); ds && ds->Active()) (ds->*step)();
    });
  };
  connect(dbnFirst, &QToolButton::clicked, this, [move] { move(&TDataSet::First); });
  connect(dbnPrior, &QToolButton::clicked, this, [move] { move(&TDataSet::Prior); });
  connect(dbnNext, &QToolButton::clicked, this, [move] { move(&TDataSet::Next); });
  connect(dbnLast, &QToolButton::clicked, this, [move] { move(&TDataSet::Last); });
}

void TfrmPadraoGrid::createForm() {
  FormCreate();
  created_ = true;
}

void TfrmPadraoGrid::SetCaption(const QString& caption) {
  setWindowTitle(caption);
  if (subWindow_) subWindow_->setWindowTitle(caption);
}

void TfrmPadraoGrid::SetGridDataSource(TDataSource* source, const QList<GridColumn>& columns) {
  if (!gridModel_) gridModel_ = new TDataSetModel(this);
  gridModel_->setDataSource(source);
  gridModel_->setColumns(columns);
  bindGrid(dbgPadrao, gridModel_);
}

TDataSet* TfrmPadraoGrid::GridDataSet() const { return gridModel_ ? gridModel_->dataSet() : nullptr; }

QWidget* TfrmPadraoGrid::frameWindow() const {
  return subWindow_ ? static_cast<QWidget*>(subWindow_) : const_cast<TfrmPadraoGrid*>(this);
}

void TfrmPadraoGrid::Show() {
  QMdiArea* area = hasHostServices() ? hostServices().mdiArea() : nullptr;
  if (area && !subWindow_) {
    auto* sub = new QMdiSubWindow;
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->setWidget(this);
    sub->setWindowTitle(windowTitle());
    const QSize wanted = size();
    area->addSubWindow(sub);
    // the screen's own size plus the frame, within the area: a small main
    // window gets a screen it can see whole (the panel and grid shrink)
    const QSize room = area->viewport()->size();
    sub->resize(
        sub->sizeHint().expandedTo(wanted + QSize(12, 36)).boundedTo(room.isEmpty() ? QSize(4096, 4096) : room));
    subWindow_ = sub;
    // Only a switch from another child counts: the area re-announcing its
    // active child after a message box is no activation.
    connect(area, &QMdiArea::subWindowActivated, this,
            [this, previous = QPointer<QMdiSubWindow>()](QMdiSubWindow* active) mutable {
              if (!active) return;
              const bool switched = active == subWindow_ && previous != subWindow_;
              previous = active;
              if (switched) activated();
            });
  }
  frameWindow()->show();
  BringToFront();
}

void TfrmPadraoGrid::BringToFront() {
  QWidget* frame = frameWindow();
  frame->raise();
  if (subWindow_ && subWindow_->mdiArea()) {
    subWindow_->mdiArea()->setActiveSubWindow(subWindow_);
  } else {
    frame->activateWindow();
    // A window hidden and shown again can keep the window system's focus
    // throughout (the only window of the application): then nobody tells the
    // widgets it is active again, and its activation would never run.
    QWidget* window = frame->window();
    if (window->windowHandle() && window->windowHandle() == QGuiApplication::focusWindow() &&
        QApplication::activeWindow() != window)
      QApplication::setActiveWindow(window);
  }
}

void TfrmPadraoGrid::SetWindowStateNormal() {
  QWidget* frame = frameWindow();
  if (frame->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized)) frame->showNormal();
}

bool TfrmPadraoGrid::IsMinimized() const { return frameWindow()->windowState() & Qt::WindowMinimized; }

bool TfrmPadraoGrid::Close() { return subWindow_ ? subWindow_->close() : close(); }

void TfrmPadraoGrid::trackWindowFocus(QWindow* window) {
  if (!window || subWindow_) return;
  if (!isWindow() || window == windowHandle()) return;
  leftForOwnWindow_ = isOwnedWindow(window, this);
}

bool TfrmPadraoGrid::event(QEvent* e) {
  const bool result = QWidget::event(e);
  if (e->type() == QEvent::WindowActivate && isWindow()) {
    if (leftForOwnWindow_)
      leftForOwnWindow_ = false;  // back from its own message box or dialog
    else
      activated();
  }
  return result;
}

void TfrmPadraoGrid::activated() {
  if (!created_ || activating_) return;
  activating_ = true;
  run([this] { FormActivate(); });
  activating_ = false;
}

bool TfrmPadraoGrid::run(const std::function<void()>& handler) { return guardedOn(this, handler); }

bool TfrmPadraoGrid::command(const std::function<void()>& handler) {
  if (operationRunning(this)) return false;
  // the screen cannot go while its handler runs (closes wait for it): no QPointer needed
  panMenu->setEnabled(false);
  mnuPrincipal->setEnabled(false);
  setCursor(Qt::WaitCursor);
  const bool completed = run(handler);
  panMenu->setEnabled(true);
  mnuPrincipal->setEnabled(true);
  unsetCursor();
  return completed;
}

QList<SearchColumn> TfrmPadraoGrid::gridSearchColumns() const {
  QList<SearchColumn> columns;
  if (!gridModel_) return columns;
  for (int c = 0; c < gridModel_->columnCount(); ++c) {
    const TField* field = gridModel_->fieldAt(c);
    const QString title = gridModel_->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
    if (field && !title.isEmpty()) columns << SearchColumn{field->FieldName(), title};
  }
  return columns;
}

void TfrmPadraoGrid::SetGridOutOfDate(bool outOfDate) { lblDesatualizado->setVisible(outOfDate); }

void TfrmPadraoGrid::FormClose(CloseAction& action) { action = CloseAction::Free; }

void TfrmPadraoGrid::closeEvent(QCloseEvent* e) {
  CloseAction action = CloseAction::Hide;
  if (!run([&] { FormClose(action); }) || action == CloseAction::None) {
    e->ignore();
    return;
  }
  switch (action) {
    case CloseAction::Free:
      e->accept();
      if (subWindow_) subWindow_->deleteLater();
      deleteLater();
      break;
    case CloseAction::Hide:
      if (subWindow_) {
        e->ignore();
        subWindow_->hide();
      } else {
        e->accept();
      }
      break;
    case CloseAction::Minimize:
      e->ignore();
      frameWindow()->showMinimized();
      break;
    case CloseAction::None:
      break;
  }
}

void TfrmPadraoGrid::sbtVerificarClick() { dbgPadrao->viewport()->update(); }

void TfrmPadraoGrid::sbtProcurarClick() {
  if (TDataSet* ds = GridDataSet(); ds && ds->Active()) Procura(ds, this, gridSearchColumns());
}

void TfrmPadraoGrid::sbtAjudaClick() { ShowHelp(HelpContext, this); }

// ---- option list ------------------------------------------------------------------

qsizetype TOptionList::indexOf(const QString& name) const {
  const QString prefix = name + QLatin1Char('=');
  for (qsizetype i = 0; i < lines_.size(); ++i)
    if (lines_.at(i).startsWith(prefix)) return i;
  return -1;
}

QString TOptionList::value(const QString& name) const {
  const qsizetype i = indexOf(name);
  return i < 0 ? QString() : lines_.at(i).mid(name.size() + 1);
}

void TOptionList::setValue(const QString& name, const QString& value) {
  const qsizetype i = indexOf(name);
  if (value.isEmpty()) {
    if (i >= 0) lines_.removeAt(i);
    return;
  }
  const QString line = name + QLatin1Char('=') + value;
  if (i >= 0)
    lines_[i] = line;
  else
    lines_ << line;
}

// ---- filter dialog ----------------------------------------------------------------

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget* parent, const QString& name) : QDialog(parent) {
  setObjectName(name);
  setModal(true);
  auto* root = new QVBoxLayout(this);
  lblCodTela = codeLabel(this, QStringLiteral("lblCodTela"));
  lblCodTela->setAlignment(Qt::AlignRight);
  grbFiltroPadrao = new QGroupBox(this);
  grbFiltroPadrao->setObjectName(QStringLiteral("grbFiltroPadrao"));
  root->addWidget(grbFiltroPadrao, 1);

  panBotoes = new QWidget(this);
  panBotoes->setObjectName(QStringLiteral("panBotoes"));
  auto* buttons = new QHBoxLayout(panBotoes);
  buttons->setContentsMargins(0, 0, 0, 0);
  sbtOpcoes = textButton(panBotoes, QStringLiteral("sbtOpcoes"), QStringLiteral("&Opções"), Glyph::Options);
  ppmOpcoes = new QMenu(this);
  ppmOpcoes->setObjectName(QStringLiteral("ppmOpcoes"));
  btfSaveOpc = menuAction(ppmOpcoes, QStringLiteral("btfSaveOpc"), QStringLiteral("Salvar opções"));
  btfLoadOpc = menuAction(ppmOpcoes, QStringLiteral("btfLoadOpc"), QStringLiteral("Carregar opções"));
  mnuConjuntos = ppmOpcoes->addMenu(QStringLiteral("Carregar opções salvas como"));
  mnuConjuntos->setObjectName(QStringLiteral("mnuConjuntos"));
  ppmOpcoes->addSeparator();
  btfSalvaPeriodo = menuAction(ppmOpcoes, QStringLiteral("btfSalvaPeriodo"), QStringLiteral("Salvar também o período"));
  btfSalvaPeriodo->setCheckable(true);
  lblOpcoes = new QLabel(panBotoes);
  lblOpcoes->setObjectName(QStringLiteral("lblOpcoes"));
  sbtOpcoes->setMenu(ppmOpcoes);
  sbtOpcoes->setPopupMode(QToolButton::InstantPopup);
  sbtConfirma = textButton(panBotoes, QStringLiteral("sbtConfirma"), QStringLiteral("&Confirmar"), Glyph::Confirm);
  sbtConfirma->SetHint(QStringLiteral("Confirmar (Ctrl+Enter)"));
  sbtCancel = textButton(panBotoes, QStringLiteral("sbtCancel"), QStringLiteral("Cance&lar"), Glyph::Cancel);
  sbtCancel->SetHint(QStringLiteral("Cancelar (Esc)"));
  sbtAjuda = toolButton(panBotoes, QStringLiteral("sbtAjuda"), QStringLiteral("Ajuda"), Glyph::Help);
  buttons->addWidget(sbtOpcoes);
  buttons->addWidget(lblOpcoes);
  buttons->addStretch(1);
  buttons->addWidget(lblCodTela);
  buttons->addWidget(sbtConfirma);
  buttons->addWidget(sbtCancel);
  buttons->addWidget(sbtAjuda);
  root->addWidget(panBotoes);

  msgPadrao = new TMessages(this, QStringLiteral("msgPadrao"));

  connect(sbtConfirma, &QToolButton::clicked, this, [this] { runButton([this] { sbtConfirmaClick(); }); });
  connect(sbtCancel, &QToolButton::clicked, this, [this] { runButton([this] { sbtCancelClick(); }); });
  connect(btfSaveOpc, &QAction::triggered, this, [this] { guardedOn(this, [this] { saveOptions(); }); });
  connect(btfLoadOpc, &QAction::triggered, this,
          [this] { guardedOn(this, [this] { loadOptions(OptionSets(optionsGroup()).lastUsed()); }); });
  connect(mnuConjuntos, &QMenu::aboutToShow, this, &TfrmFiltroPadrao::listOptionSets);
  connectHelp(this, sbtAjuda, [this] { guardedOn(this, [this] { sbtAjudaClick(); }); });
}

void TfrmFiltroPadrao::createForm() { FormCreate(); }

void TfrmFiltroPadrao::sbtAjudaClick() { ShowHelp(HelpContext, this); }

int TfrmFiltroPadrao::ShowModal() { return exec(); }

// A button handler that set a modal result and ran to its end closes the dialog.
// A second click while the first one's handler runs (a list loading) does nothing.
void TfrmFiltroPadrao::runButton(const std::function<void()>& handler) {
  if (operationRunning(this)) return;
  const bool completed = guardedOn(this, handler);
  if (completed && modalResult_ != mrNone && isVisible()) close();
}

// Ctrl+Return confirms anywhere, Return wherever it does not make a new line.
void TfrmFiltroPadrao::keyPressEvent(QKeyEvent* e) {
  const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
  const Qt::KeyboardModifiers modifiers = e->modifiers() & ~Qt::KeypadModifier;
  const QWidget* focus = focusWidget();
  const bool multiLine = qobject_cast<const QPlainTextEdit*>(focus) || qobject_cast<const QTextEdit*>(focus);
  if (enter && (modifiers == Qt::ControlModifier || (modifiers == Qt::NoModifier && !multiLine))) {
    runButton([this] { sbtConfirmaClick(); });
    return;
  }
  QDialog::keyPressEvent(e);
}

void TfrmFiltroPadrao::reject() {
  runButton([this] { sbtCancelClick(); });
}

void TfrmFiltroPadrao::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (e->spontaneous()) return;  // restored by the window system, not a new opening
  modalResult_ = mrNone;
  lblOpcoes->clear();
  guardedOn(this, [this] { FormActivate(); });
}

void TfrmFiltroPadrao::closeEvent(QCloseEvent* e) {
  if (!isVisible()) return e->accept();
  CloseAction action = CloseAction::Hide;
  if (!guardedOn(this, [&] { FormClose(action); }) || action == CloseAction::None) return e->ignore();
  if (action == CloseAction::Minimize) {
    e->ignore();
    showMinimized();
    return;
  }
  e->accept();
  done(modalResult_ != mrNone ? modalResult_ : int(mrCancel));
  if (action == CloseAction::Free) deleteLater();
}

QString TfrmFiltroPadrao::optionsGroup() const {
  const QString screen = lblCodTela->text().isEmpty() ? objectName() : lblCodTela->text();
  const QString operador = hasHostServices() ? hostServices().operador() : QString();
  return QStringLiteral("OpcoesFiltro/%1/%2").arg(optionKeyPart(screen), optionKeyPart(operador));
}

void TfrmFiltroPadrao::writeOptions() const {
  OptionSets(optionsGroup()).write(optionsName_.isEmpty() ? OptionSets::defaultName() : optionsName_, Opcoes.lines());
}

void TfrmFiltroPadrao::readOptions() {
  const OptionSets sets(optionsGroup());
  Opcoes.setLines(sets.read(optionsName_.isEmpty() ? sets.lastUsed() : optionsName_).value_or(QStringList()));
}

void TfrmFiltroPadrao::btfSaveOpcClick() {
  Opcoes.setLines(controlStateLines(grbFiltroPadrao, btfSalvaPeriodo->isChecked()));
}

void TfrmFiltroPadrao::btfLoadOpcClick() {
  readOptions();
  restoreControlState(grbFiltroPadrao, Opcoes.lines());
}

// Asks the set's name (the last one offered), saves it and says so.
void TfrmFiltroPadrao::saveOptions() {
  QString name = OptionSets(optionsGroup()).lastUsed();
  if (!InputQuery(QStringLiteral("Salvar opções"), QStringLiteral("Nome das opções:"), name, this)) return;
  optionsName_ = name.trimmed().isEmpty() ? OptionSets::defaultName() : name.trimmed();
  btfSaveOpcClick();
  writeOptions();
  lblOpcoes->setText(QStringLiteral("Opções \"%1\" salvas.").arg(optionsName_));
}

void TfrmFiltroPadrao::loadOptions(const QString& name) {
  if (!OptionSets(optionsGroup()).read(name)) {
    lblOpcoes->setText(QStringLiteral("Não há opções salvas como \"%1\".").arg(name));
    return;
  }
  optionsName_ = name;
  btfLoadOpcClick();
  lblOpcoes->setText(QStringLiteral("Opções \"%1\" carregadas.").arg(name));
}

void TfrmFiltroPadrao::listOptionSets() {
  mnuConjuntos->clear();
  const QStringList names = OptionSets(optionsGroup()).names();
  if (names.isEmpty()) mnuConjuntos->addAction(QStringLiteral("(nenhuma salva)"))->setEnabled(false);
  for (const QString& name : names)
    connect(mnuConjuntos->addAction(name), &QAction::triggered, this,
            [this, name] { guardedOn(this, [this, name] { loadOptions(name); }); });
}

}  // namespace hostkit
