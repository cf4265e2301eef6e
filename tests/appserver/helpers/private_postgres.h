// A PostgreSQL server of a test's own, for faults the shared test server must
// not suffer: restarted under a running posting, or given a tablespace on a
// tiny filesystem. Made with initdb and pg_ctl on a free loopback port, trust
// authentication, removed at the end (as scripts/pg-test-server.sh does for
// the shared one).
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace qfx::test {

class PrivatePostgres {
 public:
  PrivatePostgres();
  ~PrivatePostgres();
  PrivatePostgres(const PrivatePostgres&) = delete;
  PrivatePostgres& operator=(const PrivatePostgres&) = delete;

  // Empty when the server runs; otherwise why it does not.
  const std::string& failure() const { return failure_; }
  int port() const { return port_; }
  // URL of one of its databases, as superuser "postgres".
  std::string url(const std::string& database = "postgres", const std::string& user = "postgres") const;

  // Immediate restart, as after a crash: every session ends at once, the
  // server (after its recovery) is back when it returns.
  bool restart();

  // Runs a program as the operating-system user that owns the cluster.
  bool runAsOwner(const QString& program, const QStringList& args, QString* output = nullptr) const;
  // Hands a directory to that user (a tablespace must be its own).
  bool giveToOwner(const QString& path) const;

 private:
  QString tool(const char* name) const;
  std::unique_ptr<QTemporaryDir> dir_;
  int port_ = 0;
  std::string failure_;
};

// The binaries exist and PostgreSQL tests were asked for (QFX_TEST_PG_URL).
bool privatePostgresPossible(std::string* why);

}  // namespace qfx::test
