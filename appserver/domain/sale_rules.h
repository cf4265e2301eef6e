// Which sale items a consolidation run posts. Each rule is written once,
// here, as the SQL condition that every statement asking it shares; the C++
// side reads the database's verdict off the row (SaleItem::postable) and
// never decides it again. Conditions over VENDA V, ITVENDA I and PRODUTO P,
// left-joined, since an item's product may be missing.
#pragma once

#include <string>
#include <string_view>

namespace qfx::server::salerules {

// A cancelled sale took nothing out of the stock: no run posts its items.
extern const char* const kSaleNotCancelled;
// The product's stock moves with its sales (a service fee's does not).
extern const char* const kProductMovesStock;

// Pending: no stock posting has stamped the item yet. The lists show pending
// items unless asked for all, and a run stamps an item only while it is
// pending (its claim is this same condition). `items` names ITVENDA in the
// statement.
std::string pending(std::string_view items = "I");

// Postable: what a run posts. Pending, of a sale not cancelled, of a product
// whose stock moves.
std::string postable();

// Work left for a run: postable, or pending and not cancelled with no
// registered product at all (a run cannot post it and stops on it as blocked,
// so the day is not done). The Z check's register-days and the earlier-sales
// check ask this.
std::string workLeft();

}  // namespace qfx::server::salerules
