#include "db/postgres_rows.h"

#include <libpq-fe.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QString>
#include <charconv>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/sql.h"

namespace qfx::server::sql {

namespace {

// Type OIDs of the cells read as numbers (pg_type.h).
constexpr Oid kBool = 16, kInt8 = 20, kInt2 = 21, kInt4 = 23, kFloat4 = 700, kFloat8 = 701, kNumeric = 1700;

Error errorOf(const QSqlDriver* driver, const PGresult* result, PGconn* connection) {
  return postgresError(driver, result, connection, QStringLiteral("erro ao executar comando SQL"));
}

// The texts prepared on each connection of this thread (connections are per
// thread), with the name each was prepared under. A prepared statement lives
// as long as the database session, whatever its transactions do.
constexpr size_t kMaxPreparedPerConnection = 32;  // the fixed texts are few; a stray caller must not grow it
thread_local std::unordered_map<PGconn*, std::unordered_map<std::string, std::string>> preparedTexts;
thread_local uint64_t preparedCount = 0;

// The connections whose last statement of ours went row by row: libpq
// (15) keeps single-row mode set for the next statement queued in a
// pipeline, which would then hand its rows one by one where a whole reply is
// read. A statement sent outside a pipeline clears it.
thread_local std::unordered_set<PGconn*> rowByRowLeft;

std::string newStatementName() { return "qfx_kept_" + std::to_string(++preparedCount); }

// PostgreSQL's code for a prepared statement it does not know.
bool isUnknownStatement(const PGresult* result) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  return state && std::strcmp(state, "26000") == 0;
}

bool succeeded(const PGresult* result) {
  const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  return status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK;
}

// Runs `numbered` as the statement prepared for it on this connection,
// preparing it first if needed; nullptr when the connection keeps no more.
// A statement that went missing (the session was reset under us) is
// prepared again once.
PGresult* runPrepared(PGconn* connection, const std::string& numbered, const std::vector<const char*>& parameters) {
  auto& prepared = preparedTexts[connection];
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto it = prepared.find(numbered);
    if (it == prepared.end()) {
      if (prepared.size() >= kMaxPreparedPerConnection) return nullptr;
      const std::string name = newStatementName();
      PGresult* made = PQprepare(connection, name.c_str(), numbered.c_str(), int(parameters.size()), nullptr);
      if (!succeeded(made)) return made;  // the error, as a run would give it
      PQclear(made);
      it = prepared.emplace(numbered, name).first;
    }
    PGresult* result =
        PQexecPrepared(connection, it->second.c_str(), int(parameters.size()), parameters.data(), nullptr, nullptr, 0);
    if (attempt > 0 || !isUnknownStatement(result)) return result;
    PQclear(result);
    prepared.erase(it);
  }
  return nullptr;
}

// Runs `numbered` at once: as its kept statement when asked and possible.
PGresult* runAlone(PGconn* connection, const std::string& numbered, const std::vector<const char*>& parameters,
                   Reuse reuse) {
  rowByRowLeft.erase(connection);
  PGresult* result = reuse == Reuse::Kept ? runPrepared(connection, numbered, parameters) : nullptr;
  if (result) return result;
  return PQexecParams(connection, numbered.c_str(), int(parameters.size()), nullptr, parameters.data(), nullptr,
                      nullptr, 0);
}

// ------------------------------------------------------------ read ahead

// The read sent ahead on this thread, from PostgresReadAhead::send to take.
struct Ahead {
  PGconn* connection = nullptr;  // none: nothing sent ahead
  bool inPipeline = false;       // queued or sent, its reply not read yet
  bool runAlone = false;         // its statement went missing: run it again, alone
  PGresult* result = nullptr;    // its reply, read and not taken yet
  std::string numbered;          // what it runs, for a run alone
  std::vector<std::optional<std::string>> values;
};
thread_local Ahead ahead;

std::vector<const char*> parametersOf(const std::vector<std::optional<std::string>>& values) {
  std::vector<const char*> parameters;
  parameters.reserve(values.size());
  for (const auto& v : values) parameters.push_back(v ? v->c_str() : nullptr);
  return parameters;
}

// Ends the pipeline with a sync point and reads its replies, the first
// result of each of `statements` statements (an error's, or
// PIPELINE_ABORTED for one skipped after an error), then leaves pipeline
// mode. When the exchange broke off (connection lost) the missing results
// are null.
std::vector<PGresult*> syncAndRead(PGconn* connection, int statements) {
  std::vector<PGresult*> results;
  bool whole = PQpipelineSync(connection) == 1;
  for (int i = 0; i < statements; ++i) {
    PGresult* first = whole ? PQgetResult(connection) : nullptr;
    results.push_back(first);
    whole = whole && first;
    if (first)
      while (PGresult* more = PQgetResult(connection)) PQclear(more);  // a null ends each statement's results
  }
  if (whole) {
    PGresult* sync = PQgetResult(connection);
    PQclear(sync);
  }
  PQexitPipelineMode(connection);
  return results;
}

// The read ahead's statement went missing (the session was reset under us):
// the connection's statements are forgotten and the read runs again alone,
// prepared afresh.
void runAheadAgainAlone(PGconn* connection) {
  PQclear(std::exchange(ahead.result, nullptr));
  preparedTexts.erase(connection);
  ahead.runAlone = true;
}

// Queues `numbered` behind the read ahead: as its kept statement (prepared
// first, in the same pipeline, when new) or unnamed. The statements queued,
// 0 when queueing failed; `preparedAs` names a statement prepared here.
int queueBehind(PGconn* connection, const std::string& numbered, const std::vector<const char*>& parameters,
                Reuse reuse, std::string* preparedAs) {
  const int count = int(parameters.size());
  if (reuse == Reuse::Kept) {
    auto& prepared = preparedTexts[connection];
    if (auto it = prepared.find(numbered); it != prepared.end())
      return PQsendQueryPrepared(connection, it->second.c_str(), count, parameters.data(), nullptr, nullptr, 0);
    if (prepared.size() < kMaxPreparedPerConnection) {
      *preparedAs = newStatementName();
      const bool queued =
          PQsendPrepare(connection, preparedAs->c_str(), numbered.c_str(), count, nullptr) &&
          PQsendQueryPrepared(connection, preparedAs->c_str(), count, parameters.data(), nullptr, nullptr, 0);
      return queued ? 2 : 0;
    }
  }
  return PQsendQueryParams(connection, numbered.c_str(), count, nullptr, parameters.data(), nullptr, nullptr, 0);
}

// Runs `numbered` with the read sent ahead, in one round trip; the read's
// reply stays in `ahead`. When either statement went missing (the session
// was reset under us) both run again alone, prepared afresh.
PGresult* runBehindAhead(PGconn* connection, const std::string& numbered, const std::vector<const char*>& parameters,
                         Reuse reuse) {
  std::string preparedAs;
  const int queued = queueBehind(connection, numbered, parameters, reuse, &preparedAs);
  const std::vector<PGresult*> results = syncAndRead(connection, 1 + queued);
  ahead.inPipeline = false;
  ahead.result = results.front();
  if (queued == 0) return runAlone(connection, numbered, parameters, reuse);
  PGresult* own = results.back();
  if (queued == 2) {
    PGresult* preparation = results[1];
    if (succeeded(preparation))
      preparedTexts[connection].emplace(numbered, preparedAs);
    else
      std::swap(own, preparation);  // the preparation's error is the statement's
    PQclear(preparation);
  }
  if (isUnknownStatement(ahead.result) || isUnknownStatement(own)) {
    PQclear(own);
    runAheadAgainAlone(connection);
    return runAlone(connection, numbered, parameters, reuse);
  }
  return own;
}

int64_t integer(std::string_view t) {
  int64_t n = 0;
  std::from_chars(t.data(), t.data() + t.size(), n);
  return n;
}

}  // namespace

Error postgresError(const QSqlDriver* driver, const pg_result* result, pg_conn* connection, const QString& what) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* message = result ? PQresultErrorMessage(result) : nullptr;
  if (!message || !*message) message = PQerrorMessage(connection);
  const QSqlError error(QString(), QString::fromUtf8(message ? message : "").trimmed(), QSqlError::StatementError,
                        QString::fromLatin1(state ? state : ""));
  return toError(driver, error, what);
}

std::string numberedPlaceholders(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  int next = 0;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '?') {
      out += '$' + std::to_string(++next);
      continue;
    }
    out += c;
  }
  return out;
}

void forgetPreparedStatements(QSqlDatabase& db) {
  if (PGconn* connection = postgresConnection(db.driver())) {
    preparedTexts.erase(connection);
    rowByRowLeft.erase(connection);
  }
}

static Result<PGconn*> liveConnection(QSqlDatabase& db) {
  PGconn* connection = postgresConnection(db.driver());
  if (!connection || !db.isOpen())
    return Error{ErrorKind::Unavailable, "a conexão com o banco de dados foi perdida; tente de novo"};
  return connection;
}

Result<std::unique_ptr<PostgresRows>> PostgresRows::of(const QSqlDatabase& db, PGconn* connection, PGresult* result) {
  if (!succeeded(result)) {
    Error error = errorOf(db.driver(), result, connection);
    PQclear(result);
    return error;
  }
  return std::unique_ptr<PostgresRows>(new PostgresRows(result));
}

Result<std::unique_ptr<PostgresRows>> PostgresRows::run(QSqlDatabase& db, const std::string& text,
                                                        const std::vector<std::optional<std::string>>& values,
                                                        Reuse reuse, Delivery delivery) {
  auto connection = liveConnection(db);
  if (!connection) return connection.error();
  const std::vector<const char*> parameters = parametersOf(values);
  const std::string numbered = numberedPlaceholders(text);
  const bool behindAhead = ahead.connection == *connection && ahead.inPipeline;
  if (delivery == Delivery::AsTheyCome && reuse == Reuse::No && !behindAhead)
    return runArriving(db, *connection, numbered, parameters);
  PGresult* result = behindAhead
                         ? runBehindAhead(*connection, numbered, parameters, reuse)  // null: the exchange broke off
                         : runAlone(*connection, numbered, parameters, reuse);
  return of(db, *connection, result);
}

namespace {

// Reads what is left of the statement's results: the connection is then
// ready for the next statement.
void drainResults(PGconn* connection) {
  while (PGresult* more = PQgetResult(connection)) PQclear(more);
}

}  // namespace

Result<std::unique_ptr<PostgresRows>> PostgresRows::runArriving(QSqlDatabase& db, PGconn* connection,
                                                                const std::string& numbered,
                                                                const std::vector<const char*>& parameters) {
  if (PQsendQueryParams(connection, numbered.c_str(), int(parameters.size()), nullptr, parameters.data(), nullptr,
                        nullptr, 0) != 1)
    return errorOf(db.driver(), nullptr, connection);
  rowByRowLeft.insert(connection);
  // refused only when not right after the send; the rows then come whole, which next() reads as well
  PQsetSingleRowMode(connection);
  PGresult* first = PQgetResult(connection);
  if (!first || (PQresultStatus(first) != PGRES_SINGLE_TUPLE && !succeeded(first))) {
    Error error = errorOf(db.driver(), first, connection);
    PQclear(first);
    drainResults(connection);
    return error;
  }
  if (PQresultStatus(first) != PGRES_SINGLE_TUPLE) {  // no row at all: the statement is over
    drainResults(connection);
    return std::unique_ptr<PostgresRows>(new PostgresRows(first));
  }
  return std::unique_ptr<PostgresRows>(new PostgresRows(first, db, connection));
}

PostgresRows::PostgresRows(pg_result* result, QSqlDatabase db, pg_conn* arriving)
    : result_(result), db_(std::move(db)), arriving_(arriving), rows_(PQntuples(result)) {
  booleans_.resize(size_t(PQnfields(result)));
  for (size_t column = 0; column < booleans_.size(); ++column)
    booleans_[column] = PQftype(result, int(column)) == kBool;
}

void PostgresRows::hold(pg_result* result) {
  PQclear(std::exchange(result_, result));
  rows_ = PQntuples(result);
  row_ = -1;
}

// The next row that arrived, or the end of the statement: its closing result
// (no rows once they came one by one) or its error, after which whatever is
// left is read so that the connection is ready for the next statement.
Result<bool> PostgresRows::nextArrived() {
  PGresult* result = PQgetResult(arriving_);
  if (result && PQresultStatus(result) == PGRES_SINGLE_TUPLE) {
    hold(result);
    return ++row_ < rows_;
  }
  PGconn* connection = std::exchange(arriving_, nullptr);
  const QSqlDatabase db = std::exchange(db_, QSqlDatabase());  // not kept past the last row
  if (!succeeded(result)) {
    Error error = errorOf(db.driver(), result, connection);
    PQclear(result);
    drainResults(connection);
    return error;
  }
  hold(result);
  drainResults(connection);
  return ++row_ < rows_;
}

namespace {

// Below this a result is freed at once: the wait is not worth it.
constexpr int kLateReleaseRows = 10000;

struct LateResults {
  int scopes = 0;
  std::vector<PGresult*> results;
};
thread_local LateResults lateResults;

}  // namespace

LateResultRelease::LateResultRelease() { ++lateResults.scopes; }

LateResultRelease::~LateResultRelease() {
  if (--lateResults.scopes > 0) return;
  for (PGresult* result : lateResults.results) PQclear(result);
  lateResults.results.clear();
}

PostgresRows::~PostgresRows() {
  if (arriving_) drainResults(arriving_);  // left before the last row: the connection must be ready again
  if (lateResults.scopes > 0 && rows_ >= kLateReleaseRows)
    lateResults.results.push_back(result_);
  else
    PQclear(result_);
}

Result<bool> PostgresRows::next() {
  if (++row_ < rows_) return true;
  if (!arriving_) return false;
  return nextArrived();
}

bool PostgresRows::isNull(int column) const { return PQgetisnull(result_, row_, column) != 0; }

std::string_view PostgresRows::text(int column) const {
  // a null's value is an empty text in libpq: no separate test needed
  const std::string_view t(PQgetvalue(result_, row_, column), size_t(PQgetlength(result_, row_, column)));
  // PostgreSQL sends a boolean as "t" or "f"; QVariant writes it out
  if (booleans_[size_t(column)] && !t.empty()) return t == "t" ? "true" : "false";
  return t;
}

double PostgresRows::number(int column) const {
  const std::string_view t = text(column);
  double n = 0;
  // a text that is not wholly a number reads as 0, as QVariant reads it
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), n);
  return error == std::errc() && end == t.data() + t.size() ? n : 0.0;
}

QVariant PostgresRows::value(int column) const {
  const Oid type = PQftype(result_, column);
  const bool null = isNull(column);
  const std::string_view t = text(column);
  switch (type) {
    case kBool:
      return null ? QVariant(QMetaType::fromType<bool>()) : QVariant(t == "true");
    case kInt8:
      return null ? QVariant(QMetaType::fromType<qlonglong>()) : QVariant(qlonglong(integer(t)));
    case kInt2:
    case kInt4:
      return null ? QVariant(QMetaType::fromType<int>()) : QVariant(int(integer(t)));
    case kFloat4:
    case kFloat8:
    case kNumeric:
      return null ? QVariant(QMetaType::fromType<double>()) : QVariant(number(column));
    default:
      return null ? QVariant(QMetaType::fromType<QString>())
                  : QVariant(QString::fromUtf8(t.data(), qsizetype(t.size())));
  }
}

int64_t PostgresRows::changes() const {
  const char* tuples = PQcmdTuples(result_);
  return tuples && *tuples ? std::atoll(tuples) : 0;
}

Result<PostgresReadAhead> PostgresReadAhead::send(QSqlDatabase& db, const std::string& text,
                                                  const std::vector<std::optional<std::string>>& values) {
  auto live = liveConnection(db);
  if (!live) return live.error();
  PGconn* connection = *live;
  if (ahead.connection) return Error{ErrorKind::Internal, "já há uma leitura enviada à frente nesta linha de execução"};
  ahead = Ahead{connection, false, false, nullptr, numberedPlaceholders(text), values};
  const std::vector<const char*> parameters = parametersOf(ahead.values);
  const auto& prepared = preparedTexts[connection];
  // queued only: it leaves with the next statement's sync point
  auto it = prepared.find(ahead.numbered);
  if (it != prepared.end() && !rowByRowLeft.count(connection) && PQenterPipelineMode(connection) == 1) {
    if (PQsendQueryPrepared(connection, it->second.c_str(), int(parameters.size()), parameters.data(), nullptr, nullptr,
                            0) == 1) {
      ahead.inPipeline = true;
      return PostgresReadAhead(db, connection);
    }
    PQexitPipelineMode(connection);
  }
  ahead.result = runAlone(connection, ahead.numbered, parameters, Reuse::Kept);  // prepared for the next time
  return PostgresReadAhead(db, connection);
}

PostgresReadAhead::PostgresReadAhead(PostgresReadAhead&& other) noexcept
    : db_(std::move(other.db_)), connection_(std::exchange(other.connection_, nullptr)) {}

PostgresReadAhead::~PostgresReadAhead() {
  if (connection_) [[maybe_unused]]
    auto dropped = take();
}

Result<std::unique_ptr<PostgresRows>> PostgresReadAhead::take() {
  if (!connection_ || ahead.connection != connection_)
    return Error{ErrorKind::Internal, "a leitura enviada à frente já foi lida"};
  if (ahead.inPipeline) {
    ahead.inPipeline = false;
    ahead.result = syncAndRead(connection_, 1).front();
    if (isUnknownStatement(ahead.result)) runAheadAgainAlone(connection_);
  }
  if (ahead.runAlone) ahead.result = runAlone(connection_, ahead.numbered, parametersOf(ahead.values), Reuse::Kept);
  PGresult* result = std::exchange(ahead.result, nullptr);
  ahead = Ahead{};
  return PostgresRows::of(db_, std::exchange(connection_, nullptr), result);
}

}  // namespace qfx::server::sql
