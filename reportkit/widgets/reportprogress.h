// The progress window of a report being read.
#pragma once

#include <optional>

#include <reportkit/model/reportengine.h>

class QWidget;

namespace reportkit {

// How much of the report the screen waits for: its first page (the
// preview shows it while the rest is read) or the whole (to print it).
enum class ReportReady { FirstPage, Whole };

// Runs the report's query on a clone of `connection` away from the screen's
// thread (ReportRun) into a document with that page header. A run that takes more than a moment shows
// a window with the rows read so far and "Cancelar", which stops the
// database's work; Escape and closing the window cancel too. The screen
// keeps painting meanwhile. The document once ready (at its first page, it
// goes on filling: see ReportDocument); nullopt when cancelled; throws
// EDatabaseError with the query's error.
std::optional<ReportDocument> runReportWithProgress(const ReportTemplate& report, const ReportParams& params,
                                                    const QString& connection, QWidget* parent,
                                                    ReportHeader header = {}, ReportReady ready = ReportReady::Whole);

}  // namespace reportkit
