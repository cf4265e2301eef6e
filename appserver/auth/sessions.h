// Login and sessions. The server keeps nothing in memory between calls: a
// session is a row of SESSAO keyed by a hash of its token, so several server
// instances sharing one database accept each other's sessions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "db/database.h"

namespace qfx::server {

struct Session {
  std::string operatorCode;
  std::string operatorName;
  std::string boundBranch;  // empty: any branch
  int64_t expiresAt = 0;    // seconds since the epoch

  bool mayUseBranch(const std::string& branch) const { return boundBranch.empty() || branch == boundBranch; }
};

struct LoginOutcome {
  std::string token;  // give to the client once; only its hash is stored
  Session session;
  std::vector<std::string> branches;
};

class SessionStore {
 public:
  SessionStore(Database& database, int64_t lifetimeSeconds);

  Result<LoginOutcome> login(const std::string& operatorCode, const std::string& password);
  Result<Session> validate(const std::string& token);

  // Creates or replaces an operator (administration and demo data).
  static Status saveOperator(QSqlDatabase& db, const std::string& code, const std::string& name,
                             const std::string& password, const std::string& boundBranch);

  static std::string tokenDigest(const std::string& token);

 private:
  Result<std::vector<std::string>> branchesFor(QSqlDatabase& db, const Session& session);

  Database& database_;
  int64_t lifetime_;
};

}  // namespace qfx::server
