// The gRPC face of the application server: Login and Invoke. Each Invoke is
// authenticated from the "x-qfx-session" metadata, dispatched, and its reply
// streamed: the first message carries the result and the final arguments,
// the packets' rows follow as chunks of at most about 1 MB.
#pragma once

#include <memory>

#include "auth/sessions.h"
#include "db/database.h"
#include "qfx31700.grpc.pb.h"
#include "rpc/dispatcher.h"

namespace qfx::server {

inline constexpr const char* kSessionMetadata = "x-qfx-session";
inline constexpr size_t kChunkBytes = 1u << 20;

class ApplicationService final : public rpc::ApplicationServer::Service {
 public:
  ApplicationService(Database& database, int64_t sessionLifetimeSeconds);

  grpc::Status Login(grpc::ServerContext* context, const rpc::LoginRequest* request, rpc::LoginReply* reply) override;
  grpc::Status Invoke(grpc::ServerContext* context, const rpc::InvokeRequest* request,
                      grpc::ServerWriter<rpc::InvokeReply>* writer) override;

 private:
  Result<size_t> handle(grpc::ServerContext* context, const rpc::InvokeRequest& request, const Session& session,
                        grpc::ServerWriter<rpc::InvokeReply>* writer);

  Database& database_;
  SessionStore sessions_;
  Dispatcher dispatcher_;
};

grpc::Status toStatus(const Error& error);

}  // namespace qfx::server
