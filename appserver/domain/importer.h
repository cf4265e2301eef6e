// The import of registrations, sales and Z reductions: files read as their
// bytes arrive, every row checked, and the whole import written in one
// transaction only when no file has a problem (a dry run never writes).
//
// Registrations are inserted or updated by their key; a row equal to the
// stored one is unchanged. A sale is its branch and number with every item
// on a line of its own: the same sale again changes nothing, with other
// content it replaces the stored one while every item is pending, and once
// any item is posted it is refused. Rows are checked against what the
// database holds and what the files before them brought.
//
// Memory is bounded by one batch of sales and the registrations the rows
// name, not by the file; the one thing that grows with a file is the set of
// sales already read (a sale's items must come together), some 40 bytes a sale.
#pragma once

#include <QSqlDatabase>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "db/database.h"

namespace qfx::server {

struct ImportCount {
  std::string kind;
  uint64_t inserted = 0, updated = 0, unchanged = 0, refused = 0;
  uint64_t items = 0;  // sales: their items
};

struct ImportProblem {
  std::string file;
  uint64_t line = 0;  // 0: the file as a whole
  std::string column;
  std::string reason;
};

struct ImportSummary {
  bool written = false;
  std::vector<ImportCount> counts;
  std::vector<ImportProblem> problems;  // the first kMaxImportProblems
  uint64_t problemCount = 0;
  uint64_t lines = 0;
};

inline constexpr size_t kMaxImportProblems = 500;

class Importer {
 public:
  // Checks the operator's right to import and opens the transaction.
  static Result<std::unique_ptr<Importer>> start(QSqlDatabase db, Dialect dialect, const std::string& operatorCode,
                                                 const std::string& boundBranch, bool dryRun);
  ~Importer();

  // A new file; the one before it is finished first.
  Status beginFile(const std::string& name, const std::string& kind);
  // Its next bytes. Problems of the rows are gathered; an error is the
  // database failing, which ends the import.
  Status feed(std::string_view bytes);
  // Ends the last file and commits when nothing was refused and it is no dry run.
  Result<ImportSummary> finish();

  // Progress, for the log: data lines read so far.
  uint64_t lines() const;

 private:
  struct State;
  explicit Importer(std::unique_ptr<State> state);
  std::unique_ptr<State> s_;
};

}  // namespace qfx::server
