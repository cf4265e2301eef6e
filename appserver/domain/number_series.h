// The number series of a branch's stock postings and fiscal-note entries
// (table NUMERADOR). Whoever writes a posting locks its series' row first:
// writers of one branch's stock take turns there, and each then reads what
// the one before it committed.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <cstdint>

#include "common/result.h"

namespace qfx::server::series {

extern const char* const kStock;  // stock postings, LANCESTQ.NRLANCESTQ
extern const char* const kNote;   // fiscal-note entries, LANCTONF.NRLANCTONF

// Creates the series' row when missing and holds its row lock until the
// transaction ends.
Status lock(QSqlDatabase& db, const QString& branch, const char* series);

// Hands out `count` numbers of a locked series and returns the first.
// Implantations and adjustments are written by other parts of the back
// office, not always through the series: it first moves past the highest
// number in use in `table`.`column` for the branch.
Result<int64_t> allocate(QSqlDatabase& db, const QString& branch, const char* series, int64_t count,
                         const QString& table, const QString& column);

// A posting's or entry's number as stored: ten digits.
QString number10(int64_t n);

}  // namespace qfx::server::series
