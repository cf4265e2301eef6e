// The report library's output dialogs: print preview with the exports and
// the printer dialog, installed as the host's report output.
#include <QPrintDialog>
#include <QPrinter>

#include "reportpreview.h"
#include "reportpreviewdialog.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <reportkit/model/reportengine.h>

namespace reportkit {

using namespace hostkit;

namespace {

class DialogReportOutput final : public ReportOutput {
 public:
  void preview(const ReportDocument& document, QWidget* parent) override { previewDialog(document, parent); }
  bool print(const ReportDocument& document, QWidget* parent) override { return printDialog(document, parent); }
};

}  // namespace

void previewDialog(const ReportDocument& document, QWidget* parent) {
  TReportPreview dialog(document, parent);
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
