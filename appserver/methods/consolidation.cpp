// SemGeraNF: the consolidation run. The engine lives in posting/; this is
// the argument mapping and the five-element reply the screen reads.
#include "domain/packets.h"
#include "domain/posting_engine.h"
#include "domain/run_record.h"
#include "methods/methods.h"
#include <proto/contract_methods.h>

namespace qfx::server::methods {

namespace {

posting::Request requestFrom(const Arguments& a) {
  using A = contract::SemGeraNF;
  posting::Request r;
  r.branch = a.qtext(A::Filial);
  r.store = a.qtext(A::Loja);
  SaleFilter& f = r.filter;
  f.branch = r.branch;
  f.store = r.store;
  f.first = a.day(A::DtInicial);
  f.last = a.day(A::DtFinal);
  f.pendingOnly = true;
  f.sales = restriction(a.isYes(A::TodasVendas), a.text(A::StVendas));
  f.cashRegisters = restriction(a.boolean(A::BoTodosCaixa), a.text(A::StCaixa));
  restrictCustomers(f, a.boolean(A::BoTodosCliente), a.boolean(A::BoIntervaloCli), a.qtext(A::StCliDe),
                    a.qtext(A::StCliAte), a.text(A::StCliente));
  f.consumptionTypes = restriction(a.boolean(A::BoTodosTipoCons), a.text(A::StTipoCons));
  r.withdrawalType = a.qtext(A::TipoReti);
  r.sector = a.qtext(A::Setor);
  r.operatorCode = a.qtext(A::Operador);
  f.costCentres = restriction(a.boolean(A::BoTodosCentroCusto), a.text(A::StCentroCusto));
  f.products = restriction(a.boolean(A::BoTodosProdutos), a.text(A::StProdutos));
  r.checkStock = a.boolean(A::VerificaEstoque);
  return r;
}

// Who posted what: the log line of the call says it.
void describe(Reply& reply, const posting::Request& request, const posting::Outcome& outcome) {
  const auto day = [](const QDate& d) { return d.toString(Qt::ISODate).toStdString(); };
  reply.logFields = {{"branch", request.branch.toStdString()},
                     {"store", request.store.toStdString()},
                     {"period", day(request.filter.first) + ".." + day(request.filter.last)},
                     {"check_stock", request.checkStock ? "yes" : "no"},
                     {"postings", outcome.lastPosting == 0 ? "none"
                                                           : std::to_string(outcome.firstPosting) + ".." +
                                                                 std::to_string(outcome.lastPosting)},
                     {"items_posted", std::to_string(outcome.itemsPosted)},
                     {"blocked", std::to_string(outcome.blocked.rowCount())},
                     {"stock_errors", std::to_string(outcome.errors.rowCount())}};
  if (outcome.replayed) {
    // the run's first answer again: its postings were counted when made
    reply.logFields.push_back({"run", request.runId.toStdString() + " (resposta repetida)"});
    return;
  }
  if (!request.runId.isEmpty()) reply.logFields.push_back({"run", request.runId.toStdString()});
  reply.postingsMade = outcome.lastPosting == 0 ? 0 : outcome.lastPosting - outcome.firstPosting + 1;
  reply.itemsPosted = outcome.itemsPosted;
}

void fill(Reply& reply, posting::Outcome outcome) {
  rpc::ValueList* items = reply.result.mutable_list();
  *items->add_items() = reply.announce(std::move(outcome.errors));
  items->add_items()->set_integer(outcome.lastPosting);
  *items->add_items() = reply.announce(std::move(outcome.blocked));
  items->add_items()->set_text(outcome.messageKey.toStdString());
  items->add_items();  // element 4: reserved, null
  reply.details = outcome.details.toStdString();
}

}  // namespace

Result<Reply> semGeraNF(CallContext& call, const Arguments& args) {
  // the posting is made in the name of the logged-in operator only
  constexpr int kOperator = contract::SemGeraNF::Operador;
  const std::string& operatorCode = args.text(kOperator);
  if (operatorCode != call.session.operatorCode) {
    return Error{ErrorKind::PermissionDenied, "SemGeraNF: o operador do argumento " + std::to_string(kOperator) +
                                                  " ('" + operatorCode + "') não é o operador da sessão (" +
                                                  call.session.operatorCode + ")"};
  }
  posting::Request request = requestFrom(args);
  request.runId = QString::fromStdString(call.runId);
  if (auto valid = posting::checkRunId(request.runId); !valid) return valid.error();
  auto outcome = posting::consolidate(call.db, call.database.dialect(), request, call.limits);
  if (!outcome) return outcome.error();
  Reply reply;
  describe(reply, request, *outcome);  // before the packets move into the reply
  fill(reply, std::move(*outcome));
  return reply;
}

}  // namespace qfx::server::methods
