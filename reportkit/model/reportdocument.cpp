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
#include <cmath>

#include "reportengine.h"
#include "routines.h"

namespace reportkit {

using namespace hostkit;

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
  // One printed line: a group's header or footer, a detail row, the grand total.
  struct Item {
    ReportLine::Kind kind;
    int index;  // detail: the row; otherwise: the line of the table
    double height;
    bool continued = false;  // a group's header again at the top of a page that goes on with it
  };
  struct Page {
    QList<Item> items;
    bool closing = false;  // holds the record count
  };
  QSizeF size;
  QFont body = pointFont(8, false);
  QFont bold = pointFont(8, true);
  QFont heading = pointFont(9, true);
  QFont titleFont = pointFont(13, true);
  double rowHeight = 0;
  double lineHeight = 0;   // of one wrapped text line
  double tableTop = 0;     // where the column titles start
  double tableBottom = 0;  // where the page footer starts
  QStringList parameterLines;
  QList<double> columnX;
  QList<double> columnWidth;
  QList<Page> pages;
};

namespace {

constexpr double kLevelIndent = 8.0;

// Lines a detail row takes: text columns wrap at their width.
int rowLines(const QStringList& cells, const QList<ReportColumn>& columns, const QList<double>& widths,
             const QFontMetricsF& metrics) {
  int lines = 1;
  for (qsizetype c = 0; c < columns.size(); ++c) {
    if (columns[c].type != ReportColumn::Type::Text) continue;
    const QString& text = cells.at(c);
    const double width = widths[c] - 2 * kCellPadding;
    if (text.isEmpty() || metrics.horizontalAdvance(text) <= width) continue;
    const QRectF bounds = metrics.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
    lines = std::max(lines, int(std::ceil(bounds.height() / metrics.height() - 0.01)));
  }
  return lines;
}

}  // namespace

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
  l.lineHeight = body.height();
  l.rowHeight = body.height() + 3;
  l.parameterLines = wrapPhrases(header_.parameters, body, size.width());
  l.tableTop = QFontMetricsF(l.heading).height() + QFontMetricsF(l.titleFont).height() + kGap +
               l.parameterLines.size() * body.height() + kGap;
  l.tableBottom = size.height() - l.rowHeight - kGap;

  double weights = 0;
  for (const ReportColumn& c : table_.columns) weights += c.width;
  double x = 0;
  for (const ReportColumn& c : table_.columns) {
    const double width = weights > 0 ? size.width() * c.width / weights : 0;
    l.columnX << x;
    l.columnWidth << width;
    x += width;
  }

  // The lines in print order; a page ends when the next line does not fit,
  // and a group's header never ends a page (it moves on with its first line).
  QList<Layout::Item> items;
  for (qsizetype i = 0; i < table_.lines.size(); ++i) {
    const ReportLine& line = table_.lines[i];
    if (line.kind != ReportLine::Kind::Details) {
      items << Layout::Item{line.kind, int(i), l.rowHeight};
      continue;
    }
    for (int r = line.firstRow; r < line.firstRow + line.rowCount; ++r) {
      const int lines = rowLines(table_.rows.at(r), table_.columns, l.columnWidth, body);
      items << Layout::Item{line.kind, r, l.rowHeight + (lines - 1) * l.lineHeight};
    }
  }
  const double room = l.tableBottom - l.tableTop - l.rowHeight;  // below the column titles
  Layout::Page page;
  double used = 0;
  QList<int> openGroups;  // per level, the line of the open group's header
  for (qsizetype i = 0; i < items.size(); ++i) {
    double needed = items[i].height;
    if (items[i].kind == ReportLine::Kind::GroupHeader && i + 1 < items.size()) needed += items[i + 1].height;
    if (used + needed > room && !page.items.isEmpty()) {
      l.pages << page;
      page = {};
      used = 0;
      // the page says which groups it goes on with
      if (items[i].kind != ReportLine::Kind::GroupHeader)
        for (int line : openGroups) {
          page.items << Layout::Item{ReportLine::Kind::GroupHeader, line, l.rowHeight, true};
          used += l.rowHeight;
        }
    }
    page.items << items[i];
    used += items[i].height;
    const ReportLine::Kind kind = items[i].kind;
    if (kind == ReportLine::Kind::GroupHeader || kind == ReportLine::Kind::GroupFooter) {
      const ReportLine& line = table_.lines[items[i].index];
      openGroups.resize(std::min<qsizetype>(openGroups.size(), line.level));
      if (kind == ReportLine::Kind::GroupHeader) openGroups << items[i].index;
    }
  }
  // the closing block (no rows line, record count) takes two rows and a gap
  const double closing = 2 * l.rowHeight + kGap;
  if (used + closing > room && !page.items.isEmpty()) {
    l.pages << page;
    page = {};
  }
  page.closing = true;
  l.pages << page;
  return l;
}

std::shared_ptr<const ReportDocument::Layout> ReportDocument::layoutFor(const QSizeF& size) const {
  if (!layoutCache_) return std::make_shared<const Layout>(layout(size));  // moved from
  const std::lock_guard lock(layoutCache_->mutex);
  if (!layoutCache_->layout || layoutCache_->layout->size != size)
    layoutCache_->layout = std::make_shared<const Layout>(layout(size));
  return layoutCache_->layout;
}

int ReportDocument::pageCount(const QPageLayout& pageLayout) const {
  return int(layoutFor(pageLayout.paintRect(QPageLayout::Point).size())->pages.size());
}

void ReportDocument::paintPage(QPainter& painter, int page, const QSizeF& pointsSize) const {
  const std::shared_ptr<const Layout> l = layoutFor(pointsSize);
  if (page < 0 || page >= l->pages.size()) return;
  paintPage(painter, *l, page);
}

void ReportDocument::paintPage(QPainter& p, const Layout& l, int page) const {
  const double width = l.size.width();
  double y = 0;
  // Company and date, then the title.
  p.setFont(l.heading);
  const double headingHeight = QFontMetricsF(l.heading).height();
  p.drawText(QRectF(0, y, width * 0.7, headingHeight), Qt::AlignLeft | Qt::AlignVCenter, header_.company);
  p.drawText(QRectF(0, y, width, headingHeight), Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("Emissão: %1").arg(header_.printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm"))));
  y += headingHeight;
  p.setFont(l.titleFont);
  const double titleHeight = QFontMetricsF(l.titleFont).height();
  p.drawText(QRectF(0, y, width, titleHeight), Qt::AlignHCenter | Qt::AlignVCenter, title_);
  y += titleHeight + kGap;
  p.setFont(l.body);
  for (const QString& line : l.parameterLines) {
    p.drawText(QRectF(0, y, width, l.lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
    y += l.lineHeight;
  }

  // Column titles between two rules.
  y = l.tableTop;
  p.drawLine(QPointF(0, y), QPointF(width, y));
  const auto drawCells = [&](const QStringList& cells, const QFont& font, double height, bool wrap) {
    p.setFont(font);
    const QFontMetricsF metrics(font);
    for (qsizetype c = 0; c < table_.columns.size(); ++c) {
      const QString& text = cells.value(c);
      if (text.isEmpty()) continue;
      const QRectF cell(l.columnX[c] + kCellPadding, y, l.columnWidth[c] - 2 * kCellPadding, height);
      const bool wraps =
          wrap && table_.columns[c].type == ReportColumn::Type::Text && metrics.horizontalAdvance(text) > cell.width();
      if (wraps)
        p.drawText(cell.adjusted(0, 1.5, 0, 0),
                   table_.columns[c].alignment | Qt::AlignTop | Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
      else
        p.drawText(cell.adjusted(0, 0, 0, -(height - l.rowHeight)), table_.columns[c].alignment | Qt::AlignVCenter,
                   metrics.elidedText(text, Qt::ElideRight, cell.width()));
    }
    y += height;
  };
  QStringList titles;
  for (const ReportColumn& c : table_.columns) titles << c.title;
  drawCells(titles, l.bold, l.rowHeight, false);
  p.drawLine(QPointF(0, y), QPointF(width, y));

  // A footer's label runs from its indent to the first total it shows.
  const auto labelWidth = [&](const ReportLine& line, double indent) {
    double end = width;
    for (qsizetype c = 0; c < line.cells.size(); ++c)
      if (!line.cells[c].isEmpty()) {
        end = l.columnX[c];
        break;
      }
    return std::max(end - indent - kCellPadding, width * 0.2);
  };
  const Layout::Page& current = l.pages.at(page);
  for (const Layout::Item& item : current.items) {
    if (item.kind == ReportLine::Kind::Details) {
      drawCells(table_.rows.at(item.index), l.body, item.height, true);
      continue;
    }
    const ReportLine& line = table_.lines.at(item.index);
    const double indent = line.kind == ReportLine::Kind::GrandTotal ? 0 : line.level * kLevelIndent;
    if (line.kind == ReportLine::Kind::GroupHeader) {
      p.setFont(line.level == 0 ? l.heading : l.bold);
      if (line.level == 0) p.fillRect(QRectF(0, y + 1, width, l.rowHeight - 1), QColor(235, 235, 235));
      const QString text = item.continued ? line.text + QStringLiteral(" (continuação)") : line.text;
      p.drawText(QRectF(indent + kCellPadding, y, width - indent, l.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                 QFontMetricsF(p.font()).elidedText(text, Qt::ElideRight, width - indent - 2 * kCellPadding));
      y += l.rowHeight;
      continue;
    }
    // footers and the grand total: a rule above the first line, bold figures
    if (!line.text.isEmpty()) {
      const double from = line.kind == ReportLine::Kind::GrandTotal ? 0 : indent;
      p.drawLine(QPointF(from, y + 0.5), QPointF(width, y + 0.5));
      if (line.kind == ReportLine::Kind::GrandTotal) p.drawLine(QPointF(0, y + 2), QPointF(width, y + 2));
    }
    p.setFont(l.bold);
    p.drawText(QRectF(indent + kCellPadding, y, labelWidth(line, indent), l.rowHeight),
               Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetricsF(l.bold).elidedText(line.text, Qt::ElideRight, labelWidth(line, indent)));
    drawCells(line.cells, l.bold, l.rowHeight, false);
  }
  if (current.closing) {
    if (table_.rows.isEmpty()) {
      p.setFont(l.body);
      p.drawText(QRectF(kCellPadding, y, width, l.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                 QStringLiteral("Nenhum registro encontrado."));
      y += l.rowHeight;
    }
    y += kGap / 2;
    p.drawLine(QPointF(0, y), QPointF(width, y));
    p.setFont(l.body);
    p.drawText(QRectF(kCellPadding, y, width, l.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Registros: %1").arg(productLocale().toString(table_.rows.size())));
  }
  paintPageFooter(p, l, page);
}

// Who printed it, from which screen and report, when, and the page.
void ReportDocument::paintPageFooter(QPainter& p, const Layout& l, int page) const {
  const double width = l.size.width();
  const double y = l.size.height() - l.rowHeight;
  p.drawLine(QPointF(0, y), QPointF(width, y));
  p.setFont(l.body);
  QStringList who;
  if (!header_.operatorName.isEmpty()) who << QStringLiteral("Operador: %1").arg(header_.operatorName);
  for (const QString& code : {header_.screenCode, header_.reportCode})
    if (!code.isEmpty()) who << code;
  const QRectF band(kCellPadding, y, width - 2 * kCellPadding, l.rowHeight);
  p.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, who.join(QStringLiteral("  ·  ")));
  p.drawText(band, Qt::AlignHCenter | Qt::AlignVCenter, header_.printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm")));
  p.drawText(band, Qt::AlignRight | Qt::AlignVCenter,
             QStringLiteral("Página %1 de %2").arg(page + 1).arg(l.pages.size()));
}

bool ReportDocument::print(QPagedPaintDevice* device) const {
  QPainter painter;
  if (!painter.begin(device)) return false;
  const std::shared_ptr<const Layout> kept = layoutFor(device->pageLayout().paintRect(QPageLayout::Point).size());
  const Layout& l = *kept;
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

}  // namespace reportkit
