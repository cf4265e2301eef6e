#include "db/migrations.h"

#include <QDateTime>
#include <QFile>
#include <QSqlQuery>
#include <chrono>

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
    {5, "0005_consulta_concedida"},
    {6, "0006_direito_importacao"},
    {7, "0007_estorno"},
    {10, "0010_execucao_consolidacao"},
    {11, "0011_nfce"},
    {12, "0012_nfce_conferencia"},
    {13, "0013_nfce_documento"},
    {15, "0015_nfce_caixa_dia"},
    {16, "0016_filial_escolha_nfce"},
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

Result<bool> isApplied(QSqlDatabase& db, int number) {
  auto q = sql::run(db, QStringLiteral("SELECT 1 FROM %1 WHERE NRVERSAO = ?").arg(kVersionTable), {number});
  if (!q) return q.error();
  return q->next();
}

// The servers of one database take turns through a lock on the version
// table. Only the schema's owner (and who was granted more than reading
// on it) may lock that table, so no reader can hold it; an advisory lock,
// which anybody may take, could stop every server from starting. The wait
// is bounded by lock_timeout: each step that runs into it is tried again.
Status lockForMigration(QSqlDatabase& db, Dialect dialect, std::chrono::milliseconds step) {
  if (dialect == Dialect::SQLite) return success();  // BEGIN IMMEDIATE already holds the write lock
  if (auto s = sql::command(db, QStringLiteral("SET LOCAL lock_timeout = %1").arg(step.count())); !s) return s;
  return sql::command(db, QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(kVersionTable));
}

// The other sessions holding locks on the schema's tables, for the log and
// the message of a start that waits: pid, user, program, address, state.
Result<std::string> lockHolders(QSqlDatabase& db) {
  auto q = sql::run(db, QStringLiteral("SELECT A.PID, A.USENAME, A.APPLICATION_NAME, "
                                       "COALESCE(HOST(A.CLIENT_ADDR), 'local'), A.STATE "
                                       "FROM PG_STAT_ACTIVITY A WHERE A.PID <> PG_BACKEND_PID() AND A.PID IN "
                                       "(SELECT L.PID FROM PG_LOCKS L JOIN PG_CLASS C ON C.OID = L.RELATION "
                                       "WHERE L.GRANTED AND C.RELNAMESPACE = CURRENT_SCHEMA()::REGNAMESPACE) "
                                       "ORDER BY A.PID"));
  if (!q) return q.error();
  std::string holders;
  while (q->next()) {
    if (!holders.empty()) holders += "; ";
    holders += "pid " + q->value(0).toString().toStdString() + " (usuário " + q->value(1).toString().toStdString() +
               ", programa '" + q->value(2).toString().toStdString() + "', " + q->value(3).toString().toStdString() +
               ", " + q->value(4).toString().toStdString() + ")";
  }
  return holders.empty() ? std::string("nenhuma sessão os mantém agora") : holders;
}

// PostgreSQL: the version table is made outside the turn-taking (a table
// cannot be locked before it exists); two servers making it at once leave
// one of them a unique violation, and the table there.
Status ensureVersionTableOutsideTurn(QSqlDatabase& db, Dialect dialect) {
  if (dialect == Dialect::SQLite || db.tables().contains(kVersionTable, Qt::CaseInsensitive)) return success();
  const QString create = QStringLiteral(
                             "CREATE TABLE IF NOT EXISTS %1 (NRVERSAO INTEGER NOT NULL PRIMARY KEY, "
                             "DTAPLICACAO VARCHAR(19) NOT NULL)")
                             .arg(kVersionTable);
  auto made = sql::command(db, create);
  if (!made && made.error().kind == ErrorKind::Conflict) return sql::command(db, create);
  return made;
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

namespace {

// One version in its own transaction, unless another server applied it
// first. Unavailable when a lock wait ran out: the caller tries again.
Status applyIfMissing(Database& database, QSqlDatabase& db, const Version& v, const MigrationWait& wait) {
  auto tx = sql::Transaction::begin(db, database.dialect());
  if (!tx) return tx.error();
  if (auto locked = lockForMigration(db, database.dialect(), wait.step); !locked) return locked.error();
  if (auto created = ensureVersionTable(db); !created) return created.error();
  auto current = readVersion(db);
  if (!current) return current.error();
  if (*current > latestVersion()) {
    return internalError("o banco está na versão " + std::to_string(*current) +
                         " do esquema, mais nova que a deste servidor (" + std::to_string(latestVersion()) + ")");
  }
  // another server got here first; numbers given out side by side may land
  // out of order, so a lower one missing is still applied
  auto recorded = isApplied(db, v.number);
  if (!recorded) return recorded.error();
  if (*recorded) return success();
  if (auto applied = apply(db, v, database.dialect()); !applied) return applied.error();
  if (auto committed = tx->commit(); !committed) return committed.error();
  log::write(log::Level::Info, "schema_migrated", {{"version", std::to_string(v.number)}, {"name", v.name}});
  return success();
}

// Tries the version again while its lock waits run out, saying each time
// whom it waits for, and gives up once `wait.most` has passed.
Status applyWaiting(Database& database, QSqlDatabase& db, const Version& v, const MigrationWait& wait) {
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const Status done = applyIfMissing(database, db, v, wait);
    if (done || database.isSQLite() || done.error().kind != ErrorKind::Unavailable) return done;
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    auto found = lockHolders(db);
    if (!found) return done;  // not a lock wait: the database itself is in trouble
    const std::string& holders = *found;
    if (waited >= wait.most)
      return Error{ErrorKind::Unavailable, "o esquema do banco não pôde ser conferido: esperei " +
                                               std::to_string(waited.count()) +
                                               " s por bloqueios das tabelas do esquema, mantidos por " + holders +
                                               " (" + done.error().message + ")"};
    log::write(log::Level::Warn, "schema_lock_wait",
               {{"waited_s", std::to_string(waited.count())}, {"version", v.name}, {"holders", holders}});
  }
}

// PostgreSQL: the hosts' read role gets what it lacks, at every start (see
// 0005_consulta_concedida). Only logged: a server serves without it.
void grantReadRole(QSqlDatabase& db, Dialect dialect) {
  if (dialect == Dialect::SQLite) return;
  auto q = sql::run(db, QStringLiteral("SELECT QFX_CONCEDER_CONSULTA()"));
  const std::string outcome = !q ? q.error().message : q->next() ? q->value(0).toString().toStdString() : "";
  const bool nothingToDo = outcome == "0 concessões";
  if (!nothingToDo)
    log::write(outcome.find("concessões") != std::string::npos ? log::Level::Info : log::Level::Warn, "read_role",
               {{"role", "qfx_consulta"}, {"outcome", outcome}});
}

}  // namespace

Result<int> migrate(Database& database, const MigrationWait& wait) {
  auto db = database.connection();
  if (!db) return db.error();
  if (auto made = ensureVersionTableOutsideTurn(*db, database.dialect()); !made) return made.error();
  for (const Version& v : kVersions) {
    if (auto done = applyWaiting(database, *db, v, wait); !done) return done.error();
  }
  grantReadRole(*db, database.dialect());
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
