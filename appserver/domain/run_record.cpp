#include "domain/run_record.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlQuery>

#include "common/wire_date.h"
#include "db/sql.h"
#include <proto/contract.h>

namespace qfx::server::posting {

namespace {

// The error list's rows as JSON, each row its cells in the packet's field
// order: a text, a number or null.
QString rowsAsJson(const packet::Packet& p) {
  QJsonArray rows;
  for (size_t r = 0; r < p.rowCount(); ++r) {
    QJsonArray cells;
    for (const packet::Column& column : p.columns) {
      if (column.isNull(r))
        cells.append(QJsonValue::Null);
      else if (column.type() == packet::FieldType::Text)
        cells.append(QString::fromUtf8(column.text(r).data(), qsizetype(column.text(r).size())));
      else if (column.type() == packet::FieldType::Integer)
        cells.append(double(column.integer(r)));
      else
        cells.append(column.number(r));
    }
    rows.append(cells);
  }
  return QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Compact));
}

Status rowsFromJson(const QString& json, packet::Packet& p) {
  const QJsonDocument document = QJsonDocument::fromJson(json.toUtf8());
  if (!document.isArray()) return internalError("lista de erros guardada da consolidação ilegível");
  for (const QJsonValue row : document.array()) {
    const QJsonArray cells = row.toArray();
    if (size_t(cells.size()) != p.columns.size())
      return internalError("lista de erros guardada da consolidação com colunas a mais ou a menos");
    for (size_t c = 0; c < p.columns.size(); ++c) {
      packet::Column& column = p.columns[c];
      const QJsonValue cell = cells[qsizetype(c)];
      if (cell.isNull())
        column.appendNull();
      else if (column.type() == packet::FieldType::Text)
        column.appendText(cell.toString().toStdString());
      else if (column.type() == packet::FieldType::Integer)
        column.appendInteger(int64_t(cell.toDouble()));
      else
        column.appendNumber(cell.toDouble());
    }
  }
  return success();
}

QString recordText(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

}  // namespace

Status checkRunId(const QString& runId) {
  const bool printable =
      std::all_of(runId.begin(), runId.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
  if (!printable || size_t(runId.size()) > contract::kRunIdMaxLength)
    return invalidArgument("identificador de execução da consolidação inválido (até " +
                           std::to_string(contract::kRunIdMaxLength) + " caracteres ASCII visíveis)");
  return success();
}

Result<std::optional<Outcome>> storedOutcome(QSqlDatabase& db, const Request& request) {
  auto q = sql::run(db,
                    QStringLiteral("SELECT CDOPERADOR, CDFILIAL, NRLANCESTQ, CDMENSAGEM, DSDETALHES, DSERROS FROM "
                                   "EXECCONSOLIDA WHERE IDEXECUCAO = ?"),
                    {request.runId});
  if (!q) return q.error();
  if (!q->next()) return std::optional<Outcome>();
  if (recordText(q->value(0)) != request.operatorCode || recordText(q->value(1)) != request.branch)
    return invalidArgument("o identificador de execução " + request.runId.toStdString() +
                           " já pertence a outra consolidação");
  Outcome outcome;
  outcome.errors = emptyErrorList();
  outcome.blocked = emptyBlockedList();  // a run that posted had none
  outcome.lastPosting = q->value(2).toLongLong();
  outcome.firstPosting = outcome.lastPosting;
  outcome.replayed = true;
  outcome.messageKey = recordText(q->value(3));
  outcome.details = recordText(q->value(4));
  if (auto read = rowsFromJson(recordText(q->value(5)), outcome.errors); !read) return read.error();
  return std::optional<Outcome>(std::move(outcome));
}

Status storeOutcome(QSqlDatabase& db, const Request& request, const Outcome& outcome) {
  auto q = sql::run(db,
                    QStringLiteral("INSERT INTO EXECCONSOLIDA (IDEXECUCAO, CDOPERADOR, CDFILIAL, NRLANCESTQ, "
                                   "CDMENSAGEM, DSDETALHES, DSERROS, DTINCLUSAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?) "
                                   "ON CONFLICT (IDEXECUCAO) DO NOTHING"),
                    {request.runId, request.operatorCode, request.branch, qint64(outcome.lastPosting),
                     sql::textOrNull(outcome.messageKey), sql::textOrNull(outcome.details), rowsAsJson(outcome.errors),
                     wiredate::momentText(QDateTime::currentDateTime())});
  if (!q) return q.error();
  if (q->numRowsAffected() != 1)
    return Error{ErrorKind::Conflict, "outra chamada da mesma execução de consolidação terminou antes"};
  return success();
}

}  // namespace qfx::server::posting
