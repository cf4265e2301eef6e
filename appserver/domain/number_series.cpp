#include "domain/number_series.h"

#include <QSqlQuery>

#include "db/rows.h"
#include "db/sql.h"

namespace qfx::server::series {

const char* const kStock = "LANCESTQ";
const char* const kNote = "LANCTONF";

namespace {

// Runs one statement that returns no rows.
Status execute(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  auto rows = sql::openRows(db, text, values);
  if (!rows) return rows.error();
  if (auto done = (*rows)->next(); !done) return done.error();
  return success();
}

// The first cell of a statement's first row; none without a row or when null.
Result<std::optional<int64_t>> firstNumber(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  auto rows = sql::openRows(db, text, values);
  if (!rows) return rows.error();
  auto found = (*rows)->next();
  if (!found) return found.error();
  if (!*found || (*rows)->isNull(0)) return std::optional<int64_t>();
  return std::optional<int64_t>(int64_t((*rows)->value(0).toLongLong()));
}

}  // namespace

// Each statement by the database's C library: one round trip on PostgreSQL.
Status lock(QSqlDatabase& db, const QString& branch, const char* series) {
  const QVariantList key{branch, QString::fromLatin1(series)};
  if (auto created = execute(db,
                             QStringLiteral("INSERT INTO NUMERADOR (CDFILIAL, NMNUMERADOR, NRULTIMO) VALUES (?, ?, 0) "
                                            "ON CONFLICT (CDFILIAL, NMNUMERADOR) DO NOTHING"),
                             key);
      !created)
    return created;
  return execute(db, QStringLiteral("UPDATE NUMERADOR SET NRULTIMO = NRULTIMO WHERE CDFILIAL = ? AND NMNUMERADOR = ?"),
                 key);
}

Result<int64_t> allocate(QSqlDatabase& db, const QString& branch, const char* series, int64_t count,
                         const QString& table, const QString& column) {
  const QVariantList key{branch, QString::fromLatin1(series)};
  auto highest =
      firstNumber(db, QStringLiteral("SELECT MAX(%1) FROM %2 WHERE CDFILIAL = ?").arg(column, table), {branch});
  if (!highest) return highest.error();
  const qint64 inUse = highest->value_or(0);
  if (auto bumped =
          execute(db,
                  QStringLiteral("UPDATE NUMERADOR SET NRULTIMO = CASE WHEN NRULTIMO < ? THEN ? ELSE NRULTIMO "
                                 "END + ? WHERE CDFILIAL = ? AND NMNUMERADOR = ?"),
                  {inUse, inUse, qint64(count), key[0], key[1]});
      !bumped)
    return bumped.error();
  auto last =
      firstNumber(db, QStringLiteral("SELECT NRULTIMO FROM NUMERADOR WHERE CDFILIAL = ? AND NMNUMERADOR = ?"), key);
  if (!last) return last.error();
  if (!*last) return internalError("numerador ausente");
  return **last - count + 1;
}

QString number10(int64_t n) { return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0')); }

}  // namespace qfx::server::series
