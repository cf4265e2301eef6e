#include "entrychecks.h"

#include "components.h"
#include <hostkit/core/hostservices.h>
#include <hostkit/core/routines.h>

namespace hostkit {

bool checkDateEdit(TDateEditPlus* edit, bool mandatory, const QString& emptyMessage, const QString& invalidMessage) {
  bool filled = false;
  focusOnFailure(edit, [&] {
    const QString typed = edit->EditText();
    if (EmptyString(typed)) {
      if (mandatory) MensErro(emptyMessage, true);
      return;
    }
    if (!edit->IsDateValid()) MensErro(u'\'' + typed + QStringLiteral("' ") + invalidMessage, true);
    filled = true;
  });
  return filled;
}

}  // namespace hostkit
