#include "auth/login_throttle.h"

#include <algorithm>

namespace qfx::server {

namespace {

// Longer codes are refused by the login anyway; the table keeps no more of them.
constexpr size_t kMaxKeyLength = 256;

std::string keyOf(const std::string& text) { return text.substr(0, kMaxKeyLength); }

// An operator code holds no NUL, so the pair's key cannot be forged from another pair.
std::string pairKey(const std::string& operatorCode, const std::string& address) {
  return keyOf(operatorCode) + '\0' + keyOf(address);
}

}  // namespace

LoginThrottle::LoginThrottle(const LoginThrottleOptions& options)
    : options_(options),
      operators_(std::max(1, options.operatorFailures), options_),
      addresses_(std::max(1, options.addressFailures), options_),
      strangers_(std::max(1, options.strangerFailures), options_),
      known_(options_),
      checks_(std::max(1, options.concurrentChecks)) {}

std::optional<LoginThrottle::Clock::duration> LoginThrottle::waitFor(const std::string& operatorCode,
                                                                     const std::string& address,
                                                                     Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const auto byOperator = operators_.waitFor(keyOf(operatorCode), now);
  auto byAddress = addresses_.waitFor(keyOf(address), now);
  if (byAddress && known_.contains(pairKey(operatorCode, address), now)) byAddress.reset();
  if (byOperator && byAddress) return std::max(*byOperator, *byAddress);
  return byOperator ? byOperator : byAddress;
}

void LoginThrottle::failed(const std::string& operatorCode, const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  operators_.failed(keyOf(operatorCode), now);
  addresses_.failed(keyOf(address), now);
}

void LoginThrottle::succeeded(const std::string& operatorCode, const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  operators_.forget(keyOf(operatorCode));
  known_.add(pairKey(operatorCode, address), now);
}

std::optional<LoginThrottle::Clock::duration> LoginThrottle::strangerWaitFor(const std::string& address,
                                                                             Clock::time_point now) {
  std::lock_guard lock(mutex_);
  return strangers_.waitFor(keyOf(address), now);
}

bool LoginThrottle::strangerRefused(const std::string& address, Clock::time_point now) {
  std::lock_guard lock(mutex_);
  const bool heldBefore = strangers_.waitFor(keyOf(address), now).has_value();
  strangers_.failed(keyOf(address), now);
  return !heldBefore && strangers_.waitFor(keyOf(address), now).has_value();
}

std::optional<LoginThrottle::CheckSlot> LoginThrottle::takeCheckSlot(Clock::time_point latest) {
  const auto until = std::min(Clock::now() + options_.checkWait, latest);
  if (!checks_.try_acquire_until(until)) return std::nullopt;
  return CheckSlot(&checks_);
}

std::optional<LoginThrottle::Clock::duration> LoginThrottle::FailureTable::waitFor(const std::string& key,
                                                                                   Clock::time_point now) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return std::nullopt;
  if (now - it->second.last > options_.forgetAfter) {
    forget(key);
    return std::nullopt;
  }
  if (now >= it->second.waitUntil) return std::nullopt;
  return it->second.waitUntil - now;
}

void LoginThrottle::FailureTable::failed(const std::string& key, Clock::time_point now) {
  auto it = entries_.find(key);
  if (it != entries_.end() && now - it->second.last > options_.forgetAfter) {
    forget(key);
    it = entries_.end();
  }
  if (it == entries_.end()) {
    if (entries_.size() >= options_.maxEntries && !byAge_.empty()) forget(byAge_.front());
    it = entries_.emplace(key, Entry{}).first;
    it->second.age = byAge_.insert(byAge_.end(), key);
  } else {
    byAge_.splice(byAge_.end(), byAge_, it->second.age);
  }
  Entry& entry = it->second;
  ++entry.failures;
  entry.last = now;
  if (entry.failures >= limit_) entry.waitUntil = now + delayAfter(entry.failures);
}

void LoginThrottle::FailureTable::forget(const std::string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  byAge_.erase(it->second.age);
  entries_.erase(it);
}

bool LoginThrottle::KnownPairs::contains(const std::string& key, Clock::time_point now) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return false;
  if (now - it->second.since > options_.trustKnownFor) {
    forget(key);
    return false;
  }
  return true;
}

void LoginThrottle::KnownPairs::add(const std::string& key, Clock::time_point now) {
  if (auto it = entries_.find(key); it != entries_.end()) {
    it->second.since = now;
    byAge_.splice(byAge_.end(), byAge_, it->second.age);
    return;
  }
  if (entries_.size() >= options_.maxEntries && !byAge_.empty()) forget(byAge_.front());
  entries_.emplace(key, Entry{now, byAge_.insert(byAge_.end(), key)});
}

void LoginThrottle::KnownPairs::forget(const std::string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  byAge_.erase(it->second.age);
  entries_.erase(it);
}

// The first delay at the limit, doubled for every failure past it, capped.
LoginThrottle::Clock::duration LoginThrottle::FailureTable::delayAfter(int failures) const {
  const Clock::duration cap = options_.maxDelay;
  Clock::duration delay = options_.firstDelay;
  for (int past = limit_; past < failures && delay < cap; ++past) delay *= 2;
  return std::min(delay, cap);
}

std::string clientAddress(const std::string& peer) {
  const bool ip = peer.rfind("ipv4:", 0) == 0 || peer.rfind("ipv6:", 0) == 0;
  const size_t port = peer.rfind(':');
  if (!ip || port == std::string::npos || port < 5) return peer;
  return peer.substr(0, port);
}

std::string throttledMessage(LoginThrottle::Clock::duration wait) {
  const auto seconds = std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(wait).count());
  return "Muitas tentativas de acesso sem sucesso. Tente novamente em " + std::to_string(seconds) +
         (seconds == 1 ? " segundo." : " segundos.");
}

}  // namespace qfx::server
