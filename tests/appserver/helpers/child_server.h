// qfxserver as a child process, for the tests that kill it mid-run.
#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <string>

namespace qfx::test {

class ChildServer {
 public:
  // `extra`: more options, after the defaults (a later --log-level wins).
  explicit ChildServer(const std::string& dbUrl, const QStringList& extra = {});
  ~ChildServer();

  bool started() const { return port_ > 0; }
  int port() const { return port_; }
  // 0 once it has ended.
  qint64 pid() const { return process_->processId(); }
  // SIGKILL: no shutdown, no flush, as a crash or a power cut of the process.
  void kill();
  const std::string& failure() const { return failure_; }
  // What it has written to standard error so far: its log.
  QByteArray log() const;

 private:
  QTemporaryDir dir_;
  std::unique_ptr<QProcess> process_;
  int port_ = 0;
  std::string failure_;
};

}  // namespace qfx::test
