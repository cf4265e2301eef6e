#include "db/sqlite_rows.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "db/sql.h"
#include "db/sqlite_functions.h"

namespace qfx::server::sql {

namespace {

// The same error value the Qt path gives: the code decides busy versus
// internal, the message is the library's own.
Error errorOf(sqlite3* handle, int code, const char* what) {
  const QSqlError error(QString(), QString::fromUtf8(sqlite3_errmsg(handle)), QSqlError::StatementError,
                        QString::number(code));
  return toError(error, QString::fromUtf8(what));
}

// The statements kept per connection of this thread (connections are per
// thread), by their text. One in use is never handed out twice: a second
// run of the same text meanwhile prepares its own.
struct KeptStatement {
  sqlite3_stmt* statement = nullptr;
  bool inUse = false;
};

constexpr size_t kMaxKeptPerConnection = 32;  // the fixed texts are few; a stray caller must not grow it

struct KeptStatements {
  std::unordered_map<sqlite3*, std::unordered_map<std::string, KeptStatement>> byConnection;
  ~KeptStatements();
};

// Set once this thread's store is gone: a connection closed later in the
// thread's teardown finds nothing to drop (its statements went already).
thread_local bool keptStatementsGone = false;
thread_local KeptStatements keptStatements;

KeptStatements::~KeptStatements() {
  for (auto& [handle, statements] : byConnection)
    for (auto& [text, kept] : statements)
      if (!kept.inUse) sqlite3_finalize(kept.statement);
  byConnection.clear();
  keptStatementsGone = true;
}

KeptStatement* keptFor(sqlite3* handle, const std::string& text) {
  if (keptStatementsGone) return nullptr;
  auto& statements = keptStatements.byConnection[handle];
  if (auto it = statements.find(text); it != statements.end()) return &it->second;
  if (statements.size() >= kMaxKeptPerConnection) return nullptr;
  return &statements[text];
}

}  // namespace

void dropKeptStatements(QSqlDatabase& db) {
  if (keptStatementsGone || !isSqlite(db)) return;
  auto handle = rawHandle(db);
  if (!handle) return;
  auto it = keptStatements.byConnection.find(*handle);
  if (it == keptStatements.byConnection.end()) return;
  // one still in use is finalized by its rows when they end (not found here any more)
  for (auto& [text, kept] : it->second)
    if (!kept.inUse) sqlite3_finalize(kept.statement);
  keptStatements.byConnection.erase(it);
}

bool isSqlite(const QSqlDatabase& db) { return db.driverName() == QLatin1String("QSQLITE"); }

Result<ChangeStamp> changeStamp(QSqlDatabase& db) {
  auto handle = rawHandle(db);
  if (!handle) return handle.error();
  // the pragma opens a read of its own, so it sees the latest commit
  auto version = SqliteRows::run(db, "PRAGMA data_version", {}, Reuse::Kept);
  if (!version) return version.error();
  auto read = version->next();
  if (!read) return read.error();
  if (!*read) return internalError("PRAGMA data_version sem resposta");
  return ChangeStamp{int64_t(version->number(0)), sqlite3_total_changes64(*handle)};
}

Result<SqliteRows> SqliteRows::run(QSqlDatabase& db, const std::string& text,
                                   const std::vector<std::optional<std::string>>& values, Reuse reuse) {
  auto handle = rawHandle(db);
  if (!handle) return handle.error();
  KeptStatement* kept = reuse == Reuse::Kept ? keptFor(*handle, text) : nullptr;
  if (kept && kept->inUse) kept = nullptr;
  sqlite3_stmt* statement = kept ? kept->statement : nullptr;
  if (!statement) {
    int code = sqlite3_prepare_v3(*handle, text.c_str(), int(text.size()), kept ? SQLITE_PREPARE_PERSISTENT : 0,
                                  &statement, nullptr);
    if (code != SQLITE_OK) {
      sqlite3_finalize(statement);
      return errorOf(*handle, code, "erro ao preparar comando SQL");
    }
    if (kept) kept->statement = statement;
  }
  SqliteRows rows(statement);
  if (kept) {
    kept->inUse = true;
    rows.kept_ = true;
  }
  int code = SQLITE_OK;
  const int columns = sqlite3_column_count(statement);
  rows.types_.assign(size_t(columns), SQLITE_NULL);
  rows.scratch_.resize(size_t(columns));
  for (size_t i = 0; i < values.size(); ++i) {
    code = values[i]
               ? sqlite3_bind_text(statement, int(i + 1), values[i]->data(), int(values[i]->size()), SQLITE_TRANSIENT)
               : sqlite3_bind_null(statement, int(i + 1));
    if (code != SQLITE_OK) return errorOf(*handle, code, "erro ao executar comando SQL");
  }
  return rows;
}

SqliteRows::SqliteRows(SqliteRows&& other) noexcept
    : statement_(other.statement_),
      kept_(other.kept_),
      types_(std::move(other.types_)),
      scratch_(std::move(other.scratch_)) {
  other.statement_ = nullptr;
}

SqliteRows& SqliteRows::operator=(SqliteRows&& other) noexcept {
  if (this != &other) {
    release();
    statement_ = other.statement_;
    kept_ = other.kept_;
    types_ = std::move(other.types_);
    scratch_ = std::move(other.scratch_);
    other.statement_ = nullptr;
  }
  return *this;
}

SqliteRows::~SqliteRows() { release(); }

void SqliteRows::release() {
  if (!statement_) return;
  sqlite3_stmt* statement = std::exchange(statement_, nullptr);
  if (kept_ && !keptStatementsGone) {
    auto connection = keptStatements.byConnection.find(sqlite3_db_handle(statement));
    if (connection != keptStatements.byConnection.end()) {
      for (auto& [text, kept] : connection->second) {
        if (kept.statement != statement) continue;
        // ends the statement's read snapshot; the next call binds afresh
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        kept.inUse = false;
        return;
      }
    }
  }
  sqlite3_finalize(statement);
}

Result<bool> SqliteRows::next() {
  const int code = sqlite3_step(statement_);
  if (code == SQLITE_ROW) {
    // Reading a number as text converts the cell, after which its type is
    // no longer meaningful: take every type first.
    for (size_t i = 0; i < types_.size(); ++i) types_[i] = sqlite3_column_type(statement_, int(i));
    return true;
  }
  if (code == SQLITE_DONE) return false;
  return errorOf(sqlite3_db_handle(statement_), code, "erro ao ler as linhas da consulta");
}

bool SqliteRows::isNull(int column) const { return types_[size_t(column)] == SQLITE_NULL; }

std::string_view SqliteRows::text(int column) const {
  switch (types_[size_t(column)]) {
    case SQLITE_NULL:
      return {};
    case SQLITE_FLOAT:
      // SQLite writes reals with 15 digits ("100.0"); Qt writes the shortest
      // form that reads back the same ("100"): keep Qt's.
      scratch_[size_t(column)] = QVariant(sqlite3_column_double(statement_, column)).toString().toStdString();
      return scratch_[size_t(column)];
    default: {
      const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
      const int size = sqlite3_column_bytes(statement_, column);
      return data ? std::string_view(data, size_t(size)) : std::string_view();
    }
  }
}

double SqliteRows::number(int column) const {
  switch (types_[size_t(column)]) {
    case SQLITE_INTEGER:
      return double(sqlite3_column_int64(statement_, column));
    case SQLITE_FLOAT:
      return sqlite3_column_double(statement_, column);
    case SQLITE_NULL:
      return 0.0;
    default: {
      // a number stored as text reads as Qt reads it (0 unless all of it is a number)
      const std::string_view t = text(column);
      return QVariant(QString::fromUtf8(t.data(), qsizetype(t.size()))).toDouble();
    }
  }
}

QVariant SqliteRows::value(int column) const {
  switch (types_[size_t(column)]) {
    case SQLITE_INTEGER:
      return QVariant(qlonglong(sqlite3_column_int64(statement_, column)));
    case SQLITE_FLOAT:
      return QVariant(sqlite3_column_double(statement_, column));
    case SQLITE_NULL:
      return QVariant(QMetaType::fromType<QString>());
    case SQLITE_BLOB: {
      const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
      return QVariant(QByteArray(data, sqlite3_column_bytes(statement_, column)));
    }
    default: {
      const std::string_view t = text(column);
      return QVariant(QString::fromUtf8(t.data(), qsizetype(t.size())));
    }
  }
}

int64_t SqliteRows::changes() const { return sqlite3_changes64(sqlite3_db_handle(statement_)); }

}  // namespace qfx::server::sql
