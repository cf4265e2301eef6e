#include "db/statement_canceller.h"

#include <libpq-fe.h>

#include <QSqlDriver>
#include <QVariant>
#include <cstring>

#include "common/log.h"

namespace qfx::server {

void StatementCanceller::arm(QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  // Qt names the type after libpq's struct tag
  if (!handle.isValid() ||
      (std::strcmp(handle.typeName(), "pg_conn*") != 0 && std::strcmp(handle.typeName(), "PGconn*") != 0))
    return;
  PGconn* connection = *static_cast<PGconn* const*>(handle.constData());
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
