#include "db/lost_client_bounds.h"

#include <QStringList>
#include <algorithm>

#include "db/sql.h"

namespace qfx::server {

Status boundLostClientHold(QSqlDatabase& db, int holdMs) {
  const int keepaliveIdleSeconds = std::max(1, holdMs / 4000);
  const QStringList settings{
      QStringLiteral("idle_in_transaction_session_timeout=%1").arg(holdMs),
      QStringLiteral("tcp_user_timeout=%1").arg(holdMs),
      QStringLiteral("tcp_keepalives_idle=%1").arg(keepaliveIdleSeconds),
      QStringLiteral("tcp_keepalives_interval=%1").arg(keepaliveIdleSeconds),
      QStringLiteral("tcp_keepalives_count=3"),
  };
  for (const QString& setting : settings) {
    const QString name = setting.section(QLatin1Char('='), 0, 0), value = setting.section(QLatin1Char('='), 1);
    // set_config through pg_settings: nothing happens for a name this PostgreSQL lacks
    auto set = sql::run(db, QStringLiteral("SELECT set_config(name, ?, false) FROM pg_settings WHERE name = ?"),
                        {value, name});
    if (!set) return set.error();
  }
  return success();
}

}  // namespace qfx::server
