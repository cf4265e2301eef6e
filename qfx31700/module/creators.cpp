// The screens' creators and the units' module state.
#include <QApplication>
#include <QCursor>
#include <QMdiSubWindow>

#include "consolidation/frmgeranf.h"
#include "filter/frmfiltrogeranf.h"
#include "navigation/modulestate.h"
#include "report/frmrelprodevol.h"
#include "reversal/frmconsolidacoes.h"

namespace qfx {

QPointer<TfrmGeraNF> frmGeraNF;

ConsolidationScreen* consolidationScreen() { return frmGeraNF.data(); }
bool boIdCriado = false;
bool boPrimVez = false;
QPointer<TfrmFiltroGeraNF> frmFiltroGeraNF;
QPointer<TfrmRelProdEvol> frmRelProdEvol;
QPointer<TfrmConsolidacoes> frmConsolidacoes;
TFiltro Filtro;

namespace {
// The hourglass for the time a creator runs, restored on every way out.
class HourglassCursor {
 public:
  HourglassCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~HourglassCursor() { QApplication::restoreOverrideCursor(); }
};
}  // namespace

void CriaGeraNF() {
  HourglassCursor hourglass;
  if (!boIdCriado) {
    frmGeraNF = new TfrmGeraNF();
    boIdCriado = true;  // only after the creation succeeded
  }
  frmGeraNF->Show();
  frmGeraNF->SetWindowStateNormal();
}

int CriaFiltroGeraNF() {
  if (!frmFiltroGeraNF) frmFiltroGeraNF = new TfrmFiltroGeraNF();
  return frmFiltroGeraNF->ShowModal();
}

int CriaRelProdEvol(const QString& recusa) {
  frmRelProdEvol = new TfrmRelProdEvol();
  frmRelProdEvol->setWindowState(Qt::WindowNoState);
  frmRelProdEvol->SelectReportAnswering(recusa);
  return frmRelProdEvol->ShowModal();
}

void CriaConsolidacoes(const QString& filial, double inicio, double fim) {
  HourglassCursor hourglass;
  const bool nova = !frmConsolidacoes;
  if (nova)
    frmConsolidacoes = new TfrmConsolidacoes(filial);
  else
    frmConsolidacoes->SetFilial(filial);
  // each opening follows the filter in force; before any filter the screen
  // keeps its own period (the last 30 days)
  if (inicio > 0 && fim > 0) frmConsolidacoes->SetPeriodo(inicio, fim);
  frmConsolidacoes->Show();
  frmConsolidacoes->SetWindowStateNormal();
  if (nova) {
    // near the top left, where the whole screen fits beside the consolidation
    if (QMdiSubWindow* janela = frmConsolidacoes->mdiSubWindow()) janela->move(24, 24);
  } else {
    frmConsolidacoes->sbtVerificarClick();  // the first activation loads a new one
  }
}

void initializeConsolidationUnit() { boIdCriado = false; }

void finalizeConsolidationUnit() {
  // the flag table is constant: nothing to release
}

// Releases the filter's texts: the record is back to its load-time zero, and
// the hidden filter dialog goes with the unit.
void finalizeFilterUnit() {
  Filtro = TFiltro();
  delete frmFiltroGeraNF.data();
}

}  // namespace qfx
