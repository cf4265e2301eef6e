#include "netconnection.h"

#include <grpcpp/grpcpp.h>

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QThread>
#include <chrono>
#include <thread>

#include "health.grpc.pb.h"
#include "operations.h"
#include "qfx31700.grpc.pb.h"
#include "routines.h"

namespace hostkit {

namespace rpc = ::qfx::rpc;

// ---- arguments and values --------------------------------------------------------

RemoteArg RemoteArg::Text(const QString& value) {
  RemoteArg a;
  a.text_ = value;
  return a;
}

RemoteArg RemoteArg::TextRef(QString& variable) {
  RemoteArg a = Text(variable);
  a.textTarget_ = &variable;
  return a;
}

RemoteArg RemoteArg::Date(double value) {
  RemoteArg a;
  a.kind_ = Kind::Date;
  a.date_ = value;
  return a;
}

RemoteArg RemoteArg::DateRef(double& variable) {
  RemoteArg a = Date(variable);
  a.dateTarget_ = &variable;
  return a;
}

RemoteArg RemoteArg::Boolean(bool value) {
  RemoteArg a;
  a.kind_ = Kind::Boolean;
  a.boolean_ = value;
  return a;
}

void RemoteArg::copyBack(const QString& text, double date) const {
  if (textTarget_) *textTarget_ = text;
  if (dateTarget_) *dateTarget_ = date;
}

bool RemoteValue::isNumber() const {
  return std::holds_alternative<qint64>(value_) || std::holds_alternative<double>(value_) ||
         std::holds_alternative<DateTag>(value_);
}

QString RemoteValue::toText() const {
  if (auto* t = std::get_if<QString>(&value_)) return *t;
  if (auto* i = std::get_if<qint64>(&value_)) return QString::number(*i);
  if (auto* d = std::get_if<double>(&value_)) return QString::number(*d);
  if (auto* b = std::get_if<bool>(&value_)) return *b ? QStringLiteral("True") : QStringLiteral("False");
  return {};
}

bool RemoteValue::toBoolean() const {
  if (auto* b = std::get_if<bool>(&value_)) return *b;
  if (auto* i = std::get_if<qint64>(&value_)) return *i != 0;
  return false;
}

qint64 RemoteValue::toInteger() const {
  if (auto* i = std::get_if<qint64>(&value_)) return *i;
  if (auto* d = std::get_if<double>(&value_)) return qfx::packet::integerOf(*d);
  if (auto* t = std::get_if<QString>(&value_)) return t->toLongLong();
  if (auto* b = std::get_if<bool>(&value_)) return *b ? 1 : 0;
  return 0;
}

packet::Packet RemoteValue::takePacket() const {
  auto* p = std::get_if<std::shared_ptr<packet::Packet>>(&value_);
  if (!p || !*p) return {};
  return std::move(**p);
}

const RemoteValue::List& RemoteValue::list() const {
  static const List empty;
  auto* l = std::get_if<List>(&value_);
  return l ? *l : empty;
}

// ---- waiting without freezing -------------------------------------------------------

namespace {
// Swallows user input while a call runs, so a click does not replay afterwards.
// A close is no input: the close guard holds it back until the call is over.
class InputBlocker : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* e) override {
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::Wheel:
      case QEvent::Shortcut:
      case QEvent::ShortcutOverride:
      case QEvent::TouchBegin:
        return true;
      default:
        return false;
    }
  }
};
}  // namespace

namespace {
// The events of one call on a completion queue driven by the waiting thread
// itself: the reply wakes this thread directly, with no thread started per
// call and no hand-over back to it (a small call cost more in those than in
// its own work). On the application's thread, the screen's own events are
// processed between polls, with user input swallowed as in runBlockingCall.
// The operations of one call, as their completion queue tags.
enum class CallOp : std::intptr_t { Start = 1, Read, Finish };
void* tagOf(CallOp op) { return reinterpret_cast<void*>(op); }

class CallWaiter {
 public:
  CallWaiter() {
    auto* app = QCoreApplication::instance();
    pumpEvents_ = app && QThread::currentThread() == app->thread();
    if (!pumpEvents_) return;
    inFlight_.emplace();
    app->installEventFilter(&blocker_);
  }
  ~CallWaiter() {
    if (pumpEvents_) QCoreApplication::instance()->removeEventFilter(&blocker_);
    queue_.Shutdown();
    void* tag;
    bool ok;
    while (queue_.Next(&tag, &ok)) {
    }
  }
  CallWaiter(const CallWaiter&) = delete;
  CallWaiter& operator=(const CallWaiter&) = delete;

  grpc::CompletionQueue* queue() { return &queue_; }

  // Waits for the operation `op`; its success as gRPC reports it. Other
  // operations' completions met on the way are kept for their own wait.
  bool await(CallOp op) {
    void* const tag = tagOf(op);
    for (;;) {
      for (auto it = arrived_.begin(); it != arrived_.end(); ++it) {
        if (it->first != tag) continue;
        const bool ok = it->second;
        arrived_.erase(it);
        return ok;
      }
      void* got = nullptr;
      bool ok = false;
      const auto next = queue_.AsyncNext(&got, &ok, std::chrono::system_clock::now() + kPoll);
      if (next == grpc::CompletionQueue::GOT_EVENT) {
        arrived_.emplace_back(got, ok);
        continue;
      }
      if (next == grpc::CompletionQueue::SHUTDOWN) return false;
      // the screen's events (a timer of 0 ms, a repaint) run once a poll has
      // passed without the reply: a quick call spares the pass over them
      if (pumpEvents_) QCoreApplication::processEvents();
    }
  }

 private:
  static constexpr std::chrono::milliseconds kPoll{10};
  grpc::CompletionQueue queue_;
  InputBlocker blocker_;
  std::optional<CallScope> inFlight_;
  bool pumpEvents_ = false;
  std::vector<std::pair<void*, bool>> arrived_;
};
}  // namespace

void runBlockingCall(const std::function<void()>& work) {
  auto* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return work();
  CallScope inFlight;
  QEventLoop loop;
  InputBlocker blocker;
  app->installEventFilter(&blocker);
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  app->removeEventFilter(&blocker);
}

// ---- the connection -------------------------------------------------------------------

TNetConnection::TNetConnection(QObject* parent, const QString& name) : QObject(parent) { setObjectName(name); }
TNetConnection::~TNetConnection() = default;

static std::shared_ptr<grpc::ChannelCredentials> credentialsFor(bool tls, const QString& caFile) {
  if (!tls) return grpc::InsecureChannelCredentials();
  grpc::SslCredentialsOptions options;
  QFile ca(caFile);
  if (!caFile.isEmpty() && ca.open(QIODevice::ReadOnly)) options.pem_root_certs = ca.readAll().toStdString();
  return grpc::SslCredentials(options);
}

void TNetConnection::SetConnected(bool connected) {
  if (!connected) {
    channel_.reset();
    return;
  }
  if (channel_) return;
  if (BeforeConnect) BeforeConnect(*this);
  grpc::ChannelArguments args;
  args.SetMaxReceiveMessageSize(64 << 20);
  const std::string target = QStringLiteral("%1:%2").arg(Host).arg(Port).toStdString();
  channel_ = grpc::CreateCustomChannel(target, credentialsFor(UseTLS, CaFile), args);
}

namespace {
struct Failure {
  QString message;
  QString details;
  bool transport = false;  // the server was not reached or did not answer
};
}  // namespace

// A lost, refused or silent server is one message for the operator; what
// gRPC said goes to the details.
static Failure describeFailure(const grpc::Status& status, const QString& method, const QString& host, int port,
                               int timeoutMs) {
  const QString detail = QString::fromStdString(status.error_message());
  const QString where = QStringLiteral("Servidor: %1:%2\nChamada: %3\n").arg(host).arg(port).arg(method);
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

static void setDeadline(grpc::ClientContext& ctx, int timeoutMs) {
  ctx.set_deadline(std::chrono::system_clock::now() + std::chrono::milliseconds(timeoutMs));
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

namespace {
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
}  // namespace

CallOutcome TNetConnection::call(const QString& method, const std::vector<RemoteArg>& args) {
  CallOutcome outcome;
  if (!channel_) {
    outcome.error = QStringLiteral("Não há conexão com o servidor de aplicação.");
    return outcome;
  }
  rpc::InvokeRequest request;
  request.set_object(ServerName.toStdString());
  request.set_method(method.toStdString());
  for (const auto& a : args) fillArgument(a, request.add_arguments());

  rpc::InvokeReply first;
  bool gotFirst = false;
  ValueReader reader;
  RemoteValue result;
  grpc::Status status;
  auto stub = rpc::ApplicationServer::NewStub(channel_);
  const int timeoutMs = CallTimeoutMs;
  {
    grpc::ClientContext ctx;
    setDeadline(ctx, timeoutMs);
    ctx.AddMetadata("x-qfx-session", SessionToken.toStdString());
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
      if (!gotFirst) {
        gotFirst = true;
        result = reader.read(reply.result());
        *first.mutable_arguments() = reply.arguments();
      }
      for (const auto& chunk : reply.chunks())
        if (auto e = reader.assembler.add(chunk); e && !reader.error) reader.error = QString::fromStdString(*e);
    }
    waiter.await(CallOp::Start);
    stream->Finish(&status, tagOf(CallOp::Finish));
    waiter.await(CallOp::Finish);
  }

  if (!status.ok()) {
    outcome.refused = status.error_code() == grpc::StatusCode::FAILED_PRECONDITION;
    if (outcome.refused) {
      outcome.error = QString::fromStdString(status.error_message());
      return outcome;
    }
    auto failure = describeFailure(status, method, Host, Port, timeoutMs);
    outcome.error = failure.message;
    outcome.details = failure.details;
    return outcome;
  }
  if (!gotFirst) {
    outcome.error = QStringLiteral("O servidor de aplicação não enviou resposta para %1.").arg(method);
    return outcome;
  }
  reader.finish();
  if (reader.error) {
    outcome.error = QStringLiteral("Resposta inválida do servidor para %1: %2").arg(method, *reader.error);
    return outcome;
  }
  for (size_t i = 0; i < args.size() && int(i) < first.arguments_size(); ++i) {
    const auto& back = first.arguments(int(i));
    args[i].copyBack(QString::fromStdString(back.text()), back.date());
  }
  outcome.value = std::move(result);
  return outcome;
}

CallOutcome TDispatch::Invoke(const QString& method, const std::vector<RemoteArg>& args) const {
  return connection_->call(method, args);
}

std::variant<LoginResult, QString> TNetConnection::Login(const QString& operatorCode, const QString& password) {
  SetConnected(true);
  auto stub = rpc::ApplicationServer::NewStub(channel_);
  rpc::LoginRequest request;
  request.set_operator_code(operatorCode.toStdString());
  request.set_password(password.toStdString());
  rpc::LoginReply reply;
  grpc::Status status;
  const int timeoutMs = CallTimeoutMs;
  runBlockingCall([&] {
    grpc::ClientContext ctx;
    setDeadline(ctx, timeoutMs);
    status = stub->Login(&ctx, request, &reply);
  });
  if (!status.ok()) {
    const auto failure = describeFailure(status, QStringLiteral("Login"), Host, Port, timeoutMs);
    // the login dialog has no details box: the address says which server
    return failure.transport ? QStringLiteral("%1 (%2:%3)").arg(failure.message, Host).arg(Port) : failure.message;
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

bool TNetConnection::Ping(int timeoutMs) {
  SetConnected(true);
  auto stub = grpc::health::v1::Health::NewStub(channel_);
  grpc::health::v1::HealthCheckRequest request;
  grpc::health::v1::HealthCheckResponse reply;
  grpc::Status status;
  runBlockingCall([&] {
    grpc::ClientContext ctx;
    setDeadline(ctx, timeoutMs);
    status = stub->Check(&ctx, request, &reply);
  });
  return status.ok() && reply.status() == grpc::health::v1::HealthCheckResponse::SERVING;
}

}  // namespace hostkit
