// The gRPC face of the application server: Login and Invoke. Each Invoke is
// authenticated from the "x-qfx-session" metadata, dispatched, and its reply
// streamed: the first message carries the result and the final arguments,
// the packets' rows follow as chunks of at most about 1 MB. The database work
// runs on a fixed set of workers (see DbWorkers); the streaming does not hold
// a connection: a list's rows leave while its query yields them, and the
// worker hands them to gRPC's thread without waiting for the client. On SQLite the reads by key are answered on gRPC's
// thread itself, with a connection of its own (see Dispatcher::answersInPlace), by at most as many gRPC threads as wait
// for calls (waitingThreadsFor); the threads gRPC starts beyond those in a burst hand them to the workers.
#pragma once

#include <proto/contract.h>

#include <memory>
#include <optional>

#include "auth/login_throttle.h"
#include "auth/sessions.h"
#include "db/database.h"
#include "db/statement_canceller.h"
#include "methods/dispatcher.h"
#include "rpc/db_workers.h"
#include "rpc/metrics.h"
#include "rpc/thread_slots.h"
#include <proto/qfx31700.grpc.pb.h>

namespace qfx::server {

inline constexpr std::string_view kSessionMetadata = contract::kSessionMetadata;

// How many of gRPC's threads wait for calls: a thread that has answered a
// call waits for the next while fewer than this many wait (gRPC's default,
// two, started and ended a thread for about one call in eight when calls
// came side by side). As many may keep a connection for the reads by key.
inline int waitingThreadsFor(int connections) { return 2 * connections; }

class ApplicationService final : public rpc::ApplicationServer::Service {
 public:
  // `object`: the methods it serves; `connections`: the database workers, and
  // so the most connections open at once.
  ApplicationService(Database& database, Dispatcher object, int64_t sessionLifetimeSeconds, int connections,
                     const LoginThrottleOptions& loginThrottle = {});

  grpc::Status Login(grpc::ServerContext* context, const rpc::LoginRequest* request, rpc::LoginReply* reply) override;
  grpc::Status Logout(grpc::ServerContext* context, const rpc::LogoutRequest* request,
                      rpc::LogoutReply* reply) override;
  grpc::Status Invoke(grpc::ServerContext* context, const rpc::InvokeRequest* request,
                      grpc::ServerWriter<rpc::InvokeReply>* writer) override;
  // The import: the files' pieces read from the stream on one worker, in one
  // transaction (see rpc/import_service.cpp).
  grpc::Status ImportaDados(grpc::ServerContext* context, grpc::ServerReader<rpc::ImportaDadosLote>* reader,
                            rpc::ImportaDadosResposta* reply) override;
  SessionStore& sessions() { return sessions_; }

  const Metrics& metrics() const { return metrics_; }

 private:
  // The call's database work, on a worker: the session checked, the method run.
  // `canceller` is armed with the worker's connection while the method runs.
  // `sink`: where a streaming method sends its reply (null: it answers a whole Reply).
  Result<Reply> answer(grpc::ServerContext* context, const rpc::InvokeRequest& request, StatementCanceller& canceller,
                       std::string* operatorCode, ReplySink* sink = nullptr);
  // The method run once the session is checked; `runId`: the posting run
  // the call belongs to, if any.
  Result<Reply> answerAfterSession(const std::string& token, const std::string& runId,
                                   const rpc::InvokeRequest& request, const CallLimits& limits,
                                   StatementCanceller& canceller, std::string* operatorCode, ReplySink* sink);
  // A read by key on PostgreSQL: its session check goes to the database with
  // its statement, in one round trip, and its reply is dropped unless the
  // session allows it.
  Result<Reply> answerAlongSession(const std::string& token, const rpc::InvokeRequest& request,
                                   const CallLimits& limits, StatementCanceller& canceller, std::string* operatorCode);
  // The refusal of a login the throttle holds back, logged; nullopt: it may go on.
  std::optional<grpc::Status> refuseIfThrottled(const std::string& operatorCode, const std::string& address);
  // The call's figures: the method as the server knows it (or "unknown"), its outcome and time.
  void count(const rpc::InvokeRequest& request, const std::string& outcome,
             std::chrono::steady_clock::time_point start);

  Database& database_;
  SessionStore sessions_;
  Dispatcher dispatcher_;
  DbWorkers workers_;
  ThreadSlots inPlace_;  // gRPC threads that keep a connection for the reads by key
  LoginThrottle loginThrottle_;
  Metrics metrics_;
};

grpc::Status toStatus(const Error& error);
// The session token the call carries in its metadata; empty: none.
std::string sessionTokenOf(const grpc::ServerContext& context);

}  // namespace qfx::server
