// Login and sessions. A session is a row of SESSAO keyed by a hash of its
// token, so several server instances sharing one database accept each
// other's sessions, and a revocation there stops the next call on all of
// them. (On SQLite a connection remembers the sessions it verified only while
// nothing at all was committed to the database since: see sessions.cpp.)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "db/database.h"
#include "db/postgres_rows.h"

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

// A session check sent ahead of a read by key on PostgreSQL: it reaches the
// database with the read's first statement, in one round trip (see
// sql::PostgresReadAhead), and is taken once the read is done.
class SessionCheckAhead {
 public:
  explicit SessionCheckAhead(sql::PostgresReadAhead sent) : sent_(std::move(sent)) {}
  Result<Session> take();

 private:
  sql::PostgresReadAhead sent_;
};

class SessionStore {
 public:
  SessionStore(Database& database, int64_t lifetimeSeconds);

  Result<LoginOutcome> login(const std::string& operatorCode, const std::string& password);
  Result<Session> validate(const std::string& token);
  // The same check, sent ahead on `db` (a PostgreSQL connection); a missing
  // or malformed token is refused at once.
  Result<SessionCheckAhead> sendCheck(QSqlDatabase& db, const std::string& token);

  // Ends the session of `token`; a token that names no session is no error
  // (it ended already, or expired and was swept).
  Status logout(const std::string& token);
  // Removes the sessions past their expiry; how many.
  Result<int64_t> sweepExpired();

  // Creates or replaces an operator (administration and demo data).
  static Status saveOperator(QSqlDatabase& db, const std::string& code, const std::string& name,
                             const std::string& password, const std::string& boundBranch);

  // Gives or takes an operator's right to import data.
  static Status setImportRight(QSqlDatabase& db, const std::string& code, bool allowed);

  static std::string tokenDigest(const std::string& token);

 private:
  Result<std::vector<std::string>> branchesFor(QSqlDatabase& db, const Session& session);

  Database& database_;
  int64_t lifetime_;
};

}  // namespace qfx::server
