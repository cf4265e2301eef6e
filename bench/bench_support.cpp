#include "bench_support.h"

#include <libpq-fe.h>

#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSysInfo>
#include <QThread>
#include <QUrl>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "db/sql.h"

// the build type and flags, set by bench/CMakeLists.txt
#ifndef QFX_BENCH_BUILD
#define QFX_BENCH_BUILD "?"
#endif

namespace qfxbench {

namespace sql = qfx::server::sql;

void die(const std::string& message) {
  std::fprintf(stderr, "bench: %s\n", message.c_str());
  std::fflush(stdout);
  std::_Exit(1);  // no destructors: threads and servers may still be running
}

void must(const qfx::server::Status& s, const char* what) {
  if (!s) die(std::string(what) + ": " + s.error().message);
}

// ---------------------------------------------------------------- SQLite

SQLiteStore::SQLiteStore(bool kept) : temporary_(QDir::tempPath() + "/qfx-bench-XXXXXX") {
  if (!temporary_.isValid()) die("pasta temporária");
  dir_.setPath(kept ? QDir::tempPath() + "/qfx-bench-kept" : temporary_.path());
  if (!dir_.mkpath(QStringLiteral("."))) die("pasta dos bancos mantidos");
}

QString SQLiteStore::path(const std::string& tag) const { return dir_.filePath(QString::fromStdString(tag + ".db")); }

bool SQLiteStore::exists(const std::string& tag) { return QFile::exists(path(tag)); }

std::string SQLiteStore::url(const std::string& tag) const { return "sqlite:" + path(tag).toStdString(); }

std::string SQLiteStore::create(const std::string& tag) {
  drop(tag);
  return url(tag);
}

std::string SQLiteStore::copy(const std::string& from, const std::string& tag) {
  // the template was closed cleanly: WAL checkpointed, no -wal file left
  if (QFile::exists(path(from) + "-wal") && QFile(path(from) + "-wal").size() > 0)
    die("o modelo SQLite ainda tem um arquivo -wal");
  drop(tag);
  if (!QFile::copy(path(from), path(tag))) die("cópia do banco SQLite");
  return url(tag);
}

void SQLiteStore::drop(const std::string& tag) {
  for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(path(tag) + suffix);
}

// ---------------------------------------------------------------- PostgreSQL

namespace {
constexpr const char* kAdmin = "qfx-bench-admin";
}

PostgresStore::~PostgresStore() {
  if (QSqlDatabase::contains(kAdmin)) {
    QSqlDatabase::database(kAdmin, false).close();
    QSqlDatabase::removeDatabase(kAdmin);
  }
}

std::string PostgresStore::create(const std::string& tag) {
  drop(tag);
  admin("CREATE DATABASE " + dbName(tag));
  return url(tag);
}

std::string PostgresStore::copy(const std::string& from, const std::string& tag) {
  drop(tag);
  admin("CREATE DATABASE " + dbName(tag) + " TEMPLATE " + dbName(from));
  return url(tag);
}

void PostgresStore::drop(const std::string& tag) { admin("DROP DATABASE IF EXISTS " + dbName(tag) + " WITH (FORCE)"); }

std::string PostgresStore::dbName(const std::string& tag) const {
  return "qfx_bench_" + (kept_ ? std::string("kept") : std::to_string(::getpid())) + "_" + tag;
}

bool PostgresStore::exists(const std::string& tag) {
  return admin("SELECT 1 FROM pg_database WHERE datname = '" + dbName(tag) + "'").next();
}

std::string PostgresStore::url(const std::string& tag) const {
  QUrl u(QString::fromStdString(base_));
  u.setPath(QString::fromStdString("/" + dbName(tag)));
  return u.toString().toStdString();
}

// CREATE and DROP DATABASE: outside a transaction, from another database.
QSqlQuery PostgresStore::admin(const std::string& statement) {
  QSqlDatabase db = QSqlDatabase::contains(kAdmin) ? QSqlDatabase::database(kAdmin, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), kAdmin);
  if (!db.isOpen()) {
    const QUrl u(QString::fromStdString(base_));
    db.setHostName(u.host());
    db.setPort(u.port(5432));
    db.setUserName(u.userName());
    db.setPassword(u.password());
    db.setDatabaseName(u.path().mid(1));
    if (!db.open()) die("PostgreSQL: " + db.lastError().text().toStdString());
    QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO WARNING"));
  }
  QSqlQuery q(db);
  if (!q.exec(QString::fromStdString(statement))) die(statement + ": " + q.lastError().text().toStdString());
  return q;
}

// ---------------------------------------------------------------- helpers

std::unique_ptr<Database> openDatabase(const std::string& url) {
  return std::make_unique<Database>(must(qfx::server::DbConfig::parse(url), "endereço do banco"));
}

QSqlQuery exec(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  return must(sql::run(db, text, values), text.toUtf8().constData());
}

void settle(Database& database) {
  QSqlDatabase db = must(database.connection(), "conexão");
  if (database.dialect() == qfx::server::Dialect::PostgreSQL) {
    QSqlQuery analyze(db);  // not a statement PostgreSQL prepares
    if (!analyze.exec(QStringLiteral("ANALYZE"))) die("ANALYZE: " + analyze.lastError().text().toStdString());
  } else {
    exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
  }
}

QString siblingBinary(const char* name) {
  return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

void ServerProcess::start() {
  QFile::remove(portFile_);
  process_ = std::make_unique<QProcess>();
  process_->setStandardOutputFile(QProcess::nullDevice());
  if (logFile_.isEmpty())
    process_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  else
    process_->setStandardErrorFile(logFile_);
  process_->start(siblingBinary("qfxserver"),
                  {"--db", QString::fromStdString(url_), "--listen", QStringLiteral("127.0.0.1:%1").arg(port_),
                   "--port-file", portFile_, "--log-level", logLevel_});
  for (int i = 0; i < 1500; ++i) {
    QFile file(portFile_);
    if (file.open(QIODevice::ReadOnly) && file.size() > 0) {
      port_ = file.readAll().trimmed().toInt();
      return;
    }
    if (process_->state() == QProcess::NotRunning) break;
    QThread::msleep(20);
  }
  die("qfxserver não abriu a porta " + std::to_string(port_));
}

void ServerProcess::kill() {
  if (!process_ || process_->state() == QProcess::NotRunning) return;
  ::kill(pid_t(process_->processId()), SIGKILL);
  process_->waitForFinished(10000);
}

std::string thousands(int64_t n) {
  const std::string digits = std::to_string(n < 0 ? -n : n);
  std::string s = n < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) s += ' ';
    s += digits[i];
  }
  return s;
}

namespace {
std::string firstValue(const char* file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) != 0) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    return value;
  }
  return {};
}

// A virtual machine's idle processors: with the guest's halt polling off,
// every wake of a sleeping thread costs an exit to the host, which the
// small call pays several times (bench/README.md, 11 December).
std::string haltPolling() {
  std::ifstream in("/sys/module/haltpoll/parameters/guest_halt_poll_ns");
  std::string ns;
  if (!(in >> ns)) return {};
  return ", guest halt polling " + ns + " ns";
}
}  // namespace

std::string machineLine() {
  const std::string cpu = firstValue("/proc/cpuinfo", "model name");
  const std::string mem = firstValue("/proc/meminfo", "MemTotal");
  const long kb = std::atol(mem.c_str());
  char ram[32];
  std::snprintf(ram, sizeof ram, "%.1f GB", double(kb) / 1024.0 / 1024.0);
  return std::to_string(QThread::idealThreadCount()) + " CPUs (" + (cpu.empty() ? "?" : cpu) + "), " + ram + " RAM, " +
         QSysInfo::prettyProductName().toStdString() + ", Qt " + qVersion() + ", " +
         QDateTime::currentDateTime().toString(Qt::ISODate).toStdString() + haltPolling() + ", built " QFX_BENCH_BUILD;
}

std::string loadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

int64_t residentBytes() {
  const std::string rss = firstValue("/proc/self/status", "VmRSS");
  return int64_t(std::atoll(rss.c_str())) * 1024;
}

PGconn* connectPostgres(const std::string& url) {
  const QUrl u(QString::fromStdString(url));
  // values quoted: an empty one would otherwise swallow the next keyword
  const auto quoted = [](const QString& v) {
    QString q = v;
    q.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return "'" + q.toStdString() + "'";
  };
  std::string info = "host=" + quoted(u.host()) + " port=" + std::to_string(u.port(5432)) +
                     " user=" + quoted(u.userName()) + " dbname=" + quoted(u.path().mid(1));
  if (!u.password().isEmpty()) info += " password=" + quoted(u.password());
  PGconn* conn = PQconnectdb(info.c_str());
  if (PQstatus(conn) != CONNECTION_OK) die(std::string("libpq: ") + PQerrorMessage(conn));
  return conn;
}

}  // namespace qfxbench
