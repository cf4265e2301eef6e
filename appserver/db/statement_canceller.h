// Stops, from another thread, the statement a PostgreSQL connection is
// running: a call's database work runs on a worker, and the thread waiting
// for it is the one that notices the client has gone. Without it a run
// blocked on another session's lock would hold its worker and connection for
// as long as that session keeps the lock. SQLite needs none: its busy
// handler looks at the call's limits itself.
#pragma once

#include <QSqlDatabase>
#include <mutex>

struct pg_cancel;

namespace qfx::server {

class StatementCanceller {
 public:
  StatementCanceller() = default;
  ~StatementCanceller() { disarm(); }
  StatementCanceller(const StatementCanceller&) = delete;
  StatementCanceller& operator=(const StatementCanceller&) = delete;

  // From the worker, before the call's statements run on `db`.
  void arm(QSqlDatabase& db);
  // From the worker, once they are over: after it returns no cancel request
  // can reach the connection, which may serve another call next.
  void disarm();
  // From any thread: cancels the running statement (once; later calls and
  // calls while disarmed do nothing). It then fails with SQLSTATE 57014.
  void cancel();

 private:
  std::mutex mutex_;
  pg_cancel* request_ = nullptr;
  bool sent_ = false;
};

}  // namespace qfx::server
