// Failed logins held back, in the server's memory. After a few failures for
// one operator, from whatever addresses, further attempts for that operator
// are refused at once, without a password check, for a delay that doubles
// with each failure past the limit; only that operator's own success clears
// its count. An address collects the failures of every operator tried from it
// against a higher limit (it may be a whole shop behind one router, or every
// shop behind a balancer); no success clears it, so one valid account does not
// buy an attacker fresh guesses at the others. An address held back still lets
// through an operator that logged in from it before (a pair remembered for a
// while): an attacker hammering from a shared address cannot lock the shop's
// operators out. Each server process counts on its own; every table keeps a
// bounded number of entries, and the one used least recently leaves first.
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
  std::chrono::milliseconds forgetAfter{std::chrono::hours(1)};         // failures older than this no longer count
  size_t maxEntries = 10000;                                            // per table (operators, addresses, known pairs)
  std::chrono::milliseconds trustKnownFor{std::chrono::hours(24 * 7)};  // a pair's success lets it past its address
  // calls refused for want of a session from one address before its session-less calls wait
  int strangerFailures = 20;
  int concurrentChecks = 2;                    // password checks running at once
  std::chrono::milliseconds checkWait{30000};  // how long a login waits for one
};

class LoginThrottle {
 public:
  using Clock = std::chrono::steady_clock;

  explicit LoginThrottle(const LoginThrottleOptions& options);

  // How long the operator or the address must still wait; nullopt: it may try.
  std::optional<Clock::duration> waitFor(const std::string& operatorCode, const std::string& address,
                                         Clock::time_point now = Clock::now());
  void failed(const std::string& operatorCode, const std::string& address, Clock::time_point now = Clock::now());
  // Clears the operator's count (not the address's) and remembers the pair.
  void succeeded(const std::string& operatorCode, const std::string& address, Clock::time_point now = Clock::now());

  // Calls without a session (a stranger's, not a logged-in client's) from
  // one address: after a few were refused, its next ones are refused at once
  // for a delay that doubles, as failed logins are; calls that carry a
  // session are never held back, so the clients behind a shared address go on.
  std::optional<Clock::duration> strangerWaitFor(const std::string& address, Clock::time_point now = Clock::now());
  // Counts a call refused for want of a valid session; true when it is the
  // one that starts the address's wait.
  bool strangerRefused(const std::string& address, Clock::time_point now = Clock::now());

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

  // Operator and address pairs that logged in, the least recently used first to leave.
  class KnownPairs {
   public:
    explicit KnownPairs(const LoginThrottleOptions& options) : options_(options) {}
    bool contains(const std::string& key, Clock::time_point now);
    void add(const std::string& key, Clock::time_point now);

   private:
    struct Entry {
      Clock::time_point since;
      std::list<std::string>::iterator age;
    };
    void forget(const std::string& key);

    const LoginThrottleOptions& options_;
    std::unordered_map<std::string, Entry> entries_;
    std::list<std::string> byAge_;
  };

  LoginThrottleOptions options_;
  std::mutex mutex_;
  FailureTable operators_, addresses_, strangers_;
  KnownPairs known_;
  std::counting_semaphore<> checks_;
};

// The client's address without its port, from gRPC's peer text
// ("ipv4:10.0.0.5:51234" gives "ipv4:10.0.0.5").
std::string clientAddress(const std::string& peer);

// The refusal the operator reads: "Muitas tentativas de acesso sem sucesso.
// Tente novamente em N segundos."
std::string throttledMessage(LoginThrottle::Clock::duration wait);

}  // namespace qfx::server
