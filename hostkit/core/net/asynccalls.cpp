// Calls on their way together: started without waiting, their replies read
// by one thread as they come, taken by the caller in its own order.
#include <grpcpp/grpcpp.h>

#include <pthread.h>
#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "callscope.h"
#include "net/replies.h"
#include "net/servers.h"
#include "net/waiting.h"
#include "netconnection.h"
#include <proto/contract.h>
#include <proto/qfx31700.grpc.pb.h>

namespace hostkit {

namespace rpc = ::qfx::rpc;
using net::answeredCall;
using net::CallOp;
using net::deadlineIn;
using net::detailsOf;
using net::failedCall;
using net::InputBlocker;
using net::invokeRequest;
using net::notConnectedText;
using net::ReplyStream;

// ---- calls on their way together -------------------------------------------------------
//
// The calls started without waiting share one completion queue and one thread
// that reads it: each reply is taken as it comes, its packets assembled,
// whatever the screen's thread is doing meanwhile (a question to the operator
// included), so no reply sits in the transport until its deadline passes.
// The thread lives only while such calls do: a thread waiting on the sockets
// meanwhile would take the synchronous calls' replies from the thread that
// waits for them (see IdlePoller).

struct AsyncCall {
  // One operation of the call, as its completion queue tag.
  struct Step {
    AsyncCall* call;
    CallOp op;
  };

  std::shared_ptr<grpc::Channel> channel;  // its operations go through the channel
  grpc::ClientContext context;
  std::unique_ptr<grpc::ClientAsyncReader<rpc::InvokeReply>> stream;
  rpc::InvokeReply message;
  ReplyStream replies;
  grpc::Status status;
  bool started = false, readsOver = false;  // the reading thread's own
  bool over = false;                        // under the driver's mutex
  Step startStep{this, CallOp::Start}, readStep{this, CallOp::Read}, finishStep{this, CallOp::Finish};
};

namespace {
// While the screen's thread waits for a reply: a call in flight for the close
// guard, user input swallowed.
class WaitingForReply {
 public:
  WaitingForReply() { QCoreApplication::instance()->installEventFilter(&blocker_); }
  ~WaitingForReply() { QCoreApplication::instance()->removeEventFilter(&blocker_); }
  WaitingForReply(const WaitingForReply&) = delete;
  WaitingForReply& operator=(const WaitingForReply&) = delete;

 private:
  CallScope inFlight_;
  InputBlocker blocker_;
};

bool onApplicationThread() {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}
}  // namespace

class CallDriver {
 public:
  CallDriver() : reader_([this] { run(); }) {}
  ~CallDriver();
  CallDriver(const CallDriver&) = delete;
  CallDriver& operator=(const CallDriver&) = delete;

  std::shared_ptr<AsyncCall> send(std::shared_ptr<grpc::Channel> channel, const rpc::InvokeRequest& request,
                                  std::chrono::system_clock::time_point deadline, const std::string& session);
  // Until the call is over; on the application's thread its events run
  // meanwhile, as they do while a synchronous call waits.
  void waitFor(const AsyncCall& call);
  // The reply is not wanted: the call ends as soon as it can.
  static void cancel(AsyncCall& call) { call.context.TryCancel(); }

 private:
  static constexpr std::chrono::milliseconds kPoll{10};
  bool overWithin(const AsyncCall& call, std::chrono::milliseconds patience);
  void run();
  void advance(AsyncCall::Step step, bool ok);
  void settle(AsyncCall& call);

  grpc::CompletionQueue queue_;
  std::mutex mutex_;
  std::condition_variable settled_;
  std::unordered_map<const AsyncCall*, std::shared_ptr<AsyncCall>> inFlight_;
  std::thread reader_;  // last: starts once the rest is built
};

// The calls still on their way are not wanted any more; the queue may close
// once every one of them is over.
CallDriver::~CallDriver() {
  {
    std::unique_lock lock(mutex_);
    for (auto& [key, call] : inFlight_) cancel(*call);
    settled_.wait(lock, [this] { return inFlight_.empty(); });
  }
  queue_.Shutdown();
  reader_.join();
}

std::shared_ptr<AsyncCall> CallDriver::send(std::shared_ptr<grpc::Channel> channel, const rpc::InvokeRequest& request,
                                            std::chrono::system_clock::time_point deadline,
                                            const std::string& session) {
  auto call = std::make_shared<AsyncCall>();
  call->channel = std::move(channel);
  call->context.set_deadline(deadline);
  call->context.AddMetadata(std::string(qfx::contract::kSessionMetadata), session);
  call->stream = rpc::ApplicationServer::NewStub(call->channel)->PrepareAsyncInvoke(&call->context, request, &queue_);
  {
    std::lock_guard lock(mutex_);
    inFlight_.emplace(call.get(), call);
  }
  // the first read goes with the start, as in a synchronous call
  call->stream->StartCall(&call->startStep);
  call->stream->Read(&call->message, &call->readStep);
  return call;
}

void CallDriver::run() {
  pthread_setname_np(pthread_self(), "qfx-respostas");  // as debuggers and profilers show it
  void* tag = nullptr;
  bool ok = false;
  while (queue_.Next(&tag, &ok)) advance(*static_cast<AsyncCall::Step*>(tag), ok);
}

void CallDriver::advance(AsyncCall::Step step, bool ok) {
  AsyncCall& call = *step.call;
  switch (step.op) {
    case CallOp::Start:
      call.started = true;
      break;
    case CallOp::Read:
      if (ok) {
        call.replies.add(call.message);
        call.stream->Read(&call.message, &call.readStep);
        return;
      }
      call.readsOver = true;
      break;
    case CallOp::Finish:
      settle(call);
      return;
  }
  // a failed start or read ends the stream; Finish says why
  if (call.started && call.readsOver) call.stream->Finish(&call.status, &call.finishStep);
}

void CallDriver::settle(AsyncCall& call) {
  if (call.status.ok()) call.replies.finish();
  std::shared_ptr<AsyncCall> last;  // a call nobody waits for any more goes outside the lock
  {
    std::lock_guard lock(mutex_);
    call.over = true;
    auto it = inFlight_.find(&call);
    last = std::move(it->second);
    inFlight_.erase(it);
  }
  settled_.notify_all();
}

bool CallDriver::overWithin(const AsyncCall& call, std::chrono::milliseconds patience) {
  std::unique_lock lock(mutex_);
  return settled_.wait_for(lock, patience, [&] { return call.over; });
}

void CallDriver::waitFor(const AsyncCall& call) {
  if (overWithin(call, std::chrono::milliseconds(0))) return;
  if (!onApplicationThread()) {
    std::unique_lock lock(mutex_);
    settled_.wait(lock, [&] { return call.over; });
    return;
  }
  WaitingForReply waiting;
  // the screen's events run once a poll has passed without the reply
  while (!overWithin(call, kPoll)) QCoreApplication::processEvents();
}

PendingCall::PendingCall(TNetConnection* connection, QString method, std::vector<RemoteArg> args, CallOptions options)
    : connection_(connection), method_(std::move(method)), args_(std::move(args)), options_(std::move(options)) {}

PendingCall::PendingCall(PendingCall&&) noexcept = default;

PendingCall& PendingCall::operator=(PendingCall&& other) noexcept {
  if (this == &other) return *this;
  drop();
  connection_ = std::move(other.connection_);
  method_ = std::move(other.method_);
  args_ = std::move(other.args_);
  options_ = std::move(other.options_);
  server_ = std::move(other.server_);
  timeoutMs_ = other.timeoutMs_;
  settled_ = std::exchange(other.settled_, std::nullopt);
  driver_ = std::move(other.driver_);
  call_ = std::move(other.call_);
  return *this;
}
PendingCall::~PendingCall() { drop(); }

void PendingCall::drop() {
  if (call_) CallDriver::cancel(*call_);
  call_.reset();
  driver_.reset();
}

CallOutcome PendingCall::Take() {
  if (settled_) return *std::exchange(settled_, std::nullopt);
  if (!call_) {
    CallOutcome taken;
    taken.error = QStringLiteral("A resposta de %1 já foi lida.").arg(method_);
    return taken;
  }
  driver_->waitFor(*call_);
  const std::shared_ptr<AsyncCall> call = std::exchange(call_, nullptr);
  driver_.reset();
  call->replies.details = detailsOf(call->context);
  if (call->status.ok()) return answeredCall(method_, args_, call->replies);
  bool lost = false;
  CallOutcome outcome = failedCall(call->status, method_, server_, timeoutMs_, lost);
  if (outcome.refused) outcome.details = call->replies.details;
  outcome.unanswered = lost;
  if (lost && connection_ && connection_->link_) connection_->link_->lost();
  // the server went away under it: made again, waiting, on the next one
  if (lost && options_.repeatable && connection_) {
    CallOutcome again = connection_->call(method_, args_, options_);
    again.unanswered = again.unanswered || (!again.ok() && !again.refused);
    return again;
  }
  return outcome;
}

PendingCall TNetConnection::start(const QString& method, const std::vector<RemoteArg>& args,
                                  const CallOptions& options) {
  PendingCall pending(this, method, args, options);
  CallOutcome failed;
  if (!link_) {
    failed.error = notConnectedText();
    pending.settled_ = std::move(failed);
    return pending;
  }
  pending.timeoutMs_ = CallTimeoutMs;
  const auto deadline = deadlineIn(pending.timeoutMs_);
  std::shared_ptr<grpc::Channel> channel = channelForCall(method, deadline, failed);
  if (!channel) {
    pending.settled_ = std::move(failed);
    return pending;
  }
  pending.server_ = link_->where();
  std::shared_ptr<CallDriver> driver = driver_.lock();
  if (!driver) {
    driver = std::make_shared<CallDriver>();
    driver_ = driver;
  }
  pending.call_ =
      driver->send(std::move(channel), invokeRequest(ServerName, method, args), deadline, SessionToken.toStdString());
  pending.driver_ = std::move(driver);
  return pending;
}

}  // namespace hostkit
