// Small helpers every test binary links: where the build put its programs and
// where the sources are, reading a whole file, dates as they travel on the
// wire, and readable texts in failure reports.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTime>
#include <ostream>

// Readable QString values in failure reports (found by argument lookup, so it
// lives beside QString in the global namespace).
void PrintTo(const QString& text, std::ostream* os);

namespace qfxtest {

// A file of the build's program folder: a program, the module, a library.
QString binPath(const QString& file);
// A file of the source tree, by its path from the repository's root.
QString sourcePath(const QString& relative);
// The whole content of a file; empty when it cannot be read.
QByteArray fileContents(const QString& path);

// A day (and time of day) as a date travels on the wire.
double dia(const QDate& day, const QTime& time = QTime(0, 0));
double dia(int year, int month, int day, int hour = 0, int minute = 0);

}  // namespace qfxtest
