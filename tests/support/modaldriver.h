// Acting on modal dialogs from a test: the test schedules what the operator
// does in the next dialog, then triggers the code that opens it.
#pragma once

#include <QString>
#include <functional>

class QWidget;
class QAbstractButton;

namespace hostkit {

// Runs `act` on the next modal dialog once it is shown (from inside its own
// event loop). A dialog already open when this is called does not count.
void onNextModal(std::function<void(QWidget* dialog)> act);

// The dialog's button with that text (mnemonic "&" ignored), or null.
QAbstractButton* buttonWithText(QWidget* dialog, const QString& text);
// Clicks the dialog's button with that text; a missing button fails the test
// and closes the dialog.
void clickButton(QWidget* dialog, const QString& text);

}  // namespace hostkit
