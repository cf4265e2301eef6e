// The demo data as import files: every table an import feeds, one CSV file
// per kind (sales one line per item), in the forms docs/importacao.md
// describes, so that importing them into an empty database rebuilds the
// demo's registrations, sales and Z reductions row for row.
#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include "common/result.h"

namespace qfx::server::demo {

// Writes <folder>/<KIND>.csv for every kind from the rows `db` holds; the
// folder is made when missing. The posting stamps stay out: an import never
// writes them.
Status writeImportFiles(QSqlDatabase& db, const QString& folder);

// The sales of one day (of one branch, or of every branch) as the point of
// sale keeps them once authorised: one NFC-e (`nfeProc`, layout 4.00) a sale,
// and its cancellation event beside a cancelled one. The document is made
// from what the sale holds, so the files written from a database that
// imported them are the same files, byte for byte. A returned sale is no
// NFC-e (its return would be an NF-e of its own), nor is a sale of a branch
// without CNPJ, of a register without NFC-e series or without a numeric
// receipt number: those are counted as left out.
struct NfceSelection {
  QDate day;
  QString branch;  // empty: every branch
};
struct NfceFiles {
  int64_t documents = 0, cancellations = 0, leftOut = 0;
};
Result<NfceFiles> writeNfceFiles(QSqlDatabase& db, const QString& folder, const NfceSelection& selection);

}  // namespace qfx::server::demo
