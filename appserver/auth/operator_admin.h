// The administrator's changes to operators and their sessions. Each change
// touches only what it names and runs in one transaction: a refused change
// (unknown operator, unknown branch, database trouble) leaves every row as
// it was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"
#include "db/database.h"

namespace qfx::server {

struct NewOperator {
  std::string code, name, password;
  std::string boundBranch;  // empty: any branch
  bool mayImport = false;   // may import registrations, sales and Z reductions
};

// What one change sets; an empty optional leaves that part as it is.
struct OperatorChange {
  std::optional<std::string> name;
  std::optional<std::string> password;
  std::optional<std::string> boundBranch;  // "" frees the operator from its branch
  std::optional<bool> active;              // deactivating also ends its sessions
  std::optional<bool> mayImport;

  bool empty() const { return !name && !password && !boundBranch && !active && !mayImport; }
};

struct OperatorRow {
  std::string code, name, boundBranch;
  bool active = true;
  int64_t openSessions = 0;
  bool mayImport = false;
};

struct SessionRow {
  std::string operatorCode;
  int64_t createdAt = 0, expiresAt = 0;  // seconds since the epoch
};

namespace operators {

// Refuses an operator that exists already.
Status create(Database& database, const NewOperator& wanted);
Status change(Database& database, const std::string& code, const OperatorChange& change);
// The number of sessions ended.
Result<int64_t> endSessions(Database& database, const std::string& code);
Result<std::vector<OperatorRow>> list(Database& database);
// Sessions not yet expired; of one operator, or of all when `code` is empty.
Result<std::vector<SessionRow>> sessions(Database& database, const std::string& code);

}  // namespace operators

}  // namespace qfx::server
