#include "db/sqlite_rows.h"

#include <sqlite3.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <cstring>

#include "db/sql.h"

namespace qfx::server::sql {

namespace {

Result<sqlite3*> handleOf(QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0)
    return internalError("a conexão SQLite não expõe o handle sqlite3");
  sqlite3* raw = *static_cast<sqlite3* const*>(handle.constData());
  if (!raw) return internalError("conexão SQLite fechada");
  return raw;
}

// The same error value the Qt path gives: the code decides busy versus
// internal, the message is the library's own.
Error errorOf(sqlite3* handle, int code, const char* what) {
  const QSqlError error(QString(), QString::fromUtf8(sqlite3_errmsg(handle)), QSqlError::StatementError,
                        QString::number(code));
  return toError(error, QString::fromUtf8(what));
}

}  // namespace

bool isSqlite(const QSqlDatabase& db) { return db.driverName() == QLatin1String("QSQLITE"); }

Result<SqliteRows> SqliteRows::run(QSqlDatabase& db, const std::string& text,
                                   const std::vector<std::optional<std::string>>& values) {
  auto handle = handleOf(db);
  if (!handle) return handle.error();
  sqlite3_stmt* statement = nullptr;
  int code = sqlite3_prepare_v2(*handle, text.c_str(), int(text.size()), &statement, nullptr);
  if (code != SQLITE_OK) {
    sqlite3_finalize(statement);
    return errorOf(*handle, code, "erro ao preparar comando SQL");
  }
  SqliteRows rows(statement);
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
    : statement_(other.statement_), types_(std::move(other.types_)), scratch_(std::move(other.scratch_)) {
  other.statement_ = nullptr;
}

SqliteRows& SqliteRows::operator=(SqliteRows&& other) noexcept {
  if (this != &other) {
    sqlite3_finalize(statement_);
    statement_ = other.statement_;
    types_ = std::move(other.types_);
    scratch_ = std::move(other.scratch_);
    other.statement_ = nullptr;
  }
  return *this;
}

SqliteRows::~SqliteRows() { sqlite3_finalize(statement_); }

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

}  // namespace qfx::server::sql
