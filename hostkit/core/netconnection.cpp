#include "netconnection.h"
#include "tlsprobe.h"

#include <grpcpp/grpcpp.h>

#include <pthread.h>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "callscope.h"
#include "net/replies.h"
#include "net/servers.h"
#include "net/waiting.h"
#include "routines.h"
#include <proto/contract.h>
#include <proto/health.grpc.pb.h>
#include <proto/qfx31700.grpc.pb.h>
#include <proto/rpc_runtime.h>

namespace hostkit {

namespace rpc = ::qfx::rpc;
using net::answeredCall;
using net::CallOp;
using net::CallWaiter;
using net::channelTo;
using net::checkHealth;
using net::credentialsFor;
using net::deadlineIn;
using net::describeFailure;
using net::detailsOf;
using net::failedCall;
using net::Failure;
using net::invokeRequest;
using net::kConnectTimeout;
using net::noServerFailure;
using net::notConnectedText;
using net::ReplyStream;
using net::tagOf;

// ---- the connection -------------------------------------------------------------------

TNetConnection::TNetConnection(QObject* parent, const QString& name) : QObject(parent) { setObjectName(name); }
TNetConnection::~TNetConnection() = default;

void TNetConnection::SetConnected(bool connected) {
  if (!connected) {
    link_.reset();
    return;
  }
  if (link_) return;
  if (BeforeConnect) BeforeConnect(*this);
  link_ = std::make_unique<Link>(QList<ServerEndpoint>{{Host, Port}} + Alternates, credentialsFor(UseTLS, CaFile));
}

QString TNetConnection::ServerInUse() const { return link_ ? link_->serverInUse() : QString(); }

QString serverSilentText() {
  return QStringLiteral("O servidor de aplicação não respondeu. Verifique a conexão e tente de novo.");
}

QString sessionEndedText() {
  return QStringLiteral(
      "Sua sessão no servidor de aplicação foi encerrada (prazo vencido, encerrada pelo administrador ou operador "
      "desativado). Saia do sistema e entre novamente.");
}

std::shared_ptr<grpc::Channel> TNetConnection::channelForCall(const QString& method,
                                                              std::chrono::system_clock::time_point deadline,
                                                              CallOutcome& failed) {
  if (auto channel = link_->channelInUse()) return channel;
  QStringList answers;
  std::shared_ptr<grpc::Channel> channel;
  runBlockingCall([&] { channel = link_->choose(deadline, answers); });
  if (channel) return channel;
  const Failure failure = noServerFailure(link_->listText(), method, answers);
  failed.error = failure.message;
  failed.details = failure.details;
  if (const auto trouble = probeTls(Host, Port, UseTLS, CaFile)) {
    failed.error = trouble->message;
    failed.details += QLatin1Char('\n') + trouble->remedy;
  }
  return nullptr;
}

CallOutcome TNetConnection::callOnce(const QString& method, const std::vector<RemoteArg>& args,
                                     const CallOptions& options, bool& sent) {
  CallOutcome outcome;
  sent = false;
  const int timeoutMs = CallTimeoutMs;
  const auto deadline = deadlineIn(timeoutMs);
  const std::shared_ptr<grpc::Channel> channel = channelForCall(method, deadline, outcome);
  if (!channel) return outcome;
  sent = true;
  const rpc::InvokeRequest request = invokeRequest(ServerName, method, args);

  ReplyStream replies;
  grpc::Status status;
  auto stub = rpc::ApplicationServer::NewStub(channel);
  {
    grpc::ClientContext ctx;
    ctx.set_deadline(deadline);
    ctx.AddMetadata(std::string(qfx::contract::kSessionMetadata), SessionToken.toStdString());
    if (!options.runId.isEmpty())
      ctx.AddMetadata(std::string(qfx::contract::kRunMetadata), options.runId.toStdString());
    // declared after the context: the queue is drained before the call's context goes
    CallWaiter waiter;
    auto stream = stub->PrepareAsyncInvoke(&ctx, request, waiter.queue());
    // the first read is asked for with the start, so waiting for the start's
    // own completion overlaps the server's work instead of coming before it
    stream->StartCall(tagOf(CallOp::Start));
    rpc::InvokeReply reply;
    // a failed start or read ends the stream; Finish says why
    for (;;) {
      stream->Read(&reply, tagOf(CallOp::Read));
      if (!waiter.await(CallOp::Read)) break;
      replies.add(reply);
    }
    waiter.await(CallOp::Start);
    stream->Finish(&status, tagOf(CallOp::Finish));
    waiter.await(CallOp::Finish);
    replies.details = detailsOf(ctx);
  }

  if (!status.ok()) {
    bool lost = false;
    outcome = failedCall(status, method, link_->where(), timeoutMs, lost);
    outcome.unanswered = lost;
    if (lost) link_->lost();
    if (outcome.refused) outcome.details = replies.details;
    return outcome;
  }
  return answeredCall(method, args, replies);
}

// A server lost under a call that may go again: the call goes to the next
// server that answers, at most once per server of the list, each attempt
// with its own deadline. What the operator is told is the last attempt's
// failure; that the call may have been done is kept from any attempt.
CallOutcome TNetConnection::call(const QString& method, const std::vector<RemoteArg>& args,
                                 const CallOptions& options) {
  CallOutcome outcome;
  if (!link_) {
    outcome.error = notConnectedText();
    return outcome;
  }
  bool mayHaveBeenDone = false;
  for (int attempt = 0, attempts = link_->serverCount(); attempt < attempts; ++attempt) {
    bool sent = false;
    outcome = callOnce(method, args, options, sent);
    mayHaveBeenDone = mayHaveBeenDone || outcome.unanswered;
    const bool lostUnderIt = outcome.unanswered;
    if (outcome.ok() || outcome.refused || !sent) break;  // answered, refused, or no server left to try
    if (!lostUnderIt || !options.repeatable) break;
  }
  outcome.unanswered = !outcome.ok() && !outcome.refused && mayHaveBeenDone;
  return outcome;
}

CallOutcome TDispatch::Invoke(const QString& method, const std::vector<RemoteArg>& args,
                              const CallOptions& options) const {
  return connection_->call(method, args, options);
}

PendingCall TDispatch::Start(const QString& method, const std::vector<RemoteArg>& args,
                             const CallOptions& options) const {
  return connection_->start(method, args, options);
}

namespace {
// A server that could not take the login (lost, silent, or without its
// database): the next server of the list may.
bool serverCouldNotServe(const grpc::Status& status) {
  return status.error_code() == grpc::StatusCode::UNAVAILABLE ||
         status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED ||
         status.error_code() == grpc::StatusCode::CANCELLED;
}
}  // namespace

Result<LoginResult> TNetConnection::Login(const QString& operatorCode, const QString& password) {
  SetConnected(true);
  rpc::LoginRequest request;
  request.set_operator_code(operatorCode.toStdString());
  request.set_password(password.toStdString());
  rpc::LoginReply reply;
  grpc::Status status;
  bool reached = false;
  QString server;
  const int timeoutMs = CallTimeoutMs;
  runBlockingCall([&] {
    const auto deadline = deadlineIn(timeoutMs);
    QStringList answers;
    QList<int> tried;
    auto channel = link_->channelFor(deadline, answers);
    while (channel) {
      reached = true;
      server = link_->where();
      grpc::ClientContext ctx;
      ctx.set_deadline(deadline);
      status = rpc::ApplicationServer::NewStub(channel)->Login(&ctx, request, &reply);
      if (status.ok() || !serverCouldNotServe(status) || link_->count() < 2) return;
      tried << link_->inUse();
      channel = link_->chooseSkipping(tried, deadline, answers);
    }
  });
  // the login dialog has no details box: the address says which server
  // and what to do about a TLS problem goes with the message
  const auto tlsTrouble = [&]() -> std::optional<QString> {
    const auto trouble = probeTls(Host, Port, UseTLS, CaFile);
    if (!trouble) return std::nullopt;
    return QStringLiteral("%1 (%2:%3)\n%4").arg(trouble->message, Host).arg(Port).arg(trouble->remedy);
  };
  if (!reached) {
    if (auto trouble = tlsTrouble()) return Result<LoginResult>::failure(*trouble);
    return Result<LoginResult>::failure(QStringLiteral("%1 (%2)").arg(serverSilentText(), link_->listText()));
  }
  if (!status.ok()) {
    const auto failure = describeFailure(status, QStringLiteral("Login"), server, timeoutMs);
    if (failure.transport) link_->lost();
    if (failure.transport && status.error_code() == grpc::StatusCode::UNAVAILABLE)
      if (auto trouble = tlsTrouble()) return Result<LoginResult>::failure(*trouble);
    return Result<LoginResult>::failure(failure.transport ? QStringLiteral("%1 (%2)").arg(failure.message, server)
                                                          : failure.message);
  }
  LoginResult r{QString::fromStdString(reply.token()),
                QString::fromStdString(reply.operator_code()),
                QString::fromStdString(reply.operator_name()),
                QString::fromStdString(reply.bound_branch()),
                {}};
  for (const auto& b : reply.branches()) r.branches << QString::fromStdString(b);
  SessionToken = r.token;
  return r;
}

bool TNetConnection::Logout(int timeoutMs) {
  if (SessionToken.isEmpty()) return true;
  SetConnected(true);
  rpc::LogoutRequest request;
  grpc::Status status(grpc::StatusCode::UNAVAILABLE, "");
  runBlockingCall([&] {
    const auto deadline = deadlineIn(timeoutMs);
    QStringList answers;
    QList<int> tried;
    // any server of the database can end it: one that cannot passes it on
    for (auto channel = link_->channelFor(deadline, answers); channel;
         channel = link_->chooseSkipping(tried, deadline, answers)) {
      grpc::ClientContext ctx;
      ctx.set_deadline(deadline);
      ctx.AddMetadata(std::string(qfx::contract::kSessionMetadata), SessionToken.toStdString());
      rpc::LogoutReply reply;
      status = rpc::ApplicationServer::NewStub(channel)->Logout(&ctx, request, &reply);
      if (status.ok() || link_->count() < 2) return;
      tried << link_->inUse();
    }
  });
  if (status.ok()) SessionToken.clear();
  return status.ok();
}

bool TNetConnection::Ping(int timeoutMs) {
  SetConnected(true);
  bool serving = false;
  runBlockingCall([&] {
    const auto deadline = deadlineIn(timeoutMs);
    QStringList answers;
    if (auto channel = link_->channelInUse())
      serving = checkHealth(channel, deadline).ok();
    else
      serving = link_->choose(deadline, answers) != nullptr;
  });
  return serving;
}

// ---- waiting for a server to answer --------------------------------------------------------

struct ServerWatch::Watcher {
  QList<ServerEndpoint> servers;
  std::shared_ptr<grpc::ChannelCredentials> credentials;
  std::chrono::milliseconds interval;
  std::mutex mutex;
  std::condition_variable wake;
  bool stop = false;
  std::thread thread;

  // Each round asks every server on channels of its own: the connection's
  // are the calls' business.
  void run(ServerWatch* watch) {
    pthread_setname_np(pthread_self(), "qfx-vigia");
    std::vector<std::shared_ptr<grpc::Channel>> channels;
    for (const auto& server : servers) channels.push_back(channelTo(server, credentials));
    std::unique_lock lock(mutex);
    while (!stop) {
      lock.unlock();
      bool answered = false;
      for (size_t i = 0; i < channels.size() && !answered; ++i) {
        if (channels[i]->GetState(false) == GRPC_CHANNEL_TRANSIENT_FAILURE)
          channels[i] = channelTo(servers[int(i)], credentials);
        answered = checkHealth(channels[i], std::chrono::system_clock::now() + kConnectTimeout).ok();
      }
      lock.lock();
      if (answered && !stop) {
        QMetaObject::invokeMethod(watch, &ServerWatch::serverAnswers, Qt::QueuedConnection);
        return;
      }
      wake.wait_for(lock, interval, [this] { return stop; });
    }
  }
};

ServerWatch::ServerWatch(QObject* parent, std::unique_ptr<Watcher> watcher)
    : QObject(parent), watcher_(std::move(watcher)) {
  watcher_->thread = std::thread([this] { watcher_->run(this); });
}

ServerWatch::~ServerWatch() {
  {
    std::lock_guard lock(watcher_->mutex);
    watcher_->stop = true;
  }
  watcher_->wake.notify_one();
  watcher_->thread.join();
}

ServerWatch* TNetConnection::WatchForServer(QObject* owner, int intervalMs) {
  if (BeforeConnect && !link_) BeforeConnect(*this);
  auto watcher = std::make_unique<ServerWatch::Watcher>();
  watcher->servers = QList<ServerEndpoint>{{Host, Port}} + Alternates;
  watcher->credentials = credentialsFor(UseTLS, CaFile);
  watcher->interval = std::chrono::milliseconds(intervalMs);
  return new ServerWatch(owner, std::move(watcher));
}

}  // namespace hostkit
