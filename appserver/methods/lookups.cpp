// Parameter and code lookups.
#include "domain/lookups.h"
#include "methods/methods.h"

namespace qfx::server::methods {

namespace {

// A code lookup's argument 2: "T" asks for every row, else the row of the
// code in argument 1.
std::optional<QString> codeOrAll(const Arguments& args) {
  if (args.isAllFlag(2)) return std::nullopt;
  return args.qtext(1);
}

}  // namespace

Result<Reply> getParamFilial(CallContext& call, const Arguments& args) {
  return packetReply(lookups::branchParameters(call.db, args.qtext(1)));
}

Result<Reply> getParamVend(CallContext& call, const Arguments& args) {
  return packetReply(lookups::salesParameters(call.db, args.qtext(1)));
}

Result<Reply> getTipoReti(CallContext& call, const Arguments& args) {
  return packetReply(lookups::withdrawalTypes(call.db, codeOrAll(args)));
}

Result<Reply> getSetor(CallContext& call, const Arguments& args) {
  return packetReply(lookups::sectors(call.db, codeOrAll(args)));
}

}  // namespace qfx::server::methods
