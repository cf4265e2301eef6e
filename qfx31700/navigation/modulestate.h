// State that lives as long as the module is loaded, and the creators of its
// screens (defined in module/creators.cpp): how one screen opens another.
#pragma once

#include <QPointer>
#include <QString>
#include <array>

#include <qfx31700/remote/filtro.h>
#include <qfx31700/remote/rdmgeranf.h>  // flag letters

namespace qfx {

class TfrmGeraNF;
class TfrmFiltroGeraNF;
class TfrmRelProdEvol;
class TfrmConsolidacoes;

extern QPointer<TfrmGeraNF> frmGeraNF;                // the consolidation screen
extern bool boIdCriado;                               // the consolidation screen exists
extern bool boPrimVez;                                // created and not yet activated
extern QPointer<TfrmFiltroGeraNF> frmFiltroGeraNF;    // the filter dialog, empty until first use
extern QPointer<TfrmRelProdEvol> frmRelProdEvol;      // the latest report screen
extern QPointer<TfrmConsolidacoes> frmConsolidacoes;  // "Consolidações realizadas", while open

// Creators.
void CriaGeraNF();
int CriaFiltroGeraNF();
// With a refusal of the application server, the report list opens on the
// report that explains it (see TfrmDadosGerRel::SelectReportAnswering).
int CriaRelProdEvol(const QString& recusa = {});
// Opens "Consolidações realizadas" (once; later calls bring it to the front)
// on the branch's runs of the period.
void CriaConsolidacoes(const QString& filial, double inicio, double fim);

// Unit initialization and finalization, in the package's order.
void initializeUnits();
void finalizeUnits();

}  // namespace qfx
