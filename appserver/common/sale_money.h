// How a sale item's money counts: the same rule for the posting run, the
// Z-reduction check and the demo's Z reductions, so the three always agree.
#pragma once

#include <QtGlobal>
#include <string_view>

namespace qfx::server::salemoney {

// Situations of a sale (VENDA.IDSITUVENDA) other than a finished sale ("F").
inline constexpr std::string_view kReturned = "D";   // the goods came back and the money went back
inline constexpr std::string_view kCancelled = "C";  // cancelled at the register: nothing left, nothing paid

// Quantity times unit price less discount, in cents: the money on the receipt.
qint64 itemCents(double quantity, double unitPrice, double discount);

// What an item adds to its cash register's net sales of the day, the Z
// reduction's VRVENLIQREDZ: a sale its money, a return that money taken back,
// a cancelled sale nothing.
qint64 netSalesCents(std::string_view situation, qint64 cents);

}  // namespace qfx::server::salemoney
