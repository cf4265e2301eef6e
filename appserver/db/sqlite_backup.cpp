#include "db/sqlite_backup.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>

namespace qfx::server {

namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Connection = std::unique_ptr<sqlite3, Closer>;

Result<Connection> open(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  Connection db(raw);
  if (rc != SQLITE_OK)
    return internalError("não foi possível abrir " + path + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  sqlite3_busy_timeout(db.get(), 5000);
  return db;
}

// Copies every page of `from` into `to`, a few at a time so that writers of
// a live source are only held back briefly; a source changed meanwhile by
// another connection makes SQLite start over, so the copy is one state.
Result<bool> copyPages(sqlite3* from, sqlite3* to, const std::string& what) {
  sqlite3_backup* backup = sqlite3_backup_init(to, "main", from, "main");
  if (!backup) return internalError(what + ": " + sqlite3_errmsg(to));
  int rc;
  do {
    rc = sqlite3_backup_step(backup, 256);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) sqlite3_sleep(20);
  } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) return internalError(what + ": " + sqlite3_errstr(rc));
  return true;
}

Result<bool> integrityOk(sqlite3* db, const std::string& path) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK)
    return internalError(path + " não é um banco SQLite: " + sqlite3_errmsg(db));
  std::string verdict;
  if (sqlite3_step(stmt) == SQLITE_ROW) verdict = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
  sqlite3_finalize(stmt);
  if (verdict != "ok") return invalidArgument(path + " está danificado (integrity_check: " + verdict + ")");
  return true;
}

}  // namespace

Result<bool> backupSqlite(const std::string& source, const std::string& target) {
  auto from = open(source, SQLITE_OPEN_READONLY);
  if (!from) return from.error();
  const std::string partial = target + ".parcial";
  std::remove(partial.c_str());
  {
    auto to = open(partial, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!to) return to.error();
    if (auto copied = copyPages(from->get(), to->get(), "cópia de " + source); !copied) {
      to->reset();
      std::remove(partial.c_str());
      return copied.error();
    }
    if (auto checked = integrityOk(to->get(), partial); !checked) {
      to->reset();
      std::remove(partial.c_str());
      return checked.error();
    }
  }
  if (std::rename(partial.c_str(), target.c_str()) != 0) return internalError("não foi possível gravar " + target);
  return true;
}

Result<bool> restoreSqlite(const std::string& backup, const std::string& target) {
  auto from = open(backup, SQLITE_OPEN_READONLY);
  if (!from) return from.error();
  if (auto checked = integrityOk(from->get(), backup); !checked) return checked.error();
  auto to = open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!to) return to.error();
  return copyPages(from->get(), to->get(), "restauração em " + target);
}

}  // namespace qfx::server
