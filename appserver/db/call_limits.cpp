#include "db/call_limits.h"

#include <algorithm>

namespace qfx::server {

namespace {

using std::chrono::milliseconds;

// A fifth of the time the call has, between a quarter second (the error and
// the rollback still travel on a slow machine) and three seconds (a minute's
// deadline keeps nearly all of it for waiting).
milliseconds marginFor(milliseconds total) { return std::clamp(total / 5, milliseconds(250), milliseconds(3000)); }

const CallLimits noLimits;
thread_local const CallLimits* currentLimits = nullptr;

}  // namespace

CallLimits::CallLimits(std::optional<std::chrono::system_clock::time_point> deadline, std::function<bool()> cancelled)
    : cancelled_(std::move(cancelled)) {
  // gRPC reports "no deadline" as the clock's far end
  if (!deadline || *deadline == std::chrono::system_clock::time_point::max()) return;
  const auto total = std::chrono::duration_cast<milliseconds>(*deadline - std::chrono::system_clock::now());
  // more than a day away: as good as none, and no overflow below
  if (total > std::chrono::hours(24)) return;
  stopPoint_ = Clock::now() + total - marginFor(std::max(total, milliseconds(0)));
}

std::optional<milliseconds> CallLimits::timeLeft() const {
  if (!stopPoint_) return std::nullopt;
  const auto left = std::chrono::ceil<milliseconds>(*stopPoint_ - Clock::now());
  return std::max(left, milliseconds(0));
}

const CallLimits& CallLimits::current() { return currentLimits ? *currentLimits : noLimits; }

CallLimits::Scope::Scope(const CallLimits& limits) : previous_(currentLimits) { currentLimits = &limits; }

CallLimits::Scope::~Scope() { currentLimits = previous_; }

}  // namespace qfx::server
