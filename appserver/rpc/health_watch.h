// The standard health service follows the database: a server that cannot
// reach its database answers NOT_SERVING, so a host passes it over for the
// next server of its list, and SERVING again once the database is back. The
// same thread removes expired sessions now and then, so they do not wait for
// the next login.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "auth/sessions.h"
#include "db/database.h"
#include "rpc/health_service.h"

namespace qfx::server {

struct HealthWatchOptions {
  std::chrono::milliseconds interval{2000};
  std::chrono::seconds sweepEvery{3600};
};

class HealthWatch {
 public:
  // Probes once before it returns, so the first answer is already the database's.
  HealthWatch(Database& database, SessionStore& sessions, HealthService& health, HealthWatchOptions options = {});
  ~HealthWatch();  // stops the probes; the service is then left as it is
  HealthWatch(const HealthWatch&) = delete;
  HealthWatch& operator=(const HealthWatch&) = delete;

 private:
  void probe();
  void sweepWhenDue();
  void loop();

  Database& database_;
  SessionStore& sessions_;
  HealthService& health_;
  HealthWatchOptions options_;
  bool serving_ = false, reported_ = false;
  std::chrono::steady_clock::time_point nextSweep_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace qfx::server
