#include "common/wire_date.h"

#include <cmath>

namespace qfx::server::wiredate {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;
}  // namespace

bool isValidWireDate(double days) { return std::isfinite(days) && days >= kMinDays && days <= kMaxDays; }

QDate toDate(double days) { return kEpoch.addDays(qint64(std::trunc(days))); }

QDateTime toDateTime(double days) {
  const double whole = std::trunc(days);
  const double fraction = std::fabs(days - whole);
  const int ms = int(std::llround(fraction * kMsPerDay));
  QDateTime moment(toDate(days), QTime(0, 0));
  return moment.addMSecs(ms);
}

double fromDate(const QDate& date) { return double(kEpoch.daysTo(date)); }

double fromDateTime(const QDateTime& moment) {
  const double day = fromDate(moment.date());
  const double fraction = moment.time().msecsSinceStartOfDay() / kMsPerDay;
  return day >= 0 ? day + fraction : day - fraction;
}

QString dayText(const QDate& date) { return date.toString(QStringLiteral("yyyy-MM-dd")); }

QString momentText(const QDateTime& moment) { return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

namespace {

// A day and the time of day, without QDateTime: building a local QDateTime
// asks the time zone database, which costs a file lookup per value and adds
// up over a million rows.
struct Moment {
  QDate day;
  int msecs = 0;
};

// Reads n digits at pos; -1 when one is not a digit.
int digits(QStringView text, qsizetype pos, int n) {
  int value = 0;
  for (int i = 0; i < n; ++i) {
    const QChar c = text[pos + i];
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return -1;
    value = value * 10 + (c.unicode() - u'0');
  }
  return value;
}

// 'YYYY-MM-DD' with an optional ' HH:MM:SS' (or 'T' as separator).
std::optional<Moment> parseText(QStringView text) {
  text = text.trimmed();
  if (text.size() < 10 || text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-')) return std::nullopt;
  const QDate day(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
  if (!day.isValid()) return std::nullopt;
  if (text.size() == 10) return Moment{day, 0};
  if (text.size() < 19 || text[13] != QLatin1Char(':') || text[16] != QLatin1Char(':')) return std::nullopt;
  const int h = digits(text, 11, 2), m = digits(text, 14, 2), s = digits(text, 17, 2);
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return std::nullopt;
  return Moment{day, ((h * 60 + m) * 60 + s) * 1000};
}

std::optional<Moment> momentFromDatabase(const QVariant& value) {
  if (value.isNull()) return std::nullopt;
  switch (value.typeId()) {
    case QMetaType::QDate:
      return Moment{value.toDate(), 0};
    case QMetaType::QDateTime: {
      // PostgreSQL TIMESTAMP has no zone: take the fields as stored
      const QDateTime dt = value.toDateTime();
      return Moment{dt.date(), dt.time().msecsSinceStartOfDay()};
    }
    default:
      return parseText(value.toString());
  }
}

}  // namespace

std::optional<double> fromDatabase(const QVariant& value) {
  const auto moment = momentFromDatabase(value);
  if (!moment) return std::nullopt;
  const double day = fromDate(moment->day);
  const double fraction = moment->msecs / kMsPerDay;
  return day >= 0 ? day + fraction : day - fraction;
}

std::optional<QDate> dayFromDatabase(const QVariant& value) {
  const auto moment = momentFromDatabase(value);
  if (!moment) return std::nullopt;
  return moment->day;
}

}  // namespace qfx::server::wiredate
