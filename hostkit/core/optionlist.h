// The option list a filter dialog saves and loads: name=value lines.
#pragma once

#include <QString>
#include <QStringList>

namespace hostkit {

// A list of name=value lines.
class TOptionList {
 public:
  // Empty for a missing name.
  QString value(const QString& name) const;
  // Replaces or appends the line of that name; an empty value removes it.
  void setValue(const QString& name, const QString& value);
  const QStringList& lines() const { return lines_; }
  void setLines(const QStringList& lines) { lines_ = lines; }
  void clear() { lines_.clear(); }

 private:
  qsizetype indexOf(const QString& name) const;
  QStringList lines_;
};

}  // namespace hostkit
