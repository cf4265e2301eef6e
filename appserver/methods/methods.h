// Handlers of the consolidation object's methods. They read their arguments
// by the positions the contract names (contract_methods.h).
#pragma once

#include "methods/dispatcher.h"

namespace qfx::server::methods {

// Branch and sales parameters, withdrawal types and sectors.
Result<Reply> getParamFilial(CallContext& call, const Arguments& args);
Result<Reply> getParamVend(CallContext& call, const Arguments& args);
Result<Reply> getTipoReti(CallContext& call, const Arguments& args);
Result<Reply> getSetor(CallContext& call, const Arguments& args);

// The sales list and the pickers' lists.
Result<Reply> getPrincipal(CallContext& call, const Arguments& args);
Result<Reply> getVendas(CallContext& call, const Arguments& args);
Result<Reply> getProdutos(CallContext& call, const Arguments& args);

// Pre-consolidation checks.
Result<Reply> getPeriodoCTBOK(CallContext& call, const Arguments& args);
Result<Reply> verificaVendaAnterior(CallContext& call, const Arguments& args);
Result<Reply> getVerifVenda(CallContext& call, const Arguments& args);
Result<Reply> getSoma(CallContext& call, const Arguments& args);
Result<Reply> getReducaoZ(CallContext& call, const Arguments& args);

// The posting run.
Result<Reply> semGeraNF(CallContext& call, const Arguments& args);

// Undoing a run's posting, and the branch's runs to choose it from.
Result<Reply> estornaGeraNF(CallContext& call, const Arguments& args);
Result<Reply> getConsolidacoes(CallContext& call, const Arguments& args);

}  // namespace qfx::server::methods
