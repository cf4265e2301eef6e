// Failed logins held back, in the server's memory. After a few failures for
// one operator, or from one client address, further attempts for that
// operator or address are refused at once, without a password check, for a
// delay that doubles with each failure past the limit. The address limit is
// higher than the operator's: an address may be a whole shop behind one
// router, and one operator's mistakes must not lock out the others. Each
// server process counts on its own; the tables keep a bounded number of
// entries, and the one that failed least recently leaves first.
//
// Password checks (argon2id, 64 MiB each) run a few at a time: a login waits
// briefly for a free check and is refused when none frees up.
#pragma once

#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <semaphore>
#include <string>
#include <unordered_map>
#include <utility>

namespace qfx::server {

struct LoginThrottleOptions {
  int operatorFailures = 5;  // failures of one operator before its attempts wait
  int addressFailures = 20;  // failures from one address, any operator, before its attempts wait
  std::chrono::milliseconds firstDelay{1000};
  std::chrono::milliseconds maxDelay{std::chrono::minutes(5)};
  std::chrono::milliseconds forgetAfter{std::chrono::hours(1)};  // failures older than this no longer count
  size_t maxEntries = 10000;                                     // per table (operators, addresses)
  int concurrentChecks = 2;                                      // password checks running at once
  std::chrono::milliseconds checkWait{30000};                    // how long a login waits for one
};

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LoginThrottle(const LoginThrottleOptions& options);

  // How long the operator or the address must still wait; nullopt: it may try.
  std::optional<Clock::duration> waitFor(const std::string& operatorCode, const std::string& address,
                                         Clock::time_point now = Clock::now());
  void failed(const std::string& operatorCode, const std::string& address, Clock::time_point now = Clock::now());
  void succeeded(const std::string& operatorCode, const std::string& address);

  // A free password check, taken for the slot's lifetime.
  class CheckSlot {
   public:
    explicit CheckSlot(std::counting_semaphore<>* slots) : slots_(slots) {}
    CheckSlot(CheckSlot&& other) noexcept : slots_(std::exchange(other.slots_, nullptr)) {}
    CheckSlot& operator=(CheckSlot&&) = delete;
    ~CheckSlot() {
      if (slots_) slots_->release();
    }

   private:
    std::counting_semaphore<>* slots_;
  };
  // Waits up to the configured time (or `latest`, if sooner); nullopt when
  // every check stayed busy.
  std::optional<CheckSlot> takeCheckSlot(Clock::time_point latest = Clock::time_point::max());

 private:
  // Failures per key, the least recently failed first in line to leave.
  class FailureTable {
   public:
    FailureTable(int limit, const LoginThrottleOptions& options) : limit_(limit), options_(options) {}
    std::optional<Clock::duration> waitFor(const std::string& key, Clock::time_point now);
    void failed(const std::string& key, Clock::time_point now);
    void forget(const std::string& key);

   private:
    struct Entry {
      int failures = 0;
      Clock::time_point last;       // the latest failure
      Clock::time_point waitUntil;  // attempts before this are refused
      std::list<std::string>::iterator age;
    };
    Clock::duration delayAfter(int failures) const;

    int limit_;
    const LoginThrottleOptions& options_;
    std::unordered_map<std::string, Entry> entries_;
    std::list<std::string> byAge_;
  };

  LoginThrottleOptions options_;
  std::mutex mutex_;
  FailureTable operators_, addresses_;
  std::counting_semaphore<> checks_;
};

// The client's address without its port, from gRPC's peer text
// ("ipv4:10.0.0.5:51234" gives "ipv4:10.0.0.5").
std::string clientAddress(const std::string& peer);

// The refusal the operator reads: "Muitas tentativas de acesso sem sucesso.
// Tente novamente em N segundos."
std::string throttledMessage(LoginThrottle::Clock::duration wait);

}  // namespace qfx::server
