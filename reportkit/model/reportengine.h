// The report engine: runs a definition's query with the prepared parameters
// on the host's database and lays the result out as a paginated document
// (page header with the company, the title and the parameters in words;
// groups with their headers, subtotals and record counts; the grand total;
// a page footer with the operator, the screen and report codes, the date and
// "Página X de Y") that previews, prints and exports to PDF alike.
//
// The rows go from the query into the document one by one, and the pages
// are laid out as the rows come: a document still being filled (ReportRun)
// shows its first pages while the rest is read.
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
#include <optional>

#include "reportparams.h"
#include "reporttable.h"
#include "reporttemplate.h"

class QPagedPaintDevice;
class QPainter;

namespace reportkit {

// What a report reads and where and by whom it is printed: the page header
// and footer say it. The engine takes all of it from here, nothing from the
// host's globals.
struct ReportContext {
  QString connection;  // the Qt connection its queries run on
  QString branch;      // the company in the header is the branch's
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

// How a report's query runs: on which connection, reporting its progress.
struct QueryOptions {
  QString connection;  // the Qt connection the query runs on
  // Rows read so far, now and then; false stops the reading (an error).
  std::function<bool(qint64 rowsRead)> onRowsRead;
  // Per column, its edit mask resolved beforehand (the host's pictures are
  // read on the screen's thread); empty: resolved here.
  std::optional<QStringList> masks;
};
class ReportDocument {
 public:
  ReportDocument();
  // A document of rows already read.
  ReportDocument(QString title, QPageLayout::Orientation orientation, ReportHeader header, ReportTable table);
  // A document to be filled by fillReportDocument (on any thread), empty
  // until then. `masks`: per column, its edit mask resolved.
  static ReportDocument beingFilled(const ReportTemplate& report, ReportHeader header, const QStringList& masks);

  const QString& title() const;
  const ReportHeader& header() const;
  // The whole table; a document being filled is waited for.
  const ReportTable& table() const;

  // While it is filled: whether it is done (read to its end, failed or
  // stopped), the pages of its own layout finished so far (every page once
  // done), and the rows read.
  bool isComplete() const;
  int pagesReady() const;
  qint64 rowsRead() const;
  // Done with an error, or stopped by cancelFill(): not the whole report.
  std::optional<QString> fillError() const;
  bool fillCancelled() const;
  // Stops the filling: the database's work is interrupted.
  void cancelFill() const;
  // Blocks until the document is done or has `pages` pages ready.
  void waitForPages(int pages) const;

  // A4 with 10 mm margins, in the definition's orientation.
  QPageLayout pageLayout() const;
  // How many pages the document takes on pages of that layout (waits for
  // a document being filled).
  int pageCount(const QPageLayout& layout) const;
  int pageCount() const { return pageCount(pageLayout()); }
  // Paints one page (0 the first) at the painter's origin, in points, on a
  // paintable area of that size: what the preview shows. A page of the
  // document's own layout paints as soon as it is laid out, with "Página X
  // de ..." until the count is known; other sizes wait for the whole.
  void paintPage(QPainter& painter, int page, const QSizeF& pointsSize) const;
  // Paints every page on the device in the device's own page layout (the
  // preview's and the printer dialog's choices count). False when the device
  // could not be painted on.
  bool print(QPagedPaintDevice* device) const;
  // Writes the document as a PDF file; the error text on failure.
  hostkit::Status exportPdf(const QString& path) const;

  // What keeps the filling going: run by the owner of the last copy before
  // the document goes (stop the work and wait for it).
  void keepUntilGone(std::function<void()> stopAndWait) const;
  // Told, on the filling's thread, of rows read, of the first page and of
  // the end; cleared by passing {} (waits for a call under way).
  enum class Progress { Rows, FirstPage, Done };
  void setObserver(std::function<void(Progress, qint64 rows)> observer) const;

  // A handle on the same document that does not keep it: for the thread
  // that fills it, which the document waits for before it goes.
  ReportDocument unowned() const;

  struct Content;
  struct Layout;

 private:
  explicit ReportDocument(std::shared_ptr<Content> content) : content_(std::move(content)) {}
  friend void fillReportDocument(const ReportDocument&, const ReportTemplate&, const ReportParams&,
                                 const QueryOptions&);
  friend void failReportDocument(const ReportDocument&, const QString&);
  std::shared_ptr<Content> content_;
};

// The SQL value of a prepared parameter: dates as 'YYYY-MM-DD' (with
// ' HH:MM:SS' when a date-time carries a time), as the schema stores them;
// empty text as '' (an unset parameter is NULL).
QVariant reportSqlValue(const ReportParam& param);
// Per column, the edit mask its format names ("DBPict(0)": the host's picture).
QStringList columnMasks(const ReportTemplate& report);
// Runs the definition's query of the connected database kind, every value
// bound; throws EDatabaseError with the report's title.
ReportTable runReportQuery(const ReportTemplate& report, const ReportParams& params, const QueryOptions& options = {});
// Runs the query into a document made by beingFilled, row by row, its pages
// laid out as the rows come; the document is done at the end, with the
// error text when the query failed. Throws nothing.
void fillReportDocument(const ReportDocument& document, const ReportTemplate& report, const ReportParams& params,
                        const QueryOptions& options = {});
// Ends a document being filled with that error when its query cannot run.
void failReportDocument(const ReportDocument& document, const QString& error);
// The page header of a prepared report; reads the context's database.
ReportHeader reportHeaderOf(const ReportTemplate& report, const ReportParams& params, const ReportContext& context);
// The name of a parameter's value (a branch's name), empty when unknown.
using ParameterNameLookup = std::function<QString(const ReportParamText& words, const ReportParams& params)>;
// The fields the definition's query returns, read by running it with every
// parameter unset (read-only) on that connection; the error text when it
// does not run.
hostkit::Result<QStringList> reportQueryFields(const ReportTemplate& report, const QString& connection);
// Before a definition is saved: the refusal when its query is refused or
// does not run, or when it names a field the query does not return. Success
// when that connection is not open (the fields cannot be known).
hostkit::Status checkQueryFields(const ReportTemplate& report, const QString& connection);
// The parameters in words, for the page header: "Filial: 0001", or
// "Filial: 0001 - Matriz" when the lookup names the value.
QStringList describeParameters(const ReportTemplate& report, const ReportParams& params,
                               const ParameterNameLookup& nameOf = {});
// Runs a parameter's name query read-only on that connection.
QString lookUpParameterName(const ReportParamText& words, const ReportParams& params, const QString& connection);
// The company of a branch, read on that connection; empty when unknown.
QString companyNameOf(const QString& branch, const QString& connection);
// The prepared parameters of a definition: every parameter its query for the
// connection's kind of database names, unset.
ReportParams reportParamsOf(const ReportTemplate& report, const QString& connection);
// Query, header and layout in one: the document of a prepared report, read
// on the context's connection.
ReportDocument buildReportDocument(const ReportTemplate& report, const ReportParams& params,
                                   const ReportContext& context);

}  // namespace reportkit
