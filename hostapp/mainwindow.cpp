#include "mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QStatusBar>

#include "importdialog.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/netconnection.h>
#include <hostkit/widgets/operations.h>

namespace qfxhost {

MainWindow::MainWindow(ModuleLoader& module, const hostkit::HostSession& session, QWidget* parent)
    : QMainWindow(parent), module_(module), mdi_(new QMdiArea(this)), server_(session.server), token_(session.token) {
  setObjectName(QStringLiteral("frmPrincipal"));
  setWindowTitle(QStringLiteral("Retaguarda - Consolidação de Vendas"));
  mdi_->setObjectName(QStringLiteral("mdiPrincipal"));
  setCentralWidget(mdi_);
  buildMenus();
  const auto servers = session.server.servers();
  const QString server =
      QStringLiteral("%1: %2%3")
          .arg(servers.size() > 1 ? QStringLiteral("Servidores") : QStringLiteral("Servidor"),
               hostkit::serverListText(servers), session.server.tls ? QStringLiteral(" (TLS)") : QString());
  statusBar()->addWidget(new QLabel(QStringLiteral("Operador: %1").arg(session.operador), this));
  statusBar()->addWidget(new QLabel(
      QStringLiteral("Filial: %1%2").arg(session.filial, session.moduFili ? QStringLiteral(" (fixa)") : QString()),
      this));
  auto* serverLabel = new QLabel(server, this);
  serverLabel->setObjectName(QStringLiteral("lblServidor"));
  statusBar()->addPermanentWidget(serverLabel);
  resize(1200, 760);
}

void MainWindow::buildMenus() {
  QMenu* modules = menuBar()->addMenu(QStringLiteral("&Módulos"));
  modules->setObjectName(QStringLiteral("mnuModulos"));
  QAction* consolidacao = modules->addAction(QStringLiteral("Consolidação de Vendas"));
  consolidacao->setObjectName(QStringLiteral("mnuConsolidacaoVendas"));
  consolidacao->setEnabled(module_.loaded());
  connect(consolidacao, &QAction::triggered, this, &MainWindow::openConsolidacao);
  QAction* importacao = modules->addAction(QStringLiteral("&Importar dados..."));
  importacao->setObjectName(QStringLiteral("mnuImportarDados"));
  connect(importacao, &QAction::triggered, this, &MainWindow::openImportacao);
  modules->addSeparator();
  modules->addAction(QStringLiteral("&Sair"), this, &QWidget::close);

  windowMenu_ = menuBar()->addMenu(QStringLiteral("&Janela"));
  windowMenu_->setObjectName(QStringLiteral("mnuJanela"));
  connect(windowMenu_, &QMenu::aboutToShow, this, &MainWindow::refreshWindowMenu);
  refreshWindowMenu();
}

void MainWindow::refreshWindowMenu() {
  windowMenu_->clear();
  windowMenu_->addAction(QStringLiteral("&Cascata"), mdi_, &QMdiArea::cascadeSubWindows);
  windowMenu_->addAction(QStringLiteral("&Lado a lado"), mdi_, &QMdiArea::tileSubWindows);
  const auto windows = mdi_->subWindowList();
  if (!windows.isEmpty()) windowMenu_->addSeparator();
  for (QMdiSubWindow* w : windows) {
    QAction* a = windowMenu_->addAction(w->windowTitle());
    a->setCheckable(true);
    a->setChecked(w == mdi_->activeSubWindow());
    connect(a, &QAction::triggered, w, [this, w] { mdi_->setActiveSubWindow(w); });
  }
}

void MainWindow::openConsolidacao() {
  hostkit::guardedOn(this, [this] { module_.iniProc(); });
}

ImportDialog* MainWindow::openImportacao() {
  if (!importDialog_) {
    // the host's servers in its order, as every other call: the first that answers takes the import
    importDialog_ =
        new ImportDialog(ImportTarget{server_.servers(), server_.tls, server_.caFile, token_.toStdString()}, this);
    importDialog_->setAttribute(Qt::WA_DeleteOnClose);
  }
  importDialog_->show();
  importDialog_->raise();
  importDialog_->activateWindow();
  return importDialog_;
}

void MainWindow::closeScreens() {
  delete importDialog_;  // cuts an import under way: nothing of it is written

  mdi_->closeAllSubWindows();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  closeScreens();
  event->accept();
}

}  // namespace qfxhost
