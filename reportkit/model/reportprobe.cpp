#include "reportprobe.h"

#include <algorithm>

#include "query.h"

namespace reportkit {

using namespace hostkit;

namespace {

const QLatin1String kQueryName("qryTeste");

// The database's words, without the name of the query object they start with.
QString databaseWords(const QString& error) {
  const QString prefix = kQueryName + QLatin1String(": ");
  return error.startsWith(prefix) ? error.mid(prefix.size()) : error;
}

QStringList rowText(const TADOIBQuery& query, int row) {
  QStringList cells;
  cells.reserve(query.FieldCount());
  for (int i = 0; i < query.FieldCount(); ++i) cells << query.Fields(i)->textAt(row);
  return cells;
}

}  // namespace

ReportProbe probeReportQuery(const ReportTemplate& report, const QString& connection, int maxRows) {
  ReportProbe probe;
  if (auto refused = reportQueryProblem(report)) {
    probe.error = *refused;
    return probe;
  }
  const QSqlDatabase db = QSqlDatabase::database(connection, false);
  if (!db.isValid() || !db.isOpen()) {
    probe.error = QStringLiteral("Nenhum banco de dados conectado: a consulta não pode ser testada.");
    return probe;
  }
  TADOIBQuery query(nullptr, kQueryName);
  query.setDatabase(connection);
  query.SetReadOnlyTransaction(true);
  for (auto it = report.queries.begin(); it != report.queries.end(); ++it)
    if (!it.value().trimmed().isEmpty()) query.setText(it.key(), {it.value()});
  if (auto error = query.tryOpen()) {
    probe.error = QStringLiteral("A consulta não pôde ser executada: %1").arg(databaseWords(*error));
    return probe;
  }
  for (int i = 0; i < query.FieldCount(); ++i) probe.fields << query.Fields(i)->FieldName();
  probe.rowCount = query.RecordCount();
  for (int row = 0; row < std::min(maxRows, probe.rowCount); ++row) probe.rows << rowText(query, row);
  return probe;
}

}  // namespace reportkit
