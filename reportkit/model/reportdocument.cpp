// Page layout and painting of a report document, and its filling.
//
// Everything is laid out in points (1/72 inch) and the painter is scaled to
// the device, so the preview, the printer and the PDF file get the same
// pages. Fonts are sized in pixels of that point space for the same reason.
//
// A document being filled lays its own pages out as the rows come, under
// the lock its readers take: a page, once finished, never changes but for
// its count of pages ("Página 1 de 3 080" once the last is known).
#include <QFontMetricsF>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>

#include "reportengine.h"
#include "reportfill.h"
#include <hostkit/core/routines.h>

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
  // An item of the table in print order: a line, and for a run of details
  // one of its rows.
  struct Cursor {
    int line = 0;
    int row = -1;
  };
  struct Page {
    Cursor first;
    int items = 0;         // from `first` on
    QList<int> continued;  // the headers of the groups it goes on with, repeated at its top
    bool closing = false;  // holds the record count
  };

  Layout(const QSizeF& size, const ReportHeader& header, const QList<ReportColumn>& columns);

  // Lays out what the table holds so far; with `complete`, to the end and
  // the closing block.
  void advance(const ReportTable& table, bool complete);
  double heightOf(const ReportTable& table, const Cursor& at) const;
  // Moves past a finished run of details; false when the table has no item
  // there (yet).
  static bool settle(const ReportTable& table, Cursor& at);
  static Cursor following(const ReportTable& table, const Cursor& at);

  QSizeF size;
  QFont body = pointFont(8, false);
  QFont bold = pointFont(8, true);
  QFont heading = pointFont(9, true);
  QFont titleFont = pointFont(13, true);
  QFontMetricsF bodyMetrics{body};
  double rowHeight = 0;
  double lineHeight = 0;   // of one wrapped text line
  double tableTop = 0;     // where the column titles start
  double tableBottom = 0;  // where the page footer starts
  QStringList parameterLines;
  QList<double> columnX;
  QList<double> columnWidth;
  QList<Page> pages;  // finished
  bool done = false;

 private:
  void place(const ReportLine& line, const Cursor& at, double height, double needed);
  int onPage() const { return int(current_.continued.size()) + current_.items; }
  double room() const { return tableBottom - tableTop - rowHeight; }  // below the column titles
  int rowLines(const ReportTable& table, int row) const;
  int textLines(const QString& text, int column) const;

  Page current_;
  double used_ = 0;
  QList<int> openGroups_;  // per level, the line of the open group's header
  Cursor next_;
  // per text column and distinct text, the lines it takes (0: not measured)
  mutable std::vector<std::vector<uint8_t>> wrapLines_;
};

namespace {

constexpr double kLevelIndent = 8.0;

}  // namespace

ReportDocument::Layout::Layout(const QSizeF& size_, const ReportHeader& header, const QList<ReportColumn>& columns)
    : size(size_) {
  lineHeight = bodyMetrics.height();
  rowHeight = bodyMetrics.height() + 3;
  parameterLines = wrapPhrases(header.parameters, bodyMetrics, size.width());
  tableTop = QFontMetricsF(heading).height() + QFontMetricsF(titleFont).height() + kGap +
             parameterLines.size() * bodyMetrics.height() + kGap;
  tableBottom = size.height() - rowHeight - kGap;

  // the columns left off the pages take no width
  double weights = 0;
  for (const ReportColumn& c : columns)
    if (c.printed) weights += c.width;
  double x = 0;
  for (const ReportColumn& c : columns) {
    const double width = weights > 0 && c.printed ? size.width() * c.width / weights : 0;
    columnX << x;
    columnWidth << width;
    x += width;
  }
  wrapLines_.resize(size_t(columns.size()));
}

bool ReportDocument::Layout::settle(const ReportTable& table, Cursor& at) {
  while (at.line < table.lines.size()) {
    const ReportLine& line = table.lines[at.line];
    if (line.kind != ReportLine::Kind::Details) {
      at.row = -1;
      return true;
    }
    at.row = std::max(at.row, line.firstRow);
    if (at.row < line.firstRow + line.rowCount) return true;
    if (at.line + 1 == table.lines.size()) return false;  // the run may still grow
    ++at.line;
    at.row = -1;
  }
  return false;
}

ReportDocument::Layout::Cursor ReportDocument::Layout::following(const ReportTable& table, const Cursor& at) {
  if (table.lines[at.line].kind == ReportLine::Kind::Details) return {at.line, at.row + 1};
  return {at.line + 1, -1};
}

int ReportDocument::Layout::textLines(const QString& text, int column) const {
  const double width = columnWidth[column] - 2 * kCellPadding;
  if (text.isEmpty() || bodyMetrics.horizontalAdvance(text) <= width) return 1;
  const QRectF bounds =
      bodyMetrics.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
  return std::clamp(int(std::ceil(bounds.height() / bodyMetrics.height() - 0.01)), 1, 255);
}

// Lines a detail row takes: text columns wrap at their width. The same text
// takes the same lines: each distinct text of a column is measured once.
int ReportDocument::Layout::rowLines(const ReportTable& table, int row) const {
  int lines = 1;
  for (int c = 0; c < int(table.columns.size()); ++c) {
    const qint64 id = table.textId(row, c);
    if (id < 0 || columnWidth[c] <= 0) continue;
    std::vector<uint8_t>& known = wrapLines_[size_t(c)];
    if (size_t(id) >= known.size()) known.resize(size_t(id) + 1, 0);
    if (!known[size_t(id)]) known[size_t(id)] = uint8_t(textLines(table.text(row, c), c));
    lines = std::max<int>(lines, known[size_t(id)]);
  }
  return lines;
}

double ReportDocument::Layout::heightOf(const ReportTable& table, const Cursor& at) const {
  if (table.lines[at.line].kind != ReportLine::Kind::Details) return rowHeight;
  return rowHeight + (rowLines(table, at.row) - 1) * lineHeight;
}

// A page ends when the next item does not fit, and a group's header never
// ends a page (it moves on with its first line).
void ReportDocument::Layout::advance(const ReportTable& table, bool complete) {
  if (done) return;
  for (;;) {
    Cursor at = next_;
    if (!settle(table, at)) break;
    const ReportLine& line = table.lines[at.line];
    const double height = heightOf(table, at);
    double needed = height;
    if (line.kind == ReportLine::Kind::GroupHeader) {
      Cursor then = following(table, at);
      if (settle(table, then))
        needed += heightOf(table, then);
      else if (!complete)
        break;  // laid out with the line it goes with
    }
    place(line, at, height, needed);
    next_ = following(table, at);
  }
  if (!complete) return;
  // the closing block (no rows line, record count) takes two rows and a gap
  const double closing = 2 * rowHeight + kGap;
  if (used_ + closing > room() && onPage() > 0) {
    pages << current_;
    current_ = {};
  }
  current_.closing = true;
  pages << current_;
  done = true;
}

void ReportDocument::Layout::place(const ReportLine& line, const Cursor& at, double height, double needed) {
  if (used_ + needed > room() && onPage() > 0) {
    pages << current_;
    current_ = {};
    used_ = 0;
    // the page says which groups it goes on with: all that are open, or
    // those above a group that opens here (a product's group starting a
    // page inside a day goes on with that day)
    current_.continued = line.kind == ReportLine::Kind::GroupHeader ? openGroups_.mid(0, line.level) : openGroups_;
    used_ += rowHeight * double(current_.continued.size());
  }
  if (current_.items == 0) current_.first = at;
  ++current_.items;
  used_ += height;
  if (line.kind == ReportLine::Kind::GroupHeader || line.kind == ReportLine::Kind::GroupFooter) {
    openGroups_.resize(std::min<qsizetype>(openGroups_.size(), line.level));
    if (line.kind == ReportLine::Kind::GroupHeader) openGroups_ << at.line;
  }
}

// ---- the shared content ----

struct ReportDocument::Content {
  Content(QString title_, QPageLayout::Orientation orientation_, ReportHeader header_)
      : title(std::move(title_)), orientation(orientation_), header(std::move(header_)) {}
  ~Content() {
    if (stopAndWait) stopAndWait();
  }

  const QString title;
  const QPageLayout::Orientation orientation;
  const ReportHeader header;
  QStringList masks;

  std::mutex mutex;  // over all below while the document is filled
  std::condition_variable changed;
  ReportTable table;
  bool complete = true;
  std::optional<QString> error;
  bool cancelled = false;
  std::unique_ptr<Layout> own;    // on the document's own pages
  std::unique_ptr<Layout> other;  // the last other size asked for

  std::atomic<qint64> rowsRead{0};
  std::atomic<bool> cancelRequested{false};
  std::mutex interruptMutex;
  std::function<void()> interrupt;  // while the query runs
  std::mutex observerMutex;
  std::function<void(Progress, qint64)> observer;
  std::function<void()> stopAndWait;

  QPageLayout pageLayout() const {
    return QPageLayout(QPageSize(QPageSize::A4), orientation, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
  }
  QSizeF ownSize() const { return pageLayout().paintRect(QPageLayout::Point).size(); }

  // The rest of these with the lock held.
  void waitUntilComplete(std::unique_lock<std::mutex>& lock) {
    changed.wait(lock, [this] { return complete; });
  }
  Layout& ownLayout() {
    if (!own) own = std::make_unique<Layout>(ownSize(), header, table.columns);
    if (complete) own->advance(table, true);
    return *own;
  }
  // Pages of another size are laid out once the document is complete.
  Layout& layoutFor(const QSizeF& size) {
    if (size == ownSize()) return ownLayout();
    if (!other || other->size != size) {
      other = std::make_unique<Layout>(size, header, table.columns);
      other->advance(table, true);
    }
    return *other;
  }

  void notify(Progress progress, qint64 rows) {
    const std::lock_guard lock(observerMutex);
    if (observer) observer(progress, rows);
  }
};

namespace {

using Content = ReportDocument::Content;
using Layout = ReportDocument::Layout;

// Draws one page of the content; `total` pages, or -1 while not known.
class PagePainter {
 public:
  PagePainter(QPainter& painter, const Content& content, const Layout& layout)
      : p_(painter), content_(content), table_(content.table), l_(layout), width_(layout.size.width()) {}

  void paint(int page, int total) {
    paintHeader();
    const Layout::Page& current = l_.pages.at(page);
    for (int line : current.continued) paintGroupHeader(table_.lines.at(line), true);
    Layout::Cursor at = current.first;
    for (int i = 0; i < current.items; ++i) {
      Layout::settle(table_, at);
      paintItem(at);
      at = Layout::following(table_, at);
    }
    if (current.closing) paintClosing();
    paintFooter(page, total);
  }

 private:
  // Company and date, then the title, the parameters and the column titles
  // between two rules.
  void paintHeader() {
    double y = 0;
    p_.setFont(l_.heading);
    const double headingHeight = QFontMetricsF(l_.heading).height();
    p_.drawText(QRectF(0, y, width_ * 0.7, headingHeight), Qt::AlignLeft | Qt::AlignVCenter, content_.header.company);
    p_.drawText(
        QRectF(0, y, width_, headingHeight), Qt::AlignRight | Qt::AlignVCenter,
        QStringLiteral("Emissão: %1").arg(content_.header.printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm"))));
    y += headingHeight;
    p_.setFont(l_.titleFont);
    const double titleHeight = QFontMetricsF(l_.titleFont).height();
    p_.drawText(QRectF(0, y, width_, titleHeight), Qt::AlignHCenter | Qt::AlignVCenter, content_.title);
    y += titleHeight + kGap;
    p_.setFont(l_.body);
    for (const QString& line : l_.parameterLines) {
      p_.drawText(QRectF(0, y, width_, l_.lineHeight), Qt::AlignLeft | Qt::AlignVCenter, line);
      y += l_.lineHeight;
    }
    y_ = l_.tableTop;
    p_.drawLine(QPointF(0, y_), QPointF(width_, y_));
    QStringList titles;
    for (const ReportColumn& c : table_.columns) titles << c.title;
    drawCells(titles, l_.bold, l_.rowHeight, false);
    p_.drawLine(QPointF(0, y_), QPointF(width_, y_));
  }

  void drawCells(const QStringList& cells, const QFont& font, double height, bool wrap) {
    p_.setFont(font);
    const QFontMetricsF metrics(font);
    for (qsizetype c = 0; c < table_.columns.size(); ++c) {
      const QString& text = cells.value(c);
      if (text.isEmpty() || l_.columnWidth[c] <= 0) continue;
      const QRectF cell(l_.columnX[c] + kCellPadding, y_, l_.columnWidth[c] - 2 * kCellPadding, height);
      const bool wraps =
          wrap && table_.columns[c].type == ReportColumn::Type::Text && metrics.horizontalAdvance(text) > cell.width();
      if (wraps)
        p_.drawText(cell.adjusted(0, 1.5, 0, 0),
                    table_.columns[c].alignment | Qt::AlignTop | Qt::TextWordWrap | Qt::TextWrapAnywhere, text);
      else
        p_.drawText(cell.adjusted(0, 0, 0, -(height - l_.rowHeight)), table_.columns[c].alignment | Qt::AlignVCenter,
                    metrics.elidedText(text, Qt::ElideRight, cell.width()));
    }
    y_ += height;
  }

  void paintItem(const Layout::Cursor& at) {
    const ReportLine& line = table_.lines.at(at.line);
    switch (line.kind) {
      case ReportLine::Kind::Details:
        drawCells(table_.rowTexts(at.row), l_.body, l_.heightOf(table_, at), true);
        return;
      case ReportLine::Kind::GroupHeader:
        paintGroupHeader(line, false);
        return;
      case ReportLine::Kind::GroupFooter:
      case ReportLine::Kind::GrandTotal:
        paintTotals(line);
        return;
    }
  }

  void paintGroupHeader(const ReportLine& line, bool continued) {
    const double indent = line.level * kLevelIndent;
    p_.setFont(line.level == 0 ? l_.heading : l_.bold);
    if (line.level == 0) p_.fillRect(QRectF(0, y_ + 1, width_, l_.rowHeight - 1), QColor(235, 235, 235));
    const QString text = continued ? line.text + QStringLiteral(" (continuação)") : line.text;
    p_.drawText(QRectF(indent + kCellPadding, y_, width_ - indent, l_.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetricsF(p_.font()).elidedText(text, Qt::ElideRight, width_ - indent - 2 * kCellPadding));
    y_ += l_.rowHeight;
  }

  // A footer's label runs from its indent to the first total it shows.
  double labelWidth(const ReportLine& line, double indent) const {
    double end = width_;
    for (qsizetype c = 0; c < line.cells.size(); ++c)
      if (!line.cells[c].isEmpty()) {
        end = l_.columnX[c];
        break;
      }
    return std::max(end - indent - kCellPadding, width_ * 0.2);
  }

  // Footers and the grand total: a rule above the first line, bold figures.
  void paintTotals(const ReportLine& line) {
    const bool grand = line.kind == ReportLine::Kind::GrandTotal;
    const double indent = grand ? 0 : line.level * kLevelIndent;
    if (!line.text.isEmpty()) {
      p_.drawLine(QPointF(indent, y_ + 0.5), QPointF(width_, y_ + 0.5));
      if (grand) p_.drawLine(QPointF(0, y_ + 2), QPointF(width_, y_ + 2));
    }
    p_.setFont(l_.bold);
    const double label = labelWidth(line, indent);
    p_.drawText(QRectF(indent + kCellPadding, y_, label, l_.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetricsF(l_.bold).elidedText(line.text, Qt::ElideRight, label));
    drawCells(line.cells, l_.bold, l_.rowHeight, false);
  }

  void paintClosing() {
    if (table_.isEmpty()) {
      p_.setFont(l_.body);
      p_.drawText(QRectF(kCellPadding, y_, width_, l_.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                  QStringLiteral("Nenhum registro encontrado."));
      y_ += l_.rowHeight;
    }
    y_ += kGap / 2;
    p_.drawLine(QPointF(0, y_), QPointF(width_, y_));
    p_.setFont(l_.body);
    p_.drawText(QRectF(kCellPadding, y_, width_, l_.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                QStringLiteral("Registros: %1").arg(productLocale().toString(table_.rowCount())));
  }

  // Who printed it, from which screen and report, when, and the page.
  void paintFooter(int page, int total) {
    const double y = l_.size.height() - l_.rowHeight;
    p_.drawLine(QPointF(0, y), QPointF(width_, y));
    p_.setFont(l_.body);
    const ReportHeader& header = content_.header;
    QStringList who;
    if (!header.operatorName.isEmpty()) who << QStringLiteral("Operador: %1").arg(header.operatorName);
    for (const QString& code : {header.screenCode, header.reportCode})
      if (!code.isEmpty()) who << code;
    const QRectF band(kCellPadding, y, width_ - 2 * kCellPadding, l_.rowHeight);
    p_.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, who.join(QStringLiteral("  ·  ")));
    p_.drawText(band, Qt::AlignHCenter | Qt::AlignVCenter,
                header.printedAt.toString(QStringLiteral("dd/MM/yyyy HH:mm")));
    // the count is known once the last row is in
    const QString count = total < 0 ? QStringLiteral("…") : QString::number(total);
    p_.drawText(band, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Página %1 de %2").arg(page + 1).arg(count));
  }

  QPainter& p_;
  const Content& content_;
  const ReportTable& table_;
  const Layout& l_;
  const double width_;
  double y_ = 0;
};

}  // namespace

// ---- ReportDocument ----

ReportDocument::ReportDocument()
    : content_(std::make_shared<Content>(QString(), QPageLayout::Portrait, ReportHeader())) {}

ReportDocument::ReportDocument(QString title, QPageLayout::Orientation orientation, ReportHeader header,
                               ReportTable table)
    : content_(std::make_shared<Content>(std::move(title), orientation, std::move(header))) {
  content_->table = std::move(table);
}

ReportDocument ReportDocument::beingFilled(const ReportTemplate& report, ReportHeader header,
                                           const QStringList& masks) {
  ReportDocument document(std::make_shared<Content>(report.title, report.orientation, std::move(header)));
  Content& c = *document.content_;
  c.masks = masks;
  c.table = ReportTable(report.tableColumns(), masks);
  c.complete = false;
  // laid out here: the fonts are the screen thread's
  c.own = std::make_unique<Layout>(c.ownSize(), c.header, c.table.columns);
  return document;
}

ReportDocument ReportDocument::unowned() const {
  return ReportDocument(std::shared_ptr<Content>(std::shared_ptr<Content>(), content_.get()));
}

const QString& ReportDocument::title() const { return content_->title; }

const ReportHeader& ReportDocument::header() const { return content_->header; }

const ReportTable& ReportDocument::table() const {
  std::unique_lock lock(content_->mutex);
  content_->waitUntilComplete(lock);
  return content_->table;
}

bool ReportDocument::isComplete() const {
  const std::lock_guard lock(content_->mutex);
  return content_->complete;
}

int ReportDocument::pagesReady() const {
  const std::lock_guard lock(content_->mutex);
  return int(content_->ownLayout().pages.size());
}

qint64 ReportDocument::rowsRead() const { return content_->rowsRead; }

std::optional<QString> ReportDocument::fillError() const {
  const std::lock_guard lock(content_->mutex);
  return content_->error;
}

bool ReportDocument::fillCancelled() const {
  const std::lock_guard lock(content_->mutex);
  return content_->cancelled;
}

void ReportDocument::cancelFill() const {
  content_->cancelRequested = true;
  const std::lock_guard lock(content_->interruptMutex);
  if (content_->interrupt) content_->interrupt();
}

void ReportDocument::waitForPages(int pages) const {
  std::unique_lock lock(content_->mutex);
  content_->changed.wait(lock, [&] { return content_->complete || content_->ownLayout().pages.size() >= pages; });
}

void ReportDocument::keepUntilGone(std::function<void()> stopAndWait) const {
  content_->stopAndWait = std::move(stopAndWait);
}

void ReportDocument::setObserver(std::function<void(Progress, qint64)> observer) const {
  const std::lock_guard lock(content_->observerMutex);
  content_->observer = std::move(observer);
}

QPageLayout ReportDocument::pageLayout() const { return content_->pageLayout(); }

int ReportDocument::pageCount(const QPageLayout& pageLayout) const {
  std::unique_lock lock(content_->mutex);
  content_->waitUntilComplete(lock);
  return int(content_->layoutFor(pageLayout.paintRect(QPageLayout::Point).size()).pages.size());
}

void ReportDocument::paintPage(QPainter& painter, int page, const QSizeF& pointsSize) const {
  Content& c = *content_;
  std::unique_lock lock(c.mutex);
  if (pointsSize != c.ownSize())
    c.waitUntilComplete(lock);
  else
    c.changed.wait(lock, [&] { return c.complete || page < c.ownLayout().pages.size(); });
  const Layout& layout = c.layoutFor(pointsSize);
  if (page < 0 || page >= layout.pages.size()) return;
  PagePainter(painter, c, layout).paint(page, c.complete ? int(layout.pages.size()) : -1);
}

bool ReportDocument::print(QPagedPaintDevice* device) const {
  QPainter painter;
  if (!painter.begin(device)) return false;
  Content& c = *content_;
  std::unique_lock lock(c.mutex);
  c.waitUntilComplete(lock);
  const Layout& l = c.layoutFor(device->pageLayout().paintRect(QPageLayout::Point).size());
  const double scaleX = device->logicalDpiX() / 72.0;
  const double scaleY = device->logicalDpiY() / 72.0;
  for (int page = 0; page < l.pages.size(); ++page) {
    if (page > 0) device->newPage();
    painter.save();
    painter.scale(scaleX, scaleY);
    PagePainter(painter, c, l).paint(page, int(l.pages.size()));
    painter.restore();
  }
  return painter.end();
}

Status ReportDocument::exportPdf(const QString& path) const {
  QPdfWriter writer(path);
  writer.setTitle(title());
  writer.setCreator(QStringLiteral("Consolidação de Vendas"));
  writer.setPageLayout(pageLayout());
  if (!print(&writer)) return Status::failure(QStringLiteral("Não foi possível gravar o arquivo PDF '%1'.").arg(path));
  return success();
}

// ---- filling ----

namespace {

// With the lock held: done, whole or not.
void complete(Content& c, const std::optional<QString>& error) {
  c.complete = true;
  c.cancelled = c.cancelRequested;
  if (!c.cancelled) c.error = error;
}

// The query failed or was stopped short of its end.
void endShort(Content& c, const std::optional<QString>& error) {
  {
    const std::lock_guard lock(c.mutex);
    if (c.complete) return;
    complete(c, error);
  }
  c.changed.notify_all();
  c.notify(ReportDocument::Progress::Done, c.rowsRead);
}

}  // namespace

void fillReportDocument(const ReportDocument& document, const ReportTemplate& report, const ReportParams& params,
                        const QueryOptions& options) {
  Content& c = *document.content_;
  QueryOptions reading = options;
  if (!reading.masks) reading.masks = c.masks;
  reading.onRowsRead = [&c, &options](qint64 rows) {
    c.rowsRead = rows;
    c.notify(ReportDocument::Progress::Rows, rows);
    const bool goOn = !options.onRowsRead || options.onRowsRead(rows);
    return goOn && !c.cancelRequested;
  };
  detail::TableFill fill;
  fill.lock = &c.mutex;
  // the last page and the end come together: a preview opened at the first
  // page of a short report finds it whole
  fill.afterRow = [&c](bool done) {
    const qsizetype before = c.own->pages.size();
    c.own->advance(c.table, done);
    if (done) complete(c, std::nullopt);
    if (c.own->pages.size() == before && !done) return;
    c.changed.notify_all();
    if (before == 0 && !c.own->pages.isEmpty()) c.notify(ReportDocument::Progress::FirstPage, c.table.rowCount());
    if (done) c.notify(ReportDocument::Progress::Done, c.rowsRead);
  };
  fill.setInterrupt = [&c](std::function<void()> interrupt) {
    const std::lock_guard lock(c.interruptMutex);
    c.interrupt = std::move(interrupt);
    if (c.interrupt && c.cancelRequested) c.interrupt();  // cancelled before the query started
  };
  std::optional<QString> error;
  if (!c.cancelRequested)
    if (const Status filled = detail::fillReportTable(report, params, reading, c.table, fill); !filled.ok())
      error = filled.error();
  endShort(c, error);
}

void failReportDocument(const ReportDocument& document, const QString& error) { endShort(*document.content_, error); }

}  // namespace reportkit
