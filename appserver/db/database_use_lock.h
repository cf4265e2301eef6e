// Who has an embedded (SQLite) database open. Every server process working on
// the file holds a shared lock on its side file "<database>-servidores" for as
// long as it runs; a restore takes it exclusively, so it is refused while any
// server works on the file (and names them), and no server starts while a
// restore writes. The operating system drops a lock with its process, so a
// killed server never leaves the database marked in use.
#pragma once

#include <string>

#include "common/result.h"

namespace qfx::server {

class DatabaseUseLock {
 public:
  // For a server: refused while a restore is writing the database.
  static Result<DatabaseUseLock> forServer(const std::string& databasePath);
  // For a restore: refused while any server has the database open, naming them.
  static Result<DatabaseUseLock> forRestore(const std::string& databasePath);

  DatabaseUseLock(DatabaseUseLock&& other) noexcept;
  DatabaseUseLock& operator=(DatabaseUseLock&&) = delete;
  ~DatabaseUseLock();

  static std::string lockFileOf(const std::string& databasePath) { return databasePath + "-servidores"; }

 private:
  explicit DatabaseUseLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace qfx::server
