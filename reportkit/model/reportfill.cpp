// A report's query read into its table: each row's cells kept once, and the
// groups broken, subtotalled and counted as the rows go by.
#include "reportfill.h"

#include <QRegularExpression>
#include <QScopeGuard>
#include <algorithm>
#include <cmath>

#include "reportrows.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <hostkit/core/routines.h>

namespace reportkit {

using namespace hostkit;

namespace {

// A text column's edit mask: written out, or "DBPict(n)" for the host's
// picture n (product-tree codes read as the grids show them).
QString maskOf(const QString& format) {
  static const QRegularExpression picture(QStringLiteral("^DBPict\\((\\d+)\\)$"));
  const auto match = picture.match(format.trimmed());
  if (!match.hasMatch()) return format;
  return hasHostServices() ? DBPict(match.captured(1).toInt()) : QString();
}

// The sum of a totalled column over a group: of the values as the lines
// show them, counted in units of the column's last shown decimal (cents for
// money), so a total is exactly the sum of the lines printed above it and
// the grand total the sum of the groups. A column whose total is split by a
// field adds up only while the group holds one value of that field (one
// product's quantity); across several it would add kilograms to units, and
// the group shows none.
class ColumnSum {
 public:
  explicit ColumnSum(const ReportColumn& column) {
    if (const std::optional<int> decimals = keptDecimals(column)) scale_ = std::pow(10.0, *decimals);
  }
  void add(double value, QByteArrayView split) {
    if (values_ == Values::None) {
      split_ = split.toByteArray();
      values_ = Values::One;
    } else if (values_ == Values::One && split != split_) {
      values_ = Values::Several;
    }
    sum_ += value;
    // counted in units while they stay exact in a double (9 * 10^15)
    if (scale_ && std::fabs(value * *scale_) < kExactUnits && std::fabs(double(units_)) < kExactUnits)
      units_ += std::llround(value * *scale_);
    else
      scale_.reset();
  }
  std::optional<double> total() const {
    if (values_ != Values::One) return std::nullopt;
    return scale_ ? double(units_) / *scale_ : sum_;
  }

 private:
  enum class Values { None, One, Several };
  Values values_ = Values::None;
  QByteArray split_;
  static constexpr double kExactUnits = 9.0e15;
  std::optional<double> scale_;  // units per 1 when the column shows a fixed number of decimals
  qint64 units_ = 0;
  double sum_ = 0;
};

class GroupSums {
 public:
  explicit GroupSums(const QList<ReportColumn>& columns) {
    sums_.reserve(size_t(columns.size()));
    for (const ReportColumn& column : columns) sums_.emplace_back(column);
  }
  void add(qsizetype column, double value, QByteArrayView split) { sums_[size_t(column)].add(value, split); }
  void countRow() { ++count_; }
  qint64 count() const { return count_; }

  // The footer's figures: per column, its total where it has one.
  QStringList figures(const QList<ReportColumn>& columns) const {
    QStringList out(columns.size());
    for (qsizetype c = 0; c < columns.size(); ++c)
      if (const auto total = sums_[size_t(c)].total(); columns[c].total && total)
        out[c] = reportNumberText(columns[c], *total);
    return out;
  }

 private:
  std::vector<ColumnSum> sums_;
  qint64 count_ = 0;
};

QString recordsText(qint64 count) {
  return count == 1 ? QStringLiteral("1 registro")
                    : QStringLiteral("%1 registros").arg(productLocale().toString(count));
}

// A header or footer with "{FIELD}" placeholders, taken apart once: its
// text between them and, per placeholder, the field and how it prints (as
// its column prints it, else as a date when it reads as one, else as it
// comes).
class Placeholders {
 public:
  Placeholders(const QString& text, const ReportTemplate& report, const QStringList& masks, const QueryRows& rows)
      : text_(text) {
    for (const QString& name : placeholderFields(text)) {
      Field field{name, rows.fieldIndex(name), -1, {}};
      const auto column = std::find_if(report.columns.begin(), report.columns.end(),
                                       [&](const ReportColumn& c) { return c.field == name; });
      if (column != report.columns.end()) {
        field.column = int(column - report.columns.begin());
        field.mask = masks.value(field.column);
      }
      fields_ << field;
    }
  }

  QString filled(const QueryRows& rows, const QList<ReportColumn>& columns) const {
    QString out = text_;
    for (const Field& field : fields_) {
      // a text column without a mask prints a date the way a header says
      // it ("Dia 22/11/2026"), not as the database keeps it
      const bool asColumn =
          field.column >= 0 && (columns[field.column].type != ReportColumn::Type::Text || !field.mask.isEmpty());
      const QString value =
          field.index >= 0 && !rows.isNull(field.index)
              ? (asColumn ? columnText(rows, field, columns[field.column]) : placeholderText(rows, field.index))
              : QString();
      out.replace(
          QRegularExpression(QStringLiteral("\\{%1\\}").arg(field.name), QRegularExpression::CaseInsensitiveOption),
          value);
    }
    return out;
  }

 private:
  struct Field {
    QString name;
    int index;   // in the query's fields
    int column;  // in the report's columns, -1 for none
    QString mask;
  };

  static QString columnText(const QueryRows& rows, const Field& field, const ReportColumn& column) {
    switch (column.type) {
      case ReportColumn::Type::Number:
        return reportNumberText(column, reportNumberOf(rows.value(field.index)));
      case ReportColumn::Type::Date: {
        const QDateTime moment = reportMomentOf(rows.value(field.index));
        return moment.isValid() ? reportMomentText(column, moment) : rows.text(field.index);
      }
      case ReportColumn::Type::Text:
        break;
    }
    const QString text = rows.text(field.index);
    return field.mask.isEmpty() ? text : FormatMaskText(field.mask, text);
  }

  static QString placeholderText(const QueryRows& rows, int field) {
    const QVariant value = rows.value(field);
    const bool isDate = value.typeId() == QMetaType::QDate || value.typeId() == QMetaType::QDateTime ||
                        QDate::fromString(value.toString().left(10), Qt::ISODate).isValid();
    if (!isDate) return rows.text(field).trimmed();
    const QDateTime moment = reportMomentOf(value);
    return moment.time() == QTime(0, 0) ? moment.toString(QStringLiteral("dd/MM/yyyy"))
                                        : moment.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
  }

  QString text_;
  QList<Field> fields_;
};

// The fields of the query the report reads, by their place in its rows.
struct ReportFields {
  std::vector<int> columns;  // per column
  std::vector<int> totalBy;  // per column, -1 for none
  std::vector<std::vector<int>> groups;
};

// Lays the rows out in groups as they are read: a change in a group's fields
// closes the deeper groups and that one (footers with subtotals and counts)
// and opens the new ones (headers).
class GroupArranger {
 public:
  GroupArranger(const ReportTemplate& report, const QStringList& masks, ReportTable& table, const QueryRows& rows,
                ReportFields fields)
      : report_(report), table_(table), rows_(rows), fields_(std::move(fields)), grand_(report.columns) {
    for (const ReportGroup& group : report.groups)
      levels_.push_back(Level{{},
                              GroupSums(report.columns),
                              false,
                              {},
                              Placeholders(group.header, report, masks, rows),
                              Placeholders(group.footer, report, masks, rows)});
  }

  // The query's current row.
  void addRow() {
    const int changed = firstChangedLevel();
    closeLevels(changed);
    for (int level = changed; level < int(levels_.size()); ++level) openLevel(level);
    appendDetail();
    appendCells();
    addToSums();
    table_.endRow();
  }

  void finish() {
    closeLevels(0);
    table_.totals = grand_.figures(report_.columns);
    if (!table_.hasTotals || table_.isEmpty()) return;
    table_.lines << ReportLine{ReportLine::Kind::GrandTotal, 0, 0, 0, QStringLiteral("Total geral"), table_.totals};
  }

 private:
  struct Level {
    std::vector<QByteArray> key;
    GroupSums sums;
    bool open = false;
    QString footer;  // the open group's footer label
    Placeholders headerText;
    Placeholders footerText;
  };

  QByteArrayView textOf(int field, QByteArray& buffer) const {
    if (field < 0 || rows_.isNull(field)) return {};
    return rows_.textBytes(field, buffer);
  }

  int firstChangedLevel() {
    QByteArray buffer;
    for (int level = 0; level < int(levels_.size()); ++level) {
      if (!levels_[level].open) return level;
      const std::vector<int>& fields = fields_.groups[size_t(level)];
      for (size_t i = 0; i < fields.size(); ++i)
        if (textOf(fields[i], buffer) != levels_[level].key[i]) return level;
    }
    return int(levels_.size());
  }

  void openLevel(int level) {
    Level& l = levels_[level];
    QByteArray buffer;
    l.key.clear();
    for (int field : fields_.groups[size_t(level)]) l.key.push_back(textOf(field, buffer).toByteArray());
    l.sums = GroupSums(report_.columns);
    l.open = true;
    l.footer = l.footerText.filled(rows_, report_.columns);
    table_.lines << ReportLine{
        ReportLine::Kind::GroupHeader, level, table_.rowCount(), 0, l.headerText.filled(rows_, report_.columns), {}};
  }

  void closeLevels(int from) {
    for (int level = int(levels_.size()) - 1; level >= from; --level) {
      Level& l = levels_[level];
      if (!l.open) continue;
      const QString label = (l.footer.isEmpty() ? QStringLiteral("Total") : l.footer) + QStringLiteral(" (") +
                            recordsText(l.sums.count()) + u')';
      table_.lines << ReportLine{ReportLine::Kind::GroupFooter, level, 0, 0, label, l.sums.figures(report_.columns)};
      l.open = false;
    }
  }

  void appendDetail() {
    const int row = table_.rowCount();
    if (!table_.lines.isEmpty() && table_.lines.last().kind == ReportLine::Kind::Details &&
        table_.lines.last().firstRow + table_.lines.last().rowCount == row) {
      ++table_.lines.last().rowCount;
      return;
    }
    table_.lines << ReportLine{ReportLine::Kind::Details, int(levels_.size()), row, 1, {}, {}};
  }

  void appendCells() {
    QByteArray buffer;
    for (int c = 0; c < int(report_.columns.size()); ++c) {
      const int field = fields_.columns[size_t(c)];
      if (rows_.isNull(field)) {
        table_.appendNull(c);
        continue;
      }
      switch (report_.columns[c].type) {
        case ReportColumn::Type::Number:
          table_.appendNumber(c, reportShownNumber(report_.columns[c], reportNumberOf(rows_.value(field))));
          break;
        case ReportColumn::Type::Date: {
          const QDateTime moment = reportMomentOf(rows_.value(field));
          table_.appendMoment(c, moment, moment.isValid() ? QString() : rows_.text(field));
          break;
        }
        case ReportColumn::Type::Text:
          table_.appendText(c, rows_.textBytes(field, buffer));
          break;
      }
    }
  }

  void addToSums() {
    QByteArray buffer;
    for (qsizetype c = 0; c < report_.columns.size(); ++c) {
      const int field = fields_.columns[size_t(c)];
      if (!report_.columns[c].total || rows_.isNull(field)) continue;
      const double value = reportShownNumber(report_.columns[c], reportNumberOf(rows_.value(field)));
      const QByteArrayView split = textOf(fields_.totalBy[size_t(c)], buffer);
      grand_.add(c, value, split);
      for (Level& level : levels_) level.sums.add(c, value, split);
    }
    grand_.countRow();
    for (Level& level : levels_) level.sums.countRow();
  }

  const ReportTemplate& report_;
  ReportTable& table_;
  const QueryRows& rows_;
  ReportFields fields_;
  GroupSums grand_;
  std::vector<Level> levels_;
};

// Where each field the report reads sits in the query's rows; the refusal
// naming the first one it lacks.
Result<ReportFields> findFields(const ReportTemplate& report, const QueryRows& rows) {
  for (const QString& name : report.fieldsUsed())
    if (rows.fieldIndex(name) < 0)
      return Result<ReportFields>::failure(
          QStringLiteral("O campo '%1' do relatório '%2' não está no resultado da consulta.").arg(name, report.title));
  ReportFields fields;
  for (const ReportColumn& column : report.columns) {
    fields.columns.push_back(rows.fieldIndex(column.field));
    fields.totalBy.push_back(column.totalBy.isEmpty() ? -1 : rows.fieldIndex(column.totalBy));
  }
  for (const ReportGroup& group : report.groups) {
    fields.groups.emplace_back();
    for (const QString& name : group.fields) fields.groups.back().push_back(rows.fieldIndex(name));
  }
  return fields;
}

// The prepared parameters' SQL values by upper-case name.
QMap<QString, QVariant> boundValues(const ReportTemplate& report, const ReportParams& params, DatabaseKind kind) {
  QMap<QString, QVariant> values;
  for (const QString& name : report.paramNames(kind))
    if (const ReportParam* p = params.find(name)) values.insert(name.toUpper(), reportSqlValue(*p));
  return values;
}

// Locks the table for its readers when it has any.
std::unique_lock<std::mutex> lockFor(const detail::TableFill& fill) {
  return fill.lock ? std::unique_lock(*fill.lock) : std::unique_lock<std::mutex>();
}

constexpr qint64 kProgressEvery = 4096;

}  // namespace

QStringList columnMasks(const ReportTemplate& report) {
  QStringList masks;
  for (const ReportColumn& column : report.tableColumns())
    masks << (column.type == ReportColumn::Type::Text && !column.format.isEmpty() ? maskOf(column.format) : QString());
  return masks;
}

Status detail::fillReportTable(const ReportTemplate& definition, const ReportParams& params,
                               const QueryOptions& options, ReportTable& table, const TableFill& fill) {
  // a report only reads: refused with its name here, and run read-only anyway
  if (Status readOnly = checkReportQuery(definition); !readOnly.ok()) return readOnly;
  // the table holds the columns left off the pages too: the exports' group fields
  ReportTemplate report = definition;
  report.columns = definition.tableColumns();
  const QStringList masks = options.masks.value_or(columnMasks(report));
  const QSqlDatabase db = QSqlDatabase::database(options.connection, false);
  if (!db.isValid() || !db.isOpen())
    return Status::failure(
        QStringLiteral("Erro ao executar a consulta do relatório '%1': nenhum banco de dados conectado.")
            .arg(report.title));
  const DatabaseKind kind = TADOIBQuery::kindOf(db);
  const auto failed = [&report](const QString& error) {
    return Status::failure(
        QStringLiteral("Erro ao executar a consulta do relatório '%1': %2").arg(report.title, error));
  };
  if (fill.setInterrupt) fill.setInterrupt(databaseInterrupter(db));
  const auto noInterrupt = qScopeGuard([&fill] {
    if (fill.setInterrupt) fill.setInterrupt({});
  });
  Result<std::unique_ptr<QueryRows>> opened =
      QueryRows::open(db, report.queryFor(kind), boundValues(report, params, kind), QStringLiteral("rpddPadrao"));
  if (!opened.ok()) return failed(opened.error());
  const std::unique_ptr<QueryRows> rows = std::move(*opened);
  Result<ReportFields> fields = findFields(report, *rows);
  if (!fields.ok()) return Status::failure(fields.error());
  {
    const auto lock = lockFor(fill);
    table = ReportTable(report.columns, masks);
    for (const ReportColumn& column : report.columns) table.hasTotals = table.hasTotals || column.total;
  }
  GroupArranger arranger(report, masks, table, *rows, std::move(*fields));
  qint64 read = 0;
  while (rows->next()) {
    {
      const auto lock = lockFor(fill);
      arranger.addRow();
      if (fill.afterRow) fill.afterRow(false);
    }
    if (++read % kProgressEvery == 0 && options.onRowsRead && !options.onRowsRead(read))
      return failed(QStringLiteral("rpddPadrao: leitura interrompida."));
  }
  if (rows->error()) return failed(*rows->error());
  if (options.onRowsRead && !options.onRowsRead(read))
    return failed(QStringLiteral("rpddPadrao: leitura interrompida."));
  const auto lock = lockFor(fill);
  arranger.finish();
  if (fill.afterRow) fill.afterRow(true);
  return success();
}

ReportTable runReportQuery(const ReportTemplate& report, const ReportParams& params, const QueryOptions& options) {
  ReportTable table;
  if (const Status filled = detail::fillReportTable(report, params, options, table); !filled.ok())
    throw EDatabaseError(filled.error());
  return table;
}

}  // namespace reportkit
