// The screens' creators and the units' module state.
#include <QApplication>
#include <QCursor>

#include "consolidation/frmgeranf.h"
#include "filter/frmfiltrogeranf.h"
#include "navigation/modulestate.h"
#include "report/frmrelprodevol.h"

namespace qfx {

QPointer<TfrmGeraNF> frmGeraNF;

ConsolidationScreen* consolidationScreen() { return frmGeraNF.data(); }
bool boIdCriado = false;
bool boPrimVez = false;
QPointer<TfrmFiltroGeraNF> frmFiltroGeraNF;
QPointer<TfrmRelProdEvol> frmRelProdEvol;
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
