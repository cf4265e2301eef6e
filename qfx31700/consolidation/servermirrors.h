// The screen's own checks that mirror a rule the application server enforces
// itself. The server's word is final; these only spare the operator a call
// that would be refused, or show what a run would do. Each names the rule it
// mirrors, so a change on the server finds its counterpart here.
#pragma once

#include <hostkit/core/dataset.h>

namespace qfx::mirror {

// An item a stock posting has stamped: its stock branch or its posting
// number is filled. The inverse of the server's pending rule (an item is
// pending while both are empty). Reads the fields' current row.
bool isConsolidatedItem(const hostkit::TField& stockBranch, const hostkit::TField& stockPosting);

// The branch keeps stock (IDCTRLESTQ "S" in its parameters): the server's
// posting run refuses any other branch (contract::refusals::kBranchKeepsNoStock).
bool branchControlsStock(const hostkit::TDataSet* branchParameters);

// The branch lets stock go negative (IDPERMESTNEG "S"): the server's run then
// reports the items that would go negative and posts them when called again
// without the stock check.
bool branchAllowsNegativeStock(const hostkit::TDataSet* branchParameters);

}  // namespace qfx::mirror
