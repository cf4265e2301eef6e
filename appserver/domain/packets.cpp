#include "domain/packets.h"

#include <string>

#include "common/wire_date.h"

namespace qfx::server::packets {

using packet::FieldType;

std::string selectList(std::span<const contract::Field> fields, std::string_view alias,
                       std::initializer_list<std::pair<std::string_view, std::string_view>> aliasOf) {
  std::string list;
  for (const contract::Field& f : fields) {
    std::string_view table = alias;
    for (const auto& [field, other] : aliasOf)
      if (field == f.name) table = other;
    if (!list.empty()) list += ", ";
    if (!table.empty()) list.append(table).append(".");
    list += f.name;
  }
  return list;
}

void putText(packet::Column& column, const QString& value, bool isNull) {
  if (isNull) {
    column.appendNull();
    return;
  }
  // Nearly every value is plain ASCII: encoded here into one reused buffer,
  // not into a new QByteArray per cell (a million-row list has 25 million).
  thread_local std::string ascii;
  ascii.clear();
  for (const QChar c : value) {
    if (c.unicode() >= 0x80) {
      const QByteArray utf8 = value.toUtf8();
      column.appendText(std::string_view(utf8.constData(), size_t(utf8.size())));
      return;
    }
    ascii.push_back(char(c.unicode()));
  }
  column.appendText(ascii);
}

void putText(packet::Column& column, const QVariant& value) { putText(column, value.toString(), value.isNull()); }

void putDateTime(packet::Column& column, const QVariant& databaseValue) {
  const auto days = wiredate::fromDatabase(databaseValue);
  if (days)
    column.appendNumber(*days);
  else
    column.appendNull();
}

void putNumber(packet::Column& column, const QVariant& value) {
  if (value.isNull())
    column.appendNull();
  else
    column.appendNumber(value.toDouble());
}

void putNumber(packet::Column& column, double value) { column.appendNumber(value); }

void putInteger(packet::Column& column, const QVariant& value) {
  if (value.isNull())
    column.appendNull();
  else
    column.appendInteger(value.toLongLong());
}

namespace {

void appendValue(packet::Packet& packet, size_t i, const QVariant& value) {
  packet::Column& column = packet.columns[i];
  switch (packet.fields[i].type) {
    case FieldType::Text:
      putText(column, value);
      break;
    case FieldType::DateTime:
      putDateTime(column, value);
      break;
    case FieldType::Float:
      putNumber(column, value);
      break;
    case FieldType::Integer:
      putInteger(column, value);
      break;
    case FieldType::Boolean:
      if (value.isNull())
        column.appendNull();
      else
        column.appendBoolean(value.toBool());
      break;
  }
}

}  // namespace

Status appendRows(packet::Packet& packet, sql::Rows& rows) {
  for (;;) {
    auto more = rows.next();
    if (!more) return more.error();
    if (!*more) return success();
    appendRow(packet, rows);
  }
}

void appendRow(packet::Packet& packet, const sql::Cells& row) {
  for (size_t i = 0; i < packet.fields.size(); ++i) appendValue(packet, i, row.value(int(i)));
}

}  // namespace qfx::server::packets
