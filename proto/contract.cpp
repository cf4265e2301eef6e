#include "contract.h"

#include <cmath>

namespace qfx::contract {

namespace {
using std::chrono::days;
using std::chrono::sys_days;
constexpr double kMsPerDay = 86400000.0;
}  // namespace

bool isWireDate(double value) { return std::isfinite(value) && value >= kMinDays && value <= kMaxDays; }

std::optional<WireMoment> fromWire(double value) {
  if (!isWireDate(value)) return std::nullopt;
  const double whole = std::trunc(value);
  auto day = sys_days(kEpoch) + days(static_cast<long long>(whole));
  auto ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  if (ms >= std::llround(kMsPerDay)) {  // a fraction that rounds up to a whole day is the next midnight
    day += days(1);
    ms = 0;
  }
  return WireMoment{std::chrono::year_month_day(day), std::chrono::milliseconds(ms)};
}

double toWire(const std::chrono::year_month_day& day, std::chrono::milliseconds timeOfDay) {
  const double whole = double((sys_days(day) - sys_days(kEpoch)).count());
  const double fraction = double(timeOfDay.count()) / kMsPerDay;
  return whole >= 0 ? whole + fraction : whole - fraction;
}

}  // namespace qfx::contract
