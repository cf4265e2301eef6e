#include "common/wire_date.h"

#include <cmath>

namespace qfx::server::wiredate {

namespace {
const QDate kEpoch(int(contract::kEpoch.year()), int(unsigned(contract::kEpoch.month())),
                   int(unsigned(contract::kEpoch.day())));
constexpr double kMsPerDay = 86400000.0;
}  // namespace

bool isValidWireDate(double days) { return contract::isWireDate(days); }

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

// The character at pos, of a Qt text or of the database's own UTF-8 bytes
// (a date is plain ASCII either way).
char16_t at(QStringView text, qsizetype pos) { return text[pos].unicode(); }
char16_t at(std::string_view text, size_t pos) { return char16_t(static_cast<unsigned char>(text[pos])); }

QStringView trimmed(QStringView text) { return text.trimmed(); }
std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// Reads n digits at pos; -1 when one is not a digit.
template <typename View>
int digits(View text, size_t pos, int n) {
  int value = 0;
  for (int i = 0; i < n; ++i) {
    const char16_t c = at(text, pos + size_t(i));
    if (c < u'0' || c > u'9') return -1;
    value = value * 10 + (c - u'0');
  }
  return value;
}

// 'YYYY-MM-DD' with an optional ' HH:MM:SS' (or 'T' as separator).
template <typename View>
std::optional<Moment> parseText(View text) {
  text = trimmed(text);
  const size_t size = size_t(text.size());
  if (size < 10 || at(text, 4) != u'-' || at(text, 7) != u'-') return std::nullopt;
  const QDate day(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2));
  if (!day.isValid()) return std::nullopt;
  if (size == 10) return Moment{day, 0};
  if (size < 19 || at(text, 13) != u':' || at(text, 16) != u':') return std::nullopt;
  const int h = digits(text, 11, 2), m = digits(text, 14, 2), s = digits(text, 17, 2);
  if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return std::nullopt;
  return Moment{day, ((h * 60 + m) * 60 + s) * 1000};
}

double wireDays(const Moment& moment) {
  const double day = fromDate(moment.day);
  const double fraction = moment.msecs / kMsPerDay;
  return day >= 0 ? day + fraction : day - fraction;
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
      return parseText(QStringView(value.toString()));
  }
}

}  // namespace

std::optional<double> fromDatabase(const QVariant& value) {
  const auto moment = momentFromDatabase(value);
  if (!moment) return std::nullopt;
  return wireDays(*moment);
}

std::optional<double> fromDatabaseText(std::string_view text) {
  const auto moment = parseText(text);
  if (!moment) return std::nullopt;
  return wireDays(*moment);
}

std::optional<QDate> dayFromDatabase(const QVariant& value) {
  const auto moment = momentFromDatabase(value);
  if (!moment) return std::nullopt;
  return moment->day;
}

}  // namespace qfx::server::wiredate
