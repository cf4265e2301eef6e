#include "consolidation/servermirrors.h"

namespace qfx::mirror {

using hostkit::fieldText;

bool isConsolidatedItem(const hostkit::TField& stockBranch, const hostkit::TField& stockPosting) {
  return !(stockBranch.IsBlank() && stockPosting.IsBlank());
}

bool branchControlsStock(const hostkit::TDataSet* branchParameters) {
  return fieldText(branchParameters, "IDCTRLESTQ") == QLatin1String("S");
}

bool branchAllowsNegativeStock(const hostkit::TDataSet* branchParameters) {
  return fieldText(branchParameters, "IDPERMESTNEG") == QLatin1String("S");
}

}  // namespace qfx::mirror
