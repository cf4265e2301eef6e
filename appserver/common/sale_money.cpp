#include "common/sale_money.h"

#include <cmath>

namespace qfx::server::salemoney {

qint64 itemCents(double quantity, double unitPrice, double discount) {
  return std::llround((quantity * unitPrice - discount) * 100.0);
}

qint64 netSalesCents(std::string_view situation, qint64 cents) {
  if (situation == kCancelled) return 0;
  return situation == kReturned ? -cents : cents;
}

}  // namespace qfx::server::salemoney
