// A real application server for host tests: the demo database made by
// qfxdemo, served by qfxserver as a child process on a free loopback port,
// optionally with TLS (a throwaway certificate made by openssl).
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "testhelpers.h"

namespace qfxtest {

class LiveServer {
 public:
  explicit LiveServer(bool tls = false);
  ~LiveServer();

  bool started() const { return port_ > 0; }
  QString failure() const { return failure_; }
  int port() const { return port_; }
  qint64 processId() const { return server_.processId(); }
  QString databaseUrl() const { return QStringLiteral("sqlite:") + dir_.filePath(QStringLiteral("demo.db")); }
  QString databasePath() const { return dir_.filePath(QStringLiteral("demo.db")); }
  QString caFile() const { return dir_.filePath(QStringLiteral("server.crt")); }

 private:
  bool run(const QString& program, const QStringList& args);
  QTemporaryDir dir_;
  QProcess server_;
  int port_ = 0;
  QString failure_;
};

// The first column of a query's first row on the host database as a count; -1
// when the query fails or returns no row.
int hostCount(const QString& sql);

}  // namespace qfxtest
