// Reads a query's rows on PostgreSQL with libpq, on the Qt connection's own
// session: one round trip (PQexecParams; Qt's driver takes three, PREPARE,
// EXECUTE and DEALLOCATE), parameters as texts, cells as the server sends
// them, with no QVariant or QString per cell. A kept text is prepared once
// per session and then only executed: no parsing or planning per call.
#pragma once

#include <QSqlDatabase>
#include <memory>

#include "db/rows.h"

struct pg_conn;
struct pg_result;

namespace qfx::server::sql {

class PostgresRows : public Rows {
 public:
  // Only for a connection of the QPSQL driver.
  static Result<std::unique_ptr<PostgresRows>> run(QSqlDatabase& db, const std::string& text,
                                                   const std::vector<std::optional<std::string>>& values,
                                                   Reuse reuse = Reuse::No, Delivery delivery = Delivery::Whole);
  ~PostgresRows() override;
  PostgresRows(const PostgresRows&) = delete;
  PostgresRows& operator=(const PostgresRows&) = delete;

  Result<bool> next() override;
  bool isNull(int column) const override;
  std::string_view text(int column) const override;
  double number(int column) const override;
  QVariant value(int column) const override;
  int64_t changes() const override;

 private:
  friend class PostgresReadAhead;
  // `arriving`: the connection whose further rows follow `result` one by one.
  PostgresRows(pg_result* result, QSqlDatabase db = {}, pg_conn* arriving = nullptr);
  // The rows of `result`, or its error (the result then freed).
  static Result<std::unique_ptr<PostgresRows>> of(const QSqlDatabase& db, pg_conn* connection, pg_result* result);
  // Sent in single-row mode: the first row (or the end) is read before this
  // returns, so that an error of the statement itself comes from run().
  static Result<std::unique_ptr<PostgresRows>> runArriving(QSqlDatabase& db, pg_conn* connection,
                                                           const std::string& numbered,
                                                           const std::vector<const char*>& parameters);
  Result<bool> nextArrived();
  // Takes `result` as the rows to read from now on.
  void hold(pg_result* result);

  pg_result* result_;
  QSqlDatabase db_;              // while rows are arriving: for an error's kind
  pg_conn* arriving_ = nullptr;  // while rows are arriving
  std::vector<bool> booleans_;   // per column: PostgreSQL's boolean type
  int rows_ = 0;
  int row_ = -1;
};

// A read sent ahead of the next statement PostgresRows runs on the same
// connection: both leave in one round trip (libpq's pipeline mode), each
// reply is read, and this one's rows wait here until taken. For the session
// check of a read by key: a check and a read for one wake-up of the
// database's process instead of two. Only for a kept text that writes
// nothing, followed by statements that write nothing; one at a time per
// connection. A text not yet prepared on the connection runs at once (and is
// prepared for the next time).
class PostgresReadAhead {
 public:
  static Result<PostgresReadAhead> send(QSqlDatabase& db, const std::string& text,
                                        const std::vector<std::optional<std::string>>& values);
  PostgresReadAhead(PostgresReadAhead&& other) noexcept;
  PostgresReadAhead& operator=(PostgresReadAhead&&) = delete;
  // A reply never taken is read and dropped: the connection is left as found.
  ~PostgresReadAhead();

  // Its rows; when no statement went out since, it goes now, alone.
  Result<std::unique_ptr<PostgresRows>> take();

 private:
  PostgresReadAhead(QSqlDatabase db, pg_conn* connection) : db_(std::move(db)), connection_(connection) {}
  QSqlDatabase db_;
  pg_conn* connection_;
};

// While one lives on a thread, the large results its reads leave are freed
// only when it ends: freeing a million rows' blocks takes longer than
// sending the last of them, so a streamed reply hands its last message over
// first and frees after.
class LateResultRelease {
 public:
  LateResultRelease();
  ~LateResultRelease();
  LateResultRelease(const LateResultRelease&) = delete;
  LateResultRelease& operator=(const LateResultRelease&) = delete;
};

// Forgets the statements prepared on this connection; called before it
// closes, so that a new session at the same address prepares afresh.
void forgetPreparedStatements(QSqlDatabase& db);

// The same error value the Qt path gives: the SQLSTATE decides busy, lost
// or internal; the message is the server's own (the connection's when
// `result` has none).
Error postgresError(const QSqlDriver* driver, const pg_result* result, pg_conn* connection, const QString& what);

// "?" placeholders as PostgreSQL's "$1", "$2"...; quoted text is left alone.
std::string numberedPlaceholders(const std::string& text);

}  // namespace qfx::server::sql
