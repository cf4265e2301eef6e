// Page layout and painting of a report document.
//
// Everything is laid out in points (1/72 inch) and the painter is scaled to
// the device, so the preview, the printer and the PDF file get the same
// pages. Fonts are sized in pixels of that point space for the same reason.
#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>

#include "reportengine.h"
#include "routines.h"

namespace hostkit {

namespace {

constexpr double kCellPadding = 2.0;
constexpr double kGap = 4.0;

QFont pointFont(int size, bool bold) {
  QFont font;
  font.setPixelSize(size);
  font.setBold(bold);
  // no ligatures: "final" must come out of the PDF as typed, for search and copy
  font.setStyleStrategy(QFont::PreferNoShaping);
  return font;
}

// Packs the phrases into lines no wider than `width`, "; " between them.
QStringList wrapPhrases(const QStringList& phrases, const QFontMetricsF& metrics, double width) {
  QStringList lines;
  QString line;
  for (const QString& phrase : phrases) {
    const QString joined = line.isEmpty() ? phrase : line + QStringLiteral("; ") + phrase;
    if (line.isEmpty() || metrics.horizontalAdvance(joined) <= width) {
      line = joined;
      continue;
    }
    lines << line;
    line = phrase;
  }
  if (!line.isEmpty()) lines << line;
  for (QString& l : lines) l = metrics.elidedText(l, Qt::ElideRight, width);
  return lines;
}

}  // namespace

struct ReportDocument::Layout {
  struct Page {
    int first = 0;
    int count = 0;
    bool closing = false;  // holds the totals and the record count
  };
  QSizeF size;
  QFont body = pointFont(8, false);
  QFont bold = pointFont(8, true);
  QFont heading = pointFont(9, true);
  QFont titleFont = pointFont(13, true);
  double rowHeight = 0;
  double tableTop = 0;  // where the column titles start
  QStringList parameterLines;
  QList<double> columnX;
  QList<double> columnWidth;
  QList<Page> pages;
};

ReportDocument::ReportDocument(QString title, QPageLayout::Orientation orientation, ReportHeader header,
                               ReportTable table)
    : title_(std::move(title)), orientation_(orientation), header_(std::move(header)), table_(std::move(table)) {}

QPageLayout ReportDocument::pageLayout() const {
  return QPageLayout(QPageSize(QPageSize::A4), orientation_, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
}

ReportDocument::Layout ReportDocument::layout(const QSizeF& size) const {
  Layout l;
  l.size = size;
  const QFontMetricsF body(l.body);
  l.rowHeight = body.height() + 3;
  l.parameterLines = wrapPhrases(header_.parameters, body, size.width());
  l.tableTop = QFontMetricsF(l.heading).height() + QFontMetricsF(l.titleFont).height() + kGap +
               l.parameterLines.size() * body.height() + kGap;

  double weights = 0;
  for (const ReportColumn& c : table_.columns) weights += c.width;
  double x = 0;
  for (const ReportColumn& c : table_.columns) {
    const double width = weights > 0 ? size.width() * c.width / weights : 0;
    l.columnX << x;
    l.columnWidth << width;
    x += width;
  }

  // Rows below the column titles; the closing block (totals, record count)
  // takes two rows and a gap and goes on a page of its own when needed.
  const int perPage = std::max(1, int((size.height() - l.tableTop - l.rowHeight - kGap) / l.rowHeight));
  const int closingRows = (table_.hasTotals ? 1 : 0) + 1 + 1;  // totals, count, gap
  const int rows = int(table_.rows.size());
  for (int first = 0; first < rows; first += perPage) l.pages << Layout::Page{first, std::min(perPage, rows - first)};
  if (l.pages.isEmpty()) l.pages << Layout::Page{0, 0};  // "Nenhum registro" line
  const int used = l.pages.last().count == 0 ? 1 : l.pages.last().count;
  if (used + closingRows > perPage) l.pages << Layout::Page{rows, 0};
  l.pages.last().closing = true;
  return l;
}

int ReportDocument::pageCount(const QPageLayout& pageLayout) const {
  return int(layout(pageLayout.paintRect(QPageLayout::Point).size()).pages.size());
}

void ReportDocument::paintPage(QPainter& p, const Layout& l, int page) const {
  const double width = l.size.width();
  double y = 0;
  // Company and date, then title and page number.
  p.setFont(l.heading);
  const double headingHeight = QFontMetricsF(l.heading).height();
  p.drawText(QRectF(0, y, width * 0.7, headingHeight), Qt::AlignLeft | Qt::AlignVCenter, header_.company);
  p.drawText(QRectF(0, y, width, headingHeight), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("Emissão: %1").arg(header_.printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm"))));
  y += headingHeight;
  p.setFont(l.titleFont);
  const double titleHeight = QFontMetricsF(l.titleFont).height();
  p.drawText(QRectF(0, y, width, titleHeight), Qt::AlignHCenter | Qt::AlignVCenter, title_);
  p.setFont(l.heading);
  p.drawText(QRectF(0, y, width, titleHeight), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("Página %1 de %2").arg(page + 1).arg(l.pages.size()));
  y += titleHeight + kGap;
  p.setFont(l.body);
  const double lineHeight = QFontMetricsF(l.body).height();
  for (const QString& line : l.parameterLines) {
    p.drawText(QRectF(0, y, width, lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
    y += lineHeight;
  }

  // Column titles between two rules.
  y = l.tableTop;
  p.drawLine(QPointF(0, y), QPointF(width, y));
  const auto drawRow = [&](const QStringList& cells, const QFont& font) {
    p.setFont(font);
    const QFontMetricsF metrics(font);
    for (qsizetype c = 0; c < table_.columns.size(); ++c) {
      const QRectF cell(l.columnX[c] + kCellPadding, y, l.columnWidth[c] - 2 * kCellPadding, l.rowHeight);
      const QString text = metrics.elidedText(cells.value(c), Qt::ElideRight, cell.width());
      p.drawText(cell, table_.columns[c].alignment | Qt::AlignVCenter, text);
    }
    y += l.rowHeight;
  };
  QStringList titles;
  for (const ReportColumn& c : table_.columns) titles << c.title;
  drawRow(titles, l.bold);
  p.drawLine(QPointF(0, y), QPointF(width, y));

  const Layout::Page& current = l.pages.at(page);
  for (int r = current.first; r < current.first + current.count; ++r) drawRow(table_.rows.at(r), l.body);
  if (!current.closing) return;
  if (table_.rows.isEmpty()) {
    p.setFont(l.body);
    p.drawText(QRectF(kCellPadding, y, width, l.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Nenhum registro encontrado."));
    y += l.rowHeight;
  }
  y += kGap / 2;
  p.drawLine(QPointF(0, y), QPointF(width, y));
  if (table_.hasTotals && !table_.rows.isEmpty()) {
    QStringList totals = table_.totals;
    if (!table_.columns.first().total) totals[0] = QStringLiteral("Total");
    drawRow(totals, l.bold);
  }
  p.setFont(l.body);
  p.drawText(QRectF(kCellPadding, y, width, l.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Registros: %1").arg(productLocale().toString(table_.rows.size())));
}

bool ReportDocument::print(QPagedPaintDevice* device) const {
  QPainter painter;
  if (!painter.begin(device)) return false;
  const Layout l = layout(device->pageLayout().paintRect(QPageLayout::Point).size());
  const double scaleX = device->logicalDpiX() / 72.0;
  const double scaleY = device->logicalDpiY() / 72.0;
  for (int page = 0; page < l.pages.size(); ++page) {
    if (page > 0) device->newPage();
    painter.save();
    painter.scale(scaleX, scaleY);
    paintPage(painter, l, page);
    painter.restore();
  }
  return painter.end();
}

std::optional<QString> ReportDocument::exportPdf(const QString& path) const {
  QPdfWriter writer(path);
  writer.setTitle(title_);
  writer.setCreator(QStringLiteral("Consolidação de Vendas"));
  writer.setPageLayout(pageLayout());
  if (!print(&writer)) return QStringLiteral("Não foi possível gravar o arquivo PDF '%1'.").arg(path);
  return std::nullopt;
}

}  // namespace hostkit
