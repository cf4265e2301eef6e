#include "reportprogress.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <hostkit/core/abort.h>
#include <hostkit/core/routines.h>
#include <reportkit/model/reportrun.h>

namespace reportkit {

using namespace hostkit;

namespace {

// A quick report never flashes a window.
constexpr int kShowAfterMs = 400;

class ProgressWindow : public QDialog {
 public:
  ProgressWindow(const QString& title, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmProgressoRelatorio"));
    setWindowTitle(QStringLiteral("Gerando relatório"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(title, this);
    name->setObjectName(QStringLiteral("lblRelatorio"));
    layout->addWidget(name);
    lblRegistros = new QLabel(QStringLiteral("Executando a consulta..."), this);
    lblRegistros->setObjectName(QStringLiteral("lblRegistros"));
    layout->addWidget(lblRegistros);
    sbtCancelar = new QPushButton(QStringLiteral("&Cancelar"), this);
    sbtCancelar->setObjectName(QStringLiteral("sbtCancelar"));
    layout->addWidget(sbtCancelar, 0, Qt::AlignRight);
    setMinimumWidth(360);
  }

  void showRows(qint64 rows) {
    if (!cancelling_) lblRegistros->setText(QStringLiteral("Registros lidos: %1").arg(productLocale().toString(rows)));
  }
  void showCancelling() {
    cancelling_ = true;
    lblRegistros->setText(QStringLiteral("Cancelando..."));
    sbtCancelar->setEnabled(false);
  }

  QLabel* lblRegistros;
  QPushButton* sbtCancelar;

 private:
  bool cancelling_ = false;
};

}  // namespace

std::optional<ReportDocument> runReportWithProgress(const ReportTemplate& report, const ReportParams& params,
                                                    const QString& connection, QWidget* parent, ReportHeader header,
                                                    ReportReady ready) {
  ReportRun run(report, params, connection);
  run.setHeader(std::move(header));
  ProgressWindow window(report.title, parent);
  QEventLoop loop;
  const auto cancel = [&] {
    if (run.isFinished()) return;
    window.showCancelling();
    run.cancel();
  };
  QObject::connect(&run, &ReportRun::finished, &loop, &QEventLoop::quit);
  if (ready == ReportReady::FirstPage) QObject::connect(&run, &ReportRun::firstPage, &loop, &QEventLoop::quit);
  QObject::connect(&run, &ReportRun::rowsRead, &window, &ProgressWindow::showRows);
  QObject::connect(window.sbtCancelar, &QPushButton::clicked, &window, cancel);
  QObject::connect(&window, &QDialog::rejected, &window, cancel);  // Escape, the title bar's close
  const auto isReady = [&] { return run.isFinished() || (ready == ReportReady::FirstPage && run.hasFirstPage()); };
  QTimer::singleShot(kShowAfterMs, &window, [&] {
    if (!isReady()) window.show();
  });
  QApplication::setOverrideCursor(Qt::BusyCursor);  // the pointer still clicks Cancel
  run.start();
  loop.exec();
  QApplication::restoreOverrideCursor();
  window.hide();
  if (run.cancelled()) return std::nullopt;
  if (!run.error().isEmpty()) throw EDatabaseError(run.error());
  return run.document();  // a copy: what is left of it is read after the run
}

}  // namespace reportkit
