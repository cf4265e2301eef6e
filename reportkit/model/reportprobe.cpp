#include "reportprobe.h"

#include <QDate>
#include <QRegularExpression>
#include <algorithm>

#include <hostkit/core/query.h>

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

bool readsAsDay(const QString& text) {
  static const QRegularExpression day(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}([ T]\\d{2}:\\d{2}(:\\d{2}(\\.\\d+)?)?)?$"));
  return day.match(text.trimmed()).hasMatch() && QDate::fromString(text.trimmed().left(10), Qt::ISODate).isValid();
}

}  // namespace

ReportColumn::Type fieldKind(const QString& field, FieldType type, const QStringList& sample) {
  switch (type) {
    case FieldType::Float:
    case FieldType::Integer:
      return ReportColumn::Type::Number;
    case FieldType::DateTime:
      return ReportColumn::Type::Date;
    default:
      break;
  }
  QStringList values = sample;
  values.removeIf([](const QString& v) { return v.trimmed().isEmpty(); });
  if (!values.isEmpty())
    return std::all_of(values.begin(), values.end(), readsAsDay) ? ReportColumn::Type::Date : ReportColumn::Type::Text;
  const QString name = field.toUpper();
  if (name.startsWith(QLatin1String("DT"))) return ReportColumn::Type::Date;
  if (name.startsWith(QLatin1String("QT")) || name.startsWith(QLatin1String("VR"))) return ReportColumn::Type::Number;
  return ReportColumn::Type::Text;
}

ReportColumn suggestedColumn(const ReportProbe& probe, int index) {
  ReportColumn column;
  column.field = probe.fields.value(index).toUpper();
  column.title = probe.fields.value(index);
  column.type = probe.kinds.value(index, ReportColumn::Type::Text);
  if (column.type == ReportColumn::Type::Number) {
    column.alignment = Qt::AlignRight;
    if (column.field.startsWith(QLatin1String("QT")))
      column.format = QStringLiteral("#,##0.000");
    else if (column.field.startsWith(QLatin1String("VR")))
      column.format = QStringLiteral("#,##0.00");
  }
  return column;
}

ReportProbe probeReportQuery(const ReportTemplate& report, const QString& connection, int maxRows) {
  ReportProbe probe;
  if (const Status readOnly = checkReportQuery(report); !readOnly.ok()) {
    probe.error = readOnly.error();
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
  if (const Status opened = query.tryOpen(); !opened.ok()) {
    probe.error = QStringLiteral("A consulta não pôde ser executada: %1").arg(databaseWords(opened.error()));
    return probe;
  }
  for (int i = 0; i < query.FieldCount(); ++i) probe.fields << query.Fields(i)->FieldName();
  probe.rowCount = query.RecordCount();
  for (int row = 0; row < std::min(maxRows, probe.rowCount); ++row) probe.rows << rowText(query, row);
  for (int i = 0; i < query.FieldCount(); ++i) {
    QStringList sample;
    for (const QStringList& row : probe.rows) sample << row.value(i);
    probe.kinds << fieldKind(probe.fields[i], query.Fields(i)->DataType(), sample);
  }
  return probe;
}

}  // namespace reportkit
