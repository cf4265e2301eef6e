// The two lists built from the sale selection: the items of the
// consolidation screen (GetPrincipal) and the register-days the Z check
// walks (GetVerifVenda).
#pragma once

#include <QSqlDatabase>

#include "common/result.h"
#include "domain/selection.h"
#include "packet_codec.h"

namespace qfx::server {

Result<packet::Packet> principalRows(QSqlDatabase& db, const SaleFilter& filter,
                                     sql::RowReader reader = sql::RowReader::Fastest);
// One row per register and day with items, in register and day order.
Result<packet::Packet> verificationRows(QSqlDatabase& db, const SaleFilter& filter,
                                        sql::RowReader reader = sql::RowReader::Fastest);

}  // namespace qfx::server
