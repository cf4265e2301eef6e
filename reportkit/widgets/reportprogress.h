// The progress window of a report being read.
#pragma once

#include <optional>

#include "reportengine.h"

class QWidget;

namespace reportkit {

// Runs the report's query away from the screen's thread (ReportRun). A run
// that takes more than a moment shows a window with the rows read so far and
// "Cancelar", which stops the database's work; Escape and closing the window
// cancel too. The screen keeps painting meanwhile. nullopt when cancelled;
// throws EDatabaseError with the query's error.
std::optional<ReportTable> runReportWithProgress(const ReportTemplate& report, const ReportParams& params,
                                                 QWidget* parent);

}  // namespace reportkit
