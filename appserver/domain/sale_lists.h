// The two lists built from the sale selection: the items of the
// consolidation screen (GetPrincipal) and the register-days the Z check
// walks (GetVerifVenda).
#pragma once

#include <QSqlDatabase>

#include "common/result.h"
#include "domain/selection.h"
#include "packet_codec.h"

namespace qfx::server {

// Fastest reads the rows with SQLite's C library when the connection is
// SQLite (no QVariant per cell), through QSqlQuery otherwise; Qt always
// goes through QSqlQuery. Both give the same packet.
enum class RowReader { Fastest, Qt };

Result<packet::Packet> principalRows(QSqlDatabase& db, const SaleFilter& filter, RowReader reader = RowReader::Fastest);
// One row per register and day with items, in register and day order.
Result<packet::Packet> verificationRows(QSqlDatabase& db, const SaleFilter& filter,
                                        RowReader reader = RowReader::Fastest);

}  // namespace qfx::server
