// Parameter and code lookups.
#include "domain/lookups.h"
#include "methods/methods.h"
#include <proto/contract_methods.h>

namespace qfx::server::methods {

namespace {

// A code lookup's "T" asks for every row, else the row of the code (getSetor
// takes getTipoReti's arguments).
std::optional<QString> codeOrAll(const Arguments& args) {
  using A = contract::getTipoReti;
  if (args.isAllFlag(A::Todos)) return std::nullopt;
  return args.qtext(A::Codigo);
}

}  // namespace

Result<Reply> getParamFilial(CallContext& call, const Arguments& args) {
  return packetReply(lookups::branchParameters(call.db, args.qtext(contract::GetParamFilial::Filial)));
}

Result<Reply> getParamVend(CallContext& call, const Arguments& args) {
  return packetReply(lookups::salesParameters(call.db, args.qtext(contract::GetParamVend::Filial)));
}

Result<Reply> getTipoReti(CallContext& call, const Arguments& args) {
  return packetReply(lookups::withdrawalTypes(call.db, codeOrAll(args)));
}

Result<Reply> getSetor(CallContext& call, const Arguments& args) {
  return packetReply(lookups::sectors(call.db, codeOrAll(args)));
}

}  // namespace qfx::server::methods
