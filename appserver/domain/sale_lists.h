// The lists built from the sales of a period: the items of the consolidation
// screen, the register-days the Z check walks, and the pickers' sales and
// products.
#pragma once

#include <QSqlDatabase>

#include "common/result.h"
#include "domain/selection.h"
#include <proto/packet_codec.h>

namespace qfx::server {

Result<packet::Packet> principalRows(QSqlDatabase& db, const SaleFilter& filter,
                                     sql::RowReader reader = sql::RowReader::Fastest);
// The list's fields, and its rows handed to `out` as the query yields them.
std::vector<packet::FieldDef> principalFields();
Status principalRowsInto(QSqlDatabase& db, const SaleFilter& filter, packet::ChunkStreamer& out);
// One row per register and day with items, in register and day order.
Result<packet::Packet> verificationRows(QSqlDatabase& db, const SaleFilter& filter,
                                        sql::RowReader reader = sql::RowReader::Fastest);
// The register-days of the selection on which a run still has work
// (salerules::workLeft): a day already consolidated, its items posted or
// only items no run ever posts left, is not questioned again. A register-day
// checked by its NFC-e documents of which no sale is left is questioned too.
Result<packet::Packet> registerDaysWithWork(QSqlDatabase& db, SaleFilter filter);

// The sales of the filter's branch, store and period whose register its list
// names (the items and their state do not matter), in register and moment
// order, for the sale picker.
Result<packet::Packet> salesOfPeriod(QSqlDatabase& db, const SaleFilter& filter);
// The products the selection sold, each once, in code order.
Result<packet::Packet> productsSold(QSqlDatabase& db, const SaleFilter& filter);

}  // namespace qfx::server
