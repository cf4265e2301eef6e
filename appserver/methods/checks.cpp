// Checks made before a consolidation: open accounting period, earlier sales
// still waiting, and the Z check's figures per register-day.
#include "domain/checks.h"
#include "methods/methods.h"

namespace qfx::server::methods {

Result<Reply> getPeriodoCTBOK(CallContext& call, const Arguments& args) {
  auto open = checks::periodOpen(call.db, args.qtext(1), args.day(2), args.day(3));
  if (!open) return open.error();
  return Reply::ofBoolean(*open);
}

// Sales from argument 4 up to the day before argument 2; arguments 5 and 6
// say whether the branch's warehouse (7) and location (8) narrow them.
Result<Reply> verificaVendaAnterior(CallContext& call, const Arguments& args) {
  checks::EarlierSales earlier{args.qtext(1), args.day(4), args.day(2), std::nullopt, std::nullopt};
  if (args.isYes(5)) earlier.warehouse = args.qtext(7);
  if (args.isYes(6)) earlier.place = args.qtext(8);
  if (auto none = checks::noEarlierSaleWaiting(call.db, earlier); !none) return none.error();
  return Reply::ofBoolean(true);
}

// Arguments 5 to 9 (the filter's lists) are taken and not used: the Z
// reduction counts the whole register-day.
Result<Reply> getSoma(CallContext& call, const Arguments& args) {
  return packetReply(checks::registerDaySales(call.db, args.qtext(1), args.qtext(2), args.qtext(3), args.day(4)));
}

Result<Reply> getReducaoZ(CallContext& call, const Arguments& args) {
  return packetReply(checks::zReduction(call.db, args.qtext(1), args.qtext(2), args.day(3)));
}

}  // namespace qfx::server::methods
