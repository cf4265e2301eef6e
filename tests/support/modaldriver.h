// Acting on modal dialogs from a test: the test schedules what the operator
// does in the next dialog, then triggers the code that opens it.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QWidget;
class QAbstractButton;

namespace hostkit {

// Runs `act` on the next modal dialog once it is shown (from inside its own
// event loop). A dialog already open when this is called does not count; no
// dialog within a minute fails the test.
void onNextModal(std::function<void(QWidget* dialog)> act);
// Closes the next modal dialog once it is shown.
void closeNextModal();

// Acts on every modal dialog that opens while it lives: `act` runs from inside
// each dialog's own event loop, once the dialog is shown. It has no deadline,
// so remote calls that keep the event loop busy before a dialog opens cannot
// make it give up.
class ModalAnswer : public QObject {
 public:
  explicit ModalAnswer(std::function<void(QWidget* dialog)> act);
  ~ModalAnswer() override;
  // How many modal dialogs were shown so far.
  int opened() const { return opened_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void(QWidget*)> act_;
  int opened_ = 0;
};

// The dialog's button with that text (mnemonic "&" ignored), or null.
QAbstractButton* buttonWithText(QWidget* dialog, const QString& text);
// Clicks the dialog's button with that text; a missing button fails the test
// and closes the dialog.
void clickButton(QWidget* dialog, const QString& text);

}  // namespace hostkit
