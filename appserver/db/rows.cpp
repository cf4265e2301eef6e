#include "db/rows.h"

#include <QSqlDriver>

#include "db/postgres_rows.h"
#include "db/query_rows.h"
#include "db/sqlite_rows.h"

namespace qfx::server::sql {

bool readsCells(const QSqlDatabase& db) {
  return isSqlite(db) || (db.driver() && db.driver()->dbmsType() == QSqlDriver::PostgreSQL);
}

Result<std::unique_ptr<Rows>> openRows(QSqlDatabase& db, const std::string& text,
                                       const std::vector<std::optional<std::string>>& values, Reuse reuse,
                                       RowReader reader) {
  if (reader == RowReader::Qt || !readsCells(db)) {
    auto rows = QueryRows::run(db, text, values);
    if (!rows) return rows.error();
    return std::unique_ptr<Rows>(std::move(*rows));
  }
  if (isSqlite(db)) {
    auto rows = SqliteRows::run(db, text, values, reuse);
    if (!rows) return rows.error();
    return std::unique_ptr<Rows>(std::make_unique<SqliteRows>(std::move(*rows)));
  }
  auto rows = PostgresRows::run(db, text, values, reuse);
  if (!rows) return rows.error();
  return std::unique_ptr<Rows>(std::move(*rows));
}

}  // namespace qfx::server::sql
