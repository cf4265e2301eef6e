// Demo data: a deterministic sales database for a seed and a scale, from a
// few hundred sale items for trying the screens to millions for benchmarks.
// Branch 0001 works end to end; planted sales, Z differences and stock make
// every outcome of a consolidation reachable (see tour()).
#pragma once

#include <QDate>
#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"
#include "db/database.h"

namespace qfx::server::demo {

// Printed by the tools so the demo can be tried; no other credentials exist.
inline constexpr const char* kDemoOperator = "demo";
inline constexpr const char* kDemoPassword = "demo";
inline constexpr const char* kBranchOperator = "loja01";
inline constexpr const char* kBranchPassword = "loja01";
inline constexpr const char* kBranchOperatorBranch = "0001";

struct Options {
  int64_t items = 600;  // the scale: about this many sale items
  uint64_t seed = 1;
  QDate today = QDate::currentDate();  // sales cover the 30 days up to it
  // Registers of each branch's store 01; 0: 3 to 9, growing with the scale.
  // Benchmarks ask for more to get many register-days out of one store.
  int registersPerStore = 0;
};

struct Summary {
  int64_t sales = 0;
  int64_t items = 0;
  int64_t products = 0;
  int64_t customers = 0;
  int64_t zReductions = 0;
};

// Fills an empty, migrated database in one transaction; refuses a database
// that already holds branches.
Result<Summary> generate(Database& database, const Options& options);

std::string credentialsText();

// One outcome of a consolidation that the demo shows on purpose, and what the
// operator enters to see it: branch, store, withdrawal type and sector on the
// screen, the period and anything else in the filter dialog.
struct TourStop {
  std::string outcome;  // the message key the run ends with (or shows first)
  std::string branch, store, withdrawalType, sector;
  QDate first, last;
  std::string filter;  // more to choose in the filter dialog, or empty
  std::string sees;    // what the operator sees, in words
};

// The tour of a demo made for `today`, in the order it is walked: the
// refusals on the centre's month first (they leave the data as it was),
// then the runs that post it.
std::vector<TourStop> tour(const QDate& today);
std::string tourText(const QDate& today);

}  // namespace qfx::server::demo
