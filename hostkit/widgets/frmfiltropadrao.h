// The host's base filter dialog: modal, with option sets the operator saves
// and loads by name. Every control carries its name as its Qt objectName.
//
// Lifecycle shared by the base screens: the subclass constructor builds its own
// controls and ends with createForm(), which runs FormCreate(); a failure
// there reaches whoever created the screen. The other hooks run through the
// guard, so no exception leaves the event loop. An overriding hook calls the
// base hook of the same name first, then does its own work.
#pragma once

#include <QDialog>
#include <functional>

#include "components.h"
#include "screenparts.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <hostkit/core/optionlist.h>

class QAction;
class QGroupBox;
class QLabel;
class QMenu;

namespace hostkit {

class TMessages;

class TfrmFiltroPadrao : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmFiltroPadrao(QWidget* parent = nullptr, const QString& name = {});

  // Shows the dialog modally; returns its modal result (mrOk, mrCancel, ...).
  int ShowModal();
  int ModalResult() const { return modalResult_; }
  // A result other than mrNone closes the dialog when the running button handler ends.
  void SetModalResult(int result) { modalResult_ = result; }

  QString HelpFile;
  int HelpContext = 0;

  // The option list the save and load steps keep, per screen code and operator.
  TOptionList Opcoes;
  // Where the options of this screen and operator live in the settings.
  QString optionsGroup() const;
  // The option set being saved or loaded (named by the operator; "Padrão" by default).
  void writeOptions() const;
  void readOptions();

  QLabel* lblCodTela;
  QGroupBox* grbFiltroPadrao;  // the subclass's filter controls go inside
  QWidget* panBotoes;
  TButtonFlat* sbtConfirma;
  TButtonFlat* sbtCancel;
  TButtonFlat* sbtAjuda;
  TButtonFlat* sbtOpcoes;
  QMenu* ppmOpcoes;
  QAction* btfSaveOpc;
  QAction* btfLoadOpc;
  QMenu* mnuConjuntos;       // "Carregar opções salvas como": one entry per saved name
  QAction* btfSalvaPeriodo;  // checked: the period is saved with the options
  QLabel* lblOpcoes;         // what the last save or load did
  TMessages* msgPadrao;

 public slots:
  // Escape works as the cancel button.
  void reject() override;

 protected:
  void createForm();
  virtual void FormCreate() {}
  // Once at the start of each opening; coming back from a message box or a
  // picker does not run it again.
  virtual void FormActivate() {}
  // The base close action hides the dialog: the instance is reused.
  virtual void FormClose(CloseAction& action) { action = CloseAction::Hide; }
  // Base: closes with mrOk.
  virtual void sbtConfirmaClick() { SetModalResult(mrOk); }
  // Base: closes with mrCancel.
  virtual void sbtCancelClick() { SetModalResult(mrCancel); }
  // Base save step: the controls' state (see optionsets.h); the option list
  // is written out when the whole handler (the subclass's lines included) has run.
  virtual void btfSaveOpcClick();
  // Base load step: reads the option list back and puts the controls as
  // saved, before the subclass reads its own lines.
  virtual void btfLoadOpcClick();
  // What a load step changed on its way (entries left out): said beside the
  // "loaded" line once the load is over.
  void noteOnLoad(const QString& note) { loadNotes_ << note; }
  // Help button and F1: the manual at the page of HelpContext.
  virtual void sbtAjudaClick();

  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void runButton(const std::function<void()>& handler);
  int modalResult_ = mrNone;
  void saveOptions();
  void loadOptions(const QString& name);
  void listOptionSets();
  QString optionsName_;
  QStringList loadNotes_;
};

}  // namespace hostkit
