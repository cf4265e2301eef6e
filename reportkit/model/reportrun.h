// A report's query running away from the screen's thread.
//
// The query runs on a connection of its own (a clone of the host's, so as
// read-only as it) in a worker thread that fills the report's document row
// by row; the screen's thread stays free to paint a progress window, take a
// Cancel, and show the first pages while the rest is read. Cancel
// interrupts the database's own work (sqlite3_interrupt, PostgreSQL's
// cancel request), so a long sort or scan stops at once instead of at its
// next row.
//
// The worker belongs to the document: it goes on filling a document handed
// out (to the preview) after the run is gone, and the document's last copy
// stops it and waits for it.
#pragma once

#include <QObject>
#include <QString>

#include "reportengine.h"

namespace reportkit {

class ReportRun : public QObject {
  Q_OBJECT
 public:
  // Reads on a clone of `connection`. Reads the host's pictures for the
  // columns here, on the caller's thread.
  ReportRun(ReportTemplate report, ReportParams params, QString connection, QObject* parent = nullptr);
  // The run's document goes with it unless it was handed out.
  ~ReportRun() override;

  // The page header of the document (before start()).
  void setHeader(ReportHeader header) { header_ = std::move(header); }
  void start();
  // Asks the database to stop; finished() follows with cancelled() true.
  void cancel();

  bool isFinished() const { return finished_; }
  bool cancelled() const { return finished_ && document_.fillCancelled(); }
  bool hasFirstPage() const { return firstPage_; }
  // The document as it fills (after start()).
  const ReportDocument& document() const { return document_; }
  // After finished(): the rows, null when cancelled or failed (error() says).
  const ReportTable* table() const;
  QString error() const;

 signals:
  void rowsRead(qint64 rows);
  // The first page is laid out (or the report ended before it).
  void firstPage();
  void finished();

 private:
  void progress(ReportDocument::Progress progress, qint64 rows);

  ReportTemplate report_;
  ReportParams params_;
  QStringList masks_;
  ReportHeader header_;
  QString sourceConnection_;
  ReportDocument document_;
  bool firstPage_ = false;
  bool finished_ = false;
};

}  // namespace reportkit
