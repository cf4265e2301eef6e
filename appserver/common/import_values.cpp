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

std::optional<QDate> day(std::string_view text) {
  int d = 0, m = 0, y = 0;
  if (text.size() == 10 && text[2] == '/' && text[5] == '/' && allDigits(text.substr(0, 2)) &&
      allDigits(text.substr(3, 2)) && allDigits(text.substr(6, 4))) {
    d = digitsValue(text.substr(0, 2));
    m = digitsValue(text.substr(3, 2));
    y = digitsValue(text.substr(6, 4));
  } else if (text.size() == 10 && text[4] == '-' && text[7] == '-' && allDigits(text.substr(0, 4)) &&
             allDigits(text.substr(5, 2)) && allDigits(text.substr(8, 2))) {
    y = digitsValue(text.substr(0, 4));
    m = digitsValue(text.substr(5, 2));
    d = digitsValue(text.substr(8, 2));
  } else {
    return std::nullopt;
  }
  const QDate date(y, m, d);
  // years a sale or a period may have; 0001 or 9999 is a typing slip
  if (!date.isValid() || y < 1900 || y > 2999) return std::nullopt;
  return date;
}

std::optional<QDateTime> moment(std::string_view text) {
  if (text.size() == 10) {
    auto d = day(text);
    if (!d) return std::nullopt;
    return QDateTime(*d, QTime(0, 0));
  }
  if (text.size() < 16 || (text[10] != ' ' && text[10] != 'T')) return std::nullopt;
  auto d = day(text.substr(0, 10));
  const std::string_view time = text.substr(11);
  if (!d || (time.size() != 5 && time.size() != 8) || time[2] != ':' || (time.size() == 8 && time[5] != ':'))
    return std::nullopt;
  if (!allDigits(time.substr(0, 2)) || !allDigits(time.substr(3, 2)) ||
      (time.size() == 8 && !allDigits(time.substr(6, 2))))
    return std::nullopt;
  const QTime t(digitsValue(time.substr(0, 2)), digitsValue(time.substr(3, 2)),
                time.size() == 8 ? digitsValue(time.substr(6, 2)) : 0);
  if (!t.isValid()) return std::nullopt;
  return QDateTime(*d, t);
}

}  // namespace qfx::server::importvalue
