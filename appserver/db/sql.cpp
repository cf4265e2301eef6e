#include "db/sql.h"

#include <libpq-fe.h>

#include <QMetaType>
#include <QSqlDriver>
#include <algorithm>
#include <cstring>

#include "db/call_limits.h"

namespace qfx::server::sql {

namespace {

// SQLite reports a numeric result code of up to four digits; PostgreSQL a
// five-character SQLSTATE, some of them all digits ("42501", no privilege),
// which must not be read as an SQLite code ("42501" & 0xff is SQLITE_BUSY).
int sqliteCode(const QSqlError& error) {
  const QString text = error.nativeErrorCode();
  if (text.size() == 5) return -1;
  bool ok = false;
  const int code = text.toInt(&ok);
  return ok ? (code & 0xff) : -1;  // primary result code, extended bits dropped
}

bool isPostgresState(const QSqlError& error, std::initializer_list<const char*> states) {
  const QString code = error.nativeErrorCode();
  for (const char* s : states)
    if (code == QLatin1String(s)) return true;
  return false;
}

QString busy() {
  return QStringLiteral("o banco de dados está ocupado com outra gravação; tente de novo em instantes");
}

// What an operator can do about the common database failures, in words; the
// database's own text follows in parentheses.
QString explanationOf(const QSqlError& error) {
  switch (sqliteCode(error)) {
    case 5:
    case 6:
      return busy();
    case 10:
      return QStringLiteral("erro de leitura ou gravação no arquivo do banco de dados");
    case 13:
      return QStringLiteral("o disco do banco de dados está cheio; libere espaço e tente de novo");
  }
  // lock_timeout: the wait for another transaction's lock reached the call's limit
  if (isPostgresState(error, {"55P03"})) return busy();
  if (isPostgresState(error, {"57014"}))
    return QStringLiteral(
        "o comando foi interrompido no banco de dados (chamada cancelada pelo cliente ou tempo "
        "limite do banco esgotado); nada desta operação foi gravado");
  if (isPostgresState(error, {"53100"}))
    return QStringLiteral("o disco do banco de dados está cheio; libere espaço e tente de novo");
  if (isConnectionLost(error)) return QStringLiteral("a conexão com o banco de dados foi perdida; tente de novo");
  return {};
}

}  // namespace

Error toError(const QSqlError& error, const QString& what) {
  ErrorKind kind = ErrorKind::Internal;
  if (isRetryable(error) || isConnectionLost(error) || isGiveUp(error)) kind = ErrorKind::Unavailable;
  if (isUniqueViolation(error)) kind = ErrorKind::Conflict;
  QString detail = error.databaseText().trimmed();
  if (detail.isEmpty()) detail = error.text().trimmed();
  const QString explanation = explanationOf(error);
  if (!explanation.isEmpty()) detail = explanation + QStringLiteral(" (") + detail + QLatin1Char(')');
  return Error{kind, (what + QStringLiteral(": ") + detail).toStdString()};
}

pg_conn* postgresConnection(const QSqlDriver* driver) {
  if (!driver) return nullptr;
  const QVariant handle = driver->handle();
  // Qt names the type after libpq's struct tag
  if (!handle.isValid() ||
      (std::strcmp(handle.typeName(), "pg_conn*") != 0 && std::strcmp(handle.typeName(), "PGconn*") != 0))
    return nullptr;
  return *static_cast<PGconn* const*>(handle.constData());
}

Error toError(const QSqlDriver* driver, const QSqlError& error, const QString& what) {
  Error e = toError(error, what);
  if (e.kind != ErrorKind::Internal || !driver || driver->dbmsType() != QSqlDriver::PostgreSQL) return e;
  // after a fatal error the driver closes the connection; before, libpq knows
  PGconn* connection = postgresConnection(driver);
  const bool broken = !driver->isOpen() || !connection || PQstatus(connection) == CONNECTION_BAD;
  if (!broken) return e;
  QString detail = error.text().trimmed();
  if (detail.isEmpty()) detail = QStringLiteral("sessão encerrada pelo servidor");
  return Error{ErrorKind::Unavailable, (what +
                                        QStringLiteral(": a conexão com o banco de dados foi perdida; tente de "
                                                       "novo (") +
                                        detail + QLatin1Char(')'))
                                           .toStdString()};
}

bool isRetryable(const QSqlError& error) {
  const int code = sqliteCode(error);
  if (code == 5 || code == 6) return true;  // SQLITE_BUSY, SQLITE_LOCKED
  return isPostgresState(error, {"40001", "40P01"});
}

// PostgreSQL: the server ended the session (administrator, shutdown, crash)
// or the link broke. libpq reports a broken link without a state, so its
// texts are matched too.
bool isConnectionLost(const QSqlError& error) {
  const QString state = error.nativeErrorCode();
  if (state.startsWith(QLatin1String("08"))) return true;
  if (isPostgresState(error, {"57P01", "57P02", "57P03"})) return true;
  if (!state.isEmpty() || sqliteCode(error) >= 0) return false;
  const QString text = error.databaseText() + QLatin1Char(' ') + error.driverText();
  for (const char* lost : {"server closed the connection", "no connection to the server", "connection to server",
                           "could not receive data from server", "could not send data to server"}) {
    if (text.contains(QLatin1String(lost), Qt::CaseInsensitive)) return true;
  }
  return false;
}

bool isGiveUp(const QSqlError& error) { return isPostgresState(error, {"55P03", "57014"}); }

bool isUniqueViolation(const QSqlError& error) { return sqliteCode(error) == 19 || isPostgresState(error, {"23505"}); }

Result<QSqlQuery> run(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QSqlQuery query(db);
  query.setForwardOnly(true);
  if (!query.prepare(text))
    return toError(query.driver(), query.lastError(), QStringLiteral("erro ao preparar comando SQL"));
  for (const QVariant& v : values) query.addBindValue(v);
  if (!query.exec()) return toError(query.driver(), query.lastError(), QStringLiteral("erro ao executar comando SQL"));
  return query;
}

Status command(QSqlDatabase& db, const QString& text) {
  QSqlQuery query(db);
  if (!query.exec(text))
    return toError(query.driver(), query.lastError(), QStringLiteral("erro em '") + text + QLatin1Char('\''));
  return success();
}

Status exec(QSqlQuery& query, const QString& what) {
  if (!query.exec()) return toError(query.driver(), query.lastError(), what);
  return success();
}

QVariant nullText() { return QVariant(QMetaType::fromType<QString>()); }

QVariant textOrNull(const QString& text) { return text.isEmpty() ? nullText() : QVariant(text); }

Result<Transaction> Transaction::begin(QSqlDatabase db, Dialect dialect) {
  Transaction t(std::move(db));
  const QString text = dialect == Dialect::SQLite ? QStringLiteral("BEGIN IMMEDIATE") : QStringLiteral("BEGIN");
  if (auto started = command(t.db_, text); !started) return started.error();
  t.open_ = true;
  // PostgreSQL waits for row and table locks without end; inside a call with
  // a deadline the wait ends at the call's stop point with a lock timeout
  // (55P03). Zero would mean "no limit": a call already past it waits 1 ms.
  if (dialect == Dialect::PostgreSQL) {
    if (auto left = CallLimits::current().timeLeft()) {
      const auto ms = std::max<long long>(left->count(), 1);
      if (auto limited = command(t.db_, QStringLiteral("SET LOCAL lock_timeout = %1").arg(ms)); !limited)
        return limited.error();
    }
  }
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
