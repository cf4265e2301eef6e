// The server's own migration step: creates the schema in an empty database
// and brings an older one up to date. The SQL lives in schema/migrations as
// Qt resources; each version is one transaction, so a failed upgrade leaves
// the previous version intact.
#pragma once

#include <QString>
#include <QStringList>
#include <chrono>

#include "common/result.h"
#include "db/database.h"

namespace qfx::server::migrations {

int latestVersion();
// How many versions this server knows (their numbers may have gaps).
int versionCount();
// Version recorded in the database; 0 for an empty database.
Result<int> currentVersion(Database& database);
// How long a start waits for the locks it needs (PostgreSQL): each try ends
// after `step`, saying whom it waits for, and the start gives up after `most`.
struct MigrationWait {
  std::chrono::milliseconds step{2000};
  std::chrono::seconds most{60};
};

// Applies every missing version. Safe when several servers start together:
// SQLite takes the write lock, PostgreSQL a lock on the version table that
// no reader may take, and the version is read again under it.
Result<int> migrate(Database& database, const MigrationWait& wait = {});

// Splits a script into statements at ';' line ends, keeping PostgreSQL
// $$-quoted bodies and SQLite trigger bodies (BEGIN ... END;) whole.
QStringList splitStatements(const QString& script);

}  // namespace qfx::server::migrations
