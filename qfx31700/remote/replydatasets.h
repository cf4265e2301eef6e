// The fixed field lists of the datasets that the server's replies fill, made
// from the contract's packet field lists (contract_packets.h). A reply packet
// must carry every non-calculated field listed here, under the same name and
// with a compatible type; further columns are ignored. cdsIrregEst and
// cdsBloqConsolida are the screen's own, filled from SemGeraNF's reply.
#pragma once

#include <hostkit/core/dataset.h>

namespace qfx {

void defineCdsPrincipal(hostkit::TDataSet& ds);
void defineCdsParamFilial(hostkit::TDataSet& ds);
void defineCdsParamVend(hostkit::TDataSet& ds);
void defineCdsVerifVenda(hostkit::TDataSet& ds);
void defineCdsSoma(hostkit::TDataSet& ds);
void defineCdsReducaoZ(hostkit::TDataSet& ds);
void defineCdsTipoReti(hostkit::TDataSet& ds);
void defineCdsSetor(hostkit::TDataSet& ds);
void defineCdsIrregEst(hostkit::TDataSet& ds);
void defineCdsBloqConsolida(hostkit::TDataSet& ds);
void defineCdsVendas(hostkit::TDataSet& ds);
void defineCdsProdutos(hostkit::TDataSet& ds);
void defineCdsConsolidacoes(hostkit::TDataSet& ds);

}  // namespace qfx
