#include "db/sqlite_backup.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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

bool exists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// Writing the copy over the database (or its journal) would destroy what it copies.
Status targetIsSafe(const std::string& source, const std::string& target, ExistingTarget existing) {
  for (const char* side : {"", "-wal", "-shm", "-journal"}) {
    if (sameFile(source + side, target))
      return invalidArgument("a cópia não pode ser gravada sobre o próprio banco (" + target + " é " + source + side +
                             "): escolha outro arquivo");
  }
  if (existing == ExistingTarget::Refuse && exists(target))
    return invalidArgument("o arquivo " + target + " já existe: escolha outro nome ou use --replace para substituí-lo");
  return success();
}

}  // namespace

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

Result<bool> backupSqlite(const std::string& source, const std::string& target, ExistingTarget existing) {
  if (!exists(source)) return invalidArgument("o banco " + source + " não existe");
  if (auto safe = targetIsSafe(source, target, existing); !safe) return safe.error();
  auto from = open(source, SQLITE_OPEN_READONLY);
  if (!from) return from.error();
  // named after this process: an unrelated file of the usual name is left alone
  const std::string partial = target + ".parcial." + std::to_string(::getpid());
  if (exists(partial))
    return invalidArgument("o arquivo temporário " + partial + " já existe: apague-o ou escolha outro nome");
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
  // without --replace, a file that appeared at the target meanwhile is not overwritten either
  const unsigned flags = existing == ExistingTarget::Refuse ? RENAME_NOREPLACE : 0;
  if (::renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, target.c_str(), flags) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(partial.c_str());
    return internalError("não foi possível gravar " + target + ": " + reason);
  }
  return true;
}

Result<bool> restoreSqlite(const std::string& backup, const std::string& target) {
  if (sameFile(backup, target)) return invalidArgument("a cópia " + backup + " é o próprio banco: nada a restaurar");
  auto from = open(backup, SQLITE_OPEN_READONLY);
  if (!from) return from.error();
  if (auto checked = integrityOk(from->get(), backup); !checked) return checked.error();
  auto to = open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  if (!to) return to.error();
  return copyPages(from->get(), to->get(), "restauração em " + target);
}

}  // namespace qfx::server
