#include "testhelpers.h"

#include <QDir>
#include <QFile>
#include <chrono>

#include <proto/contract.h>

void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace qfxtest {

// CTest sets both folders; the build's own are the fallback for a test binary
// started by hand.
QString binPath(const QString& file) {
  return QDir(qEnvironmentVariable("QFX_BIN_DIR", QStringLiteral(QFX_BIN_DIR_DEFAULT))).filePath(file);
}

QString sourcePath(const QString& relative) {
  return QDir(qEnvironmentVariable("QFX_SOURCE_DIR", QStringLiteral(QFX_SOURCE_DIR_DEFAULT))).filePath(relative);
}

QByteArray fileContents(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

double dia(const QDate& day, const QTime& time) {
  using namespace std::chrono;
  const year_month_day calendarDay{year(day.year()), month(unsigned(day.month())),
                                   std::chrono::day(unsigned(day.day()))};
  return qfx::contract::toWire(calendarDay, milliseconds(time.msecsSinceStartOfDay()));
}

double dia(int year, int month, int day, int hour, int minute) {
  return dia(QDate(year, month, day), QTime(hour, minute));
}

}  // namespace qfxtest
