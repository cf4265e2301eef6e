// Message catalogues of the consolidation screen, the filter dialog and the
// report screen, in design order.
#pragma once

#include <QStringList>

namespace qfx {

QStringList catalogoGeraNF();         // consolidation screen, 71 entries
QStringList catalogoFiltroGeraNF();   // filter dialog, 20 entries
QStringList catalogoRelProdEvol();    // report screen, 12 entries
QStringList catalogoConsolidacoes();  // "Consolidações realizadas" and its reversal

}  // namespace qfx
