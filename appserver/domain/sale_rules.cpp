#include "domain/sale_rules.h"

namespace qfx::server::salerules {

const char* const kSaleNotCancelled = "V.IDSITUVENDA <> 'C'";
const char* const kProductMovesStock = "P.IDCTRLESTQ = 'S'";

std::string pending(std::string_view items) {
  const std::string table(items);
  return table + ".NRLANCESTQ IS NULL AND " + table + ".CDFILIALEST IS NULL";
}

std::string postable() { return pending() + " AND " + kSaleNotCancelled + " AND " + kProductMovesStock; }

std::string workLeft() {
  return pending() + " AND " + kSaleNotCancelled + " AND (" + kProductMovesStock + " OR P.CDPRODUTO IS NULL)";
}

}  // namespace qfx::server::salerules
