// Whether a query text only reads: the check a report definition passes
// before it is saved or run. It looks at the words of the text with comments
// and quoted text taken out, so a semicolon or a keyword inside a string or
// a comment counts for nothing. It exists to give the operator a clear
// message; what guarantees that a report changes nothing is the host's
// read-only connection (SQLite) and read-only transaction (PostgreSQL).
#pragma once

#include <QString>
#include <QStringList>

#include <hostkit/core/result.h>

namespace reportkit {

// The words of a SQL text in upper case, in order, with comments, quoted
// text (strings, quoted names, PostgreSQL's $$ blocks) and numbers left out;
// a statement separator is kept as the word ";". An error value when a quote
// or a comment is never closed.
hostkit::Result<QStringList> sqlWordsOf(const QString& sql);

// Success when `sql` is exactly one statement that only reads (SELECT, or
// WITH ... SELECT, with no data-changing part, no SELECT ... INTO, no row
// locks); otherwise what is wrong with it, in Portuguese, to be put after
// the report's name ("a consulta ...").
hostkit::Status checkReadOnlySql(const QString& sql);

}  // namespace reportkit
