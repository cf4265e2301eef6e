#include "optionlist.h"

namespace hostkit {

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

}  // namespace hostkit
