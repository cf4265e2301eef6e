// A report's query running away from the screen's thread.
//
// The query runs on a connection of its own (a clone of the host's, so as
// read-only as it) in a worker thread; the screen's thread stays free to
// paint a progress window and take a Cancel. Cancel interrupts the
// database's own work (sqlite3_interrupt, PostgreSQL's cancel request), so
// a long sort or scan stops at once instead of at its next row.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

#include "reportengine.h"

namespace reportkit {

class ReportRun : public QObject {
  Q_OBJECT
 public:
  // Reads the host's pictures for the columns here, on the caller's thread.
  ReportRun(ReportTemplate report, ReportParams params, QObject* parent = nullptr);
  // Cancels a run still going and waits for its thread.
  ~ReportRun() override;

  void start();
  // Asks the database to stop; finished() follows with cancelled() true.
  void cancel();

  bool isFinished() const { return finished_; }
  bool cancelled() const { return cancelled_; }
  // After finished(): the rows, or the error text (empty when cancelled).
  std::optional<ReportTable>& table() { return table_; }
  const QString& error() const { return error_; }

 signals:
  void rowsRead(qint64 rows);
  void finished();

 private:
  void work();
  void interruptDatabase();

  ReportTemplate report_;
  ReportParams params_;
  QStringList masks_;
  QString sourceConnection_;
  QString connection_;
  QThread* thread_ = nullptr;
  std::atomic<bool> cancelRequested_{false};
  std::mutex handleMutex_;  // the worker's connection handle, while it is open
  QString driver_;
  void* handle_ = nullptr;
  bool finished_ = false;
  bool cancelled_ = false;
  std::optional<ReportTable> table_;
  QString error_;
};

}  // namespace reportkit
