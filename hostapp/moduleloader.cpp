#include "moduleloader.h"

#include <QFileInfo>

namespace qfxhost {

ModuleLoader::~ModuleLoader() { unload(); }

hostkit::Status ModuleLoader::load(const QString& path) {
  using hostkit::Status;
  unload();
  if (!QFileInfo::exists(path)) return Status::failure(QStringLiteral("O módulo %1 não foi encontrado.").arg(path));
  library_.setFileName(path);
  if (!library_.load())
    return Status::failure(QStringLiteral("O módulo %1 não pôde ser carregado: %2").arg(path, library_.errorString()));
  using Entry = void (*)();
  const auto resolve = [this](const char* name) { return reinterpret_cast<Entry>(library_.resolve(name)); };
  const Entry iniProc = resolve("IniProc");
  const Entry initialize = resolve("Initialize");
  const Entry finalize = resolve("Finalize");
  const bool hasTable = library_.resolve("GetPackageInfoTable") != nullptr;
  if (!iniProc || !initialize || !finalize || !hasTable) {
    library_.unload();
    return Status::failure(
        QStringLiteral("O arquivo %1 não é um módulo válido: faltam as entradas IniProc, Initialize, "
                       "Finalize ou GetPackageInfoTable.")
            .arg(path));
  }
  initialize();
  iniProc_ = iniProc;
  finalize_ = finalize;
  return hostkit::success();
}

void ModuleLoader::iniProc() const {
  if (iniProc_) iniProc_();
}

void ModuleLoader::unload() {
  if (!iniProc_) return;
  finalize_();
  iniProc_ = nullptr;
  finalize_ = nullptr;
  library_.unload();
}

}  // namespace qfxhost
