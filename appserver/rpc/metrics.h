// The server's figures in the Prometheus text format: calls by method and
// outcome with their latency, logins by outcome, postings and items posted,
// time calls waited for a database worker. Counted in memory, per process;
// served over HTTP by MetricsEndpoint when the administrator asks for it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/result.h"

struct MHD_Daemon;

namespace qfx::server {

class Metrics {
 public:
  // `method`: a name the server knows, or "unknown" (a caller's text never
  // becomes a label: the series stay few).
  void callFinished(const std::string& method, const std::string& outcome, std::chrono::nanoseconds took);
  // "ok", "failed", "throttled", "busy", "error".
  void loginFinished(const std::string& outcome);
  void posted(int64_t postings, int64_t items);
  void waitedForDatabase(std::chrono::nanoseconds waited);

  std::string text() const;

 private:
  static constexpr std::array<double, 12> kBuckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};
  struct Latency {
    std::array<uint64_t, kBuckets.size()> buckets{};  // counts at or below each bound
    uint64_t count = 0;
    double sum = 0;
  };

  mutable std::mutex mutex_;
  std::map<std::pair<std::string, std::string>, uint64_t> calls_;
  std::map<std::string, Latency> latency_;
  std::map<std::string, uint64_t> logins_;
  std::atomic<int64_t> postings_{0}, items_{0};
  std::atomic<int64_t> waitNanoseconds_{0}, waits_{0};
};

// GET /metrics over HTTP (libmicrohttpd, its own thread); anything else is
// 404 or 405.
class MetricsEndpoint {
 public:
  // `listen`: "HOST:PORT", or "PORT" alone for loopback; port 0 picks a free one.
  static Result<std::unique_ptr<MetricsEndpoint>> start(const std::string& listen, const Metrics& metrics);
  ~MetricsEndpoint();
  int port() const { return port_; }

 private:
  explicit MetricsEndpoint(const Metrics& metrics) : metrics_(metrics) {}
  const Metrics& metrics_;
  MHD_Daemon* daemon_ = nullptr;
  int port_ = 0;
};

}  // namespace qfx::server
