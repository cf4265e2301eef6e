#include "db/sqlite_functions.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QVariant>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

#include "db/call_limits.h"

namespace qfx::server {

namespace {

void nvl(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc != 2) {
    sqlite3_result_error(context, "NVL precisa de 2 argumentos", -1);
    return;
  }
  sqlite3_value* chosen = sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0];
  sqlite3_result_value(context, chosen);
}

// SQLite's busy handler: `attempt` counts the calls for one lock, so the
// first starts the clock. Short pauses, growing to 20 ms, keep the wait
// responsive to the call's limits. Returning 0 gives up (SQLITE_BUSY).
int waitWhileBusy(void* timeoutMs, int attempt) {
  using namespace std::chrono;
  thread_local steady_clock::time_point firstAttempt;
  const auto now = steady_clock::now();
  if (attempt == 0) firstAttempt = now;
  const CallLimits& limits = CallLimits::current();
  if (limits.shouldStop()) return 0;
  const auto timeout = milliseconds(reinterpret_cast<intptr_t>(timeoutMs));
  const auto waited = duration_cast<milliseconds>(now - firstAttempt);
  if (waited >= timeout) return 0;
  auto pause = std::min({milliseconds(1 << std::min(attempt, 4)) + milliseconds(4), timeout - waited,
                         limits.timeLeft().value_or(milliseconds::max())});
  std::this_thread::sleep_for(std::max(pause, milliseconds(1)));
  return 1;
}

}  // namespace

Result<sqlite3*> rawHandle(QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0)
    return internalError("a conexão SQLite não expõe o handle sqlite3");
  sqlite3* raw = *static_cast<sqlite3* const*>(handle.constData());
  if (!raw) return internalError("conexão SQLite fechada");
  return raw;
}

Status installBusyWait(QSqlDatabase& db, int timeoutMs) {
  auto raw = rawHandle(db);
  if (!raw) return raw.error();
  if (sqlite3_busy_handler(*raw, waitWhileBusy, reinterpret_cast<void*>(intptr_t(std::max(timeoutMs, 0)))) != SQLITE_OK)
    return internalError(std::string("não foi possível instalar a espera do SQLite: ") + sqlite3_errmsg(*raw));
  return success();
}

Status registerSqliteFunctions(QSqlDatabase& db) {
  auto handle = rawHandle(db);
  if (!handle) return handle.error();
  sqlite3* raw = *handle;
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  if (sqlite3_create_function(raw, "NVL", 2, flags, nullptr, nvl, nullptr, nullptr) != SQLITE_OK)
    return internalError(std::string("não foi possível registrar NVL: ") + sqlite3_errmsg(raw));
  return success();
}

}  // namespace qfx::server
