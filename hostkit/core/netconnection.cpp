#include "netconnection.h"
#include "tlsprobe.h"

#include <grpcpp/grpcpp.h>

#include <pthread.h>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "callscope.h"
#include "net/servers.h"
#include "net/waiting.h"
#include "routines.h"
#include <proto/contract.h>
#include <proto/health.grpc.pb.h>
#include <proto/qfx31700.grpc.pb.h>
#include <proto/rpc_runtime.h>

namespace hostkit {

namespace rpc = ::qfx::rpc;
using net::CallOp;
using net::CallWaiter;
using net::channelTo;
using net::credentialsFor;
using net::healthProblem;
using net::InputBlocker;
using net::kConnectTimeout;
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

namespace {
struct Failure {
  QString message;
  QString details;
  bool transport = false;  // the server was not reached or did not answer
};
}  // namespace

// A lost, refused or silent server is one message for the operator; what
// gRPC said goes to the details.
static Failure describeFailure(const grpc::Status& status, const QString& method, const QString& server,
                               int timeoutMs) {
  const QString detail = QString::fromStdString(status.error_message());
  const QString where = QStringLiteral("Servidor: %1\nChamada: %2\n").arg(server, method);
  switch (status.error_code()) {
    case grpc::StatusCode::UNAVAILABLE:
    case grpc::StatusCode::CANCELLED:
      return {serverSilentText(),
              where + QStringLiteral("Conexão perdida ou recusada (código gRPC %1): %2")
                          .arg(int(status.error_code()))
                          .arg(detail),
              true};
    case grpc::StatusCode::DEADLINE_EXCEEDED:
      return {serverSilentText(),
              where + QStringLiteral("Sem resposta em %1 segundos.").arg(productLocale().toString(timeoutMs / 1000.0)),
              true};
    default:
      return {detail.isEmpty() ? QStringLiteral("Falha na chamada ao servidor de aplicação.") : detail,
              where + QStringLiteral("Código gRPC %1").arg(int(status.error_code()))};
  }
}

QString serverSilentText() {
  return QStringLiteral("O servidor de aplicação não respondeu. Verifique a conexão e tente de novo.");
}

QString sessionEndedText() {
  return QStringLiteral(
      "Sua sessão no servidor de aplicação foi encerrada (prazo vencido, encerrada pelo administrador ou operador "
      "desativado). Saia do sistema e entre novamente.");
}

static std::chrono::system_clock::time_point deadlineIn(int timeoutMs) {
  return std::chrono::system_clock::now() + std::chrono::milliseconds(timeoutMs);
}

// No server of the list answered its health check.
static Failure noServerFailure(const QString& servers, const QString& method, const QStringList& answers) {
  return {serverSilentText(),
          QStringLiteral("Servidores: %1\nChamada: %2\nNenhum servidor atendeu:\n%3")
              .arg(servers, method, answers.join(u'\n')),
          true};
}

static void fillArgument(const RemoteArg& a, rpc::Argument* out) {
  out->set_by_reference(a.byReference());
  switch (a.kind()) {
    case RemoteArg::Kind::Text:
      out->set_kind(rpc::Argument::TEXT);
      out->set_text(a.text().toStdString());
      break;
    case RemoteArg::Kind::Date:
      out->set_kind(rpc::Argument::DATE);
      out->set_date(a.date());
      break;
    case RemoteArg::Kind::Boolean:
      out->set_kind(rpc::Argument::BOOLEAN);
      out->set_boolean(a.boolean());
      break;
  }
}

// The reader and the reply stream have linkage: AsyncCall, which the header
// declares, holds a reply stream, and a class with linkage must not hold a
// type without.
// Turns the wire's values into RemoteValues, announcing each packet to the
// assembler and remembering where its rows must go.
struct ValueReader {
  packet::PacketAssembler assembler;
  std::vector<std::pair<uint32_t, std::shared_ptr<packet::Packet>>> packets;
  std::optional<QString> error;

  RemoteValue read(const rpc::Value& v) {
    switch (v.kind_case()) {
      case rpc::Value::kText:
        return RemoteValue(QString::fromStdString(v.text()));
      case rpc::Value::kDate:
        return RemoteValue(RemoteValue::DateTag{v.date()});
      case rpc::Value::kBoolean:
        return RemoteValue(v.boolean());
      case rpc::Value::kInteger:
        return RemoteValue(qint64(v.integer()));
      case rpc::Value::kNumber:
        return RemoteValue(v.number());
      case rpc::Value::kPacket: {
        if (auto e = assembler.begin(v.packet())) error = QString::fromStdString(*e);
        auto p = std::make_shared<packet::Packet>();
        packets.emplace_back(v.packet().id(), p);
        return RemoteValue(p);
      }
      case rpc::Value::kList: {
        RemoteValue::List items;
        for (const auto& item : v.list().items()) items.push_back(read(item));
        return RemoteValue(std::move(items));
      }
      case rpc::Value::KIND_NOT_SET:
        return RemoteValue();
    }
    return RemoteValue();
  }

  void finish() {
    if (error) return;
    if (auto e = assembler.finish()) {
      error = QString::fromStdString(*e);
      return;
    }
    for (auto& [id, target] : packets) *target = assembler.take(id);
  }
};

// What one call's stream brought: the first message's result and by-reference
// values, then the chunks of the packets the result announced.
struct ReplyStream {
  ValueReader reader;
  RemoteValue result;
  google::protobuf::RepeatedPtrField<rpc::Argument> arguments;
  QString details;  // the server's words beside its key (trailing metadata)
  bool gotFirst = false;
  bool complete = false;

  void add(const rpc::InvokeReply& reply) {
    if (!gotFirst) {
      gotFirst = true;
      result = reader.read(reply.result());
      arguments = reply.arguments();
    }
    for (const auto& chunk : reply.chunks())
      if (auto e = reader.assembler.add(chunk); e && !reader.error) reader.error = QString::fromStdString(*e);
  }

  // The stream is over: the packets take their rows.
  void finish() {
    if (complete) return;
    complete = true;
    reader.finish();
  }
};

static rpc::InvokeRequest invokeRequest(const QString& object, const QString& method,
                                        const std::vector<RemoteArg>& args) {
  rpc::InvokeRequest request;
  request.set_object(object.toStdString());
  request.set_method(method.toStdString());
  for (const auto& a : args) fillArgument(a, request.add_arguments());
  return request;
}

// A call the server failed or refused, or that never reached it; `lost` says
// the server was not reached or did not answer.
static CallOutcome failedCall(const grpc::Status& status, const QString& method, const QString& server, int timeoutMs,
                              bool& lost) {
  CallOutcome outcome;
  outcome.refused = status.error_code() == grpc::StatusCode::FAILED_PRECONDITION;
  if (outcome.refused) {
    outcome.error = QString::fromStdString(status.error_message());
    return outcome;
  }
  const Failure failure = describeFailure(status, method, server, timeoutMs);
  lost = failure.transport;
  outcome.error = failure.message;
  outcome.details = failure.details;
  // a call's session expired, was ended by an administrator, or its operator
  // deactivated (a refused login keeps the server's own words)
  if (status.error_code() == grpc::StatusCode::UNAUTHENTICATED) {
    outcome.error = sessionEndedText();
    outcome.details += QStringLiteral("\nMotivo informado pelo servidor: %1").arg(failure.message);
  }
  return outcome;
}

// A call the server answered: its value, with the by-reference values copied
// back into the program's variables.
static CallOutcome answeredCall(const QString& method, const std::vector<RemoteArg>& args, ReplyStream& replies) {
  CallOutcome outcome;
  if (!replies.gotFirst) {
    outcome.error = QStringLiteral("O servidor de aplicação não enviou resposta para %1.").arg(method);
    return outcome;
  }
  replies.finish();
  if (replies.reader.error) {
    outcome.error = QStringLiteral("Resposta inválida do servidor para %1: %2").arg(method, *replies.reader.error);
    return outcome;
  }
  for (size_t i = 0; i < args.size() && int(i) < replies.arguments.size(); ++i) {
    const auto& back = replies.arguments.Get(int(i));
    args[i].copyBack(QString::fromStdString(back.text()), back.date());
  }
  outcome.value = std::move(replies.result);
  outcome.details = replies.details;
  return outcome;
}

// What the server said beside a refusal's key or an answer's message key.
static QString detailsOf(const grpc::ClientContext& ctx) {
  const auto& trailing = ctx.GetServerTrailingMetadata();
  const auto it = trailing.find(std::string(qfx::contract::kDetailsMetadata));
  if (it == trailing.end()) return {};
  return QString::fromUtf8(it->second.data(), qsizetype(it->second.size()));
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

static QString notConnectedText() { return QStringLiteral("Não há conexão com o servidor de aplicação."); }

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
      serving = healthProblem(channel, deadline).isEmpty();
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
        answered = healthProblem(channels[i], std::chrono::system_clock::now() + kConnectTimeout).isEmpty();
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
