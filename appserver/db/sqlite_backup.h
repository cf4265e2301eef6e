// Backup and restore of the embedded (SQLite) database with SQLite's online
// backup API: the copy is one consistent state of the database, taken while
// the server keeps serving.
#pragma once

#include <string>

#include "common/result.h"

namespace qfx::server {

// What may already be at the backup's target.
enum class ExistingTarget { Refuse, Replace };

// Copies the database file `source` (live or not) into `target`, through a
// temporary file renamed at the end: a failed backup leaves no half file.
// Refuses a target that is the database itself or one of its side files,
// whatever path names it, and an existing file unless asked to replace it.
Result<bool> backupSqlite(const std::string& source, const std::string& target,
                          ExistingTarget existing = ExistingTarget::Refuse);

// Puts the backup `backup` back into the database file `target` (the server
// stopped). Refuses a backup that fails PRAGMA integrity_check, and a backup
// that is the target itself.
Result<bool> restoreSqlite(const std::string& backup, const std::string& target);

// True when both paths name one file (same device and inode); false when
// either does not exist.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace qfx::server
