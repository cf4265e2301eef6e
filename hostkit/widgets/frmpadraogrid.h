// The host's base grid screen, shown as an MDI child. Every control carries
// its name as its Qt objectName, so tests and tools find it by name.
//
// Lifecycle shared by the base screens: the subclass constructor builds its own
// controls and ends with createForm(), which runs FormCreate(); a failure
// there reaches whoever created the screen. The other hooks run through the
// guard, so no exception leaves the event loop. An overriding hook calls the
// base hook of the same name first, then does its own work.
#pragma once

#include <QList>
#include <QMdiSubWindow>
#include <QPointer>
#include <QWidget>
#include <functional>

#include "components.h"
#include "datasetmodel.h"
#include "screenparts.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>

class QHBoxLayout;
class QLabel;
class QMenu;
class QMenuBar;
class QTabWidget;
class QTableView;
class QVBoxLayout;
class QWindow;

namespace hostkit {

class TMessages;

class TfrmPadraoGrid : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmPadraoGrid(QWidget* parent = nullptr, const QString& name = {});

  // Shows the screen: the first time as a subwindow of the host's MDI area
  // when there is one, else as a top-level window; brings it to the front
  // and activates it.
  void Show();
  void BringToFront();
  // Back to normal size from minimized or maximized.
  void SetWindowStateNormal();
  bool IsMinimized() const;
  // Closes the screen (its MDI subwindow too); FormClose decides what follows.
  bool Close();
  QMdiSubWindow* mdiSubWindow() const { return subWindow_; }
  // The window the operator sees: the MDI subwindow or the screen itself.
  QWidget* frameWindow() const;

  QString Caption() const { return windowTitle(); }
  void SetCaption(const QString& caption);
  QString HelpFile;
  int HelpContext = 0;

  // Shows the data source in dbgPadrao (fixed row heights, cursor followed)
  // and binds the navigator to it.
  void SetGridDataSource(TDataSource* source, const QList<GridColumn>& columns = {});
  TDataSet* GridDataSet() const;
  TDataSetModel* gridModel() const { return gridModel_; }

  TMessages* messages() const { return msgPadrao; }
  TMessages* standardMessages() const { return msgMensagensPadroes; }

  // Controls, named as the host names them.
  QMenuBar* mnuPrincipal;
  QMenu* mnuManutencao;
  QAction* mnuIncluir;
  QAction* mnuAlterar;
  QAction* mnuExcluir;
  QAction* mnuCancelar;
  QAction* mnuConfirmar;
  QAction* mnuProcurar;
  QAction* mnuVerificar;
  QAction* mnuImprimir;  // Ctrl+P: what the print button does
  QWidget* panMenu;
  QHBoxLayout* panMenuLayout;  // subclasses insert their toolbar buttons here
  TButtonFlat* sbtProcurar;
  TButtonFlat* sbtVerificar;
  TButtonFlat* sbtImprimir;
  TButtonFlat* sbtAjuda;
  TButtonFlat* sbtFechar;
  QLabel* lblCodTela;
  QVBoxLayout* panTopLayout;  // panels above the page control (entry panels)
  QTabWidget* pgcPadrao;
  QWidget* tshPadrao;
  QTableView* dbgPadrao;
  QWidget* panNavegador;
  QHBoxLayout* panNavegadorLayout;  // navigator buttons, then what subclasses add
  TButtonFlat* dbnFirst;
  TButtonFlat* dbnPrior;
  TButtonFlat* dbnNext;
  TButtonFlat* dbnLast;
  QLabel* lblDesatualizado;  // on the navigator bar while the grid's rows may be out of date
  TMessages* msgPadrao;
  TMessages* msgMensagensPadroes;

  // The grid's columns as the record search offers them: field and title, in grid order.
  QList<SearchColumn> gridSearchColumns() const;
  // The last reload failed: the grid's rows may no longer be current.
  void SetGridOutOfDate(bool outOfDate);

 protected:
  // Call at the end of the subclass constructor.
  void createForm();

  virtual void FormCreate() {}
  // Every activation: the first show, and each time the screen becomes the
  // active MDI child (or, top-level, the active window). Coming back from a
  // message box, picker or dialog opened by the screen itself is no new
  // activation, so a first-activation step that shows a message cannot loop.
  virtual void FormActivate() {}
  // The base close action ends the instance.
  virtual void FormClose(CloseAction& action);
  // Base verify: repaints the grid; the screens load their list after it.
  virtual void sbtVerificarClick();
  // Base search: the host's record search over the grid's dataset.
  virtual void sbtProcurarClick();
  virtual void sbtImprimirClick() {}
  // Help button and F1: the manual at the page of HelpContext.
  virtual void sbtAjudaClick();
  // Record editing; the base screen starts with these entries disabled and a
  // screen that edits records enables them and overrides the handlers.
  virtual void mnuIncluirClick() {}
  virtual void mnuAlterarClick() {}
  virtual void mnuExcluirClick() {}
  virtual void mnuCancelarClick() {}
  virtual void mnuConfirmarClick() {}

  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

  // Runs a handler of the screen through the guard; the screen cannot be
  // closed under it (see operations.h).
  bool run(const std::function<void()>& handler);
  // Runs an operator's command (toolbar button, menu entry, shortcut): none
  // starts while another handler of the screen runs, so a second click,
  // Ctrl+N or F5 during a run does nothing; meanwhile the toolbar and menu
  // are off and the screen shows the wait cursor.
  bool command(const std::function<void()>& handler);

 private:
  void buildMenu();
  void buildToolbar();
  void buildPages();
  void buildNavigator();
  void activated();
  void trackWindowFocus(QWindow* window);

  QPointer<QMdiSubWindow> subWindow_;
  TDataSetModel* gridModel_ = nullptr;
  bool created_ = false;
  bool activating_ = false;
  bool leftForOwnWindow_ = false;
};

}  // namespace hostkit
