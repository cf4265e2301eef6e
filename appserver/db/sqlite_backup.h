// Backup and restore of the embedded (SQLite) database with SQLite's online
// backup API: the copy is one consistent state of the database, taken while
// the server keeps serving.
#pragma once

#include <string>

#include "common/result.h"

namespace qfx::server {

// Copies the database file `source` (live or not) into `target`, through a
// temporary file renamed at the end: a failed backup leaves no half file.
Result<bool> backupSqlite(const std::string& source, const std::string& target);

// Puts the backup `backup` back into the database file `target` (the server
// stopped). Refuses a backup that fails PRAGMA integrity_check.
Result<bool> restoreSqlite(const std::string& backup, const std::string& target);

}  // namespace qfx::server
