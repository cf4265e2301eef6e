#include "db/statement_canceller.h"

#include <libpq-fe.h>

#include "common/log.h"
#include "db/sql.h"

namespace qfx::server {

void StatementCanceller::arm(QSqlDatabase& db) {
  PGconn* connection = sql::postgresConnection(db.driver());
  if (!connection) return;
  std::lock_guard lock(mutex_);
  if (request_) PQfreeCancel(request_);
  request_ = PQgetCancel(connection);
  sent_ = false;
}

void StatementCanceller::disarm() {
  std::lock_guard lock(mutex_);
  if (request_) PQfreeCancel(request_);
  request_ = nullptr;
}

void StatementCanceller::cancel() {
  std::lock_guard lock(mutex_);
  if (!request_ || sent_) return;
  sent_ = true;
  // PQcancel returns once the server has the request; holding the lock meanwhile
  // keeps disarm() (and so the next call on this connection) waiting for it.
  char why[256] = {};
  if (!PQcancel(request_, why, sizeof why))
    log::write(log::Level::Warn, "cancel", {{"outcome", "failed"}, {"message", why}});
}

}  // namespace qfx::server
