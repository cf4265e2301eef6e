#include "db/batch_insert.h"

#include <libpq-fe.h>

#include <QDate>
#include <QDateTime>
#include <QLocale>

#include "db/postgres_rows.h"
#include "db/sql.h"

namespace qfx::server::sql {

namespace {

constexpr size_t kCopyBytes = 1u << 20;  // rows sent by one COPY

void appendEscaped(std::string& out, const QByteArray& text) {
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
}

// The text PostgreSQL reads back as the value: numbers as the shortest text
// that gives the same double (what Qt's driver sends in an INSERT), days and
// moments in ISO form, anything else as its text.
QByteArray copyText(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
      return QByteArray::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
    case QMetaType::Bool:
      return value.toBool() ? "true" : "false";
    case QMetaType::QDate:
      return value.toDate().toString(Qt::ISODate).toLatin1();
    case QMetaType::QDateTime:
      return value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toLatin1();
    default:
      return value.toString().toUtf8();
  }
}

}  // namespace

void appendCopyField(std::string& out, const QVariant& value) {
  if (value.isNull()) {
    out += "\\N";
    return;
  }
  if (value.typeId() == QMetaType::QString) {
    // the usual field, a plain ASCII text: straight into the COPY's text
    const QString& text = *static_cast<const QString*>(value.constData());
    const size_t start = out.size();
    for (QChar c : text) {
      const char16_t u = c.unicode();
      if (u >= 0x80 || u == '\\' || u == '\t' || u == '\n' || u == '\r') {
        out.resize(start);
        appendEscaped(out, text.toUtf8());
        return;
      }
      out += char(u);
    }
    return;
  }
  appendEscaped(out, copyText(value));
}

BatchInsert::BatchInsert(QSqlDatabase db, const QString& table, const QStringList& columns, int rowsPerStatement)
    : db_(std::move(db)),
      table_(table),
      columns_(columns),
      rowsPerStatement_(rowsPerStatement),
      copy_(postgresConnection(db_.driver()) != nullptr) {}

QString BatchInsert::statementFor(int rows) const {
  QStringList marks;
  for (int i = 0; i < columns_.size(); ++i) marks << QStringLiteral("?");
  const QString row = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
  QStringList values;
  for (int i = 0; i < rows; ++i) values << row;
  return QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
      .arg(table_, columns_.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
}

Status BatchInsert::add(const QVariantList& row) {
  if (row.size() != columns_.size())
    return internalError("linha com número errado de colunas para " + table_.toStdString());
  if (copy_) {
    for (int i = 0; i < row.size(); ++i) {
      if (i > 0) copyText_ += '\t';
      appendCopyField(copyText_, row[i]);
    }
    copyText_ += '\n';
    ++copyRows_;
    return copyText_.size() >= kCopyBytes ? write(copyRows_) : success();
  }
  pending_ += row;
  if (pending_.size() >= rowsPerStatement_ * columns_.size()) return write(rowsPerStatement_);
  return success();
}

Status BatchInsert::flush() {
  const int rows = copy_ ? copyRows_ : int(pending_.size() / columns_.size());
  if (rows == 0) return success();
  return write(rows);
}

Status BatchInsert::write(int rows) {
  if (beforeWrite_) {
    if (auto ready = beforeWrite_(); !ready) return ready;
  }
  auto written = copy_ ? copyRows() : insertRows(rows);
  if (written) written_ += rows;
  return written;
}

Status BatchInsert::insertRows(int rows) {
  QSqlQuery partial(db_);
  QSqlQuery* query = &partial;
  if (rows == rowsPerStatement_) {
    if (!full_) {
      full_.emplace(db_);
      if (!full_->prepare(statementFor(rows)))
        return toError(full_->lastError(), QStringLiteral("erro ao preparar a carga de ") + table_);
    }
    query = &*full_;
  } else if (!partial.prepare(statementFor(rows))) {
    return toError(partial.lastError(), QStringLiteral("erro ao preparar a carga de ") + table_);
  }
  for (int i = 0; i < pending_.size(); ++i) query->bindValue(i, pending_[i]);
  if (!query->exec()) return toError(query->lastError(), QStringLiteral("erro ao gravar em ") + table_);
  pending_.clear();
  return success();
}

// One COPY: start it, send the rows, end it and read its outcome. A row the
// table refuses fails the whole COPY, and the transaction with it.
Status BatchInsert::copyRows() {
  PGconn* connection = postgresConnection(db_.driver());
  const QString what = QStringLiteral("erro ao gravar em ") + table_;
  if (!connection) return Error{ErrorKind::Unavailable, "a conexão com o banco de dados foi perdida; tente de novo"};
  const QByteArray statement =
      QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table_, columns_.join(QLatin1Char(','))).toUtf8();
  PGresult* started = PQexec(connection, statement.constData());
  const bool copying = PQresultStatus(started) == PGRES_COPY_IN;
  if (!copying) {
    Error error = postgresError(db_.driver(), started, connection, what);
    PQclear(started);
    return error;
  }
  PQclear(started);
  const bool sent = PQputCopyData(connection, copyText_.data(), int(copyText_.size())) == 1;
  const bool ended = PQputCopyEnd(connection, sent ? nullptr : "envio interrompido") == 1;
  Status outcome = success();
  if (!ended) outcome = postgresError(db_.driver(), nullptr, connection, what);
  // the COPY's own result, then nothing: the connection is free again
  while (PGresult* result = PQgetResult(connection)) {
    if (outcome && PQresultStatus(result) != PGRES_COMMAND_OK)
      outcome = postgresError(db_.driver(), result, connection, what);
    PQclear(result);
  }
  copyText_.clear();
  copyRows_ = 0;
  return outcome;
}

}  // namespace qfx::server::sql
