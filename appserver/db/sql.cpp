#include "db/sql.h"

#include <QMetaType>

namespace qfx::server::sql {

namespace {

int sqliteCode(const QSqlError& error) {
  bool ok = false;
  const int code = error.nativeErrorCode().toInt(&ok);
  return ok ? (code & 0xff) : -1;  // primary result code, extended bits dropped
}

bool isPostgresState(const QSqlError& error, std::initializer_list<const char*> states) {
  const QString code = error.nativeErrorCode();
  for (const char* s : states)
    if (code == QLatin1String(s)) return true;
  return false;
}

}  // namespace

Error toError(const QSqlError& error, const QString& what) {
  ErrorKind kind = ErrorKind::Internal;
  if (isRetryable(error)) kind = ErrorKind::Unavailable;
  if (isUniqueViolation(error)) kind = ErrorKind::Conflict;
  QString detail = error.databaseText().trimmed();
  if (detail.isEmpty()) detail = error.text().trimmed();
  return Error{kind, (what + QStringLiteral(": ") + detail).toStdString()};
}

bool isRetryable(const QSqlError& error) {
  const int code = sqliteCode(error);
  if (code == 5 || code == 6) return true;  // SQLITE_BUSY, SQLITE_LOCKED
  return isPostgresState(error, {"40001", "40P01"});
}

bool isUniqueViolation(const QSqlError& error) { return sqliteCode(error) == 19 || isPostgresState(error, {"23505"}); }

Result<QSqlQuery> run(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  if (!query.prepare(text)) return toError(query.lastError(), QStringLiteral("erro ao preparar comando SQL"));
  for (const QVariant& v : values) query.addBindValue(v);
  if (!query.exec()) return toError(query.lastError(), QStringLiteral("erro ao executar comando SQL"));
  return query;
}

Status command(QSqlDatabase& db, const QString& text) {
  QSqlQuery query(db);
  if (!query.exec(text)) return toError(query.lastError(), QStringLiteral("erro em '") + text + QLatin1Char('\''));
  return success();
}

Status exec(QSqlQuery& query, const QString& what) {
  if (!query.exec()) return toError(query.lastError(), what);
  return success();
}

QVariant nullText() { return QVariant(QMetaType::fromType<QString>()); }

QVariant textOrNull(const QString& text) { return text.isEmpty() ? nullText() : QVariant(text); }

Result<Transaction> Transaction::begin(QSqlDatabase db, Dialect dialect) {
  Transaction t(std::move(db));
  const QString text = dialect == Dialect::SQLite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN");
  if (auto started = command(t.db_, text); !started) return started.error();
  t.open_ = true;
  return t;
}

Transaction::Transaction(Transaction&& other) noexcept : db_(other.db_), open_(other.open_) { other.open_ = false; }

Transaction::~Transaction() { rollback(); }

Status Transaction::commit() {
  if (!open_) return internalError("transação já encerrada");
  auto done = command(db_, QStringLiteral("COMMIT"));
  if (!done) {
    rollback();
    return done;
  }
  open_ = false;
  return success();
}

void Transaction::rollback() {
  if (!open_) return;
  open_ = false;
  QSqlQuery query(db_);
  query.exec(QStringLiteral("ROLLBACK"));
}

}  // namespace qfx::server::sql
