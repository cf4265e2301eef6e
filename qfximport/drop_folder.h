// A folder the points of sale write their NFC-e files to, imported again and
// again (a systemd timer every few minutes): what is new goes in, what was
// imported before is skipped by its access key, so a renamed or copied file
// never imports twice. Each document is its own import, so one that is
// refused (a product not registered yet) holds back no other and is tried
// again on the next run.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "import_client.h"

namespace qfximport {

// The access keys imported from a folder, one a line, kept in it.
inline constexpr const char* kDropFolderLedger = ".qfximport-chaves";
// A file written less than this long ago may still be being written.
inline constexpr int kDropFolderSettleSeconds = 60;

struct DropFolderRun {
  int imported = 0, skipped = 0, refused = 0, waiting = 0;
  QStringList problems;  // "file:line: element reason"
};

// Imports the folder's new *.xml files; an error when
// nothing could be done: the folder or its ledger unreadable, the server gone.
Result<DropFolderRun> importDropFolder(const Connection& connection, const QString& folder);

}  // namespace qfximport
