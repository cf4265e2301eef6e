// A report's detail rows as files for a spreadsheet: CSV as a Brazilian
// Excel opens it, and XLSX with real numbers and dates. Both are flat lists
// of the detail rows in the report's columns; group headers, subtotals and
// the grand total are left to the printed document and to the spreadsheet.
#pragma once

#include <QString>

#include "reportengine.h"

namespace reportkit {

// UTF-8 with a byte order mark (Excel reads the accents only so),
// semicolon-separated, CRLF line ends: a header of the column titles, then
// one line per detail row. Numbers with a decimal comma and no thousands
// separator, at the decimals of the column's format (every decimal needed
// when it has none); dates dd/MM/yyyy, with " HH:mm" when they carry a
// time; text quoted when it holds a semicolon, a quote or a line break.
// An existing file is replaced only once the new one is complete; the
// error text on failure.
hostkit::Status exportCsv(const ReportTable& table, const QString& path);

// One sheet named after the title: the title in the first row, the column
// titles in bold in the third, then the detail rows: numbers as numbers in
// the column's format, dates as dates, text as text, NULL as a blank cell.
// The title rows stay in view while scrolling and the header carries the
// filter buttons. An existing file is replaced only once the new one is
// complete; the error text on failure.
hostkit::Status exportXlsx(const ReportTable& table, const QString& title, const QString& path);

// The sheet name Excel accepts for a title: without []:*?/\ and at most 31
// characters.
QString sheetNameFor(const QString& title);

}  // namespace reportkit
