#include "child_server.h"

#include "testhelpers.h"

#include <signal.h>

#include <QFile>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace qfx::test {

ChildServer::ChildServer(const std::string& dbUrl, const QStringList& extra) {
  const QString portFile = dir_.filePath(QStringLiteral("port"));
  process_ = std::make_unique<QProcess>();
  process_->setStandardOutputFile(QProcess::nullDevice());
  process_->setStandardErrorFile(dir_.filePath(QStringLiteral("stderr.log")));
  process_->start(qfxtest::binPath(QStringLiteral("qfxserver")),
                  QStringList{QStringLiteral("--db"), QString::fromStdString(dbUrl), QStringLiteral("--listen"),
                              QStringLiteral("127.0.0.1:0"), QStringLiteral("--port-file"), portFile,
                              QStringLiteral("--log-level"), QStringLiteral("warn")} +
                      extra);
  if (!process_->waitForStarted(10000)) {
    failure_ = "qfxserver não iniciou: " + process_->errorString().toStdString();
    return;
  }
  // the port file appears once the server listens
  for (int i = 0; i < 600 && port_ == 0; ++i) {
    port_ = qfxtest::fileContents(portFile).trimmed().toInt();
    if (port_ == 0) {
      if (process_->state() == QProcess::NotRunning) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (port_ == 0) {
    QFile log(dir_.filePath(QStringLiteral("stderr.log")));
    log.open(QIODevice::ReadOnly);
    failure_ = "qfxserver não abriu a porta: " + log.readAll().toStdString();
  }
}

ChildServer::~ChildServer() {
  if (process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(10000)) kill();
  }
}

QByteArray ChildServer::log() const { return qfxtest::fileContents(dir_.filePath(QStringLiteral("stderr.log"))); }

void ChildServer::kill() {
  if (process_->state() == QProcess::NotRunning) return;
  ::kill(pid_t(process_->processId()), SIGKILL);
  process_->waitForFinished(10000);
}

}  // namespace qfx::test
