#include "db/database.h"

#include <libpq-fe.h>

#include <QCoreApplication>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <map>
#include <optional>

#include "db/lost_client_bounds.h"
#include "db/postgres_rows.h"
#include "db/sql.h"
#include "db/sqlite_functions.h"
#include "db/sqlite_rows.h"

namespace qfx::server {

namespace {

std::atomic<uint64_t> nextDatabaseId{1};

// Connections opened by the current thread, by Database id. Dropped when the
// thread ends, which is when gRPC retires a handler thread.
struct ThreadConnection {
  QString name;
  uint64_t generation = 0;  // Database::generation_ when it was opened
  // kept at hand: looking it up by name takes Qt's lock of all connections,
  // on every call
  QSqlDatabase handle;
};

struct ThreadConnections {
  std::map<uint64_t, ThreadConnection> byDatabase;
  ~ThreadConnections() {
    for (auto& [id, connection] : byDatabase) forget(connection);
  }
  static void forget(ThreadConnection& connection) {
    connection.handle = QSqlDatabase();  // Qt removes a connection no handle refers to any more
    removeConnection(connection.name);
  }
  static void removeConnection(const QString& name) {
    {
      QSqlDatabase db = QSqlDatabase::database(name, false);
      if (db.isValid()) {
        sql::dropKeptStatements(db);
        sql::forgetPreparedStatements(db);
        db.close();
      }
    }
    QSqlDatabase::removeDatabase(name);
  }
};

thread_local ThreadConnections threadConnections;

bool isSafeOptionPart(const QString& text) {
  if (text.isEmpty()) return false;
  for (QChar c : text)
    if (c == QLatin1Char(';') || c == QLatin1Char('=') || c.isSpace()) return false;
  return true;
}

// Qt's reason without the text it quotes (the URL, password and all).
std::string urlProblem(const QUrl& url) {
  const QString reason = url.errorString();
  return reason.left(reason.indexOf(QLatin1Char(';'))).toStdString();
}

// Why libpq's option `key` may not be given in the URL's query; nullopt when
// it may. libpq itself lists what it takes: an unknown key is refused here
// with its name instead of failing every connection later.
std::optional<std::string> refusalOfOption(const QString& key) {
  static const QSet<QString> inTheAddress = {QStringLiteral("host"), QStringLiteral("hostaddr"), QStringLiteral("port"),
                                             QStringLiteral("user"), QStringLiteral("dbname")};
  if (key == QLatin1String("password"))
    return "a senha não vai no endereço do banco: use --db-password-file, PGPASSWORD ou ~/.pgpass";
  if (inTheAddress.contains(key))
    return "a opção " + key.toStdString() +
           " do endereço PostgreSQL vai na sua própria parte (usuario@host:porta/banco)";
  static const QSet<QString> known = [] {
    QSet<QString> names;
    PQconninfoOption* options = PQconndefaults();
    for (PQconninfoOption* o = options; o && o->keyword; ++o) names.insert(QString::fromLatin1(o->keyword));
    PQconninfoFree(options);
    return names;
  }();
  if (!known.contains(key))
    return "opção de conexão desconhecida no endereço PostgreSQL: " + key.toStdString() +
           " (aceitas as do libpq, como sslmode, sslrootcert, connect_timeout, application_name)";
  return std::nullopt;
}

Result<DbConfig> parsePostgresUrl(const std::string& text) {
  const QUrl url(QString::fromStdString(text), QUrl::StrictMode);
  if (!url.isValid())
    return invalidArgument("endereço PostgreSQL inválido (" + urlProblem(url) + "): " + redactedUrl(text));
  DbConfig c;
  c.dialect = Dialect::PostgreSQL;
  c.host = url.host().isEmpty() ? QStringLiteral("127.0.0.1") : url.host();
  c.port = url.port(5432);
  c.user = url.userName(QUrl::FullyDecoded);
  c.password = url.password(QUrl::FullyDecoded);
  c.name = url.path(QUrl::FullyDecoded).mid(1);
  if (c.name.isEmpty()) return invalidArgument("endereço PostgreSQL sem o nome do banco (…/nome)");
  QStringList options;
  for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
    if (auto refusal = refusalOfOption(key)) return invalidArgument(*refusal);
    // the options go into a libpq connection string: keep them plain words
    if (!isSafeOptionPart(key) || !isSafeOptionPart(value))
      return invalidArgument("opção de conexão inválida no endereço PostgreSQL: " + key.toStdString());
    options << key + QLatin1Char('=') + value;
  }
  const QUrlQuery query(url);
  if (!query.hasQueryItem(QStringLiteral("connect_timeout"))) options << QStringLiteral("connect_timeout=10");
  // names the program in pg_stat_activity and in the server's log
  if (!query.hasQueryItem(QStringLiteral("application_name")) && !QCoreApplication::applicationName().isEmpty())
    options << QStringLiteral("application_name=") + QCoreApplication::applicationName();
  c.options = options.join(QLatin1Char(';'));
  return c;
}

}  // namespace

Result<DbConfig> DbConfig::parse(const std::string& url) {
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) return parsePostgresUrl(url);
  std::string path = url;
  if (path.rfind("sqlite:", 0) == 0) {
    path = path.substr(7);
    if (path.rfind("//", 0) == 0) path = path.substr(2);
  } else if (path.find("://") != std::string::npos) {
    return invalidArgument("tipo de banco desconhecido em '" + redactedUrl(url) +
                           "' (use sqlite:/arquivo.db ou postgresql://...)");
  }
  if (path.empty()) return invalidArgument("informe o arquivo do banco SQLite (sqlite:/caminho/arquivo.db)");
  DbConfig c;
  c.dialect = Dialect::SQLite;
  c.path = QString::fromStdString(path);
  return c;
}

std::string redactedUrl(const std::string& url) {
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  // from the colon after the user to the last '@': a password may hold '/',
  // '?' or '#' unescaped, and hiding too much is no harm here
  const size_t colon = url.find(':', scheme + 3);
  const size_t at = url.rfind('@');
  if (colon == std::string::npos || at == std::string::npos || at < colon) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

std::string DbConfig::describe() const {
  if (dialect == Dialect::SQLite) return "sqlite:" + path.toStdString();
  std::string text = "postgresql://";
  if (!user.isEmpty()) text += user.toStdString() + "@";
  return text + host.toStdString() + ":" + std::to_string(port) + "/" + name.toStdString();
}

Database::Database(DbConfig config) : config_(std::move(config)), id_(nextDatabaseId++) {}

Database::~Database() {
  // Handler threads are gone by now; only this thread's connection remains.
  discardConnection();
}

Result<QSqlDatabase> Database::connection() {
  auto& connections = threadConnections.byDatabase;
  if (auto it = connections.find(id_); it != connections.end()) {
    if (it->second.handle.isOpen() && it->second.generation == generation_) return it->second.handle;
    ThreadConnections::forget(it->second);
    connections.erase(it);
  }
  const uint64_t generation = generation_;
  const QString name = QStringLiteral("qfx-%1-%2").arg(id_).arg(opened_++);
  auto db = open(name);
  if (!db) {
    ThreadConnections::removeConnection(name);
    return db.error();
  }
  connections[id_] = {name, generation, *db};
  return db;
}

void Database::discardConnection() {
  // A lost server or a broken session usually hits every thread's
  // connection: all of them reopen on their next use.
  ++generation_;
  auto& connections = threadConnections.byDatabase;
  if (auto it = connections.find(id_); it != connections.end()) {
    ThreadConnections::forget(it->second);
    connections.erase(it);
  }
}

Result<QSqlDatabase> Database::open(const QString& connectionName) {
  const bool sqlite = isSQLite();
  const QString driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
  if (!QSqlDatabase::isDriverAvailable(driver))
    return Error{ErrorKind::Unavailable, "driver Qt SQL " + driver.toStdString() + " não instalado"};
  QSqlDatabase db = QSqlDatabase::addDatabase(driver, connectionName);
  if (sqlite) {
    db.setDatabaseName(config_.path);
    // a writer waits this long for another writer instead of failing at once
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(config_.sqliteBusyTimeoutMs));
  } else {
    db.setHostName(config_.host);
    db.setPort(config_.port);
    db.setUserName(config_.user);
    db.setPassword(config_.password);
    db.setDatabaseName(config_.name);
    db.setConnectOptions(config_.options);
  }
  if (!db.open()) {
    return Error{ErrorKind::Unavailable,
                 "não foi possível abrir o banco " + config_.describe() + ": " + db.lastError().text().toStdString()};
  }
  if (auto prepared = prepareSession(db); !prepared) return prepared.error();
  return db;
}

Status Database::prepareSession(QSqlDatabase& db) {
  if (!isSQLite()) {
    if (auto done = sql::command(
            db, QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL READ COMMITTED"));
        !done)
      return done;
    // PostgreSQL's default cost of a random page read (4) is a disk's. The
    // calls' tables stay in memory, and with it a day's list or posting read
    // walked every pending item of the branch (hashing them against the
    // day's sales) instead of reaching the day's few through the pending
    // index: 57 ms instead of 5 for one day's list (one client, the
    // server's own time). 1.1 is the cost of a page in memory or on SSD; a
    // value set by the administrator (server file, ALTER DATABASE or ROLE,
    // PGOPTIONS) is kept.
    auto costed = sql::run(db, QStringLiteral("SELECT set_config('random_page_cost', '1.1', false) FROM pg_settings "
                                              "WHERE name = 'random_page_cost' AND source = 'default'"));
    if (!costed) return costed.error();
    return boundLostClientHold(db, config_.lostClientHoldMs);
  }
  // WAL lets readers go on while a posting run writes; FULL makes a commit
  // survive a power cut, not just a killed process.
  auto mode = sql::run(db, QStringLiteral("PRAGMA journal_mode=WAL"));
  if (!mode) return mode.error();
  for (const char* pragma : {"PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
    if (auto done = sql::command(db, QString::fromLatin1(pragma)); !done) return done;
  }
  if (config_.sqliteMaxPageCount > 0) {
    auto capped = sql::run(db, QStringLiteral("PRAGMA max_page_count=%1").arg(config_.sqliteMaxPageCount));
    if (!capped) return capped.error();
  }
  if (auto registered = registerSqliteFunctions(db); !registered) return registered;
  // from here on the wait for another writer also heeds the call's deadline
  return installBusyWait(db, config_.sqliteBusyTimeoutMs);
}

}  // namespace qfx::server
