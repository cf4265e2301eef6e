// A report's parameters into SQL values and words, its page header, and the
// document of a prepared report (the query itself: reportfill.cpp).
#include "reportengine.h"
#include "readonlysql.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/routines.h>

namespace reportkit {

using namespace hostkit;

namespace {

QString dayText(const QDateTime& moment) { return moment.date().toString(QStringLiteral("yyyy-MM-dd")); }

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

ReportParams reportParamsOf(const ReportTemplate& report, const QString& connection) {
  ReportParams params;
  for (const QString& name : report.paramNames(TADOIBQuery::kindOf(QSqlDatabase::database(connection, false))))
    params.add(name);
  return params;
}

QStringList describeParameters(const ReportTemplate& report, const ReportParams& params,
                               const ParameterNameLookup& nameOf) {
  QStringList phrases;
  for (const ReportParamText& words : report.parameters) {
    const ReportParam* param = params.find(words.name);
    if (!param) continue;  // the query has no such parameter
    QString value = valueWords(*param, words);
    if (!value.isEmpty() && nameOf && !words.nameQuery.trimmed().isEmpty())
      if (const QString name = nameOf(words, params); !name.isEmpty()) value += QStringLiteral(" - ") + name;
    if (value.isEmpty()) value = words.emptyText;
    if (value.isEmpty()) continue;
    phrases << (words.label.isEmpty() ? value : words.label + QStringLiteral(": ") + value);
  }
  return phrases;
}

Result<QStringList> reportQueryFields(const ReportTemplate& report, const QString& connection) {
  using Fields = Result<QStringList>;
  if (const Status readOnly = checkReportQuery(report); !readOnly.ok()) return Fields::failure(readOnly.error());
  TADOIBQuery query(nullptr, QStringLiteral("qryCampos"));
  query.setDatabase(connection);
  query.SetReadOnlyTransaction(true);
  for (DatabaseKind kind : databaseKinds())
    if (!report.queries.value(kind).trimmed().isEmpty()) query.setText(kind, {report.queries.value(kind)});
  if (const Status opened = query.tryOpen(); !opened.ok()) return Fields::failure(opened.error());
  QStringList fields;
  for (int i = 0; i < query.FieldCount(); ++i) fields << query.Fields(i)->FieldName();
  return fields;
}

Status checkQueryFields(const ReportTemplate& report, const QString& connection) {
  if (Status readOnly = checkReportQuery(report); !readOnly.ok()) return readOnly;
  const QSqlDatabase db = QSqlDatabase::database(connection, false);
  if (!db.isValid() || !db.isOpen()) return success();
  const Result<QStringList> fields = reportQueryFields(report, connection);
  if (!fields.ok())
    return Status::failure(QStringLiteral("A consulta do relatório não pôde ser executada: %1").arg(fields.error()));
  if (const Status returned = checkFieldsReturned(report, *fields); !returned.ok())
    return Status::failure(QStringLiteral("A definição do relatório não pode ser gravada: %1.").arg(returned.error()));
  return success();
}

QString lookUpParameterName(const ReportParamText& words, const ReportParams& params, const QString& connection) {
  if (!checkReadOnlySql(words.nameQuery).ok()) return {};  // refused at load; never run
  TADOIBQuery query(nullptr, QStringLiteral("qryNomeParametro"));
  query.setDatabase(connection);
  query.SetReadOnlyTransaction(true);
  query.SetSQL({words.nameQuery});
  for (const QString& name : toPositional(words.nameQuery).names)
    if (const ReportParam* p = params.find(name)) query.ParamByName(name).Value = reportSqlValue(*p);
  // the header goes with the code alone rather than the report failing
  if (!query.tryOpen().ok() || query.IsEmpty()) return {};
  return query.Fields(0)->AsString().trimmed();
}

QString companyNameOf(const QString& branch, const QString& connection) {
  if (branch.isEmpty()) return {};
  TADOIBQuery query(nullptr, QStringLiteral("qryEmpresa"));
  query.setDatabase(connection);
  query.SetSQL(
      {QStringLiteral("SELECT E.NMEMPRESA FROM FILIAL F JOIN EMPRESA E ON E.CDEMPRESA = F.CDEMPRESA "
                      "WHERE F.CDFILIAL = :P_CDFILIAL")});
  query.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(branch);
  // The header goes without the company rather than the report failing.
  if (!query.tryOpen().ok() || query.IsEmpty()) return {};
  return query.Fields(0)->AsString();
}

ReportHeader reportHeaderOf(const ReportTemplate& report, const ReportParams& params, const ReportContext& context) {
  ReportHeader header;
  header.company = companyNameOf(context.branch, context.connection);
  header.operatorName = context.operatorName;
  header.screenCode = context.screenCode;
  header.reportCode = context.reportCode;
  header.parameters =
      describeParameters(report, params, [&context](const ReportParamText& words, const ReportParams& values) {
        return lookUpParameterName(words, values, context.connection);
      });
  header.printedAt = QDateTime::currentDateTime();
  return header;
}

ReportDocument buildReportDocument(const ReportTemplate& report, const ReportParams& params,
                                   const ReportContext& context) {
  const ReportDocument document =
      ReportDocument::beingFilled(report, reportHeaderOf(report, params, context), columnMasks(report));
  QueryOptions options;
  options.connection = context.connection;
  fillReportDocument(document, report, params, options);
  if (auto error = document.fillError()) throw EDatabaseError(*error);
  return document;
}

}  // namespace reportkit
