// SQL functions that the client's generic query texts use and SQLite lacks.
// PostgreSQL gets them from the schema; on SQLite they live on the connection,
// registered on the driver's sqlite3 handle.
#pragma once

#include <QSqlDatabase>

#include "common/result.h"

namespace qfx::server {

// NVL(a, b): a unless it is null, else b. (INSTR is built into SQLite.)
Status registerSqliteFunctions(QSqlDatabase& db);

}  // namespace qfx::server
