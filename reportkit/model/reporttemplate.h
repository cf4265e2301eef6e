// Report definitions: one JSON file per report below the reports folder, in
// a folder per report code. A definition holds the report's title, one query
// text per database kind with ":P_..." parameters, how the parameters are put
// into words in the page header, and the printed columns.
//
//   {
//     "title": "Itens de venda não lançados no estoque",
//     "orientation": "landscape",
//     "answers": "Prod_NRelacReti",                       (optional)
//     "parameterSet": "periodo",                          (optional)
//     "queries": { "generic": ["SELECT ...", "FROM ..."], "oracle": "...",
//                  "sqlserver": "...", "interbase": "..." },
//     "parameters": [ { "name": "P_CDFILIAL", "label": "Filiais", "empty": "Todas",
//                       "nameQuery": "SELECT NMFILIAL FROM FILIAL WHERE ..." },   (optional)
//                     { "name": "P_TODASNF2", "label": "Itens",
//                       "values": { "S": "todos", "N": "pendentes" } } ],
//     "groups": [ { "fields": ["CDFILIAL", "DTVENDA"],                (optional)
//                   "header": "Filial {CDFILIAL} - {NMFILIAL}, dia {DTVENDA}",
//                   "footer": "Total do dia {DTVENDA}" } ],
//     "columns": [ { "field": "QTPRODVEND", "title": "Quantidade", "width": 10,
//                    "align": "right", "type": "number", "format": "#,##0.000",
//                    "total": true, "totalBy": "SGUNIDADE" },
//                  { "field": "CDFILIAL", "title": "Filial", "print": false } ]
//   }
//
// Groups nest in their order: the rows (sorted by the query so) are broken
// whenever a group's fields change; each group opens with its header and
// closes with its footer: the subtotals of the columns marked "total" and
// its record count. "{FIELD}" in a header or footer is that field's value,
// formatted as its column when the report prints it. A column with
// "totalBy" is summed separately for each value of that field (quantities
// per product or unit of measure: kilograms are never added to units) and
// shows only in groups that hold a single value of it.
//
// The spreadsheet exports are flat lists of the detail rows: every row
// carries the fields of its groups there, as the columns with "print":
// false declare them, or, for a group field no column names, as a text
// column titled with the field's name.
//
// A query text may be one string or a list of lines. Only "generic" is
// required: a database kind without its own text runs the generic one
// (SQLite and PostgreSQL always do). Column widths are relative weights; the
// columns share the page's width in their proportion.
#pragma once

#include <QList>
#include <QMap>
#include <QPageLayout>
#include <QString>
#include <QStringList>
#include <optional>

#include <hostkit/core/query.h>

namespace reportkit {

using hostkit::DatabaseKind;

struct ReportColumn {
  enum class Type { Text, Number, Date };
  QString field;  // column of the query's result
  QString title;
  int width = 10;
  Qt::Alignment alignment = Qt::AlignLeft;
  Type type = Type::Text;
  QString format;  // number: FormatFloat picture; date: Qt date pattern; text: edit mask or "DBPict(n)"
  bool total = false;
  QString totalBy;  // the totals are split by this field's value ("SGUNIDADE"); empty: one sum
  // False: the column is left off the printed pages and kept in the
  // spreadsheet exports (a group's fields, which the pages show in the
  // group's header).
  bool printed = true;

  bool operator==(const ReportColumn&) const = default;
};

// One level of grouping.
struct ReportGroup {
  QStringList fields;  // the group breaks when any of them changes
  QString header;      // with "{FIELD}" placeholders
  QString footer;

  bool operator==(const ReportGroup&) const = default;
};

// How one parameter reads in the page header: "label: value".
struct ReportParamText {
  QString name;
  QString label;
  QString emptyText;              // shown for an empty value; without it the parameter is left out
  QMap<QString, QString> values;  // value -> words ("S" -> "sim")
  // A query that reads the value's name ("SELECT NMFILIAL FROM FILIAL WHERE
  // CDFILIAL = :P_CDFILIAL"), any of the report's parameters bound; the
  // header then reads "Filial: 0001 - Matriz".
  QString nameQuery;

  bool operator==(const ReportParamText&) const = default;
};

struct ReportTemplate {
  QString title;
  // The refusal of the application server this report explains (the
  // products behind "Prod_NRelacReti", say): the screen that shows the
  // refusal opens the report list on it. Empty for most reports.
  QString answers;
  // Which of its screen's parameter sets the report takes ("periodo",
  // "consolidacao"); a copy keeps it. Empty: the screen decides by position.
  QString parameterSet;
  QPageLayout::Orientation orientation = QPageLayout::Portrait;
  QMap<DatabaseKind, QString> queries;
  QList<ReportParamText> parameters;
  QList<ReportGroup> groups;
  QList<ReportColumn> columns;

  // Every field the definition names outside its query: columns, the
  // fields that split totals, groups and their placeholders.
  QStringList fieldsUsed() const;
  // The columns of the report's table: its own, then a column left off the
  // pages for each group field or placeholder none of them names (the
  // exports' rows carry their groups).
  QList<ReportColumn> tableColumns() const;

  // The text that runs on a database of that kind.
  QString queryFor(DatabaseKind kind) const;
  // Parameter names of the text that runs on that kind, in order of first appearance.
  QStringList paramNames(DatabaseKind kind) const;

  bool operator==(const ReportTemplate&) const = default;
};

// Reads a definition; throws EHostError naming the file and what is wrong
// when it cannot be read, is not valid JSON or misses a required part.
ReportTemplate readReportTemplate(const QString& path);
// Parses a definition's contents; `origin` names it in error messages.
ReportTemplate parseReportTemplate(const QByteArray& json, const QString& origin);
// The first thing a definition lacks before it can be saved or run, if any.
// A definition whose columns, groups or totals name a field the query does
// not return is refused too, when the query's fields are known.
hostkit::Status checkReportTemplate(const ReportTemplate& report);
// The first field the definition uses that the query does not return, if any.
hostkit::Status checkFieldsReturned(const ReportTemplate& report, const QStringList& queryFields);
// "{FIELD}" placeholders of a group's header or footer, upper case.
QStringList placeholderFields(const QString& text);
// The refusal, naming the report, when one of its query texts does anything
// but read (see readonlysql.h); checked before a definition is saved or run.
hostkit::Status checkReportQuery(const ReportTemplate& report);
QByteArray serializeReportTemplate(const ReportTemplate& report);
// Writes the definition atomically (a failed write leaves the old file);
// throws EHostError for an incomplete definition or a query that is refused.
void writeReportTemplate(const QString& path, const ReportTemplate& report);

// Names used in the files.
QString databaseKindKey(DatabaseKind kind);
// Every kind of database a definition may hold a query for.
const QList<DatabaseKind>& databaseKinds();
QString alignmentKey(Qt::Alignment alignment);
QString columnTypeKey(ReportColumn::Type type);

}  // namespace reportkit
