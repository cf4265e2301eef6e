// SemGeraNF: the consolidation run. The engine lives in posting/; this is
// the argument mapping and the five-element reply the screen reads.
#include "domain/packets.h"
#include "domain/posting_engine.h"
#include "methods/methods.h"

namespace qfx::server::methods {

namespace {

posting::Request requestFrom(const Arguments& a) {
  posting::Request r;
  r.branch = a.qtext(2);
  r.store = a.qtext(3);
  SaleFilter& f = r.filter;
  f.branch = r.branch;
  f.store = r.store;
  f.first = a.day(6);
  f.last = a.day(7);
  f.pendingOnly = true;
  f.sales = restriction(a.isYes(4), a.text(5));
  f.cashRegisters = restriction(a.boolean(9), a.text(8));
  restrictCustomers(f, a.boolean(11), a.boolean(12), a.qtext(13), a.qtext(14), a.text(10));
  f.consumptionTypes = restriction(a.boolean(16), a.text(15));
  r.withdrawalType = a.qtext(17);
  r.sector = a.qtext(18);
  r.operatorCode = a.qtext(19);
  f.costCentres = restriction(a.boolean(21), a.text(20));
  f.products = restriction(a.boolean(23), a.text(22));
  r.checkStock = a.boolean(24);
  return r;
}

Reply replyOf(posting::Outcome outcome) {
  Reply reply;
  rpc::ValueList* items = reply.result.mutable_list();
  *items->add_items() = reply.announce(std::move(outcome.errors));
  items->add_items()->set_integer(outcome.lastPosting);
  *items->add_items() = reply.announce(std::move(outcome.blocked));
  items->add_items()->set_text(outcome.messageKey.toStdString());
  items->add_items();  // element 4: reserved, null
  return reply;
}

}  // namespace

Result<Reply> semGeraNF(CallContext& call, const Arguments& args) {
  // the posting is made in the name of the logged-in operator only
  if (args.text(19) != call.session.operatorCode) {
    return Error{ErrorKind::PermissionDenied, "SemGeraNF: o operador do argumento 19 ('" + args.text(19) +
                                                  "') não é o operador da sessão (" + call.session.operatorCode + ")"};
  }
  auto outcome = posting::consolidate(call.db, call.database.dialect(), requestFrom(args), call.limits);
  if (!outcome) return outcome.error();
  return replyOf(std::move(*outcome));
}

}  // namespace qfx::server::methods
