// Loads the screen module at run time and binds its four plain entries.
#pragma once

#include <QLibrary>
#include <QString>

#include <hostkit/core/result.h>

namespace qfxhost {

class ModuleLoader {
 public:
  ~ModuleLoader();

  // Loads the library, binds IniProc, Initialize, Finalize and
  // GetPackageInfoTable, then runs Initialize. An error value says what failed.
  hostkit::Status load(const QString& path);
  bool loaded() const { return iniProc_ != nullptr; }
  // Opens the module's screen; exceptions of the screen reach the caller.
  void iniProc() const;
  // Runs Finalize and unloads.
  void unload();

 private:
  QLibrary library_;
  void (*iniProc_)() = nullptr;
  void (*finalize_)() = nullptr;
};

}  // namespace qfxhost
