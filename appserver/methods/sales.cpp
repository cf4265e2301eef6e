// The sales list and the pickers' lists: each method's arguments as a filter
// of the sale selection.
#include "domain/sale_lists.h"
#include "domain/selection.h"
#include "methods/methods.h"

namespace qfx::server::methods {

namespace {

// Arguments 1 to 12 of GetVerifVenda, which GetPrincipal shares.
SaleFilter verificationFilter(const Arguments& a) {
  SaleFilter f;
  f.branch = a.qtext(1);
  f.first = a.day(2);
  f.last = a.day(3);
  f.pendingOnly = !a.isYes(4);  // argument 5 repeats the same letter
  f.sales = restriction(a.isYes(6), a.text(7));
  f.store = a.qtext(8);
  f.cashRegisters = restriction(a.boolean(9), a.text(10));
  f.consumptionTypes = restriction(a.boolean(11), a.text(12));
  return f;
}

// GetPrincipal: the verification arguments, then customers, cost centres and products.
SaleFilter principalFilter(const Arguments& a) {
  SaleFilter f = verificationFilter(a);
  restrictCustomers(f, a.boolean(13), a.boolean(14), a.qtext(15), a.qtext(16), a.text(17));
  f.costCentres = restriction(a.boolean(19), a.text(18));
  f.products = restriction(a.boolean(21), a.text(20));
  return f;
}

// GetVendas and GetProdutos: branch, store and period first.
SaleFilter periodFilter(const Arguments& a) {
  SaleFilter f;
  f.branch = a.qtext(1);
  f.store = a.qtext(2);
  f.first = a.day(3);
  f.last = a.day(4);
  f.pendingOnly = false;
  return f;
}

}  // namespace

Result<Reply> getPrincipal(CallContext& call, const Arguments& args) {
  return packetReply(principalRows(call.db, principalFilter(args)));
}

// Argument 4 (posted items too) only shapes the list: the check asks the days
// with work left.
Result<Reply> getVerifVenda(CallContext& call, const Arguments& args) {
  return packetReply(registerDaysWithWork(call.db, verificationFilter(args)));
}

Result<Reply> getVendas(CallContext& call, const Arguments& args) {
  SaleFilter f = periodFilter(args);
  f.cashRegisters = restriction(args.boolean(5), args.text(6));
  return packetReply(salesOfPeriod(call.db, f));
}

Result<Reply> getProdutos(CallContext& call, const Arguments& args) {
  SaleFilter f = periodFilter(args);
  f.cashRegisters = restriction(args.isAllFlag(6), args.text(5));
  f.sales = restriction(args.isAllFlag(8), args.text(7));
  return packetReply(productsSold(call.db, f));
}

}  // namespace qfx::server::methods
