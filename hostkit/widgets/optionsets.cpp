#include "optionsets.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <memory>

#include "components.h"
#include <hostkit/core/abort.h>

namespace hostkit {

namespace {

const QString kControlPrefix = QStringLiteral("Controle.");

// Saved options live in one file of their own, apart from the host's settings.
std::unique_ptr<QSettings> optionsFile() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("ConsolidacaoVendas"),
                                     QStringLiteral("opcoes"));
}

}  // namespace

QString optionKeyPart(QString s) {
  s = s.trimmed();
  s.replace(QLatin1Char('/'), QLatin1Char('_')).replace(QLatin1Char('\\'), QLatin1Char('_'));
  return s.isEmpty() ? QStringLiteral("_") : s;
}

namespace {

QString yesNo(bool on) { return on ? QStringLiteral("S") : QStringLiteral("N"); }

}  // namespace

OptionSets::OptionSets(QString group) : group_(std::move(group)) {}

// The default set keeps the key it always had, so sets saved before named
// sets existed still load.
QString OptionSets::keyOf(const QString& name) const {
  if (name == defaultName()) return group_ + QStringLiteral("/linhas");
  return group_ + QStringLiteral("/conjuntos/") + optionKeyPart(name) + QStringLiteral("/linhas");
}

QStringList OptionSets::names() const {
  auto file = optionsFile();
  QStringList names;
  if (file->contains(keyOf(defaultName()))) names << defaultName();
  file->beginGroup(group_ + QStringLiteral("/conjuntos"));
  for (const QString& name : file->childGroups())
    if (!names.contains(name)) names << name;
  return names;
}

std::optional<QStringList> OptionSets::read(const QString& name) const {
  auto file = optionsFile();
  if (!file->contains(keyOf(name))) return std::nullopt;
  QStringList lines = file->value(keyOf(name)).toStringList();
  lines.removeAll(QString());
  return lines;
}

void OptionSets::write(const QString& name, const QStringList& lines) const {
  auto file = optionsFile();
  // an empty list as an empty text: QSettings would write "@Invalid()"
  file->setValue(keyOf(name), lines.isEmpty() ? QVariant(QString()) : QVariant(lines));
  file->setValue(group_ + QStringLiteral("/ultimo"), name);
  file->sync();
  if (file->status() != QSettings::NoError)
    throw EHostError(QStringLiteral("Não foi possível salvar as opções em %1.").arg(file->fileName()));
}

QString OptionSets::lastUsed() const {
  const QString name = optionsFile()->value(group_ + QStringLiteral("/ultimo")).toString();
  return name.isEmpty() ? defaultName() : name;
}

QStringList controlStateLines(const QWidget* area, bool withDates) {
  QStringList lines;
  for (const QWidget* w : area->findChildren<QWidget*>()) {
    if (w->objectName().isEmpty()) continue;
    if (qobject_cast<const TDateEditPlus*>(w) && !withDates) continue;
    QString value;
    if (const auto* radio = qobject_cast<const QRadioButton*>(w))
      value = yesNo(radio->isChecked());
    else if (const auto* check = qobject_cast<const QCheckBox*>(w))
      value = yesNo(check->isChecked());
    else if (const auto* edit = qobject_cast<const QLineEdit*>(w))
      value = edit->text();
    else
      continue;
    lines << kControlPrefix + w->objectName() + QLatin1Char('=') + value;
  }
  return lines;
}

void restoreControlState(QWidget* area, const QStringList& lines) {
  QList<std::pair<QLineEdit*, QString>> texts;
  for (const QString& line : lines) {
    if (!line.startsWith(kControlPrefix)) continue;
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) continue;
    const QString name = line.mid(kControlPrefix.size(), equals - kControlPrefix.size());
    const QString value = line.mid(equals + 1);
    QWidget* w = area->findChild<QWidget*>(name);
    if (auto* radio = qobject_cast<QRadioButton*>(w)) {
      if (value == QLatin1String("S")) radio->setChecked(true);
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
      check->setChecked(value == QLatin1String("S"));
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
      texts.append({edit, value});
    }
  }
  for (auto& [edit, text] : texts) edit->setText(text);
}

}  // namespace hostkit
