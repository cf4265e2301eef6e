// A trial run of a definition's query, for the designer's "Testar consulta":
// the query of the connected database runs read-only with every parameter
// unset, and the designer shows the fields it returns and its first rows.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "reporttemplate.h"
#include <hostkit/core/dataset.h>

namespace reportkit {

struct ReportProbe {
  QStringList fields;               // in the query's order
  QList<ReportColumn::Type> kinds;  // per field, what its values are (see fieldKind)
  QList<QStringList> rows;          // the first rows, each value as text (empty for NULL)
  int rowCount = 0;                 // every row the query returned
  QString error;                    // the refusal or the database's error; empty when it ran
};

// What a field's values are: a number or a date when the database types it
// so; a text whose every value in the sample reads as a date is a date
// (SQLite keeps days as text); and with no value to look at, the product's
// own names tell ("DT..." days, "QT..." quantities, "VR..." values).
ReportColumn::Type fieldKind(const QString& field, hostkit::FieldType type, const QStringList& sample);
// A column for the probe's field `index` as the designer adds it: its kind,
// numbers to the right, quantities and values in their usual pictures.
ReportColumn suggestedColumn(const ReportProbe& probe, int index);

// Runs the definition's query as described above and keeps at most
// `maxRows` rows. A query that would write is refused before it runs.
ReportProbe probeReportQuery(const ReportTemplate& report, const QString& connection, int maxRows = 20);

}  // namespace reportkit
