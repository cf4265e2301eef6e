// Demo data: a deterministic sales database for a seed and a scale, from a
// few hundred sale items for trying the screens to millions for benchmarks.
// Branch 0001 works end to end; planted sales, Z differences and stock make
// every outcome of a consolidation reachable (see demo_tour.h).
#pragma once

#include <QDate>
#include <cstdint>
#include <string>

#include "common/result.h"
#include "db/database.h"
#include "demo/demo_tour.h"

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
  // The rest of a chain, for benchmarks of scale: `chainBranches` more
  // branches (codes from 1001, set up as branch 0003, one store of eight
  // registers each) share `chainItems` sale items more. They are generated
  // after the demo's own four, which come out exactly as without them.
  int chainBranches = 0;
  int64_t chainItems = 0;
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

}  // namespace qfx::server::demo
