// The parameters and codes the screens fill their fields and pickers from:
// one packet each, with the fields the client's datasets expect.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <optional>

#include "common/result.h"
#include <proto/packet_codec.h>

namespace qfx::server::lookups {

// The branch's stock flags (PARAMFILIAL); no row for an unknown branch.
Result<packet::Packet> branchParameters(QSqlDatabase& db, const QString& branch);
// The branch's sales parameters (PARAVEND) with the names of its default
// store, withdrawal type and sector.
Result<packet::Packet> salesParameters(QSqlDatabase& db, const QString& branch);
// The row of one code, or every row when there is no code; in code order.
Result<packet::Packet> withdrawalTypes(QSqlDatabase& db, const std::optional<QString>& code);
Result<packet::Packet> sectors(QSqlDatabase& db, const std::optional<QString>& code);

}  // namespace qfx::server::lookups
