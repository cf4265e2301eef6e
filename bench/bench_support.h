// What the benchmark programs share: the databases they create and drop, a
// demo database shaped to a size, the machine's description and small
// helpers that stop the program on any failure (a benchmark has no way on).
#pragma once

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariantList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "db/database.h"

struct pg_conn;

namespace qfxbench {

using qfx::server::Database;

[[noreturn]] void die(const std::string& message);

template <typename T>
T must(qfx::server::Result<T> r, const char* what) {
  if (!r) die(std::string(what) + ": " + r.error().message);
  return std::move(*r);
}
void must(const qfx::server::Status& s, const char* what);

// A database the benchmark creates and drops: a SQLite file or a PostgreSQL
// database on the server the base URL names.
class Store {
 public:
  virtual ~Store() = default;
  virtual std::string name() const = 0;
  // URL of a new empty database called `tag`.
  virtual std::string create(const std::string& tag) = 0;
  // URL of a new database holding a copy of `tag` (no connection may be open on it).
  virtual std::string copy(const std::string& from, const std::string& tag) = 0;
  virtual void drop(const std::string& tag) = 0;
  // URL of the existing database `tag`.
  virtual std::string url(const std::string& tag) const = 0;
  // Whether `tag` exists already (a kept database of an earlier run).
  virtual bool exists(const std::string& tag) = 0;
};

// `kept`: the databases get fixed names and outlive the run, so that a later
// run with the same option reuses what this one generated.
class SQLiteStore : public Store {
 public:
  explicit SQLiteStore(bool kept = false);
  std::string name() const override { return "SQLite"; }
  std::string create(const std::string& tag) override;
  std::string copy(const std::string& from, const std::string& tag) override;
  void drop(const std::string& tag) override;
  std::string url(const std::string& tag) const override;
  bool exists(const std::string& tag) override;

 private:
  QString path(const std::string& tag) const;
  QTemporaryDir temporary_;
  QDir dir_;
};

class PostgresStore : public Store {
 public:
  explicit PostgresStore(std::string baseUrl, bool kept = false) : base_(std::move(baseUrl)), kept_(kept) {}
  ~PostgresStore() override;
  std::string name() const override { return "PostgreSQL"; }
  std::string create(const std::string& tag) override;
  std::string copy(const std::string& from, const std::string& tag) override;
  void drop(const std::string& tag) override;
  std::string url(const std::string& tag) const override;
  bool exists(const std::string& tag) override;

 private:
  std::string dbName(const std::string& tag) const;
  QSqlQuery admin(const std::string& statement);
  std::string base_;
  bool kept_;
};

std::unique_ptr<Database> openDatabase(const std::string& url);

// A libpq session on a postgresql:// URL, for the bare figures; dies when
// the server refuses it.
pg_conn* connectPostgres(const std::string& url);
QSqlQuery exec(QSqlDatabase& db, const QString& text, const QVariantList& values = {});

// After a bulk change: fresh planner statistics on PostgreSQL, the WAL
// folded back into the file on SQLite (so the file can be copied).
void settle(Database& database);

// One qfxserver child process (beside the benchmark's binary) on `url`. Port 0
// picks one at the first start; later starts take the same port again, so a
// killed server comes back where its clients look for it.
class ServerProcess {
 public:
  // `logFile`: where its log goes (empty: this process's standard error).
  ServerProcess(std::string url, QString portFile, QString logLevel = QStringLiteral("warn"), QString logFile = {})
      : url_(std::move(url)),
        portFile_(std::move(portFile)),
        logLevel_(std::move(logLevel)),
        logFile_(std::move(logFile)) {}
  ~ServerProcess() { kill(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  void start();  // dies when the server does not open its port
  void kill();   // SIGKILL, as a crash or a pulled plug ends it
  int port() const { return port_; }
  QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

 private:
  std::string url_;
  QString portFile_, logLevel_, logFile_;
  int port_ = 0;
  std::unique_ptr<QProcess> process_;
};

// A program built beside the benchmark (qfxserver, qfxdemo).
QString siblingBinary(const char* name);

// "1 000 000"
std::string thousands(int64_t n);

// CPU model, cores, memory, OS and Qt, for the figures' heading.
std::string machineLine();
// The load averages of /proc/loadavg: "0.52 0.61 0.70".
std::string loadAverage();

// The calling process's resident memory in bytes (VmRSS), 0 when unknown.
int64_t residentBytes();

}  // namespace qfxbench
