#include "live_server.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSqlQuery>
#include <QThread>
#include <hostkit/core/query.h>

namespace qfxtest {

bool LiveServer::run(const QString& program, const QStringList& args) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    failure_ = program + QStringLiteral(": ") + QString::fromUtf8(p.readAll());
    return false;
  }
  return true;
}

LiveServer::LiveServer(bool tls) {
  if (!run(binPath(QStringLiteral("qfxdemo")), {QStringLiteral("--db"), databaseUrl(), QStringLiteral("--scale"),
                                                QStringLiteral("1"), QStringLiteral("--seed"), QStringLiteral("42")}))
    return;
  const QString portFile = dir_.filePath(QStringLiteral("port"));
  QStringList args = {QStringLiteral("--listen"),    QStringLiteral("127.0.0.1:0"),
                      QStringLiteral("--port-file"), portFile,
                      QStringLiteral("--db"),        databaseUrl(),
                      QStringLiteral("--log-level"), QStringLiteral("warn")};
  if (tls) {
    const QString key = dir_.filePath(QStringLiteral("server.key"));
    if (!run(QStringLiteral("openssl"),
             {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
              QStringLiteral("-nodes"), QStringLiteral("-keyout"), key, QStringLiteral("-out"), caFile(),
              QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
              QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")}))
      return;
    args << QStringLiteral("--tls-cert") << caFile() << QStringLiteral("--tls-key") << key;
  }
  server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  server_.start(binPath(QStringLiteral("qfxserver")), args);
  QDeadlineTimer deadline(30000);
  while (!deadline.hasExpired() && server_.state() != QProcess::NotRunning) {
    port_ = fileContents(portFile).trimmed().toInt();
    if (port_ > 0) return;
    QThread::msleep(50);
  }
  failure_ = QStringLiteral("qfxserver não abriu a porta");
}

LiveServer::~LiveServer() {
  if (server_.state() == QProcess::NotRunning) return;
  server_.terminate();
  if (!server_.waitForFinished(5000)) server_.kill();
  server_.waitForFinished(2000);
}

int hostCount(const QString& sql) {
  QSqlQuery q(hostkit::hostDatabase());
  if (!q.exec(sql) || !q.next()) return -1;
  return q.value(0).toInt();
}

}  // namespace qfxtest
