// Building reply packets from query results, with the contract's field
// lists (contract_packets.h).
#pragma once

#include <QString>
#include <QVariant>

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "common/result.h"
#include "db/rows.h"
#include <proto/contract_packets.h>
#include <proto/packet_codec.h>

namespace qfx::server::packets {

// The select list of a query whose columns fill `fields` in their order:
// each field by its own name, qualified by `alias` unless `aliasOf` names
// another table for it. Such a query cannot get its columns out of order.
std::string selectList(std::span<const contract::Field> fields, std::string_view alias = {},
                       std::initializer_list<std::pair<std::string_view, std::string_view>> aliasOf = {});

void putText(packet::Column& column, const QString& value, bool isNull = false);
void putText(packet::Column& column, const QVariant& value);
void putDateTime(packet::Column& column, const QVariant& databaseValue);
void putNumber(packet::Column& column, const QVariant& value);
void putNumber(packet::Column& column, double value);
void putInteger(packet::Column& column, const QVariant& value);

// Appends every row; its columns must come in the packet's field order and
// convert to the fields' types. An error when stepping fails.
Status appendRows(packet::Packet& packet, sql::Rows& rows);
// Appends the current row the same way; columns past the packet's fields
// are left out.
void appendRow(packet::Packet& packet, const sql::Cells& row);

}  // namespace qfx::server::packets
