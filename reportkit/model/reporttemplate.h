// Report definitions: one JSON file per report below the reports folder, in
// a folder per report code. A definition holds the report's title, one query
// text per database kind with ":P_..." parameters, how the parameters are put
// into words in the page header, and the printed columns.
//
//   {
//     "title": "Itens de venda não lançados no estoque",
//     "orientation": "landscape",
//     "answers": "Prod_NRelacReti",                       (optional)
//     "queries": { "generic": ["SELECT ...", "FROM ..."], "oracle": "...",
//                  "sqlserver": "...", "interbase": "..." },
//     "parameters": [ { "name": "P_CDFILIAL", "label": "Filiais", "empty": "Todas" },
//                     { "name": "P_TODASNF2", "label": "Itens",
//                       "values": { "S": "todos", "N": "pendentes" } } ],
//     "columns": [ { "field": "QTPRODVEND", "title": "Quantidade", "width": 10,
//                    "align": "right", "type": "number", "format": "#,##0.000",
//                    "total": true } ]
//   }
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

#include "query.h"

namespace hostkit {

struct ReportColumn {
  enum class Type { Text, Number, Date };
  QString field;  // column of the query's result
  QString title;
  int width = 10;
  Qt::Alignment alignment = Qt::AlignLeft;
  Type type = Type::Text;
  QString format;  // number: FormatFloat picture; date: Qt date pattern; text: edit mask or "DBPict(n)"
  bool total = false;

  bool operator==(const ReportColumn&) const = default;
};

// How one parameter reads in the page header: "label: value".
struct ReportParamText {
  QString name;
  QString label;
  QString emptyText;              // shown for an empty value; without it the parameter is left out
  QMap<QString, QString> values;  // value -> words ("S" -> "sim")

  bool operator==(const ReportParamText&) const = default;
};

struct ReportTemplate {
  QString title;
  // The refusal of the application server this report explains (the
  // products behind "Prod_NRelacReti", say): the screen that shows the
  // refusal opens the report list on it. Empty for most reports.
  QString answers;
  QPageLayout::Orientation orientation = QPageLayout::Portrait;
  QMap<DatabaseKind, QString> queries;
  QList<ReportParamText> parameters;
  QList<ReportColumn> columns;

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
std::optional<QString> reportTemplateProblem(const ReportTemplate& report);
// The refusal, naming the report, when one of its query texts does anything
// but read (see readonlysql.h); checked before a definition is saved or run.
std::optional<QString> reportQueryProblem(const ReportTemplate& report);
QByteArray serializeReportTemplate(const ReportTemplate& report);
// Writes the definition atomically (a failed write leaves the old file);
// throws EHostError for an incomplete definition or a query that is refused.
void writeReportTemplate(const QString& path, const ReportTemplate& report);

// Names used in the files.
QString databaseKindKey(DatabaseKind kind);
QString alignmentKey(Qt::Alignment alignment);
QString columnTypeKey(ReportColumn::Type type);

}  // namespace hostkit
