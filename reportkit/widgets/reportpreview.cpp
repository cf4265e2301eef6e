// The report library's output dialogs: print preview with the exports and
// the printer dialog, installed as the host's report output.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QToolBar>
#include <functional>

#include "abort.h"
#include "hostservices.h"
#include "reportengine.h"
#include "reportexport.h"
#include "reportpreview.h"

namespace reportkit {

using namespace hostkit;

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
  std::function<std::optional<QString>(const ReportDocument&, const QString&)> write;
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

// Asks for the file in the Documents folder, named after the report, and writes it.
void exportFromPreview(const ReportDocument& document, const PreviewExport& kind, QWidget* parent) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  QString path = QFileDialog::getSaveFileName(
      parent, kind.text, QDir(folder).filePath(fileNameFor(document.title(), kind.suffix)), kind.filter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += u'.' + kind.suffix;  // typed without one
  if (auto error = kind.write(document, path)) MensErro(*error, false);
}

class DialogReportOutput final : public ReportOutput {
 public:
  void preview(const ReportDocument& document, QWidget* parent) override { previewDialog(document, parent); }
  bool print(const ReportDocument& document, QWidget* parent) override { return printDialog(document, parent); }
};

}  // namespace

void previewDialog(const ReportDocument& document, QWidget* parent) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(document.title());
  printer.setPageLayout(document.pageLayout());
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Visualizar: %1").arg(document.title()));
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                   [&document](QPrinter* target) { document.print(target); });
  if (auto* toolbar = dialog.findChild<QToolBar*>()) {
    for (const PreviewExport& kind : previewExports()) {
      QAction* action = toolbar->addAction(kind.text);
      action->setObjectName(kind.objectName);
      QObject::connect(action, &QAction::triggered, &dialog,
                       [&document, &dialog, kind] { guarded([&] { exportFromPreview(document, kind, &dialog); }); });
    }
  }
  // large enough for a page and the whole toolbar
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
    dialog.resize(screen->availableSize() * 9 / 10);
  dialog.exec();
}

bool printDialog(const ReportDocument& document, QWidget* parent) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(document.title());
  printer.setPageLayout(document.pageLayout());
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Imprimir: %1").arg(document.title()));
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!document.print(&printer)) throw EHostError(QStringLiteral("Não foi possível imprimir o relatório."));
  return true;
}

void installReportDialogs() {
  static DialogReportOutput output;
  installReportOutput(&output);
}

}  // namespace reportkit
