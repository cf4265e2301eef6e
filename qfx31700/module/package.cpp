// The package unit: entries the host binds, and the units' initialization
// and finalization in the package's order.
#include "package.h"

#include "navigation/modulestate.h"

namespace qfx {
void initializeConsolidationUnit();
void finalizeConsolidationUnit();
void finalizeFilterUnit();
}  // namespace qfx

namespace {

void nothing() {}

// Initialization order: the filter dialog's unit, the report's, then the
// consolidation screen's; finalization runs the other way round.
const QfxPackageUnit kUnits[] = {
    {"Cli_qfx31701", nothing, qfx::finalizeFilterUnit},
    {"Cli_qfx31702", nothing, nothing},
    {"Cli_qfx31700", qfx::initializeConsolidationUnit, qfx::finalizeConsolidationUnit},
};
const char* const kRequires[] = {"_zlk", "_rtl", "_qr", "_lib", "_ger", "_frm", "_db", "_vcl"};
const QfxPackageInfoTable kTable = {3, kUnits, 8, kRequires};

// Loading the library more than once initializes and finalizes once.
int loadCount = 0;

}  // namespace

extern "C" {

void IniProc() { qfx::CriaGeraNF(); }

void Initialize() {
  if (loadCount++ > 0) return;
  for (const auto& unit : kUnits) unit.initialize();
}

void Finalize() {
  if (loadCount == 0 || --loadCount > 0) return;
  for (int i = kTable.unitCount - 1; i >= 0; --i) kUnits[i].finalize();
}

const QfxPackageInfoTable* GetPackageInfoTable() { return &kTable; }
}
