#include "auth/sessions.h"

#include <sodium.h>

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>
#include <unordered_map>

#include "auth/password.h"
#include "db/rows.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"

namespace qfx::server {

namespace {

const char* const kBadLogin = "Operador ou senha inválidos.";
const char* const kExpired = "sessão expirada: faça login novamente";
constexpr size_t kTokenBytes = 32;
constexpr size_t kMaxCredentialLength = 256;

std::string toHex(const unsigned char* data, size_t size) {
  std::string hex(size * 2 + 1, '\0');
  sodium_bin2hex(hex.data(), hex.size(), data, size);
  hex.pop_back();
  return hex;
}

std::string newToken() {
  unsigned char bytes[kTokenBytes];
  randombytes_buf(bytes, sizeof bytes);
  return toHex(bytes, sizeof bytes);
}

int64_t now() { return QDateTime::currentSecsSinceEpoch(); }

Error unauthenticated(std::string message) { return Error{ErrorKind::Unauthenticated, std::move(message)}; }

// Every call of every client checks its session here, against the shared
// database (revocations go through it): read with the database's C library,
// the statement kept on SQLite (where an unchanged database spares the read,
// see VerifiedSessions), one round trip on PostgreSQL (shared with the call's
// read when sent ahead).
// Expiry, operator code, name, branch and active flag; no row: no session.
const char* const kSessionQuery =
    "SELECT S.NREXPIRACAO, O.CDOPERADOR, O.NMOPERADOR, O.CDFILIAL, O.IDATIVO "
    "FROM SESSAO S JOIN OPERADOR O ON O.CDOPERADOR = S.CDOPERADOR WHERE S.CDSESSAO = ?";
constexpr int kSessionColumns = 5;

Result<QVariantList> firstRow(sql::Rows& rows) {
  QVariantList row;
  auto found = rows.next();
  if (!found) return found.error();
  if (*found)
    for (int i = 0; i < kSessionColumns; ++i) row << rows.value(i);
  return row;
}

Result<QVariantList> sessionRow(QSqlDatabase& db, const std::string& digest) {
  auto rows = sql::openRows(db, kSessionQuery, {digest}, sql::Reuse::Kept);
  if (!rows) return rows.error();
  return firstRow(**rows);
}

// The token's shape, checked before the database is asked.
Status wellFormed(const std::string& token) {
  if (token.empty()) return unauthenticated("sessão ausente: faça login e envie o token em x-qfx-session");
  if (token.size() != kTokenBytes * 2) return unauthenticated("sessão inválida");
  return success();
}

Result<Session> sessionOf(const Result<QVariantList>& row) {
  if (!row) return row.error();
  if (row->empty()) return unauthenticated("sessão inválida");
  const QVariantList& v = *row;
  Session s;
  s.expiresAt = v[0].toLongLong();
  if (s.expiresAt <= now()) return unauthenticated(kExpired);
  if (v[4].toString() != QLatin1String("S")) return unauthenticated("operador inativo");
  s.operatorCode = v[1].toString().toStdString();
  s.operatorName = v[2].toString().toStdString();
  s.boundBranch = v[3].toString().toStdString();
  return s;
}

// On SQLite a session verified on a connection is taken again without its
// read while that connection's change stamp stays the same: nothing was
// committed since, by any connection of any server sharing the file, so the
// session's row and its operator's are as they were read. A logout, a
// revoked session or a deactivated operator is a commit, which changes the
// stamp of every connection: the next call on any server reads the row again
// and is refused. Expiry is checked at every call. A stamp compares only with
// the same connection's, so the memory is per connection (by its unique name).
struct VerifiedSessions {
  sql::ChangeStamp stamp;
  std::unordered_map<std::string, Session> byToken;
};
constexpr size_t kMostVerifiedSessions = 256;     // per connection; beyond it the memory starts afresh
constexpr size_t kMostConnectionsRemembered = 8;  // a thread's reopened connections leave theirs behind

VerifiedSessions& verifiedSessionsOf(const QSqlDatabase& db) {
  thread_local std::unordered_map<QString, VerifiedSessions> byConnection;
  const QString name = db.connectionName();
  if (byConnection.size() >= kMostConnectionsRemembered && !byConnection.count(name)) byConnection.clear();
  return byConnection[name];
}

Result<Session> sqliteSession(QSqlDatabase& db, const std::string& token) {
  auto stamp = sql::changeStamp(db);
  if (!stamp) return stamp.error();
  VerifiedSessions& verified = verifiedSessionsOf(db);
  if (verified.stamp != *stamp) {
    verified.byToken.clear();
    verified.stamp = *stamp;
  } else if (auto it = verified.byToken.find(token); it != verified.byToken.end()) {
    if (it->second.expiresAt <= now()) return unauthenticated(kExpired);
    return it->second;
  }
  auto session = sessionOf(sessionRow(db, SessionStore::tokenDigest(token)));
  if (session) {
    if (verified.byToken.size() >= kMostVerifiedSessions) verified.byToken.clear();
    verified.byToken.emplace(token, *session);
  }
  return session;
}

}  // namespace

SessionStore::SessionStore(Database& database, int64_t lifetimeSeconds)
    : database_(database), lifetime_(lifetimeSeconds) {}

std::string SessionStore::tokenDigest(const std::string& token) {
  unsigned char digest[32];
  crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()), token.size(), nullptr,
                     0);
  return toHex(digest, sizeof digest);
}

Result<LoginOutcome> SessionStore::login(const std::string& operatorCode, const std::string& password) {
  if (operatorCode.empty() || operatorCode.size() > kMaxCredentialLength || password.size() > kMaxCredentialLength)
    return unauthenticated(kBadLogin);
  auto db = database_.connection();
  if (!db) return db.error();
  auto q = sql::run(*db,
                    QStringLiteral("SELECT CDOPERADOR, NMOPERADOR, DSSENHA, CDFILIAL, IDATIVO FROM OPERADOR "
                                   "WHERE CDOPERADOR = ?"),
                    {QString::fromStdString(operatorCode)});
  if (!q) return q.error();
  if (!q->next()) {
    password::verifyAgainstDummy(password);
    return unauthenticated(kBadLogin);
  }
  LoginOutcome out;
  out.session.operatorCode = q->value(0).toString().toStdString();
  out.session.operatorName = q->value(1).toString().toStdString();
  out.session.boundBranch = q->value(3).toString().toStdString();
  const std::string stored = q->value(2).toString().toStdString();
  const bool active = q->value(4).toString() == QLatin1String("S");
  q->finish();  // release the read before the slow hash check
  if (!password::verify(stored, password) || !active) return unauthenticated(kBadLogin);
  out.session.expiresAt = now() + lifetime_;
  out.token = newToken();

  // expired sessions are swept here, where a write happens anyway
  auto swept = sql::run(*db, QStringLiteral("DELETE FROM SESSAO WHERE NREXPIRACAO <= ?"), {qint64(now())});
  if (!swept) return swept.error();
  auto saved =
      sql::run(*db,
               QStringLiteral("INSERT INTO SESSAO (CDSESSAO, CDOPERADOR, NRCRIACAO, NREXPIRACAO) "
                              "VALUES (?, ?, ?, ?)"),
               {QString::fromStdString(tokenDigest(out.token)), QString::fromStdString(out.session.operatorCode),
                qint64(now()), qint64(out.session.expiresAt)});
  if (!saved) return saved.error();
  auto branches = branchesFor(*db, out.session);
  if (!branches) return branches.error();
  out.branches = std::move(*branches);
  return out;
}

Result<Session> SessionStore::validate(const std::string& token) {
  if (auto shape = wellFormed(token); !shape) return shape.error();
  auto db = database_.connection();
  if (!db) return db.error();
  if (database_.isSQLite()) return sqliteSession(*db, token);
  return sessionOf(sessionRow(*db, tokenDigest(token)));
}

Status SessionStore::logout(const std::string& token) {
  if (auto shape = wellFormed(token); !shape) return shape.error();
  auto db = database_.connection();
  if (!db) return db.error();
  auto ended = sql::run(*db, QStringLiteral("DELETE FROM SESSAO WHERE CDSESSAO = ?"),
                        {QString::fromStdString(tokenDigest(token))});
  if (!ended) return ended.error();
  return success();
}

Result<int64_t> SessionStore::sweepExpired() {
  auto db = database_.connection();
  if (!db) return db.error();
  auto swept = sql::run(*db, QStringLiteral("DELETE FROM SESSAO WHERE NREXPIRACAO <= ?"), {qint64(now())});
  if (!swept) return swept.error();
  return int64_t(swept->numRowsAffected());
}

Result<SessionCheckAhead> SessionStore::sendCheck(QSqlDatabase& db, const std::string& token) {
  if (auto shape = wellFormed(token); !shape) return shape.error();
  auto sent = sql::PostgresReadAhead::send(db, kSessionQuery, {tokenDigest(token)});
  if (!sent) return sent.error();
  return SessionCheckAhead(std::move(*sent));
}

Result<Session> SessionCheckAhead::take() {
  auto rows = sent_.take();
  if (!rows) return rows.error();
  return sessionOf(firstRow(**rows));
}

Result<std::vector<std::string>> SessionStore::branchesFor(QSqlDatabase& db, const Session& session) {
  if (!session.boundBranch.empty()) return std::vector<std::string>{session.boundBranch};
  auto q = sql::run(db, QStringLiteral("SELECT CDFILIAL FROM FILIAL ORDER BY CDFILIAL"));
  if (!q) return q.error();
  std::vector<std::string> branches;
  while (q->next()) branches.push_back(q->value(0).toString().toStdString());
  return branches;
}

Status SessionStore::saveOperator(QSqlDatabase& db, const std::string& code, const std::string& name,
                                  const std::string& plainPassword, const std::string& boundBranch) {
  if (code.empty() || code.size() > 20) return invalidArgument("código de operador deve ter de 1 a 20 caracteres");
  auto hashed = password::hash(plainPassword);
  if (!hashed) return hashed.error();
  const QVariantList values{QString::fromStdString(code), QString::fromStdString(name), QString::fromStdString(*hashed),
                            sql::textOrNull(QString::fromStdString(boundBranch))};
  auto removed = sql::run(db, QStringLiteral("DELETE FROM OPERADOR WHERE CDOPERADOR = ?"), {values[0]});
  if (!removed) return removed.error();
  auto saved = sql::run(db,
                        QStringLiteral("INSERT INTO OPERADOR (CDOPERADOR, NMOPERADOR, DSSENHA, CDFILIAL, IDATIVO) "
                                       "VALUES (?, ?, ?, ?, 'S')"),
                        values);
  if (!saved) return saved.error();
  return success();
}

Status SessionStore::setImportRight(QSqlDatabase& db, const std::string& code, bool allowed) {
  auto q = sql::run(db, QStringLiteral("UPDATE OPERADOR SET IDIMPORTA = ? WHERE CDOPERADOR = ?"),
                    {allowed ? QStringLiteral("S") : QStringLiteral("N"), QString::fromStdString(code)});
  if (!q) return q.error();
  if (q->numRowsAffected() != 1) return Error{ErrorKind::NotFound, "operador " + code + " não cadastrado"};
  return success();
}

}  // namespace qfx::server
