#include "moduleloader.h"

#include <QFileInfo>

namespace qfxhost {

ModuleLoader::~ModuleLoader() { unload(); }

std::optional<QString> ModuleLoader::load(const QString& path) {
  unload();
  if (!QFileInfo::exists(path)) return QStringLiteral("O módulo %1 não foi encontrado.").arg(path);
  library_.setFileName(path);
  if (!library_.load())
    return QStringLiteral("O módulo %1 não pôde ser carregado: %2").arg(path, library_.errorString());
  using Entry = void (*)();
  const auto resolve = [this](const char* name) { return reinterpret_cast<Entry>(library_.resolve(name)); };
  const Entry iniProc = resolve("IniProc");
  const Entry initialize = resolve("Initialize");
  const Entry finalize = resolve("Finalize");
  const bool hasTable = library_.resolve("GetPackageInfoTable") != nullptr;
  if (!iniProc || !initialize || !finalize || !hasTable) {
    library_.unload();
    return QStringLiteral(
               "O arquivo %1 não é um módulo válido: faltam as entradas IniProc, Initialize, Finalize "
               "ou GetPackageInfoTable.")
        .arg(path);
  }
  initialize();
  iniProc_ = iniProc;
  finalize_ = finalize;
  return std::nullopt;
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
