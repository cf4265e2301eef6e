// Running a report's query and turning its rows and parameters into text.
#include <QHash>
#include <QRegularExpression>
#include <algorithm>

#include "abort.h"
#include "hostservices.h"
#include "readonlysql.h"
#include "reportengine.h"
#include "routines.h"

namespace reportkit {

using namespace hostkit;

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

QString cellText(const TField& field, int row, const ReportColumn& column, const QString& mask) {
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

ReportParams queryParamsOf(const ReportDefinition& report) { return reportParamsOf(readReportTemplate(report.path)); }

ReportParams reportParamsOf(const ReportTemplate& report) {
  ReportParams params;
  for (const QString& name : report.paramNames(connectedKind())) params.add(name);
  return params;
}

namespace {

// Sums of the totalled columns: one per column, or one per value of the
// field that splits the column's total (the product, the unit of measure).
class ColumnSums {
 public:
  explicit ColumnSums(qsizetype columns) : sums_(columns) {}

  void add(qsizetype column, const QString& split, double value) { sums_[column][split] += value; }
  void clear() {
    for (auto& s : sums_) s.clear();
    count_ = 0;
  }
  void countRow() { ++count_; }
  qint64 count() const { return count_; }

  // The footer's figures. A column whose total is split by a field shows
  // only where the group holds one value of that field (one product's
  // quantity); across several it would add kilograms to units.
  QStringList figures(const QList<ReportColumn>& columns) const {
    QStringList out(columns.size());
    for (qsizetype c = 0; c < columns.size(); ++c)
      if (columns[c].total && sums_[c].size() == 1) out[c] = numberText(columns[c], sums_[c].first());
    return out;
  }

 private:
  QList<QMap<QString, double>> sums_;
  qint64 count_ = 0;
};

QString recordsText(qint64 count) {
  return count == 1 ? QStringLiteral("1 registro")
                    : QStringLiteral("%1 registros").arg(productLocale().toString(count));
}

// The query's fields by name, looked up once.
class FieldIndex {
 public:
  explicit FieldIndex(const TADOIBQuery& query) : query_(query) {}
  const TField* find(const QString& name) {
    auto it = fields_.find(name);
    if (it == fields_.end()) it = fields_.insert(name, query_.FindField(name));
    return it.value();
  }

 private:
  const TADOIBQuery& query_;
  QHash<QString, const TField*> fields_;
};

// Lays the rows out in groups as they are read: a change in a group's fields
// closes the deeper groups and that one (footers with subtotals and counts)
// and opens the new ones (headers).
class GroupArranger {
 public:
  GroupArranger(const ReportTemplate& report, const QStringList& masks, ReportTable& table, FieldIndex& fields)
      : report_(report), masks_(masks), table_(table), fields_(fields), grand_(report.columns.size()) {
    for (qsizetype g = 0; g < report.groups.size(); ++g)
      levels_.append(Level{{}, ColumnSums(report.columns.size()), -1, {}});
  }

  void addRow(int row, const QList<const TField*>& columnFields) {
    const int changed = firstChangedLevel(row);
    closeLevels(changed);
    for (int level = changed; level < int(levels_.size()); ++level) openLevel(level, row);
    appendDetail(row);
    for (qsizetype c = 0; c < report_.columns.size(); ++c) {
      const ReportColumn& column = report_.columns[c];
      if (!column.total || columnFields[c]->isNullAt(row)) continue;
      const double value = numberOf(columnFields[c]->valueAt(row));
      const QString split = column.totalBy.isEmpty() ? QString() : textOf(column.totalBy, row);
      grand_.add(c, split, value);
      for (Level& level : levels_) level.sums.add(c, split, value);
    }
    grand_.countRow();
    for (Level& level : levels_) level.sums.countRow();
  }

  void finish() {
    closeLevels(0);
    table_.totals = grand_.figures(report_.columns);
    if (!table_.hasTotals || table_.rows.isEmpty()) return;
    table_.lines << ReportLine{ReportLine::Kind::GrandTotal, 0, 0, 0, QStringLiteral("Total geral"), table_.totals};
  }

 private:
  struct Level {
    QStringList key;
    ColumnSums sums;
    int firstRow = -1;  // -1: not open
    QString footer;     // the open group's footer label
  };

  QString textOf(const QString& field, int row) {
    const TField* f = fields_.find(field);
    return f && !f->isNullAt(row) ? f->textAt(row) : QString();
  }

  int firstChangedLevel(int row) {
    for (int level = 0; level < int(levels_.size()); ++level) {
      if (levels_[level].firstRow < 0) return level;
      for (qsizetype i = 0; i < report_.groups[level].fields.size(); ++i)
        if (textOf(report_.groups[level].fields[i], row) != levels_[level].key[i]) return level;
    }
    return int(levels_.size());
  }

  // "{FIELD}": the field's value as its column prints it, or as a date when
  // it reads as one, else as it comes.
  QString fillPlaceholders(const QString& text, int row) {
    QString out = text;
    for (const QString& name : placeholderFields(text)) {
      const TField* f = fields_.find(name);
      QString value;
      if (f && !f->isNullAt(row)) {
        const auto column = std::find_if(report_.columns.begin(), report_.columns.end(),
                                         [&](const ReportColumn& c) { return c.field == name; });
        value = column != report_.columns.end()
                    ? cellText(*f, row, *column, masks_.value(column - report_.columns.begin()))
                    : placeholderText(*f, row);
      }
      out.replace(QRegularExpression(QStringLiteral("\\{%1\\}").arg(name), QRegularExpression::CaseInsensitiveOption),
                  value);
    }
    return out;
  }

  static QString placeholderText(const TField& field, int row) {
    const QVariant value = field.valueAt(row);
    const bool isDate = value.typeId() == QMetaType::QDate || value.typeId() == QMetaType::QDateTime ||
                        QDate::fromString(value.toString().left(10), Qt::ISODate).isValid();
    if (!isDate) return field.textAt(row).trimmed();
    const QDateTime moment = momentOf(value);
    return moment.time() == QTime(0, 0) ? moment.toString(QStringLiteral("dd/MM/yyyy"))
                                        : moment.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
  }

  void openLevel(int level, int row) {
    Level& l = levels_[level];
    l.key.clear();
    for (const QString& field : report_.groups[level].fields) l.key << textOf(field, row);
    l.sums.clear();
    l.firstRow = row;
    l.footer = fillPlaceholders(report_.groups[level].footer, row);
    table_.lines << ReportLine{
        ReportLine::Kind::GroupHeader, level, row, 0, fillPlaceholders(report_.groups[level].header, row), {}};
  }

  void closeLevels(int from) {
    for (int level = int(levels_.size()) - 1; level >= from; --level) {
      Level& l = levels_[level];
      if (l.firstRow < 0) continue;
      const QString label = (l.footer.isEmpty() ? QStringLiteral("Total") : l.footer) + QStringLiteral(" (") +
                            recordsText(l.sums.count()) + u')';
      table_.lines << ReportLine{ReportLine::Kind::GroupFooter, level, 0, 0, label, l.sums.figures(report_.columns)};
      l.firstRow = -1;
    }
  }

  void appendDetail(int row) {
    if (!table_.lines.isEmpty() && table_.lines.last().kind == ReportLine::Kind::Details &&
        table_.lines.last().firstRow + table_.lines.last().rowCount == row) {
      ++table_.lines.last().rowCount;
      return;
    }
    table_.lines << ReportLine{ReportLine::Kind::Details, int(levels_.size()), row, 1, {}, {}};
  }

  const ReportTemplate& report_;
  const QStringList& masks_;
  ReportTable& table_;
  FieldIndex& fields_;
  ColumnSums grand_;
  QList<Level> levels_;
};

// A cell's typed value for the spreadsheets: numbers as numbers, dates as
// moments, text as printed (masks applied).
QVariant exportValue(const TField& field, int row, const ReportColumn& column, const QString& printed) {
  if (field.isNullAt(row)) return {};
  switch (column.type) {
    case ReportColumn::Type::Number:
      return numberOf(field.valueAt(row));
    case ReportColumn::Type::Date: {
      const QDateTime moment = momentOf(field.valueAt(row));
      return moment.isValid() ? QVariant(moment) : QVariant(printed);
    }
    case ReportColumn::Type::Text:
      break;
  }
  return printed;
}

}  // namespace

QStringList columnMasks(const ReportTemplate& report) {
  QStringList masks;
  for (const ReportColumn& column : report.columns)
    masks << (column.type == ReportColumn::Type::Text && !column.format.isEmpty() ? maskOf(column.format) : QString());
  return masks;
}

ReportTable runReportQuery(const ReportTemplate& report, const ReportParams& params, const QueryOptions& options) {
  // a report only reads: refused with its name here, and run read-only anyway
  if (auto refused = reportQueryProblem(report)) throw EDatabaseError(*refused);
  const QStringList masks = options.masks.value_or(columnMasks(report));
  TADOIBQuery query(nullptr, QStringLiteral("rpddPadrao"));
  query.SetReadOnlyTransaction(true);
  if (!options.connection.isEmpty()) query.setDatabase(options.connection);
  query.OnRowsRead = options.onRowsRead;
  for (DatabaseKind kind : kKinds)
    if (!report.queries.value(kind).trimmed().isEmpty()) query.setText(kind, {report.queries.value(kind)});
  for (DatabaseKind kind : kKinds)
    for (const QString& name : report.paramNames(kind))
      if (const ReportParam* p = params.find(name)) query.ParamByName(name).Value = reportSqlValue(*p);
  if (auto error = query.tryOpen())
    throw EDatabaseError(QStringLiteral("Erro ao executar a consulta do relatório '%1': %2").arg(report.title, *error));

  ReportTable table;
  table.columns = report.columns;
  FieldIndex index(query);
  for (const QString& name : report.fieldsUsed())
    if (!index.find(name))
      throw EDatabaseError(
          QStringLiteral("O campo '%1' do relatório '%2' não está no resultado da consulta.").arg(name, report.title));
  QList<const TField*> fields;
  for (const ReportColumn& column : report.columns) {
    fields << index.find(column.field);
    table.hasTotals = table.hasTotals || column.total;
  }
  GroupArranger arranger(report, masks, table, index);
  const int rows = query.RecordCount();
  table.rows.reserve(rows);
  table.values.reserve(rows);
  for (int row = 0; row < rows; ++row) {
    QStringList cells;
    QVariantList values;
    cells.reserve(fields.size());
    values.reserve(fields.size());
    for (qsizetype c = 0; c < fields.size(); ++c) {
      cells << cellText(*fields[c], row, report.columns[c], masks.value(c));
      values << exportValue(*fields[c], row, report.columns[c], cells.last());
    }
    table.rows << cells;
    table.values << values;
    arranger.addRow(row, fields);
  }
  arranger.finish();
  return table;
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

QueryFields reportQueryFields(const ReportTemplate& report) {
  if (auto refused = reportQueryProblem(report)) return {{}, *refused};
  TADOIBQuery query(nullptr, QStringLiteral("qryCampos"));
  query.SetReadOnlyTransaction(true);
  for (DatabaseKind kind : kKinds)
    if (!report.queries.value(kind).trimmed().isEmpty()) query.setText(kind, {report.queries.value(kind)});
  if (auto error = query.tryOpen()) return {{}, *error};
  QueryFields out;
  for (int i = 0; i < query.FieldCount(); ++i) out.fields << query.Fields(i)->FieldName();
  return out;
}

std::optional<QString> queryFieldsProblem(const ReportTemplate& report) {
  if (auto refused = reportQueryProblem(report)) return refused;
  const QSqlDatabase db = hostDatabase();
  if (!db.isValid() || !db.isOpen()) return std::nullopt;
  const QueryFields result = reportQueryFields(report);
  if (!result.error.isEmpty())
    return QStringLiteral("A consulta do relatório não pôde ser executada: %1").arg(result.error);
  if (auto missing = missingFieldProblem(report, result.fields))
    return QStringLiteral("A definição do relatório não pode ser gravada: %1.").arg(*missing);
  return std::nullopt;
}

QString lookUpParameterName(const ReportParamText& words, const ReportParams& params) {
  if (readOnlySqlProblem(words.nameQuery)) return {};  // refused at load; never run
  TADOIBQuery query(nullptr, QStringLiteral("qryNomeParametro"));
  query.SetReadOnlyTransaction(true);
  query.SetSQL({words.nameQuery});
  for (const QString& name : toPositional(words.nameQuery).names)
    if (const ReportParam* p = params.find(name)) query.ParamByName(name).Value = reportSqlValue(*p);
  // the header goes with the code alone rather than the report failing
  if (query.tryOpen() || query.IsEmpty()) return {};
  return query.Fields(0)->AsString().trimmed();
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

ReportHeader reportHeaderOf(const ReportTemplate& report, const ReportParams& params, ReportContext context) {
  if (hasHostServices()) {
    if (context.branch.isEmpty()) context.branch = FiliProc();
    if (context.operatorName.isEmpty()) context.operatorName = Operador();
  }
  ReportHeader header;
  header.company = companyNameOf(context.branch);
  header.operatorName = context.operatorName;
  header.screenCode = context.screenCode;
  header.reportCode = context.reportCode;
  header.parameters = describeParameters(report, params, lookUpParameterName);
  header.printedAt = QDateTime::currentDateTime();
  return header;
}

ReportDocument buildReportDocument(const ReportTemplate& report, const ReportParams& params, ReportContext context) {
  ReportTable table = runReportQuery(report, params);
  return ReportDocument(report.title, report.orientation, reportHeaderOf(report, params, std::move(context)),
                        std::move(table));
}

}  // namespace reportkit
