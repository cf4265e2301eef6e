// Message catalogues of the consolidation screen, the filter dialog and the
// report screen, in design order.
#pragma once

#include <QStringList>
#include <string_view>

namespace qfx {

QStringList catalogoGeraNF();         // consolidation screen, 71 entries
QStringList catalogoFiltroGeraNF();   // filter dialog, 20 entries
QStringList catalogoRelProdEvol();    // report screen, 12 entries
QStringList catalogoConsolidacoes();  // "Consolidações realizadas" and its reversal

// The key of the consolidation screen's entry that tells the operator about
// a server refusal (one of contract::refusals): the refusal's own key, but
// for the days closed by an adjustment, whose entry is spelled differently.
QString refusalMessageKey(std::string_view refusal);

}  // namespace qfx
