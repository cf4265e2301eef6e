// EstornaGeraNF and GetConsolidacoes: undoing a consolidation's stock
// posting and the list of a branch's runs it is chosen from. The work lives
// in domain/reversal; this is the argument mapping and the replies.
#include "domain/reversal.h"
#include "methods/methods.h"
#include <proto/contract_methods.h>

namespace qfx::server::methods {

Result<Reply> estornaGeraNF(CallContext& call, const Arguments& args) {
  using A = contract::EstornaGeraNF;
  // the reversal is recorded in the name of the logged-in operator only
  const std::string& operatorCode = args.text(A::Operador);
  if (operatorCode != call.session.operatorCode) {
    return Error{ErrorKind::PermissionDenied, "EstornaGeraNF: o operador do argumento " + std::to_string(A::Operador) +
                                                  " ('" + operatorCode + "') não é o operador da sessão (" +
                                                  call.session.operatorCode + ")"};
  }
  reversal::Request request{args.qtext(A::Filial), args.qtext(A::FilialEst), args.qtext(A::NrLancEstq),
                            args.qtext(A::Motivo), args.qtext(A::Operador)};
  auto outcome = reversal::reverse(call.db, call.database.dialect(), request, call.limits);
  if (!outcome) return outcome.error();
  // element 0: the reversing posting's number; element 1: the items pending again
  Reply reply;
  rpc::ValueList* items = reply.result.mutable_list();
  items->add_items()->set_text(outcome->reversal.toStdString());
  items->add_items()->set_integer(outcome->items);
  return reply;
}

Result<Reply> getConsolidacoes(CallContext& call, const Arguments& args) {
  using A = contract::GetConsolidacoes;
  return packetReply(reversal::runsOf(call.db, args.qtext(A::Filial), args.day(A::DtInicial), args.day(A::DtFinal)));
}

}  // namespace qfx::server::methods
