// The report engine: runs a definition's query with the prepared parameters
// on the host's database and lays the result out as a paginated document
// (page header with the company, the title and the parameters in words;
// groups with their headers, subtotals and record counts; the grand total;
// a page footer with the operator, the screen and report codes, the date and
// "Página X de Y") that previews, prints and exports to PDF alike.
#pragma once

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPageLayout>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "reportparams.h"
#include "reporttemplate.h"

class QPagedPaintDevice;
class QPainter;

namespace reportkit {

// One line of the report in print order besides the detail rows it spans.
struct ReportLine {
  enum class Kind { GroupHeader, Details, GroupFooter, GrandTotal };
  Kind kind = Kind::Details;
  int level = 0;     // headers and footers: the group's level, 0 the outermost
  int firstRow = 0;  // details: the run of rows [firstRow, firstRow + rowCount)
  int rowCount = 0;
  QString text;       // header: the group's words; footer: its label and record count
  QStringList cells;  // footers: per column, the subtotal (empty where none)
};

// The query's rows, formatted for print, with their typed values for the
// spreadsheet exports, and the report's lines in print order.
struct ReportTable {
  QList<ReportColumn> columns;
  QList<QStringList> rows;
  QList<QVariantList> values;  // per row and column: double, QDateTime or text
  QList<ReportLine> lines;
  QStringList totals;  // per column: the grand total's first line, empty for columns without total
  bool hasTotals = false;
};

// Where and by whom a report is printed: the page header and footer say it.
struct ReportContext {
  QString branch;  // the company in the header is the branch's
  QString operatorName;
  QString screenCode;  // "QFX31702"
  QString reportCode;  // "Qfx317"
};

struct ReportHeader {
  QString company;
  QStringList parameters;  // "label: value" phrases
  QDateTime printedAt;
  QString operatorName;
  QString screenCode;
  QString reportCode;
};

class ReportDocument {
 public:
  ReportDocument() = default;
  ReportDocument(QString title, QPageLayout::Orientation orientation, ReportHeader header, ReportTable table);

  const QString& title() const { return title_; }
  const ReportHeader& header() const { return header_; }
  const ReportTable& table() const { return table_; }

  // A4 with 10 mm margins, in the definition's orientation.
  QPageLayout pageLayout() const;
  // How many pages the document takes on pages of that layout.
  int pageCount(const QPageLayout& layout) const;
  int pageCount() const { return pageCount(pageLayout()); }
  // Paints one page (0 the first) at the painter's origin, in points, on a
  // paintable area of that size: what the preview shows. Pages of a size are
  // laid out once and kept for the next page of the same size.
  void paintPage(QPainter& painter, int page, const QSizeF& pointsSize) const;
  // Paints every page on the device in the device's own page layout (the
  // preview's and the printer dialog's choices count). False when the device
  // could not be painted on.
  bool print(QPagedPaintDevice* device) const;
  // Writes the document as a PDF file; the error text on failure.
  std::optional<QString> exportPdf(const QString& path) const;

 private:
  struct Layout;
  struct LayoutCache {
    std::mutex mutex;
    std::shared_ptr<const Layout> layout;
  };
  Layout layout(const QSizeF& size) const;
  // The layout of pages of that size, laid out on first use and kept.
  std::shared_ptr<const Layout> layoutFor(const QSizeF& size) const;
  void paintPage(QPainter& painter, const Layout& layout, int page) const;
  void paintPageFooter(QPainter& painter, const Layout& layout, int page) const;

  QString title_;
  QPageLayout::Orientation orientation_ = QPageLayout::Portrait;
  ReportHeader header_;
  ReportTable table_;
  // shared by copies: they hold the same lines, so the same pages
  std::shared_ptr<LayoutCache> layoutCache_ = std::make_shared<LayoutCache>();
};

// The SQL value of a prepared parameter: dates as 'YYYY-MM-DD' (with
// ' HH:MM:SS' when a date-time carries a time), as the schema stores them;
// empty text as '' (an unset parameter is NULL).
QVariant reportSqlValue(const ReportParam& param);
// How a report's query runs: on which connection, reporting its progress.
struct QueryOptions {
  QString connection;  // a Qt connection name; empty: the host's database
  // Rows read so far, now and then; false stops the reading (an error).
  std::function<bool(qint64 rowsRead)> onRowsRead;
  // Per column, its edit mask resolved beforehand (the host's pictures are
  // read on the screen's thread); empty: resolved here.
  std::optional<QStringList> masks;
};
// Per column, the edit mask its format names ("DBPict(0)": the host's picture).
QStringList columnMasks(const ReportTemplate& report);
// Runs the definition's query of the connected database kind, every value
// bound; throws EDatabaseError with the report's title.
ReportTable runReportQuery(const ReportTemplate& report, const ReportParams& params, const QueryOptions& options = {});
// The page header of a prepared report; the context's blanks are taken from
// the host (its branch and operator). Reads the host's database.
ReportHeader reportHeaderOf(const ReportTemplate& report, const ReportParams& params, ReportContext context);
// The name of a parameter's value (a branch's name), empty when unknown.
using ParameterNameLookup = std::function<QString(const ReportParamText& words, const ReportParams& params)>;
// The fields the definition's query returns, read by running it with every
// parameter unset (read-only); the error text when it does not run.
struct QueryFields {
  QStringList fields;
  QString error;
};
QueryFields reportQueryFields(const ReportTemplate& report);
// Before a definition is saved: the refusal when its query is refused or
// does not run, or when it names a field the query does not return. Nothing
// when no database is open (the fields cannot be known).
std::optional<QString> queryFieldsProblem(const ReportTemplate& report);
// The parameters in words, for the page header: "Filial: 0001", or
// "Filial: 0001 - Matriz" when the lookup names the value.
QStringList describeParameters(const ReportTemplate& report, const ReportParams& params,
                               const ParameterNameLookup& nameOf = {});
// Runs a parameter's name query read-only on the host's database.
QString lookUpParameterName(const ReportParamText& words, const ReportParams& params);
// The company of a branch, from the host's database; empty when unknown.
QString companyNameOf(const QString& branch);
// The prepared parameters of a definition: every parameter its query names, unset.
ReportParams reportParamsOf(const ReportTemplate& report);
// Query, header and layout in one: the document of a prepared report. The
// context's blanks are taken from the host (its branch and operator).
ReportDocument buildReportDocument(const ReportTemplate& report, const ReportParams& params,
                                   ReportContext context = {});

}  // namespace reportkit
