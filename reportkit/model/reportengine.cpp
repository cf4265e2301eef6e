// Running a report's query and turning its rows and parameters into text.
#include <QRegularExpression>

#include "abort.h"
#include "hostservices.h"
#include "reportengine.h"
#include "routines.h"

namespace hostkit {

namespace {

const QList<DatabaseKind> kKinds = {DatabaseKind::Generic, DatabaseKind::Oracle, DatabaseKind::SQLServer,
                                    DatabaseKind::InterBase};

QString dayText(const QDateTime& moment) { return moment.date().toString(QStringLiteral("yyyy-MM-dd")); }

DatabaseKind connectedKind() {
  const QSqlDatabase db = hostDatabase();
  return db.isValid() ? TADOIBQuery::kindOf(db) : DatabaseKind::Generic;
}

// A number from whatever the driver returned (SQLite may give text for
// computed columns); text is read with the SQL decimal point.
double numberOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QString) return value.toString().trimmed().toDouble();
  return value.toDouble();
}

// A moment from a date column: QDate/QDateTime (PostgreSQL), days as a
// number (the dataset's date-time fields) or ISO text (SQLite).
QDateTime momentOf(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QDate:
      return QDateTime(value.toDate(), QTime(0, 0));
    case QMetaType::QDateTime:
      return value.toDateTime();
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong:
      return fromDateTime(value.toDouble());
    default:
      break;
  }
  const QString text = value.toString().trimmed();
  QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
  if (!moment.isValid()) moment = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (!moment.isValid()) moment = QDateTime(QDate::fromString(text.left(10), Qt::ISODate), QTime(0, 0));
  return moment;
}

QString numberText(const ReportColumn& column, double value) {
  if (!column.format.isEmpty()) return FormatFloat(column.format, value);
  return productLocale().toString(value, 'g', 15);
}

// A text column's edit mask: written out, or "DBPict(n)" for the host's
// picture n (product-tree codes read as the grids show them).
QString maskOf(const QString& format) {
  static const QRegularExpression picture(QStringLiteral("^DBPict\\((\\d+)\\)$"));
  const auto match = picture.match(format.trimmed());
  if (!match.hasMatch()) return format;
  return hasHostServices() ? DBPict(match.captured(1).toInt()) : QString();
}

QString cellText(const TField& field, int row, const ReportColumn& column) {
  if (field.isNullAt(row)) return {};
  const QVariant value = field.valueAt(row);
  switch (column.type) {
    case ReportColumn::Type::Number:
      return numberText(column, numberOf(value));
    case ReportColumn::Type::Date: {
      const QDateTime moment = momentOf(value);
      if (!moment.isValid()) return field.textAt(row);
      // month and weekday names in Portuguese too ("MMMM", "dddd")
      if (!column.format.isEmpty()) return productLocale().toString(moment, column.format);
      return moment.time() == QTime(0, 0) ? moment.toString(QStringLiteral("dd/MM/yyyy"))
                                          : moment.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
    }
    case ReportColumn::Type::Text:
      break;
  }
  const QString mask = column.format.isEmpty() ? QString() : maskOf(column.format);
  return mask.isEmpty() ? field.textAt(row) : FormatMaskText(mask, field.textAt(row));
}

// "_0001__0002_" (the list picker's text) as "0001, 0002".
std::optional<QString> listWords(const QString& text) {
  if (text.size() < 3 || !text.startsWith(u'_') || !text.endsWith(u'_')) return std::nullopt;
  return text.mid(1, text.size() - 2).split(QStringLiteral("__")).join(QStringLiteral(", "));
}

QString valueWords(const ReportParam& param, const ReportParamText& words) {
  if (param.IsNull()) return {};
  switch (param.type) {
    case ReportParam::Type::Date:
      return DateToStr(param.value.toDouble());
    case ReportParam::Type::DateTime:
      return DateTimeToStr(param.value.toDouble());
    case ReportParam::Type::Boolean:
      return param.value.toBool() ? QStringLiteral("Sim") : QStringLiteral("Não");
    case ReportParam::Type::Float:
      return productLocale().toString(param.value.toDouble(), 'g', 15);
    case ReportParam::Type::Integer:
      return QString::number(param.value.toLongLong());
    case ReportParam::Type::Text:
      break;
  }
  const QString text = param.value.toString();
  if (words.values.contains(text)) return words.values.value(text);
  return listWords(text).value_or(text.trimmed());
}

}  // namespace

QVariant reportSqlValue(const ReportParam& param) {
  if (param.IsNull()) return {};
  switch (param.type) {
    case ReportParam::Type::Date:
      return dayText(fromDateTime(param.value.toDouble()));
    case ReportParam::Type::DateTime: {
      const QDateTime moment = fromDateTime(param.value.toDouble());
      if (moment.time() == QTime(0, 0)) return dayText(moment);
      return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    case ReportParam::Type::Text: {
      // Empty text is the empty string, not NULL (Qt binds a null QString as NULL).
      const QString text = param.value.toString();
      return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
    }
    default:
      return param.value;
  }
}

ReportParams reportParamsOf(const ReportTemplate& report) {
  ReportParams params;
  for (const QString& name : report.paramNames(connectedKind())) params.add(name);
  return params;
}

ReportTable runReportQuery(const ReportTemplate& report, const ReportParams& params) {
  // a report only reads: refused with its name here, and run read-only anyway
  if (auto refused = reportQueryProblem(report)) throw EDatabaseError(*refused);
  TADOIBQuery query(nullptr, QStringLiteral("rpddPadrao"));
  query.SetReadOnlyTransaction(true);
  for (DatabaseKind kind : kKinds)
    if (!report.queries.value(kind).trimmed().isEmpty()) query.setText(kind, {report.queries.value(kind)});
  for (DatabaseKind kind : kKinds)
    for (const QString& name : report.paramNames(kind))
      if (const ReportParam* p = params.find(name)) query.ParamByName(name).Value = reportSqlValue(*p);
  if (auto error = query.tryOpen())
    throw EDatabaseError(QStringLiteral("Erro ao executar a consulta do relatório '%1': %2").arg(report.title, *error));

  ReportTable table;
  table.columns = report.columns;
  QList<const TField*> fields;
  for (const ReportColumn& column : report.columns) {
    const TField* field = query.FindField(column.field);
    if (!field)
      throw EDatabaseError(QStringLiteral("A coluna '%1' do relatório '%2' não está no resultado da consulta.")
                               .arg(column.field, report.title));
    fields << field;
  }
  QList<double> sums(report.columns.size(), 0.0);
  for (int row = 0; row < query.RecordCount(); ++row) {
    QStringList cells;
    for (qsizetype c = 0; c < fields.size(); ++c) {
      cells << cellText(*fields[c], row, report.columns[c]);
      if (report.columns[c].total && !fields[c]->isNullAt(row)) sums[c] += numberOf(fields[c]->valueAt(row));
    }
    table.rows << cells;
  }
  for (qsizetype c = 0; c < report.columns.size(); ++c) {
    const ReportColumn& column = report.columns[c];
    table.hasTotals = table.hasTotals || column.total;
    table.totals << (column.total ? numberText(column, sums[c]) : QString());
  }
  return table;
}

QStringList describeParameters(const ReportTemplate& report, const ReportParams& params) {
  QStringList phrases;
  for (const ReportParamText& words : report.parameters) {
    const ReportParam* param = params.find(words.name);
    if (!param) continue;  // the query has no such parameter
    QString value = valueWords(*param, words);
    if (value.isEmpty()) value = words.emptyText;
    if (value.isEmpty()) continue;
    phrases << (words.label.isEmpty() ? value : words.label + QStringLiteral(": ") + value);
  }
  return phrases;
}

QString companyNameOf(const QString& branch) {
  if (branch.isEmpty()) return {};
  TADOIBQuery query(nullptr, QStringLiteral("qryEmpresa"));
  query.SetSQL(
      {QStringLiteral("SELECT E.NMEMPRESA FROM FILIAL F JOIN EMPRESA E ON E.CDEMPRESA = F.CDEMPRESA "
                      "WHERE F.CDFILIAL = :P_CDFILIAL")});
  query.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(branch);
  // The header goes without the company rather than the report failing.
  if (query.tryOpen() || query.IsEmpty()) return {};
  return query.Fields(0)->AsString();
}

ReportDocument buildReportDocument(const ReportTemplate& report, const ReportParams& params) {
  ReportHeader header;
  header.company = companyNameOf(hasHostServices() ? FiliProc() : QString());
  header.parameters = describeParameters(report, params);
  header.printedAt = QDateTime::currentDateTime();
  return ReportDocument(report.title, report.orientation, header, runReportQuery(report, params));
}

}  // namespace hostkit
