// A trial run of a definition's query, for the designer's "Testar consulta":
// the query of the connected database runs read-only with every parameter
// unset, and the designer shows the fields it returns and its first rows.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "reporttemplate.h"

namespace reportkit {

struct ReportProbe {
  QStringList fields;       // in the query's order
  QList<QStringList> rows;  // the first rows, each value as text (empty for NULL)
  int rowCount = 0;         // every row the query returned
  QString error;            // the refusal or the database's error; empty when it ran
};

// Runs the definition's query as described above and keeps at most
// `maxRows` rows. A query that would write is refused before it runs.
ReportProbe probeReportQuery(const ReportTemplate& report, const QString& connection, int maxRows = 20);

}  // namespace reportkit
