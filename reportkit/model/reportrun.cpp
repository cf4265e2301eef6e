#include "reportrun.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QThread>
#include <QUuid>

#include <hostkit/core/query.h>

namespace reportkit {

using namespace hostkit;

namespace {

// Fills the document on a clone of the source connection, then closes it.
void fillOnOwnConnection(const ReportDocument& document, const ReportTemplate& report, const ReportParams& params,
                         const QString& source) {
  const QString connection = QStringLiteral("qfx_relatorio_") + QUuid::createUuid().toString(QUuid::Id128);
  {
    QSqlDatabase db = QSqlDatabase::cloneDatabase(source, connection);
    if (db.open()) {
      if (db.driverName() == QLatin1String("QSQLITE")) registerSqliteFunctions(db);
      QueryOptions options;
      options.connection = connection;
      fillReportDocument(document, report, params, options);
    } else {
      failReportDocument(
          document,
          QStringLiteral("Não foi possível abrir uma conexão para o relatório: %1").arg(db.lastError().text()));
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(connection);
}

}  // namespace

ReportRun::ReportRun(ReportTemplate report, ReportParams params, QString connection, QObject* parent)
    : QObject(parent),
      report_(std::move(report)),
      params_(std::move(params)),
      masks_(columnMasks(report_)),
      sourceConnection_(std::move(connection)) {}

ReportRun::~ReportRun() { document_.setObserver({}); }

void ReportRun::start() {
  document_ = ReportDocument::beingFilled(report_, header_, masks_);
  // told on the worker's thread, handled on this object's
  document_.setObserver([this](ReportDocument::Progress p, qint64 rows) {
    QMetaObject::invokeMethod(
        this, [this, p, rows] { progress(p, rows); }, Qt::QueuedConnection);
  });
  QThread* worker =
      QThread::create([filled = document_.unowned(), report = report_, params = params_, source = sourceConnection_] {
        fillOnOwnConnection(filled, report, params, source);
      });
  document_.keepUntilGone([worker, filled = document_.unowned()] {
    filled.cancelFill();
    worker->wait();
    delete worker;
  });
  worker->start();
}

void ReportRun::cancel() { document_.cancelFill(); }

void ReportRun::progress(ReportDocument::Progress p, qint64 rows) {
  switch (p) {
    case ReportDocument::Progress::Rows:
      emit rowsRead(rows);
      return;
    case ReportDocument::Progress::FirstPage:
      if (std::exchange(firstPage_, true)) return;
      emit firstPage();
      return;
    case ReportDocument::Progress::Done:
      finished_ = true;
      if (!std::exchange(firstPage_, true)) emit firstPage();
      emit finished();
      return;
  }
}

const ReportTable* ReportRun::table() const {
  if (!finished_ || document_.fillCancelled() || document_.fillError()) return nullptr;
  return &document_.table();
}

QString ReportRun::error() const {
  if (!finished_ || document_.fillCancelled()) return {};
  return document_.fillError().value_or(QString());
}

}  // namespace reportkit
