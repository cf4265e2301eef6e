#include "frmpadraogrid.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>

#include "operations.h"
#include <hostkit/core/messages.h>

namespace hostkit {

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

}  // namespace hostkit
