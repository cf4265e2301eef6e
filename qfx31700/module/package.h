// What the host binds by plain name when it loads the module library.
#pragma once

extern "C" {

// One unit of the package: its name and its initialization and finalization.
struct QfxPackageUnit {
  const char* name;
  void (*initialize)();
  void (*finalize)();
};

struct QfxPackageInfoTable {
  int unitCount;
  const QfxPackageUnit* units;  // in initialization order
  int requiresCount;
  const char* const* requiredPackages;  // packages the module needs, in order
};

// Opens the "Consolidação de Vendas" screen (created once, then brought to front).
__attribute__((visibility("default"))) void IniProc();
// Runs the units' initialization, once however often the module is loaded.
__attribute__((visibility("default"))) void Initialize();
// Runs the units' finalization in reverse order, once.
__attribute__((visibility("default"))) void Finalize();
__attribute__((visibility("default"))) const QfxPackageInfoTable* GetPackageInfoTable();
}
