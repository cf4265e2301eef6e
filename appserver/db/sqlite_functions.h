// SQL functions that the client's generic query texts use and SQLite lacks.
// PostgreSQL gets them from the schema; on SQLite they live on the connection,
// registered on the driver's sqlite3 handle, as is the busy handler.
#pragma once

#include <QSqlDatabase>

#include "common/result.h"

struct sqlite3;

namespace qfx::server {

// The driver's own sqlite3 handle of an open SQLite connection, or an error
// when the connection is not SQLite or is closed.
Result<sqlite3*> rawHandle(QSqlDatabase& db);

// NVL(a, b): a unless it is null, else b. (INSTR is built into SQLite.)
Status registerSqliteFunctions(QSqlDatabase& db);

// A writer that finds the file locked waits up to `timeoutMs` for the other
// writer, but no longer than the current call's limits allow (see
// CallLimits): past its stop point or once its client cancelled, the
// statement fails at once with SQLITE_BUSY.
Status installBusyWait(QSqlDatabase& db, int timeoutMs);

}  // namespace qfx::server
