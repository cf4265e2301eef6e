#include "db/migrations.h"

#include <QDateTime>
#include <QFile>
#include <QSqlQuery>

#include "common/log.h"
#include "db/sql.h"

namespace qfx::server::migrations {

namespace {

struct Version {
  int number;
  const char* name;
};

// Append new versions here; never edit one that has shipped.
constexpr Version kVersions[] = {
    {1, "0001_base"},
    {2, "0002_host_read_role"},
    {3, "0003_venda_caixa_dia"},
    {4, "0004_z_indice_coberto"},
    {6, "0006_direito_importacao"},
    {7, "0007_estorno"},
    {10, "0010_execucao_consolidacao"},
};

const QString kVersionTable = QStringLiteral("QFXVERSAOESQUEMA");

QString typed(QString script, Dialect dialect) {
  const bool sqlite = dialect == Dialect::SQLite;
  script.replace(QStringLiteral("${DATE}"), sqlite ? QStringLiteral("VARCHAR(10)") : QStringLiteral("DATE"));
  script.replace(QStringLiteral("${TIMESTAMP}"),
                 sqlite ? QStringLiteral("VARCHAR(19)") : QStringLiteral("TIMESTAMP(0)"));
  script.replace(QStringLiteral("${FLOAT}"), sqlite ? QStringLiteral("REAL") : QStringLiteral("DOUBLE PRECISION"));
  script.replace(QStringLiteral("${BIGINT}"), sqlite ? QStringLiteral("INTEGER") : QStringLiteral("BIGINT"));
  return script;
}

Result<QString> readResource(const QString& path, bool required) {
  QFile file(path);
  if (!file.exists() && !required) return QString();
  if (!file.open(QIODevice::ReadOnly)) return internalError("script de migração ausente: " + path.toStdString());
  return QString::fromUtf8(file.readAll());
}

// A version has a part for both databases, a part per database, or both; a
// version that concerns one database only (roles exist on PostgreSQL alone)
// has nothing for the other.
Result<QStringList> statementsOf(const Version& v, Dialect dialect) {
  const QString base = QStringLiteral(":/schema/migrations/") + QLatin1String(v.name);
  const QString suffix = dialect == Dialect::SQLite ? QStringLiteral(".sqlite.sql") : QStringLiteral(".postgresql.sql");
  const QString other = dialect == Dialect::SQLite ? QStringLiteral(".postgresql.sql") : QStringLiteral(".sqlite.sql");
  auto common = readResource(base + QStringLiteral(".sql"), false);
  if (!common) return common.error();
  auto specific = readResource(base + suffix, false);
  if (!specific) return specific.error();
  if (!QFile::exists(base + QStringLiteral(".sql")) && !QFile::exists(base + suffix) && !QFile::exists(base + other))
    return internalError("script de migração ausente: " + base.toStdString());
  return splitStatements(typed(*common + QLatin1Char('\n') + *specific, dialect));
}

Status ensureVersionTable(QSqlDatabase& db) {
  if (db.tables().contains(kVersionTable, Qt::CaseInsensitive)) return success();
  return sql::command(db, QStringLiteral("CREATE TABLE %1 (NRVERSAO INTEGER NOT NULL PRIMARY KEY, "
                                         "DTAPLICACAO VARCHAR(19) NOT NULL)")
                              .arg(kVersionTable));
}

Result<int> readVersion(QSqlDatabase& db) {
  auto q = sql::run(db, QStringLiteral("SELECT MAX(NRVERSAO) FROM %1").arg(kVersionTable));
  if (!q) return q.error();
  return q->next() ? q->value(0).toInt() : 0;
}

Result<bool> isApplied(QSqlDatabase& db, const Version& v) {
  auto q = sql::run(db, QStringLiteral("SELECT 1 FROM %1 WHERE NRVERSAO = ?").arg(kVersionTable), {v.number});
  if (!q) return q.error();
  return q->next();
}

Status lockForMigration(QSqlDatabase& db, Dialect dialect) {
  if (dialect == Dialect::SQLite) return success();  // BEGIN IMMEDIATE already holds the write lock
  // any constant works; it only has to be the same for every server instance
  auto q = sql::run(db, QStringLiteral("SELECT pg_advisory_xact_lock(3170031700)"));
  if (!q) return q.error();
  return success();
}

Status apply(QSqlDatabase& db, const Version& v, Dialect dialect) {
  auto statements = statementsOf(v, dialect);
  if (!statements) return statements.error();
  for (const QString& statement : *statements) {
    if (auto done = sql::command(db, statement); !done)
      return internalError("migração " + std::string(v.name) + " falhou: " + done.error().message);
  }
  auto recorded =
      sql::run(db, QStringLiteral("INSERT INTO %1 (NRVERSAO, DTAPLICACAO) VALUES (?, ?)").arg(kVersionTable),
               {v.number, QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
  if (!recorded) return recorded.error();
  return success();
}

}  // namespace

int latestVersion() { return std::end(kVersions)[-1].number; }
int versionCount() { return int(std::size(kVersions)); }

Result<int> currentVersion(Database& database) {
  auto db = database.connection();
  if (!db) return db.error();
  const bool exists = db->tables().contains(kVersionTable, Qt::CaseInsensitive);
  if (!exists) return 0;
  return readVersion(*db);
}

Result<int> migrate(Database& database) {
  auto db = database.connection();
  if (!db) return db.error();
  for (const Version& v : kVersions) {
    auto tx = sql::Transaction::begin(*db, database.dialect());
    if (!tx) return tx.error();
    if (auto locked = lockForMigration(*db, database.dialect()); !locked) return locked.error();
    if (auto created = ensureVersionTable(*db); !created) return created.error();
    auto current = readVersion(*db);
    if (!current) return current.error();
    if (*current > latestVersion()) {
      return internalError("o banco está na versão " + std::to_string(*current) +
                           " do esquema, mais nova que a deste servidor (" + std::to_string(latestVersion()) + ")");
    }
    // versions are numbered ahead for work done side by side and may land in
    // any order: one missing below the newest applied is applied all the same
    auto applied = isApplied(*db, v);
    if (!applied) return applied.error();
    if (*applied) continue;  // another server got here first
    if (auto done = apply(*db, v, database.dialect()); !done) return done.error();
    if (auto committed = tx->commit(); !committed) return committed.error();
    log::write(log::Level::Info, "schema_migrated", {{"version", std::to_string(v.number)}, {"name", v.name}});
  }
  return readVersion(*db);
}

QStringList splitStatements(const QString& script) {
  QStringList statements;
  QString current;
  bool inDollarQuote = false;  // inside a PostgreSQL $$ ... $$ body
  bool inTriggerBody = false;  // between BEGIN and END; of an SQLite trigger
  auto finish = [&] {
    QString statement = current.trimmed();
    if (statement.endsWith(QLatin1Char(';'))) statement.chop(1);
    statements << statement;
    current.clear();
  };
  for (const QString& line : script.split(QLatin1Char('\n'))) {
    const QString trimmed = line.trimmed();
    const bool startOfStatement = current.isEmpty();
    if (startOfStatement && (trimmed.isEmpty() || trimmed.startsWith(QLatin1String("--")))) continue;
    current += line + QLatin1Char('\n');
    if (line.count(QLatin1String("$$")) % 2 == 1) inDollarQuote = !inDollarQuote;
    if (inDollarQuote) continue;
    if (inTriggerBody) {
      if (trimmed.compare(QLatin1String("END;"), Qt::CaseInsensitive) == 0) {
        inTriggerBody = false;
        finish();
      }
      continue;
    }
    const bool isTrigger = current.trimmed().startsWith(QLatin1String("CREATE TRIGGER"), Qt::CaseInsensitive);
    if (isTrigger && trimmed.compare(QLatin1String("BEGIN"), Qt::CaseInsensitive) == 0) {
      inTriggerBody = true;
      continue;
    }
    if (trimmed.endsWith(QLatin1Char(';'))) finish();
  }
  if (!current.trimmed().isEmpty()) finish();
  return statements;
}

}  // namespace qfx::server::migrations
