#include "drop_folder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

namespace qfximport {

namespace {

Result<QSet<QString>> readLedger(const QString& path) {
  QSet<QString> keys;
  QFile file(path);
  if (!file.exists()) return keys;
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    return Result<QSet<QString>>::failure(QStringLiteral("não foi possível ler %1: %2").arg(path, file.errorString()));
  while (!file.atEnd()) {
    const QString key = QString::fromLatin1(file.readLine()).trimmed();
    if (!key.isEmpty()) keys.insert(key);
  }
  return keys;
}

Status remember(const QString& ledger, const QString& key) {
  QFile file(ledger);
  if (!file.open(QIODevice::Append | QIODevice::Text) || file.write((key + QLatin1Char('\n')).toLatin1()) < 0 ||
      !file.flush())
    return Status::failure(QStringLiteral("não foi possível gravar %1: %2").arg(ledger, file.errorString()));
  return hostkit::success();
}

// The access key the document states (infNFe/@Id); empty when none is found,
// and the server then says what is wrong with the file.
QString accessKeyOf(const QString& path) {
  static const QRegularExpression id(QStringLiteral("Id\\s*=\\s*[\"']NFe([0-9]{44})[\"']"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return id.match(QString::fromLatin1(file.read(1 << 16))).captured(1);
}

void addProblems(const rpc::ImportaDadosResposta& reply, QStringList* problems) {
  for (const auto& p : reply.problems())
    *problems << QStringLiteral("%1:%2:%3 %4")
                     .arg(QString::fromStdString(p.file_name()))
                     .arg(p.line())
                     .arg(p.column().empty() ? QString() : QLatin1Char(' ') + QString::fromStdString(p.column()),
                          QString::fromStdString(p.reason()));
}

}  // namespace

Result<DropFolderRun> importDropFolder(const Connection& connection, const QString& folder) {
  using Run = Result<DropFolderRun>;
  const QDir dir(folder);
  if (!dir.exists()) return Run::failure(QStringLiteral("%1: pasta não encontrada").arg(folder));
  const QString ledger = dir.filePath(QLatin1String(kDropFolderLedger));
  auto imported = readLedger(ledger);
  if (!imported.ok()) return Run::failure(imported.error());
  DropFolderRun run;
  const QDateTime settled = QDateTime::currentDateTime().addSecs(-kDropFolderSettleSeconds);
  const auto entries =
      dir.entryInfoList({QStringLiteral("*.xml"), QStringLiteral("*.XML")}, QDir::Files | QDir::Readable, QDir::Name);
  for (const auto& entry : entries) {
    if (entry.lastModified() > settled) {
      ++run.waiting;
      continue;
    }
    const QString key = accessKeyOf(entry.filePath());
    if (!key.isEmpty() && imported->contains(key)) {
      ++run.skipped;
      continue;
    }
    const ImportFile file{entry.filePath(), QStringLiteral("NFCE"), entry.size()};
    const Outcome outcome = importFiles(connection, {file}, false);
    if (!outcome.ok) return Run::failure(outcome.error);
    if (!outcome.reply.written()) {
      ++run.refused;
      addProblems(outcome.reply, &run.problems);
      continue;
    }
    ++run.imported;
    if (key.isEmpty()) continue;
    imported->insert(key);
    if (auto kept = remember(ledger, key); !kept.ok()) return Run::failure(kept.error());
  }
  return run;
}

}  // namespace qfximport
