// Inside the report engine: a report's query read row by row into its table.
#pragma once

#include <functional>
#include <mutex>
#include <optional>

#include "reportengine.h"

namespace reportkit::detail {

// How the table is filled beside its readers.
struct TableFill {
  std::mutex* lock = nullptr;  // held while the table changes
  // Under the lock, after every row and once more at the end (`done`).
  std::function<void(bool done)> afterRow;
  // The database's interrupt while the query runs, {} once it is over.
  std::function<void(std::function<void()>)> setInterrupt;
};

// Runs the report's query of the connected database kind with every value
// bound, its rows into the table (made with the report's columns) in groups
// with their headers, footers and totals; the error text when the query is
// refused, fails or lacks a field.
hostkit::Status fillReportTable(const ReportTemplate& report, const ReportParams& params, const QueryOptions& options,
                                ReportTable& table, const TableFill& fill = {});

}  // namespace reportkit::detail
