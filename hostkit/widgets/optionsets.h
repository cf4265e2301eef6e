// The filter dialogs' saved options: named sets per screen and operator in a
// settings file of their own, and the state of a dialog's controls as option
// lines (choices, check boxes, texts; the dates only when asked for).
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace hostkit {

// A name as one part of a settings key: trimmed, no slashes, never empty.
QString optionKeyPart(QString name);

// The option sets of one screen and operator.
class OptionSets {
 public:
  // `group`: where the screen's and operator's sets live in the file.
  explicit OptionSets(QString group);

  static QString defaultName() { return QStringLiteral("Padrão"); }
  // Saved names, the default first.
  QStringList names() const;
  // The set's lines; none when no set of that name was saved.
  std::optional<QStringList> read(const QString& name) const;
  // Throws EHostError when the file cannot be written.
  void write(const QString& name, const QStringList& lines) const;
  // The name saved or loaded last; the default name at first.
  QString lastUsed() const;

 private:
  QString keyOf(const QString& name) const;
  QString group_;
};

// Lines "Controle.<name>=<value>" for the radio buttons, check boxes and
// text fields inside `area`; date fields only with `withDates`.
QStringList controlStateLines(const QWidget* area, bool withDates);
// Puts the controls named in `lines` back as they were: choices first (their
// handlers run), then the texts.
void restoreControlState(QWidget* area, const QStringList& lines);

}  // namespace hostkit
