#include "domain/number_series.h"

#include <QSqlQuery>

#include "db/sql.h"

namespace qfx::server::series {

const char* const kStock = "LANCESTQ";
const char* const kNote = "LANCTONF";

Status lock(QSqlDatabase& db, const QString& branch, const char* series) {
  const QVariantList key{branch, QString::fromLatin1(series)};
  auto created = sql::run(db,
                          QStringLiteral("INSERT INTO NUMERADOR (CDFILIAL, NMNUMERADOR, NRULTIMO) VALUES (?, ?, 0) "
                                         "ON CONFLICT (CDFILIAL, NMNUMERADOR) DO NOTHING"),
                          key);
  if (!created) return created.error();
  auto locked = sql::run(
      db, QStringLiteral("UPDATE NUMERADOR SET NRULTIMO = NRULTIMO WHERE CDFILIAL = ? AND NMNUMERADOR = ?"), key);
  if (!locked) return locked.error();
  return success();
}

Result<int64_t> allocate(QSqlDatabase& db, const QString& branch, const char* series, int64_t count,
                         const QString& table, const QString& column) {
  const QVariantList key{branch, QString::fromLatin1(series)};
  auto highest = sql::run(db, QStringLiteral("SELECT MAX(%1) FROM %2 WHERE CDFILIAL = ?").arg(column, table), {branch});
  if (!highest) return highest.error();
  const qint64 inUse = highest->next() ? highest->value(0).toLongLong() : 0;
  highest->finish();
  auto bumped = sql::run(db,
                         QStringLiteral("UPDATE NUMERADOR SET NRULTIMO = CASE WHEN NRULTIMO < ? THEN ? ELSE NRULTIMO "
                                        "END + ? WHERE CDFILIAL = ? AND NMNUMERADOR = ?"),
                         {inUse, inUse, qint64(count), key[0], key[1]});
  if (!bumped) return bumped.error();
  auto q = sql::run(db, QStringLiteral("SELECT NRULTIMO FROM NUMERADOR WHERE CDFILIAL = ? AND NMNUMERADOR = ?"), key);
  if (!q) return q.error();
  if (!q->next()) return internalError("numerador ausente");
  return q->value(0).toLongLong() - count + 1;
}

QString number10(int64_t n) { return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0')); }

}  // namespace qfx::server::series
