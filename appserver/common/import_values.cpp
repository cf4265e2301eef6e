#include "common/import_values.h"

#include <charconv>
#include <cmath>
#include <string>

namespace qfx::server::importvalue {

namespace {

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

int digitsValue(std::string_view text) {
  int value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

std::optional<double> number(std::string_view text) {
  const bool comma = text.find(',') != std::string_view::npos;
  const bool point = text.find('.') != std::string_view::npos;
  if (text.empty() || text.size() > 40 || (comma && point)) return std::nullopt;
  std::string plain(text);
  if (comma) plain[plain.find(',')] = '.';
  // digits, one sign in front and one decimal separator, nothing else
  if (plain[0] == '+') plain.erase(0, 1);
  if (plain.empty()) return std::nullopt;
  const size_t start = plain[0] == '-' ? 1 : 0;
  bool digit = false, separator = false;
  for (size_t i = start; i < plain.size(); ++i) {
    if (plain[i] >= '0' && plain[i] <= '9') {
      digit = true;
    } else if (plain[i] == '.' && !separator) {
      separator = true;
    } else {
      return std::nullopt;
    }
  }
  if (!digit) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<qint64> integer(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  const bool negative = text[0] == '-';
  if (!allDigits(negative ? text.substr(1) : text)) return std::nullopt;
  qint64 value = 0;
  for (char c : negative ? text.substr(1) : text) value = value * 10 + (c - '0');
  return negative ? -value : value;
}

namespace {

struct DayParts {
  int year = 0, month = 0, day = 0;
};
struct TimeParts {
  int hour = 0, minute = 0, second = 0;
};

std::optional<DayParts> dayParts(std::string_view text) {
  DayParts p;
  if (text.size() == 10 && text[2] == '/' && text[5] == '/' && allDigits(text.substr(0, 2)) &&
      allDigits(text.substr(3, 2)) && allDigits(text.substr(6, 4))) {
    p = {digitsValue(text.substr(6, 4)), digitsValue(text.substr(3, 2)), digitsValue(text.substr(0, 2))};
  } else if (text.size() == 10 && text[4] == '-' && text[7] == '-' && allDigits(text.substr(0, 4)) &&
             allDigits(text.substr(5, 2)) && allDigits(text.substr(8, 2))) {
    p = {digitsValue(text.substr(0, 4)), digitsValue(text.substr(5, 2)), digitsValue(text.substr(8, 2))};
  } else {
    return std::nullopt;
  }
  // years a sale or a period may have; 0001 or 9999 is a typing slip
  if (!QDate::isValid(p.year, p.month, p.day) || p.year < 1900 || p.year > 2999) return std::nullopt;
  return p;
}

// A moment's day and time; a day alone is its start.
std::optional<std::pair<DayParts, TimeParts>> momentParts(std::string_view text) {
  if (text.size() == 10) {
    auto d = dayParts(text);
    if (!d) return std::nullopt;
    return std::make_pair(*d, TimeParts{});
  }
  if (text.size() < 16 || (text[10] != ' ' && text[10] != 'T')) return std::nullopt;
  auto d = dayParts(text.substr(0, 10));
  const std::string_view time = text.substr(11);
  if (!d || (time.size() != 5 && time.size() != 8) || time[2] != ':' || (time.size() == 8 && time[5] != ':'))
    return std::nullopt;
  if (!allDigits(time.substr(0, 2)) || !allDigits(time.substr(3, 2)) ||
      (time.size() == 8 && !allDigits(time.substr(6, 2))))
    return std::nullopt;
  const TimeParts t{digitsValue(time.substr(0, 2)), digitsValue(time.substr(3, 2)),
                    time.size() == 8 ? digitsValue(time.substr(6, 2)) : 0};
  if (!QTime::isValid(t.hour, t.minute, t.second)) return std::nullopt;
  return std::make_pair(*d, t);
}

void putDigits(char* at, int value, int width) {
  for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = char('0' + value % 10);
}

// yyyy-MM-dd written straight from the digits: no calendar, no time zone
void putDay(char* at, const DayParts& d) {
  putDigits(at, d.year, 4);
  at[4] = '-';
  putDigits(at + 5, d.month, 2);
  at[7] = '-';
  putDigits(at + 8, d.day, 2);
}

}  // namespace

std::optional<QDate> day(std::string_view text) {
  auto p = dayParts(text);
  if (!p) return std::nullopt;
  return QDate(p->year, p->month, p->day);
}

std::optional<QDateTime> moment(std::string_view text) {
  auto p = momentParts(text);
  if (!p) return std::nullopt;
  return QDateTime(QDate(p->first.year, p->first.month, p->first.day),
                   QTime(p->second.hour, p->second.minute, p->second.second));
}

std::optional<QString> isoDay(std::string_view text) {
  auto p = dayParts(text);
  if (!p) return std::nullopt;
  char out[10];
  putDay(out, *p);
  return QString::fromLatin1(out, 10);
}

std::optional<QString> isoMoment(std::string_view text) {
  auto p = momentParts(text);
  if (!p) return std::nullopt;
  char out[19];
  putDay(out, p->first);
  out[10] = ' ';
  putDigits(out + 11, p->second.hour, 2);
  out[13] = ':';
  putDigits(out + 14, p->second.minute, 2);
  out[16] = ':';
  putDigits(out + 17, p->second.second, 2);
  return QString::fromLatin1(out, 19);
}

}  // namespace qfx::server::importvalue
