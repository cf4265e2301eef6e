#include "testsql.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <hostkit/core/query.h>

namespace hostkit {

namespace {

Status runAll(QSqlDatabase db, const QStringList& statements) {
  if (!db.transaction()) return Status::failure(db.lastError().text());
  QSqlQuery q(db);
  for (const QString& s : statements) {
    if (q.exec(s)) continue;
    const QString error = s + QStringLiteral(": ") + q.lastError().text();
    q.finish();
    db.rollback();
    return Status::failure(error);
  }
  q.finish();
  if (!db.commit()) return Status::failure(db.lastError().text());
  return success();
}

}  // namespace

Status writeSqliteFile(const QString& file, const QStringList& statements) {
  const QString connection = QStringLiteral("qfx_test_writer");
  Status result = openDatabaseUrl(QStringLiteral("sqlite:") + file, connection);
  if (result.ok()) result = runAll(QSqlDatabase::database(connection, false), statements);
  {
    QSqlDatabase db = QSqlDatabase::database(connection, false);
    if (db.isValid()) db.close();
  }
  QSqlDatabase::removeDatabase(connection);
  return result;
}

}  // namespace hostkit
