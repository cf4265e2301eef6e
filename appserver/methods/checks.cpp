// Checks made before a consolidation: open accounting period, earlier sales
// still waiting, and the Z check's figures per register-day.
#include "domain/checks.h"
#include "methods/methods.h"
#include <proto/contract_methods.h>

namespace qfx::server::methods {

Result<Reply> getPeriodoCTBOK(CallContext& call, const Arguments& args) {
  using A = contract::getPeriodoCTBOK;
  auto open = checks::periodOpen(call.db, args.qtext(A::Filial), args.day(A::DtInicial), args.day(A::DtFinal));
  if (!open) return open.error();
  return Reply::ofBoolean(*open);
}

// Sales from the consolidation's start up to the day before the period's;
// the two flags say whether the branch's warehouse and location narrow them.
Result<Reply> verificaVendaAnterior(CallContext& call, const Arguments& args) {
  using A = contract::Verifica_Venda_Anterior;
  checks::EarlierSales earlier{args.qtext(A::Filial), args.day(A::InicioConsolidacao), args.day(A::Inicio),
                               std::nullopt, std::nullopt};
  if (args.isYes(A::IdUtilAlmox)) earlier.warehouse = args.qtext(A::CdAlmoxarife);
  if (args.isYes(A::IdUtilLcEstq)) earlier.place = args.qtext(A::CdLocalEstoque);
  if (auto none = checks::noEarlierSaleWaiting(call.db, earlier); !none) return none.error();
  return Reply::ofBoolean(true);
}

// The filter's flags and lists (TodasVendas to TodasNF) are taken and not
// used: the Z reduction counts the whole register-day.
Result<Reply> getSoma(CallContext& call, const Arguments& args) {
  using A = contract::GetSoma;
  return packetReply(checks::registerDaySales(call.db, args.qtext(A::Filial), args.qtext(A::Loja), args.qtext(A::Caixa),
                                              args.day(A::Dia)));
}

Result<Reply> getReducaoZ(CallContext& call, const Arguments& args) {
  using A = contract::GetReducaoZ;
  return packetReply(checks::zReduction(call.db, args.qtext(A::Filial), args.qtext(A::Caixa), args.day(A::Dia)));
}

}  // namespace qfx::server::methods
