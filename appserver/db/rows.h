// A query's rows read with the database's own C library (sqlite3 or libpq)
// on the Qt connection's handle: cells as the database gives them, with no
// QVariant or QString per cell unless asked for. The large lists and the
// small calls made by the thousand read this way.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace qfx::server::sql {

// Kept: the prepared statement stays with the connection for the next call
// of the same text (on SQLite reset, bindings cleared, so no read snapshot
// stays open; on PostgreSQL prepared once per session). For the fixed texts
// of the small calls made by the thousand, where preparing costs more than
// running. PostgreSQL may settle on one plan for any values after a few
// runs: keep only lookups by key there, never a read whose size the values
// decide.
enum class Reuse { No, Kept };

// AsTheyCome: on PostgreSQL each row is handed over as soon as it arrives
// (libpq's single-row mode) instead of once the last has come, so the
// caller's work on a row overlaps the database's sending of the next, and no
// whole result is held: for the large reads. Until the last row was read
// the connection runs nothing else, so the caller must not run a statement
// between rows. Whole: the rows once all have come. SQLite steps its rows
// either way; a kept statement is always read whole.
enum class Delivery { Whole, AsTheyCome };

// The current row's cells.
class Cells {
 public:
  virtual ~Cells() = default;
  virtual bool isNull(int column) const = 0;
  // The cell as text, as QVariant::toString() would give it; a null is empty.
  virtual std::string_view text(int column) const = 0;
  // The cell as a number, as QVariant::toDouble() would give it; a null is 0.
  virtual double number(int column) const = 0;
  // The cell as QSqlQuery::value() gives it, except that on PostgreSQL dates
  // and moments come as their ISO text, as SQLite stores them.
  virtual QVariant value(int column) const = 0;
};

class Rows : public Cells {
 public:
  // The next row: true while there is one, false at the end, an error when
  // reading failed (busy, cancelled, connection lost, disk).
  virtual Result<bool> next() = 0;
  // Rows a data-changing statement changed, once next() has run it.
  virtual int64_t changes() const = 0;
};

// Calls `onRow` with each row's cells in turn, to the last; a reading error
// ends it and is what it returns.
template <typename OnRow>
Status forEachRow(Rows& rows, OnRow&& onRow) {
  for (;;) {
    auto more = rows.next();
    if (!more) return more.error();
    if (!*more) return success();
    onRow(static_cast<const Cells&>(rows));
  }
}

// A cell's text as a QString.
inline QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

// Fastest: the database's own C library where it serves the driver (SQLite,
// PostgreSQL), QSqlQuery otherwise. Qt: always QSqlQuery, each cell as Qt
// gives it; the tests compare the two.
enum class RowReader { Fastest, Qt };

// Runs `text` (positional "?" parameters) with `values` bound as texts (none:
// NULL). Reuse and delivery apply to the C-library readers only.
Result<std::unique_ptr<Rows>> openRows(QSqlDatabase& db, const std::string& text,
                                       const std::vector<std::optional<std::string>>& values, Reuse reuse = Reuse::No,
                                       RowReader reader = RowReader::Fastest, Delivery delivery = Delivery::Whole);

// The same for a text and values as the domain code writes them for
// QSqlQuery: each value bound as its text (a null one as NULL). On
// PostgreSQL one round trip, where a QSqlQuery takes three (prepare,
// execute, release): for the statements a call runs one after the other.
Result<std::unique_ptr<Rows>> openRows(QSqlDatabase& db, const QString& text, const QVariantList& values);

// Whether openRows reads this connection's driver with its C library.
bool readsCells(const QSqlDatabase& db);

}  // namespace qfx::server::sql
