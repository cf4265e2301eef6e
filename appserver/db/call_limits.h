// How long the database work of one call may wait, and whether its client is
// still there. The host gives every call a deadline; a call that waits for
// another writer's lock past it leaves the operator with a bare "no answer"
// while the server keeps a worker and a connection busy for nobody. So waits
// (SQLite's busy handler, PostgreSQL's lock_timeout, a run's retries) end a
// little before the deadline, with the database's own "busy" error, and end
// at once when the client cancels. A call without a deadline waits as the
// configuration says.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace qfx::server {

class CallLimits {
 public:
  using Clock = std::chrono::steady_clock;

  // No deadline, never cancelled.
  CallLimits() = default;
  // `deadline`: the client's (system clock); none: wait as configured.
  CallLimits(std::optional<std::chrono::system_clock::time_point> deadline, std::function<bool()> cancelled);

  bool cancelled() const { return cancelled_ && cancelled_(); }
  // The moment to stop waiting has come: what is left of the deadline is
  // kept to roll back and carry the error to the client.
  bool pastStopPoint() const { return stopPoint_ && Clock::now() >= *stopPoint_; }
  bool shouldStop() const { return cancelled() || pastStopPoint(); }
  // Until the stop point (zero once past it); none without a deadline.
  std::optional<std::chrono::milliseconds> timeLeft() const;

  // The limits of the call the current thread works for; none outside a call.
  static const CallLimits& current();

  // Makes `limits` the current thread's for its lifetime.
  class Scope {
   public:
    explicit Scope(const CallLimits& limits);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    const CallLimits* previous_;
  };

 private:
  std::optional<Clock::time_point> stopPoint_;
  std::function<bool()> cancelled_;
};

}  // namespace qfx::server
