// The demo data as import files: every table an import feeds, one CSV file
// per kind (sales one line per item), in the forms docs/importacao.md
// describes, so that importing them into an empty database rebuilds the
// demo's registrations, sales and Z reductions row for row.
#pragma once

#include <QSqlDatabase>
#include <QString>

#include "common/result.h"

namespace qfx::server::demo {

// Writes <folder>/<KIND>.csv for every kind from the rows `db` holds; the
// folder is made when missing. The posting stamps stay out: an import never
// writes them.
Status writeImportFiles(QSqlDatabase& db, const QString& folder);

}  // namespace qfx::server::demo
