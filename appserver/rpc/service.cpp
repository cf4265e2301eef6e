#include "rpc/service.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "common/log.h"
#include "db/postgres_rows.h"
#include "db/statement_canceller.h"

namespace qfx::server {

namespace {

using Clock = std::chrono::steady_clock;

std::string millisecondsSince(Clock::time_point start) {
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", ms);
  return buf;
}

std::string metadataValue(const grpc::ServerContext& context, std::string_view key) {
  const auto& metadata = context.client_metadata();
  auto it = metadata.find(grpc::string_ref(key.data(), key.size()));
  if (it == metadata.end()) return {};
  return std::string(it->second.data(), it->second.size());
}

std::string sessionToken(const grpc::ServerContext& context) { return metadataValue(context, kSessionMetadata); }

void addDetails(grpc::ServerContext* context, const std::string& details) {
  if (!details.empty()) context->AddTrailingMetadata(std::string(contract::kDetailsMetadata), details);
}

std::string outcomeOf(const Error& error) {
  switch (error.kind) {
    case ErrorKind::Refused:
      return "refused:" + error.message;
    case ErrorKind::InvalidArgument:
      return "invalid_argument";
    case ErrorKind::NotFound:
      return "not_found";
    case ErrorKind::Unauthenticated:
      return "unauthenticated";
    case ErrorKind::PermissionDenied:
      return "permission_denied";
    case ErrorKind::Unavailable:
      return "unavailable";
    case ErrorKind::Conflict:
      return "conflict";
    case ErrorKind::Internal:
      return "internal";
  }
  return "error";
}

// The client's deadline and its cancellation, as the database waits see them.
CallLimits limitsOf(grpc::ServerContext* context) {
  return CallLimits(context->deadline(), [context] { return context->IsCancelled(); });
}

// The client's deadline on the steady clock the throttle waits by.
LoginThrottle::Clock::time_point steadyDeadline(const grpc::ServerContext& context) {
  const auto left = context.deadline() - std::chrono::system_clock::now();
  if (left > std::chrono::hours(24)) return LoginThrottle::Clock::time_point::max();  // no deadline
  return LoginThrottle::Clock::now() + std::chrono::duration_cast<LoginThrottle::Clock::duration>(left);
}

bool isDatabaseTrouble(const Error& error) {
  return error.kind == ErrorKind::Unavailable || error.kind == ErrorKind::Internal;
}

// Groups a reply into messages: result and arguments first, then the
// packets' chunks, so no message grows much past one chunk. The message being
// filled is held until the next chunk would overflow it, so the reply's last
// message can go out with the call's status.
class MessageGrouper : public ReplySink {
 public:
  explicit MessageGrouper(const rpc::InvokeRequest& request) : request_(request) {}

  void start(rpc::Value result) override {
    *message_.mutable_result() = std::move(result);
    *message_.mutable_arguments() = request_.arguments();
    bytes_ = message_.ByteSizeLong();
  }

  void add(rpc::PacketChunk&& chunk) override {
    const size_t size = chunk.ByteSizeLong();
    if (bytes_ > 0 && bytes_ + size > kChunkBytes) {
      deliver(std::move(message_));
      message_.Clear();
      bytes_ = 0;
    }
    bytes_ += size;
    *message_.add_chunks() = std::move(chunk);
  }

  // The last message, in one write with the status: a small reply then wakes
  // the client once instead of twice. False: the client is gone.
  bool writeLast(grpc::ServerWriter<rpc::InvokeReply>* writer) {
    if (bytes_ == 0 && message_.chunks_size() == 0) return true;
    return writer->Write(message_, grpc::WriteOptions().set_last_message());
  }

 protected:
  virtual void deliver(rpc::InvokeReply&& message) = 0;

 private:
  const rpc::InvokeRequest& request_;
  rpc::InvokeReply message_;
  size_t bytes_ = 0;
};

// A whole reply, written by the thread that has it.
class DirectReply final : public MessageGrouper {
 public:
  DirectReply(const rpc::InvokeRequest& request, grpc::ServerWriter<rpc::InvokeReply>* writer)
      : MessageGrouper(request), writer_(writer) {}
  bool written() const { return written_; }

 private:
  void deliver(rpc::InvokeReply&& message) override { written_ = written_ && writer_->Write(message); }

  grpc::ServerWriter<rpc::InvokeReply>* writer_;
  bool written_ = true;
};

// A reply the worker's method streams while it reads: its messages are handed
// to gRPC's thread, which writes them while the worker goes on reading. The
// worker never waits for the client (a slow one costs memory here, as a whole
// reply would, not a connection held).
class QueuedReply final : public MessageGrouper {
 public:
  using MessageGrouper::MessageGrouper;

  // On the worker, once its method has returned.
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_one();
  }

  // On gRPC's thread: writes the messages as they come until close(), running
  // `watch` every few milliseconds. False: the client is gone (the worker's
  // further messages are dropped).
  bool writeAsDelivered(grpc::ServerWriter<rpc::InvokeReply>* writer, const std::function<void()>& watch) {
    std::deque<rpc::InvokeReply> batch;
    for (bool closed = false; !closed;) {
      {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, kWatchInterval, [&] { return closed_ || !messages_.empty(); });
        batch.swap(messages_);
        closed = closed_;
      }
      for (auto& message : batch)
        if (!gone_ && !writer->Write(message)) gone_ = true;
      batch.clear();
      watch();
    }
    return !gone_;
  }

 private:
  static constexpr std::chrono::milliseconds kWatchInterval{20};

  void deliver(rpc::InvokeReply&& message) override {
    std::lock_guard lock(mutex_);
    if (gone_) return;
    messages_.push_back(std::move(message));
    ready_.notify_one();
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<rpc::InvokeReply> messages_;
  bool closed_ = false;
  std::atomic<bool> gone_{false};

 public:
  bool gone() const { return gone_; }
};

bool writeReply(const rpc::InvokeRequest& request, Reply& reply, grpc::ServerWriter<rpc::InvokeReply>* writer) {
  DirectReply out(request, writer);
  out.start(std::move(reply.result));
  for (const auto& [id, packet] : reply.packets)
    packet::encodeChunks(packet, id, kChunkBytes, [&](rpc::PacketChunk&& chunk) { out.add(std::move(chunk)); });
  return out.written() && out.writeLast(writer);
}

}  // namespace

std::string sessionTokenOf(const grpc::ServerContext& context) { return sessionToken(context); }

grpc::Status toStatus(const Error& error) {
  grpc::StatusCode code = grpc::StatusCode::INTERNAL;
  switch (error.kind) {
    case ErrorKind::Refused:
      code = grpc::StatusCode::FAILED_PRECONDITION;
      break;
    case ErrorKind::InvalidArgument:
      code = grpc::StatusCode::INVALID_ARGUMENT;
      break;
    case ErrorKind::NotFound:
      code = grpc::StatusCode::NOT_FOUND;
      break;
    case ErrorKind::Unauthenticated:
      code = grpc::StatusCode::UNAUTHENTICATED;
      break;
    case ErrorKind::PermissionDenied:
      code = grpc::StatusCode::PERMISSION_DENIED;
      break;
    case ErrorKind::Unavailable:
      code = grpc::StatusCode::UNAVAILABLE;
      break;
    case ErrorKind::Conflict:
      code = grpc::StatusCode::ABORTED;
      break;
    case ErrorKind::Internal:
      code = grpc::StatusCode::INTERNAL;
      break;
  }
  return grpc::Status(code, error.message);
}

ApplicationService::ApplicationService(Database& database, Dispatcher object, int64_t sessionLifetimeSeconds,
                                       int connections, const LoginThrottleOptions& loginThrottle)
    : database_(database),
      sessions_(database, sessionLifetimeSeconds),
      dispatcher_(std::move(object)),
      workers_(connections),
      inPlace_(waitingThreadsFor(connections)),
      loginThrottle_(loginThrottle) {}

std::optional<grpc::Status> ApplicationService::refuseIfThrottled(const std::string& operatorCode,
                                                                  const std::string& address) {
  const auto wait = loginThrottle_.waitFor(operatorCode, address);
  if (!wait) return std::nullopt;
  metrics_.loginFinished("throttled");
  const std::string message = throttledMessage(*wait);
  log::write(log::Level::Warn, "login",
             {{"operator", operatorCode},
              {"peer", address},
              {"outcome", "throttled"},
              {"wait_ms", std::to_string(std::chrono::ceil<std::chrono::milliseconds>(*wait).count())}});
  return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED, message);
}

grpc::Status ApplicationService::Login(grpc::ServerContext* context, const rpc::LoginRequest* request,
                                       rpc::LoginReply* reply) {
  const auto start = Clock::now();
  const std::string address = clientAddress(context->peer());
  const std::string& operatorCode = request->operator_code();
  // held back before anything costly: no worker, no password check
  if (auto refusal = refuseIfThrottled(operatorCode, address)) return *refusal;
  const auto slot = loginThrottle_.takeCheckSlot(steadyDeadline(*context));
  if (!slot) {
    metrics_.loginFinished("busy");
    log::write(log::Level::Warn, "login",
               {{"operator", operatorCode}, {"peer", address}, {"ms", millisecondsSince(start)}, {"outcome", "busy"}});
    return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED,
                        "O servidor está conferindo muitos acessos ao mesmo tempo. Tente novamente em instantes.");
  }
  // attempts that failed while this one waited may have closed the door
  if (auto refusal = refuseIfThrottled(operatorCode, address)) return *refusal;
  std::optional<Result<LoginOutcome>> answer;
  const CallLimits limits = limitsOf(context);
  workers_.run([&] {
    metrics_.waitedForDatabase(Clock::now() - start);
    const CallLimits::Scope scope(limits);
    answer = sessions_.login(request->operator_code(), request->password());
    if (!*answer && isDatabaseTrouble((*answer).error())) database_.discardConnection();
  });
  auto& outcome = *answer;
  if (!outcome) {
    const bool wrong = outcome.error().kind == ErrorKind::Unauthenticated;
    if (wrong) loginThrottle_.failed(operatorCode, address);
    metrics_.loginFinished(wrong ? "failed" : "error");
    log::write(log::Level::Warn, "login",
               {{"operator", operatorCode},
                {"peer", address},
                {"ms", millisecondsSince(start)},
                {"outcome", outcomeOf(outcome.error())}});
    return toStatus(outcome.error());
  }
  reply->set_token(outcome->token);
  reply->set_operator_code(outcome->session.operatorCode);
  reply->set_operator_name(outcome->session.operatorName);
  reply->set_bound_branch(outcome->session.boundBranch);
  reply->set_expires_at(outcome->session.expiresAt);
  for (const auto& b : outcome->branches) reply->add_branches(b);
  loginThrottle_.succeeded(operatorCode, address);
  metrics_.loginFinished("ok");
  log::write(log::Level::Info, "login",
             {{"operator", outcome->session.operatorCode},
              {"peer", address},
              {"ms", millisecondsSince(start)},
              {"outcome", "ok"}});
  return grpc::Status::OK;
}

grpc::Status ApplicationService::Logout(grpc::ServerContext* context, const rpc::LogoutRequest*, rpc::LogoutReply*) {
  const auto start = Clock::now();
  const std::string token = sessionToken(*context);
  std::optional<Status> ended;
  const CallLimits limits = limitsOf(context);
  workers_.run([&] {
    const CallLimits::Scope scope(limits);
    ended = sessions_.logout(token);
    if (!*ended && isDatabaseTrouble((*ended).error())) database_.discardConnection();
  });
  const bool ok = bool(*ended);
  log::write(ok ? log::Level::Info : log::Level::Warn, "logout",
             {{"peer", clientAddress(context->peer())},
              {"ms", millisecondsSince(start)},
              {"outcome", ok ? "ok" : outcomeOf((*ended).error())}});
  return ok ? grpc::Status::OK : toStatus((*ended).error());
}

grpc::Status ApplicationService::Invoke(grpc::ServerContext* context, const rpc::InvokeRequest* request,
                                        grpc::ServerWriter<rpc::InvokeReply>* writer) {
  const auto start = Clock::now();
  const std::string peer = clientAddress(context->peer());
  if (log::enabled(log::Level::Debug))
    log::write(log::Level::Debug, "call_start",
               {{"peer", peer},
                {"method", request->method()},
                {"arguments", std::to_string(request->arguments_size())},
                {"bytes", std::to_string(request->ByteSizeLong())},
                {"session", sessionToken(*context).empty() ? "none" : "given"}});
  const bool stranger = sessionToken(*context).empty();
  if (stranger) {
    if (const auto wait = loginThrottle_.strangerWaitFor(peer)) {
      // refused at once and logged only when debugging: a flood leaves the
      // one warning written when the address was held back
      if (log::enabled(log::Level::Debug))
        log::write(log::Level::Debug, "call",
                   {{"peer", peer}, {"method", request->method()}, {"outcome", "held_back"}});
      count(*request, "held_back", start);
      const auto seconds = std::max<int64_t>(1, std::chrono::ceil<std::chrono::seconds>(*wait).count());
      return grpc::Status(grpc::StatusCode::RESOURCE_EXHAUSTED,
                          "muitas chamadas sem sessão deste endereço: tente de novo em " + std::to_string(seconds) +
                              " s, depois de fazer login");
    }
  }
  std::string operatorCode = "-";
  std::optional<Result<Reply>> reply;
  StatementCanceller canceller;
  // a client that has gone (cancelled, or its deadline passed) frees the
  // worker at once, even from a statement waiting for another session's lock
  const auto cancelIfGone = [&] {
    if (context->IsCancelled()) canceller.cancel();
  };
  bool delivered = true;
  std::optional<QueuedReply> streamed;
  std::function<void()> streamingTask;
  std::optional<DbWorkers::Job> streamingJob;  // waited for once the reply is written
  if (dispatcher_.answersInPlace(request->method(), database_.dialect()) && inPlace_.hold()) {
    reply = answer(context, *request, canceller, &operatorCode);
  } else if (dispatcher_.streams(request->method())) {
    streamed.emplace(*request);
    streamingTask = [&] {
      // the query's result is freed while gRPC's thread writes the last message
      const sql::LateResultRelease late;
      metrics_.waitedForDatabase(Clock::now() - start);
      reply = answer(context, *request, canceller, &operatorCode, &*streamed);
      streamed->close();
    };
    streamingJob.emplace(streamingTask);
    workers_.start(*streamingJob);
    // returns once the worker has closed the reply: `reply` is set
    delivered = streamed->writeAsDelivered(writer, [&] {
      // gone: its statement stops now, not at the end of its rows
      if (streamed->gone()) canceller.cancel();
      cancelIfGone();
    });
  } else {
    workers_.run(
        [&] {
          metrics_.waitedForDatabase(Clock::now() - start);
          reply = answer(context, *request, canceller, &operatorCode);
        },
        cancelIfGone);
  }
  Result<size_t> rows = *reply ? Result<size_t>((*reply)->rowCount()) : Result<size_t>(reply->error());
  // before the reply's last message, which may go out with the status
  addDetails(context, *reply ? (*reply)->details : reply->error().details);
  if (*reply) {
    const bool written =
        (*reply)->streamed ? delivered && streamed->writeLast(writer) : writeReply(*request, **reply, writer);
    if (!written) rows = Error{ErrorKind::Unavailable, "o cliente desistiu da chamada antes de receber a resposta"};
  } else if (!delivered) {
    rows = Error{ErrorKind::Unavailable, "o cliente desistiu da chamada antes de receber a resposta"};
  }
  if (streamingJob) workers_.finish(*streamingJob);
  if (!rows) {
    const auto level = rows.error().kind == ErrorKind::Refused ? log::Level::Info : log::Level::Warn;
    log::write(level, "call",
               {{"operator", operatorCode},
                {"peer", peer},
                {"method", request->method()},
                {"ms", millisecondsSince(start)},
                {"outcome", outcomeOf(rows.error())},
                {"message", rows.error().kind == ErrorKind::Refused ? "" : rows.error().message}});
    count(*request, outcomeOf(rows.error()), start);
    if (rows.error().kind == ErrorKind::Unauthenticated && loginThrottle_.strangerRefused(peer))
      log::write(log::Level::Warn, "peer_held_back", {{"peer", peer}, {"reason", "calls_without_session"}});
    return toStatus(rows.error());
  }
  log::write(log::Level::Info, "call",
             {{"operator", operatorCode},
              {"peer", peer},
              {"method", request->method()},
              {"ms", millisecondsSince(start)},
              {"outcome", "ok"},
              {"rows", std::to_string(*rows)}},
             (*reply)->logFields);
  count(*request, "ok", start);
  metrics_.posted((*reply)->postingsMade, (*reply)->itemsPosted);
  return grpc::Status::OK;
}

void ApplicationService::count(const rpc::InvokeRequest& request, const std::string& outcome, Clock::time_point start) {
  const MethodEntry* known = dispatcher_.find(request.method());
  metrics_.callFinished(known ? known->name : "unknown", outcome, Clock::now() - start);
}

Result<Reply> ApplicationService::answer(grpc::ServerContext* context, const rpc::InvokeRequest& request,
                                         StatementCanceller& canceller, std::string* operatorCode, ReplySink* sink) {
  const CallLimits limits = limitsOf(context);
  // a call that waited its turn for a client already gone does nothing; one
  // that found a worker idle goes on without asking (gRPC's answer polls the
  // call's queue: about 20 us, a tenth of a small call)
  if (DbWorkers::taskWaited() && limits.cancelled())
    return Error{ErrorKind::Unavailable, "o cliente desistiu da chamada antes de ela começar"};
  const CallLimits::Scope scope(limits);
  auto outcome = dispatcher_.checksSessionAlong(request.method(), database_.dialect())
                     ? answerAlongSession(sessionToken(*context), request, limits, canceller, operatorCode)
                     : answerAfterSession(sessionToken(*context), metadataValue(*context, contract::kRunMetadata),
                                          request, limits, canceller, operatorCode, sink);
  // on this worker's thread: its connection is the one that may be broken
  if (!outcome && isDatabaseTrouble(outcome.error())) database_.discardConnection();
  return outcome;
}

Result<Reply> ApplicationService::answerAfterSession(const std::string& token, const std::string& runId,
                                                     const rpc::InvokeRequest& request, const CallLimits& limits,
                                                     StatementCanceller& canceller, std::string* operatorCode,
                                                     ReplySink* sink) {
  auto session = sessions_.validate(token);
  if (!session) return session.error();
  *operatorCode = session->operatorCode;
  auto db = database_.connection();
  if (!db) return db.error();
  CallContext call{database_, *db, *session, limits, runId, sink};
  canceller.arm(call.db);
  auto reply = dispatcher_.invoke(call, request);
  canceller.disarm();
  return reply;
}

Result<Reply> ApplicationService::answerAlongSession(const std::string& token, const rpc::InvokeRequest& request,
                                                     const CallLimits& limits, StatementCanceller& canceller,
                                                     std::string* operatorCode) {
  auto db = database_.connection();
  if (!db) return db.error();
  auto check = sessions_.sendCheck(*db, token);
  if (!check) return check.error();
  const Session notKnownYet;
  CallContext call{database_, *db, notKnownYet, limits};
  canceller.arm(call.db);
  auto reply = dispatcher_.invokeAlongSession(call, request, [&]() -> Result<Session> {
    auto session = check->take();
    if (session) *operatorCode = session->operatorCode;
    return session;
  });
  canceller.disarm();
  return reply;
}

}  // namespace qfx::server
