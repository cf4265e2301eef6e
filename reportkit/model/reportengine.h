// The report engine: runs a definition's query with the prepared parameters
// on the host's database and lays the result out as a paginated document
// (page header with the company, the title, the parameters in words, the
// date and "Página X de Y"; a table with totals where a column asks for them)
// that previews, prints and exports to PDF alike.
#pragma once

#include <QDateTime>
#include <QList>
#include <QPageLayout>
#include <QString>
#include <QStringList>
#include <optional>

#include "forms.h"
#include "reporttemplate.h"

class QPagedPaintDevice;
class QPainter;

namespace hostkit {

// The query's rows, formatted for print.
struct ReportTable {
  QList<ReportColumn> columns;
  QList<QStringList> rows;
  QStringList totals;  // per column: the formatted sum, empty for columns without total
  bool hasTotals = false;
};

struct ReportHeader {
  QString company;
  QStringList parameters;  // "label: value" phrases
  QDateTime printedAt;
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
  // Paints every page on the device in the device's own page layout (the
  // preview's and the printer dialog's choices count). False when the device
  // could not be painted on.
  bool print(QPagedPaintDevice* device) const;
  // Writes the document as a PDF file; the error text on failure.
  std::optional<QString> exportPdf(const QString& path) const;

 private:
  struct Layout;
  Layout layout(const QSizeF& size) const;
  void paintPage(QPainter& painter, const Layout& layout, int page) const;

  QString title_;
  QPageLayout::Orientation orientation_ = QPageLayout::Portrait;
  ReportHeader header_;
  ReportTable table_;
};

// The SQL value of a prepared parameter: dates as 'YYYY-MM-DD' (with
// ' HH:MM:SS' when a date-time carries a time), as the schema stores them;
// empty text as '' (an unset parameter is NULL).
QVariant reportSqlValue(const ReportParam& param);
// Runs the definition's query of the connected database kind on the host's
// database, every value bound; throws EDatabaseError with the report's title.
ReportTable runReportQuery(const ReportTemplate& report, const ReportParams& params);
// The parameters in words, for the page header.
QStringList describeParameters(const ReportTemplate& report, const ReportParams& params);
// The company of a branch, from the host's database; empty when unknown.
QString companyNameOf(const QString& branch);
// The prepared parameters of a definition: every parameter its query names, unset.
ReportParams reportParamsOf(const ReportTemplate& report);
// Query, header and layout in one: the document of a prepared report.
ReportDocument buildReportDocument(const ReportTemplate& report, const ReportParams& params);

}  // namespace hostkit
