// Building reply packets from query results, with the field lists the
// client's datasets expect (names, types and sizes).
#pragma once

#include <QString>
#include <QVariant>

#include "common/result.h"
#include "db/rows.h"
#include "packet_codec.h"

namespace qfx::server::packets {

packet::FieldDef text(const char* name, int size);
packet::FieldDef dateTime(const char* name);
packet::FieldDef number(const char* name);
packet::FieldDef integer(const char* name);

void putText(packet::Column& column, const QString& value, bool isNull = false);
void putText(packet::Column& column, const QVariant& value);
void putDateTime(packet::Column& column, const QVariant& databaseValue);
void putNumber(packet::Column& column, const QVariant& value);
void putNumber(packet::Column& column, double value);
void putInteger(packet::Column& column, const QVariant& value);

// Appends every row; its columns must come in the packet's field order and
// convert to the fields' types. An error when stepping fails.
Status appendRows(packet::Packet& packet, sql::Rows& rows);

}  // namespace qfx::server::packets
