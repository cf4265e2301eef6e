// The host's main window: the MDI area the module's screens live in, the
// "Módulos" and "Janela" menus, and a status bar naming operator, branch and
// the servers.
#pragma once

#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>

#include "moduleloader.h"
#include <hostkit/widgets/qthostservices.h>

class QMdiArea;
class QMenu;
class QLabel;

namespace qfxhost {

class ImportDialog;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  MainWindow(ModuleLoader& module, const hostkit::HostSession& session, QWidget* parent = nullptr);

  QMdiArea* mdiArea() const { return mdi_; }
  // Opens "Consolidação de Vendas" through the module's entry.
  void openConsolidacao();
  // Opens "Importar dados" on the operator's session (one window; asked
  // again, it comes to the front).
  ImportDialog* openImportacao();
  // Closes every screen of the module, so the library can be unloaded.
  void closeScreens();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void refreshWindowMenu();
  ModuleLoader& module_;
  QMdiArea* mdi_;
  QMenu* windowMenu_ = nullptr;
  hostkit::ServerAddress server_;
  QString token_;
  QPointer<ImportDialog> importDialog_;
};

}  // namespace qfxhost
