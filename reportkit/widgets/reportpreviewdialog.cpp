// The print preview. The document is laid out once; a page is painted only
// when it comes into view, into an image at the current zoom, and the last
// few images are kept for scrolling back and forth. A document still being
// filled shows the pages laid out so far, more as they come, and its count
// of pages once the last row is in; it prints and exports once complete.
#include "reportpreviewdialog.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "reportpreview.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <hostkit/widgets/filedialogs.h>
#include <reportkit/model/reportengine.h>
#include <reportkit/model/reportexport.h>

namespace reportkit {

using namespace hostkit;

// The pages one under the other on a grey background, centred.
class ReportPageView final : public QAbstractScrollArea {
 public:
  ReportPageView(const ReportDocument& document, QWidget* parent);

  int pageCount() const { return pageCount_; }
  bool complete() const { return complete_; }
  int currentPage() const;
  void showPage(int page);
  void zoomBy(double factor);
  void fitWidth();
  // Called whenever the view scrolls or its pages change size.
  std::function<void()> onMoved;
  // Called when pages come in while the document is filled, and once when it is done.
  std::function<void()> onPagesChanged;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  static constexpr int kGap = 12;
  static constexpr int kCachedPages = 6;
  static constexpr double kMinZoom = 0.2, kMaxZoom = 6.0;  // pixels per point

  struct Cached {
    int page;
    QImage image;
  };

  QSize pagePixels() const;
  int pitch() const { return pagePixels().height() + kGap; }
  void setZoom(double zoom);
  void updateScrollBars();
  const QImage& pageImage(int page);
  QImage paintedPage(int page) const;
  void takeNewPages();

  const ReportDocument& document_;
  QSizeF pagePoints_;   // the whole sheet
  QRectF paintPoints_;  // inside the margins
  int pageCount_ = 0;
  bool complete_ = false;
  QTimer* filling_ = nullptr;  // while the document is filled
  double zoom_ = 1.0;
  bool fitsWidth_ = true;
  QList<Cached> cache_;  // most recently shown first
};

ReportPageView::ReportPageView(const ReportDocument& document, QWidget* parent)
    : QAbstractScrollArea(parent), document_(document) {
  const QPageLayout layout = document.pageLayout();
  pagePoints_ = layout.fullRect(QPageLayout::Point).size();
  paintPoints_ = layout.paintRect(QPageLayout::Point);
  complete_ = document.isComplete();
  pageCount_ = document.pagesReady();
  if (!complete_) {
    filling_ = new QTimer(this);
    filling_->setInterval(100);
    connect(filling_, &QTimer::timeout, this, [this] { takeNewPages(); });
    filling_->start();
  }
  setObjectName(QStringLiteral("pnlPaginas"));
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);  // fitting the width never toggles it
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setBackgroundRole(QPalette::Dark);
  viewport()->setAutoFillBackground(true);
  verticalScrollBar()->setSingleStep(20);
  horizontalScrollBar()->setSingleStep(20);
}

void ReportPageView::takeNewPages() {
  const bool complete = document_.isComplete();
  const int pages = document_.pagesReady();
  if (pages == pageCount_ && complete == complete_) return;
  pageCount_ = pages;
  if (complete) {
    complete_ = true;
    filling_->stop();
    cache_.clear();  // painted with "de ..." for the count of pages
  }
  updateScrollBars();
  viewport()->update();
  if (onPagesChanged) onPagesChanged();
}

QSize ReportPageView::pagePixels() const {
  return QSize(int(std::round(pagePoints_.width() * zoom_)), int(std::round(pagePoints_.height() * zoom_)));
}

int ReportPageView::currentPage() const {
  const QScrollBar* bar = verticalScrollBar();
  if (bar->maximum() > 0 && bar->value() == bar->maximum()) return pageCount_ - 1;
  return std::clamp((bar->value() + kGap) / pitch(), 0, std::max(pageCount_ - 1, 0));
}

void ReportPageView::showPage(int page) {
  verticalScrollBar()->setValue(std::clamp(page, 0, std::max(pageCount_ - 1, 0)) * pitch());
}

void ReportPageView::zoomBy(double factor) {
  fitsWidth_ = false;
  setZoom(zoom_ * factor);
}

void ReportPageView::fitWidth() {
  fitsWidth_ = true;
  setZoom((viewport()->width() - 2 * kGap) / pagePoints_.width());
}

void ReportPageView::setZoom(double zoom) {
  zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
  if (qFuzzyCompare(zoom, zoom_)) return;
  const int page = currentPage();
  zoom_ = zoom;
  cache_.clear();
  updateScrollBars();
  showPage(page);
  viewport()->update();
  if (onMoved) onMoved();
}

void ReportPageView::updateScrollBars() {
  const QSize page = pagePixels();
  const QSize room = viewport()->size();
  verticalScrollBar()->setRange(0, std::max(0, kGap + pageCount_ * pitch() - room.height()));
  verticalScrollBar()->setPageStep(room.height());
  horizontalScrollBar()->setRange(0, std::max(0, page.width() + 2 * kGap - room.width()));
  horizontalScrollBar()->setPageStep(room.width());
}

void ReportPageView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (fitsWidth_) setZoom((viewport()->width() - 2 * kGap) / pagePoints_.width());
  updateScrollBars();
}

void ReportPageView::scrollContentsBy(int, int) {
  viewport()->update();
  if (onMoved) onMoved();
}

QImage ReportPageView::paintedPage(int page) const {
  const qreal ratio = devicePixelRatioF();
  QImage image(pagePixels() * ratio, QImage::Format_RGB32);
  image.setDevicePixelRatio(ratio);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
  painter.scale(zoom_, zoom_);
  painter.translate(paintPoints_.topLeft());
  document_.paintPage(painter, page, paintPoints_.size());
  return image;
}

const QImage& ReportPageView::pageImage(int page) {
  const auto hit = std::find_if(cache_.begin(), cache_.end(), [page](const Cached& c) { return c.page == page; });
  if (hit != cache_.end())
    cache_.move(hit - cache_.begin(), 0);
  else
    cache_.prepend({page, paintedPage(page)});
  while (cache_.size() > kCachedPages) cache_.removeLast();
  return cache_.first().image;
}

void ReportPageView::paintEvent(QPaintEvent*) {
  if (pageCount_ == 0) return;
  QPainter painter(viewport());
  const QSize page = pagePixels();
  const int top = verticalScrollBar()->value();
  const int height = viewport()->height();
  const int x = page.width() + 2 * kGap <= viewport()->width() ? (viewport()->width() - page.width()) / 2
                                                               : kGap - horizontalScrollBar()->value();
  for (int p = std::max(0, (top - kGap) / pitch()); p < pageCount_; ++p) {
    const int y = kGap + p * pitch() - top;
    if (y >= height) break;
    const QRect sheet(QPoint(x, y), page);
    painter.fillRect(sheet.translated(3, 3), QColor(0, 0, 0, 60));
    painter.drawImage(sheet.topLeft(), pageImage(p));
  }
}

namespace {

// A file name from the report's title: letters, digits and dashes only,
// with the suffix of its kind ("pdf").
QString fileNameFor(const QString& title, const QString& suffix) {
  QString name = title.normalized(QString::NormalizationForm_KD);
  name.remove(QRegularExpression(QStringLiteral("[^\\w\\s-]")));
  name = name.simplified().replace(u' ', u'-');
  return (name.isEmpty() ? QStringLiteral("relatorio") : name) + u'.' + suffix;
}

// One of the preview's exports: the action's text, the file dialog's filter
// and suffix, and the writer.
struct PreviewExport {
  QString objectName;
  QString text;
  QString filter;
  QString suffix;
  std::function<Status(const ReportDocument&, const QString&)> write;
};

QList<PreviewExport> previewExports() {
  return {
      {QStringLiteral("actExportarPdf"), QStringLiteral("Exportar PDF"), QStringLiteral("Documentos PDF (*.pdf)"),
       QStringLiteral("pdf"), [](const ReportDocument& d, const QString& path) { return d.exportPdf(path); }},
      {QStringLiteral("actExportarCsv"), QStringLiteral("Exportar CSV"),
       QStringLiteral("Arquivos CSV separados por ponto e vírgula (*.csv)"), QStringLiteral("csv"),
       [](const ReportDocument& d, const QString& path) { return exportCsv(d.table(), path); }},
      {QStringLiteral("actExportarXlsx"), QStringLiteral("Exportar planilha (XLSX)"),
       QStringLiteral("Planilhas do Excel (*.xlsx)"), QStringLiteral("xlsx"),
       [](const ReportDocument& d, const QString& path) { return exportXlsx(d.table(), d.title(), path); }},
  };
}

// Asks for the file in the Documents folder (the home folder when there is
// none, never the folder the program was started in), named after the
// report, and writes it.
void exportFromPreview(const ReportDocument& document, const PreviewExport& kind, QWidget* parent) {
  const QString folder = documentsFolder();
  QString path = QFileDialog::getSaveFileName(
      parent, kind.text, QDir(folder).filePath(fileNameFor(document.title(), kind.suffix)), kind.filter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += u'.' + kind.suffix;  // typed without one
  if (const Status written = kind.write(document, path); !written.ok()) MensErro(written.error(), false);
}

}  // namespace

TReportPreview::TReportPreview(const ReportDocument& document, QWidget* parent) : QDialog(parent), document_(document) {
  setObjectName(QStringLiteral("frmVisualizarRelatorio"));
  setWindowTitle(QStringLiteral("Visualizar: %1").arg(document.title()));
  view_ = new ReportPageView(document, this);
  view_->onMoved = [this] { updatePageBox(); };
  view_->onPagesChanged = [this] { guarded([this] { takeNewPages(); }); };
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  buildToolBar();
  layout->addWidget(view_);
  updatePageBox();
  view_->setFocus();
  // large enough for a page and the whole toolbar
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
    resize(screen->availableSize() * 9 / 10);
}

int TReportPreview::pageCount() const { return view_->pageCount(); }

int TReportPreview::currentPage() const { return view_->currentPage(); }

void TReportPreview::showPage(int page) { view_->showPage(page); }

QAction* TReportPreview::newAction(const QString& objectName, const QString& text, const QList<QKeySequence>& keys,
                                   const std::function<void()>& handler) {
  auto* action = new QAction(text, this);
  action->setObjectName(objectName);
  action->setShortcuts(keys);
  connect(action, &QAction::triggered, this, [handler] { guarded(handler); });
  return action;
}

void TReportPreview::buildToolBar() {
  auto* toolbar = new QToolBar(this);
  toolbar->setObjectName(QStringLiteral("tbrVisualizar"));
  layout()->addWidget(toolbar);
  const auto icon = [this](QStyle::StandardPixmap which) { return style()->standardIcon(which); };
  first_ = newAction(QStringLiteral("actPrimeiraPagina"), QStringLiteral("Primeira página"),
                     {Qt::Key_Home, Qt::CTRL | Qt::Key_Home}, [this] { view_->showPage(0); });
  previous_ = newAction(QStringLiteral("actPaginaAnterior"), QStringLiteral("Página anterior"), {Qt::Key_PageUp},
                        [this] { view_->showPage(view_->currentPage() - 1); });
  next_ = newAction(QStringLiteral("actProximaPagina"), QStringLiteral("Próxima página"), {Qt::Key_PageDown},
                    [this] { view_->showPage(view_->currentPage() + 1); });
  last_ = newAction(QStringLiteral("actUltimaPagina"), QStringLiteral("Última página"),
                    {Qt::Key_End, Qt::CTRL | Qt::Key_End}, [this] { view_->showPage(view_->pageCount() - 1); });
  first_->setIcon(icon(QStyle::SP_MediaSkipBackward));
  previous_->setIcon(icon(QStyle::SP_MediaSeekBackward));
  next_->setIcon(icon(QStyle::SP_MediaSeekForward));
  last_->setIcon(icon(QStyle::SP_MediaSkipForward));
  toolbar->addActions({first_, previous_});
  pageBox_ = new QSpinBox(toolbar);
  pageBox_->setObjectName(QStringLiteral("edtPagina"));
  pageBox_->setPrefix(QStringLiteral("Página "));
  updatePageCount();
  pageBox_->setKeyboardTracking(false);
  connect(pageBox_, &QSpinBox::valueChanged, this, [this](int page) { view_->showPage(page - 1); });
  toolbar->addWidget(pageBox_);
  toolbar->addActions({next_, last_});
  toolbar->addSeparator();
  toolbar->addAction(newAction(QStringLiteral("actAumentarZoom"), QStringLiteral("Ampliar"),
                               {QKeySequence::ZoomIn, Qt::CTRL | Qt::Key_Equal}, [this] { view_->zoomBy(1.25); }));
  toolbar->addAction(newAction(QStringLiteral("actDiminuirZoom"), QStringLiteral("Reduzir"), {QKeySequence::ZoomOut},
                               [this] { view_->zoomBy(1 / 1.25); }));
  toolbar->addAction(newAction(QStringLiteral("actAjustarLargura"), QStringLiteral("Ajustar à largura"),
                               {Qt::CTRL | Qt::Key_0}, [this] { view_->fitWidth(); }));
  toolbar->addSeparator();
  outputs_ << newAction(QStringLiteral("actImprimir"), QStringLiteral("Imprimir..."), {QKeySequence::Print},
                        [this] { printDialog(document_, this); });
  for (const PreviewExport& kind : previewExports())
    outputs_ << newAction(kind.objectName, kind.text, {}, [this, kind] { exportFromPreview(document_, kind, this); });
  toolbar->addActions(outputs_);
  // printed and exported whole: once the last row is in
  for (QAction* output : outputs_) output->setEnabled(view_->complete());
}

void TReportPreview::updatePageCount() {
  const QSignalBlocker quiet(pageBox_);
  pageBox_->setRange(1, std::max(1, view_->pageCount()));
  pageBox_->setSuffix(view_->complete() ? QStringLiteral(" de %1").arg(view_->pageCount()) : QStringLiteral(" de …"));
}

void TReportPreview::takeNewPages() {
  updatePageCount();
  updatePageBox();
  if (!view_->complete()) return;
  if (const auto error = document_.fillError()) {
    reject();
    MensErro(*error, false);
    return;
  }
  for (QAction* output : outputs_) output->setEnabled(true);
}

void TReportPreview::updatePageBox() {
  if (!pageBox_) return;  // still being built
  const int page = view_->currentPage();
  const QSignalBlocker quiet(pageBox_);
  pageBox_->setValue(page + 1);
  first_->setEnabled(page > 0);
  previous_->setEnabled(page > 0);
  next_->setEnabled(page + 1 < view_->pageCount());
  last_->setEnabled(page + 1 < view_->pageCount());
}

}  // namespace reportkit
