#include "reportrun.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QUuid>

#include "abort.h"
#include "query.h"

namespace reportkit {

using namespace hostkit;

ReportRun::ReportRun(ReportTemplate report, ReportParams params, QObject* parent)
    : QObject(parent),
      report_(std::move(report)),
      params_(std::move(params)),
      masks_(columnMasks(report_)),
      sourceConnection_(hostDatabase().connectionName()),
      connection_(QStringLiteral("qfx_relatorio_") + QUuid::createUuid().toString(QUuid::Id128)) {}

ReportRun::~ReportRun() {
  if (!thread_) return;
  cancel();
  thread_->wait();
  delete thread_;
}

void ReportRun::start() {
  thread_ = QThread::create([this] { work(); });
  // the outcome is read on this object's thread once the worker is done
  connect(thread_, &QThread::finished, this, [this] {
    finished_ = true;
    emit finished();
  });
  thread_->start();
}

void ReportRun::cancel() {
  cancelRequested_ = true;
  interruptDatabase();
}

void ReportRun::interruptDatabase() {
  std::lock_guard lock(handleMutex_);
  if (!handle_) return;
  if (driver_ == QLatin1String("QSQLITE")) {
    sqlite3_interrupt(static_cast<sqlite3*>(handle_));
  } else if (driver_ == QLatin1String("QPSQL")) {
    if (PGcancel* request = PQgetCancel(static_cast<PGconn*>(handle_))) {
      char reason[256];
      PQcancel(request, reason, sizeof reason);  // a failed request only means the query runs to its end
      PQfreeCancel(request);
    }
  }
}

void ReportRun::work() {
  {
    QSqlDatabase db = QSqlDatabase::cloneDatabase(sourceConnection_, connection_);
    if (!db.open()) {
      error_ = QStringLiteral("Não foi possível abrir uma conexão para o relatório: %1").arg(db.lastError().text());
    } else {
      if (db.driverName() == QLatin1String("QSQLITE")) registerSqliteFunctions(db);
      {
        std::lock_guard lock(handleMutex_);
        driver_ = db.driverName();
        handle_ = *static_cast<void* const*>(db.driver()->handle().constData());
      }
      QueryOptions options;
      options.connection = connection_;
      options.masks = masks_;
      options.onRowsRead = [this](qint64 rows) {
        emit rowsRead(rows);
        return !cancelRequested_;
      };
      if (!cancelRequested_) {
        try {
          table_ = runReportQuery(report_, params_, options);
        } catch (const EHostError& e) {
          error_ = e.message();
        }
      }
      std::lock_guard lock(handleMutex_);
      handle_ = nullptr;
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(connection_);
  cancelled_ = cancelRequested_;
  if (cancelled_) {
    table_.reset();
    error_.clear();
  }
}

}  // namespace reportkit
