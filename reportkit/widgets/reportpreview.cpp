// The host's report output dialogs: print preview with a PDF export, the
// printer dialog, and the text box that asks for a report's new title.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QToolBar>

#include "abort.h"
#include "hostservices.h"
#include "reportengine.h"

namespace hostkit {

namespace {

// A file name from the report's title: letters, digits and dashes only.
QString pdfNameFor(const QString& title) {
  QString name = title.normalized(QString::NormalizationForm_KD);
  name.remove(QRegularExpression(QStringLiteral("[^\\w\\s-]")));
  name = name.simplified().replace(u' ', u'-');
  return (name.isEmpty() ? QStringLiteral("relatorio") : name) + QStringLiteral(".pdf");
}

void exportFromPreview(const ReportDocument& document, QWidget* parent) {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  const QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("Exportar PDF"),
                                                    QDir(folder).filePath(pdfNameFor(document.title())),
                                                    QStringLiteral("Documentos PDF (*.pdf)"));
  if (path.isEmpty()) return;
  if (auto error = document.exportPdf(path)) MensErro(*error, false);
}

}  // namespace

void HostServices::previewReport(const ReportDocument& document, QWidget* parent) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(document.title());
  printer.setPageLayout(document.pageLayout());
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Visualizar: %1").arg(document.title()));
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                   [&document](QPrinter* target) { document.print(target); });
  if (auto* toolbar = dialog.findChild<QToolBar*>()) {
    QAction* pdf = toolbar->addAction(QStringLiteral("Exportar PDF"));
    pdf->setObjectName(QStringLiteral("actExportarPdf"));
    QObject::connect(pdf, &QAction::triggered, &dialog,
                     [&document, &dialog] { guarded([&] { exportFromPreview(document, &dialog); }); });
  }
  // large enough for a page and the whole toolbar
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
    dialog.resize(screen->availableSize() * 9 / 10);
  dialog.exec();
}

bool HostServices::printReport(const ReportDocument& document, QWidget* parent) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setDocName(document.title());
  printer.setPageLayout(document.pageLayout());
  QPrintDialog dialog(&printer, parent);
  dialog.setWindowTitle(QStringLiteral("Imprimir: %1").arg(document.title()));
  if (dialog.exec() != QDialog::Accepted) return false;
  if (!document.print(&printer)) throw EHostError(QStringLiteral("Não foi possível imprimir o relatório."));
  return true;
}

bool HostServices::inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, value, &ok);
  if (ok) value = text;
  return ok;
}

bool InputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) {
  return hostServices().inputQuery(caption, prompt, value, parent);
}

}  // namespace hostkit
