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
std::optional<QDateTime> momentFromDatabase(const QVariant& value) {
  if (value.isNull()) return std::nullopt;
  switch (value.typeId()) {
    case QMetaType::QDate:
      return QDateTime(value.toDate(), QTime(0, 0));
    case QMetaType::QDateTime: {
      // PostgreSQL TIMESTAMP has no zone: take the fields as stored
      const QDateTime dt = value.toDateTime();
      return QDateTime(dt.date(), dt.time());
    }
    default:
      break;
  }
  QString text = value.toString().trimmed();
  const QDate day = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
  if (!day.isValid()) return std::nullopt;
  QTime time(0, 0);
  if (text.size() >= 19) {
    time = QTime::fromString(text.mid(11, 8), QStringLiteral("HH:mm:ss"));
    if (!time.isValid()) return std::nullopt;
  }
  return QDateTime(day, time);
}
}  // namespace

std::optional<double> fromDatabase(const QVariant& value) {
  const auto moment = momentFromDatabase(value);
  if (!moment) return std::nullopt;
  return fromDateTime(*moment);
}

std::optional<QDate> dayFromDatabase(const QVariant& value) {
  const auto moment = momentFromDatabase(value);
  if (!moment) return std::nullopt;
  return moment->date();
}

}  // namespace qfx::server::wiredate
