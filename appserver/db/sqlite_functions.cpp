#include "db/sqlite_functions.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QVariant>
#include <cstring>

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

}  // namespace

Status registerSqliteFunctions(QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0)
    return internalError("a conexão SQLite não expõe o handle sqlite3");
  sqlite3* raw = *static_cast<sqlite3* const*>(handle.constData());
  if (!raw) return internalError("conexão SQLite fechada");
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  if (sqlite3_create_function(raw, "NVL", 2, flags, nullptr, nvl, nullptr, nullptr) != SQLITE_OK)
    return internalError(std::string("não foi possível registrar NVL: ") + sqlite3_errmsg(raw));
  return success();
}

}  // namespace qfx::server
