// Starting and stopping the gRPC server: listening address, optional channel
// TLS, the standard health service, and message limits large enough for the
// list texts a client may send.
#pragma once

#include <proto/contract.h>

#include <grpcpp/server.h>

#include <memory>
#include <string>

#include "auth/login_throttle.h"
#include "common/result.h"
#include "db/database.h"
#include "rpc/health_service.h"
#include "rpc/health_watch.h"
#include "rpc/metrics.h"
#include "rpc/service.h"

namespace qfx::server {

struct ServerOptions {
  std::string listen = "127.0.0.1:" + std::to_string(contract::kDefaultPort);  // port 0 picks a free one
  std::string tlsCertFile, tlsKeyFile;                                         // both or neither
  int64_t sessionLifetimeSeconds = 12 * 3600;
  int maxThreads = 16;  // database workers, and so the most connections open at once
  // Calls that may wait for a worker; one more than these is refused as
  // RESOURCE_EXHAUSTED.
  int maxWaitingCalls = 1000;
  LoginThrottleOptions loginThrottle;
  HealthWatchOptions health;
  // Memory the requests arriving may hold at once (gRPC's resource quota).
  size_t maxRequestMemoryBytes = size_t(512) << 20;
  // The Prometheus metrics' HTTP listener: "HOST:PORT" or "PORT" (loopback);
  // empty: none.
  std::string metricsListen;
};

class AppServer {
 public:
  // Serves `object` (see makeConsolidationObject) over `database`.
  static Result<std::unique_ptr<AppServer>> start(Database& database, Dispatcher object, const ServerOptions& options);
  ~AppServer();

  int port() const { return port_; }
  // The metrics listener's port; 0 when there is none.
  int metricsPort() const { return metrics_ ? metrics_->port() : 0; }
  std::string address() const;
  // Stops accepting calls and waits for running ones up to the deadline.
  void shutdown(std::chrono::milliseconds grace = std::chrono::milliseconds(5000));
  void wait();

 private:
  AppServer() = default;
  std::unique_ptr<ApplicationService> service_;
  HealthService health_;
  std::unique_ptr<grpc::Server> server_;
  std::unique_ptr<HealthWatch> healthWatch_;
  std::unique_ptr<MetricsEndpoint> metrics_;  // reads service_'s figures: declared after it, so stopped first
  std::string host_;
  int port_ = 0;
};

}  // namespace qfx::server
