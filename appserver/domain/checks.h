// The checks the screen makes before a consolidation: the accounting period
// is open, no earlier sale is still waiting, and each register-day's sales
// against its Z reduction.
#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <optional>
#include <string>

#include "common/result.h"
#include <proto/packet_codec.h>

namespace qfx::server::checks {

// Whether every day from first to last lies in an open accounting period of
// the branch; a period that ends before it starts is not open.
Result<bool> periodOpen(QSqlDatabase& db, const QString& branch, const QDate& first, const QDate& last);

struct EarlierSales {
  QString branch;
  QDate from, before;                       // sale days from `from` up to the day before `before`
  std::optional<QString> warehouse, place;  // the branch's stores in them only, where it uses them
};
// Refuses with contract::refusals::kEarlierSalesPending when an item still waiting for a run (see
// salerules::workLeft) was sold in those days. Items no run ever posts are
// left out: they would block forever.
Status noEarlierSaleWaiting(QSqlDatabase& db, const EarlierSales& sales);

// The register-day as its Z reduction counts it: every sale of that branch,
// store, register and day, posted or pending, each counted by
// salemoney::netSalesCents. No row when it sold nothing.
Result<packet::Packet> registerDaySales(QSqlDatabase& db, const QString& branch, const QString& store,
                                        const QString& cashRegister, const QDate& day);
// The query behind registerDaySales (its items with their sale's situation),
// as sent to SQLite or PostgreSQL.
std::string registerDayItemsText(bool sqlite);
// What the register-day's sales are checked against: its Z reduction, when
// there is one; or, for a register that issues NFC-e (CAIXA.CDSERIENFCE) of
// a branch that checks those by their documents (PARAMFILIAL.IDZNFCE 'N'),
// the vNF of its authorised documents of the day as they were imported,
// cancelled ones left out (no row when there is none).
Result<packet::Packet> zReduction(QSqlDatabase& db, const QString& branch, const QString& cashRegister,
                                  const QDate& day);

}  // namespace qfx::server::checks
