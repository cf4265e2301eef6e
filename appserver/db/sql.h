// Small helpers over QSqlQuery: every value reaches SQL as a bound parameter,
// and every failure comes back as an Error value with a readable message.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include "common/result.h"
#include "db/database.h"

struct pg_conn;  // libpq's PGconn

namespace qfx::server::sql {

// Runs a statement with positional "?" parameters bound in order.
Result<QSqlQuery> run(QSqlDatabase& db, const QString& text, const QVariantList& values = {});
// A statement without parameters and without result (BEGIN, PRAGMA, DDL).
Status command(QSqlDatabase& db, const QString& text);
// Runs a prepared query again after new values were bound.
Status exec(QSqlQuery& query, const QString& what);

Error toError(const QSqlError& error, const QString& what);
// The same, and a PostgreSQL session found broken counts as lost whatever
// the error says (a statement prepared on a connection the server has just
// closed may fail with no text at all).
Error toError(const QSqlDriver* driver, const QSqlError& error, const QString& what);
// Serialization failures, deadlocks and a busy SQLite file: the whole
// transaction may be tried again.
bool isRetryable(const QSqlError& error);
// The database session is gone (PostgreSQL restarted, session terminated,
// network cut): nothing more can run on this connection.
bool isConnectionLost(const QSqlError& error);
// PostgreSQL stopped a statement: a lock wait ran into lock_timeout, or it
// was cancelled (the client went away). Nothing of the transaction remains.
bool isGiveUp(const QSqlError& error);
bool isUniqueViolation(const QSqlError& error);

// The libpq connection under a QPSQL driver; null for any other driver.
pg_conn* postgresConnection(const QSqlDriver* driver);

// A null of text type, for optional columns.
QVariant nullText();
QVariant textOrNull(const QString& text);

// Write transaction: BEGIN IMMEDIATE on SQLite (takes the write lock at once,
// so two posting runs never interleave), plain BEGIN (read committed) on
// PostgreSQL. Rolls back unless committed.
class Transaction {
 public:
  static Result<Transaction> begin(QSqlDatabase db, Dialect dialect);
  Transaction(Transaction&& other) noexcept;
  Transaction& operator=(Transaction&&) = delete;
  ~Transaction();

  Status commit();
  void rollback();

 private:
  explicit Transaction(QSqlDatabase db) : db_(std::move(db)) {}
  QSqlDatabase db_;
  bool open_ = false;
};

}  // namespace qfx::server::sql
