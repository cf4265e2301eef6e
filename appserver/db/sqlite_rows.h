// Reads a query's rows on SQLite with the C library, on the Qt connection's
// own sqlite3 handle: cells come as the database holds them (UTF-8 text,
// numbers) with no QVariant or QString per cell. The large lists read this
// way; the values they give equal what QSqlQuery would give.
#pragma once

#include <QSqlDatabase>
#include <QVariant>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "db/rows.h"

struct sqlite3;
struct sqlite3_stmt;

namespace qfx::server::sql {

class SqliteRows : public Rows {
 public:
  // Prepares `text` (positional "?" parameters) and binds `values` as texts.
  // Only for a connection of the QSQLITE driver.
  // A value without text binds as NULL, as Qt binds a null QString.
  static Result<SqliteRows> run(QSqlDatabase& db, const std::string& text,
                                const std::vector<std::optional<std::string>>& values, Reuse reuse = Reuse::No);

  SqliteRows(SqliteRows&&) noexcept;
  SqliteRows& operator=(SqliteRows&&) noexcept;
  ~SqliteRows() override;

  // the cells as Cells describes them; a value() is qlonglong, double,
  // QString, QByteArray, or a null QString
  Result<bool> next() override;
  bool isNull(int column) const override;
  std::string_view text(int column) const override;
  double number(int column) const override;
  QVariant value(int column) const override;
  int64_t changes() const override;

 private:
  explicit SqliteRows(sqlite3_stmt* statement) : statement_(statement) {}
  void release();
  sqlite3_stmt* statement_ = nullptr;
  bool kept_ = false;                         // owned by the connection's kept statements
  std::vector<int> types_;                    // the current row's cell types, read before any conversion
  mutable std::vector<std::string> scratch_;  // a real number's text, per column (rare in text columns)
};

bool isSqlite(const QSqlDatabase& db);

// Where an SQLite connection stands in the database's history: equal stamps
// of one connection mean nothing was committed in between, by any connection
// of any process (the database's data version) nor by this one (its count of
// changed rows, which the data version leaves out).
struct ChangeStamp {
  int64_t byOthers = -1;
  int64_t byThisConnection = -1;
  bool operator==(const ChangeStamp&) const = default;
};
Result<ChangeStamp> changeStamp(QSqlDatabase& db);

// Finalizes the statements kept for this connection; called before it
// closes (SQLite refuses to close a connection with statements left).
void dropKeptStatements(QSqlDatabase& db);

}  // namespace qfx::server::sql
