// The arguments a remote call sends and the values its reply brings back.
#include "netconnection.h"

namespace hostkit {

// ---- arguments and values --------------------------------------------------------

RemoteArg RemoteArg::Text(const QString& value) {
  RemoteArg a;
  a.text_ = value;
  return a;
}

RemoteArg RemoteArg::TextRef(QString& variable) {
  RemoteArg a = Text(variable);
  a.textTarget_ = &variable;
  return a;
}

RemoteArg RemoteArg::Date(double value) {
  RemoteArg a;
  a.kind_ = Kind::Date;
  a.date_ = value;
  return a;
}

RemoteArg RemoteArg::DateRef(double& variable) {
  RemoteArg a = Date(variable);
  a.dateTarget_ = &variable;
  return a;
}

RemoteArg RemoteArg::Boolean(bool value) {
  RemoteArg a;
  a.kind_ = Kind::Boolean;
  a.boolean_ = value;
  return a;
}

void RemoteArg::copyBack(const QString& text, double date) const {
  if (textTarget_) *textTarget_ = text;
  if (dateTarget_) *dateTarget_ = date;
}

bool RemoteValue::isNumber() const {
  return std::holds_alternative<qint64>(value_) || std::holds_alternative<double>(value_) ||
         std::holds_alternative<DateTag>(value_);
}

QString RemoteValue::toText() const {
  if (auto* t = std::get_if<QString>(&value_)) return *t;
  if (auto* i = std::get_if<qint64>(&value_)) return QString::number(*i);
  if (auto* d = std::get_if<double>(&value_)) return QString::number(*d);
  if (auto* b = std::get_if<bool>(&value_)) return *b ? QStringLiteral("True") : QStringLiteral("False");
  return {};
}

bool RemoteValue::toBoolean() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b;
  if (auto* i = std::get_if<qint64>(&value_)) return *i != 0;
  return false;
}

qint64 RemoteValue::toInteger() const {
  if (auto* i = std::get_if<qint64>(&value_)) return *i;
  if (auto* d = std::get_if<double>(&value_)) return qfx::packet::integerOf(*d);
  if (auto* t = std::get_if<QString>(&value_)) return t->toLongLong();
  if (auto* b = std::get_if<bool>(&value_)) return *b ? 1 : 0;
  return 0;
}

packet::Packet RemoteValue::takePacket() const {
  auto* p = std::get_if<std::shared_ptr<packet::Packet>>(&value_);
  if (!p || !*p) return {};
  return std::move(**p);
}

const RemoteValue::List& RemoteValue::list() const {
  static const List empty;
  auto* l = std::get_if<List>(&value_);
  return l ? *l : empty;
}

}  // namespace hostkit
