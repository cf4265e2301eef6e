// Arranging data for a test. The host's own connection is read-only, so a
// test writes its rows through a connection of its own to the same file.
#pragma once

#include <QString>
#include <QStringList>

#include <hostkit/core/result.h>

namespace hostkit {

// Runs the statements in one transaction on the SQLite file (created when
// missing) through a short-lived writable connection; the first failing
// statement and its error otherwise.
Status writeSqliteFile(const QString& file, const QStringList& statements);

}  // namespace hostkit
