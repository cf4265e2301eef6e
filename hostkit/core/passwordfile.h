// A password kept in a file: taken only when no one but its owner may read
// or write the file. Header only, so the import command, which does not link
// the host kit, applies the same rule as the host.
#pragma once

#include <QFile>
#include <QString>

#include "result.h"

namespace hostkit {

// The file's first line, trimmed; otherwise why it is not taken.
inline Result<QString> readPasswordFile(const QString& path) {
  using Read = Result<QString>;
  QFile file(path);
  const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                                          QFileDevice::WriteOther | QFileDevice::ExeGroup | QFileDevice::ExeOther;
  if (!file.exists()) return Read::failure(QStringLiteral("Arquivo de senha não encontrado: %1").arg(path));
  if (file.permissions() & others)
    return Read::failure(
        QStringLiteral("O arquivo de senha %1 pode ser lido por outros usuários: deixe-o só para o dono (chmod 600).")
            .arg(path));
  if (!file.open(QIODevice::ReadOnly))
    return Read::failure(
        QStringLiteral("Não foi possível ler o arquivo de senha %1: %2").arg(path, file.errorString()));
  return QString::fromUtf8(file.readLine()).trimmed();
}

}  // namespace hostkit
