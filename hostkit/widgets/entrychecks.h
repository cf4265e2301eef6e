// Checks of an entry field, shared by the screens. A failed check puts the
// focus back on its field before its message stops the operation, so the
// operator corrects it where it is.
#pragma once

#include <QString>
#include <QWidget>

namespace hostkit {

class TDateEditPlus;

// Runs `check`; when it fails (its message shown, the abort on its way) the
// focus goes back to `field` if the field can take it.
template <class Check>
void focusOnFailure(QWidget* field, Check&& check) {
  try {
    check();
  } catch (...) {
    if (field->isEnabled()) field->setFocus();
    throw;
  }
}

// A date edit's check: empty is an error (emptyMessage) only when mandatory;
// a date that is not valid always is, shown as "'<typed text>' " followed by
// invalidMessage. Either error stops the operation with the focus back on the
// edit. False when the edit is empty.
bool checkDateEdit(TDateEditPlus* edit, bool mandatory, const QString& emptyMessage, const QString& invalidMessage);

}  // namespace hostkit
