// The standard health service (grpc.health.v1 Check) answered on gRPC's own
// call threads. gRPC's built-in one is a callback service: it brings a
// completion queue of its own whose threads poll the same sockets as the call
// threads, so every call's bytes could be read by one of them and handed
// over to a call thread, a wake-up more in each call (0.03 ms a call on the
// quiet two-processor machine, bench/README.md).
#pragma once

#include <atomic>

#include <proto/health.grpc.pb.h>

namespace qfx::server {

class HealthService final : public grpc::health::v1::Health::Service {
 public:
  // Until told otherwise the server is not serving: the health watch says
  // SERVING once it has reached the database.
  void setServing(bool serving) { serving_ = serving; }

  // The whole server answers for the empty name only, as gRPC's built-in
  // service does; any other name is NOT_FOUND.
  grpc::Status Check(grpc::ServerContext* context, const grpc::health::v1::HealthCheckRequest* request,
                     grpc::health::v1::HealthCheckResponse* reply) override;

 private:
  std::atomic<bool> serving_{false};
};

}  // namespace qfx::server
