// The report library's output dialogs.
#pragma once

class QWidget;

namespace reportkit {

class ReportDocument;

// The print preview, with the exports in its toolbar.
void previewDialog(const ReportDocument& document, QWidget* parent);
// The printer dialog, then the pages; false when cancelled.
bool printDialog(const ReportDocument& document, QWidget* parent);
// Makes these dialogs the host's report output (idempotent). Every report
// screen installs them when it is created.
void installReportDialogs();

}  // namespace reportkit
