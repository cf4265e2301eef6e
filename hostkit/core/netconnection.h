// The client's connection to the application server.
//
// Calls are late-bound: a method name and positional arguments of kind text,
// date or boolean, each by value or by reference. Every call has a deadline.
// A failed call is an error value: a refusal carries its key as the message.
//
// Threads. A connection belongs to the thread that made it, the screen's.
// A call is made and waited for on that thread: it polls the call's own
// completion queue and, between polls, runs the screen's events so the
// window keeps painting and the busy animation keeps moving; input that
// arrives meanwhile is discarded, not queued (net/waiting.h). Choosing a
// server, the login and the health checks block, so they run on a short-lived
// worker thread while the caller waits in a local event loop (runBlockingCall).
// Calls that only read may also be sent ahead, several at once: one thread
// of the connection reads their replies as they come, and the caller takes
// the outcomes later in its own order (PendingCall, net/asynccalls.cpp).
// Between calls, a thread of the link looks at the idle sockets so a lost
// server is known before the next call (net/servers.h).
//
// The parts: net/values.cpp (arguments and values), net/waiting (waiting),
// net/servers (server list and fail-over), net/replies (request, reply
// stream, outcome), netconnection.cpp (the connection, the synchronous call,
// login and health), net/asynccalls.cpp (calls on their way together).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "hostservices.h"
#include "result.h"
#include <proto/contract.h>
#include <proto/packet_codec.h>

namespace grpc {
class Channel;
}

namespace hostkit {

namespace packet = ::qfx::packet;

class RemoteArg {
 public:
  enum class Kind { Text, Date, Boolean };

  static RemoteArg Text(const QString& value);
  static RemoteArg TextRef(QString& variable);
  static RemoteArg Date(double value);
  static RemoteArg DateRef(double& variable);
  static RemoteArg Boolean(bool value);

  Kind kind() const { return kind_; }
  bool byReference() const { return textTarget_ || dateTarget_; }
  QString text() const { return text_; }
  double date() const { return date_; }
  bool boolean() const { return boolean_; }

  // Writes a value the server left in a by-reference argument back into the
  // program's variable; by-value arguments ignore it.
  void copyBack(const QString& text, double date) const;

 private:
  Kind kind_ = Kind::Text;
  QString text_;
  double date_ = 0;
  bool boolean_ = false;
  QString* textTarget_ = nullptr;
  double* dateTarget_ = nullptr;
};

class RemoteValue {
 public:
  struct DateTag {
    double value;
  };
  using List = std::vector<RemoteValue>;
  using Storage =
      std::variant<std::monostate, QString, DateTag, bool, qint64, double, std::shared_ptr<packet::Packet>, List>;

  RemoteValue() = default;
  explicit RemoteValue(Storage v) : value_(std::move(v)) {}

  bool isNull() const { return std::holds_alternative<std::monostate>(value_); }
  bool isText() const { return std::holds_alternative<QString>(value_); }
  bool isBoolean() const { return std::holds_alternative<bool>(value_); }
  bool isPacket() const { return std::holds_alternative<std::shared_ptr<packet::Packet>>(value_); }
  bool isList() const { return std::holds_alternative<List>(value_); }
  bool isNumber() const;

  QString toText() const;
  bool toBoolean() const;
  qint64 toInteger() const;
  // The packet, moved out; an empty packet when this is no packet.
  packet::Packet takePacket() const;
  const List& list() const;
  Storage& storage() { return value_; }

 private:
  Storage value_;
};

struct CallOutcome {
  std::optional<RemoteValue> value;  // set when the call succeeded
  QString error;                     // otherwise: the refusal key or a readable message
  // What went wrong in technical terms, when known; for a refusal or an
  // answer, what the server said beside its key (contract::kDetailsMetadata).
  QString details;
  bool refused = false;  // the server refused (error is the key)
  // The call reached a server that gave no answer (lost or silent): it may
  // have been done there.
  bool unanswered = false;
  bool ok() const { return value.has_value(); }
};

// How a call is made beyond its arguments.
struct CallOptions {
  // The posting run the call belongs to, sent as contract::kRunMetadata: a
  // server that has done that run answers its outcome instead of a new run.
  QString runId;
  // The call may go again to the next server when the one in use is lost
  // under it: a read, or a posting under its run identifier. A call that
  // never reached a server goes again in any case.
  bool repeatable = false;
};

class TNetConnection;
class ServerWatch;
class CallDriver;
struct AsyncCall;

// A call sent without waiting for its reply. Several may be on their way at
// once on one connection (calls that only read: the server may take them in
// any order); a thread of the connection reads each reply as it comes, so a
// reply is safe from the call's deadline however long the program takes to
// ask for it. Take() waits as a synchronous call waits (local event loop,
// input discarded, closes held back) and gives the outcome, copying the
// by-reference values back into the program's variables at that moment: they
// must outlive the call. A call dropped without Take() is cancelled and its
// reply, if any, discarded.
class PendingCall {
 public:
  PendingCall(PendingCall&&) noexcept;
  PendingCall& operator=(PendingCall&&) noexcept;
  ~PendingCall();

  // The outcome; once only (taking it again gives an error value).
  CallOutcome Take();

 private:
  friend class TNetConnection;
  PendingCall(TNetConnection* connection, QString method, std::vector<RemoteArg> args, CallOptions options);
  void drop();

  QPointer<TNetConnection> connection_;
  QString method_;
  std::vector<RemoteArg> args_;
  CallOptions options_;
  QString server_;  // where it went, for the failure's details
  int timeoutMs_ = 0;
  std::optional<CallOutcome> settled_;  // failed before it could be sent
  std::shared_ptr<CallDriver> driver_;
  std::shared_ptr<AsyncCall> call_;
};

// The server object for one call; fetch a fresh one from the connection each time.
class TDispatch {
 public:
  CallOutcome Invoke(const QString& method, const std::vector<RemoteArg>& args, const CallOptions& options = {}) const;
  // Sends the call and returns at once; see PendingCall.
  PendingCall Start(const QString& method, const std::vector<RemoteArg>& args, const CallOptions& options = {}) const;

 private:
  friend class TNetConnection;
  explicit TDispatch(TNetConnection* connection) : connection_(connection) {}
  TNetConnection* connection_;
};

struct LoginResult {
  QString token, operatorCode, operatorName, boundBranch;
  QStringList branches;
};

// A call of another service than Invoke (the import's client stream) on a
// server list with the connection's choice of server: each server of
// `servers` in order that answers its health check is handed to `call`,
// until `call` says it is done (true: answered, or stopped by its caller).
// false means its server was lost before it answered, and the next one that
// answers gets the call again, which only a call that writes nothing unless
// it ends (or writes the same again) may allow. Success when a server took
// it; otherwise what each server said. Blocks: run it off the screen's thread.
Status CallOnServers(const QList<ServerEndpoint>& servers, bool tls, const QString& caFile,
                     const std::function<bool(const std::shared_ptr<grpc::Channel>&, const QString& server)>& call);

// Several servers may serve one database: the connection calls the first of
// Host:Port and the Alternates that answers its health check, stays with it
// while it serves, and moves on to the next that answers when it is lost. The
// session's token is good on any of them. A call the lost server had taken
// goes again to the next server that answers when it is repeatable (see
// CallOptions), and so does one that never reached a server; otherwise, or
// when no server is left, it fails with serverSilentText().
class TNetConnection : public QObject {
  Q_OBJECT
 public:
  explicit TNetConnection(QObject* parent = nullptr, const QString& name = {});
  ~TNetConnection() override;

  QString ServerName = QString::fromLatin1(qfx::contract::kObjectName);
  QString Host = QStringLiteral("127.0.0.1");
  int Port = qfx::contract::kDefaultPort;
  QList<ServerEndpoint> Alternates;  // after Host:Port, in order of preference
  bool UseTLS = false;
  QString CaFile;
  int CallTimeoutMs = 60000;
  QString SessionToken;
  // Runs before each connection is made: sets the servers.
  std::function<void(TNetConnection&)> BeforeConnect;

  bool Connected() const { return bool(link_); }
  void SetConnected(bool connected);
  TDispatch AppServer() { return TDispatch(this); }

  // Logs in on the first server that serves; one that is lost or has lost its
  // database passes the login to the next. An error value when it refuses or
  // none is reachable (the readable message).
  Result<LoginResult> Login(const QString& operatorCode, const QString& password);
  // Ends the session on the server (the host quitting); true when a server
  // took it (or there was none). Its token is refused from then on.
  bool Logout(int timeoutMs);
  // Asks the server's health service; true when a server serves.
  bool Ping(int timeoutMs);
  // Watches for a server of the connection's list that answers (see
  // ServerWatch), owned by `owner`.
  ServerWatch* WatchForServer(QObject* owner, int intervalMs);
  // "host:porta" of the server the calls go to while the connection to it
  // lasts; empty before the first call and once that server is lost.
  QString ServerInUse() const;

 private:
  friend class TDispatch;
  friend class PendingCall;
  class Link;
  CallOutcome call(const QString& method, const std::vector<RemoteArg>& args, const CallOptions& options);
  // One attempt on the server in use or the one chosen now; `sent`: it
  // reached a server's connection.
  CallOutcome callOnce(const QString& method, const std::vector<RemoteArg>& args, const CallOptions& options,
                       bool& sent);
  PendingCall start(const QString& method, const std::vector<RemoteArg>& args, const CallOptions& options);
  // The channel of the server in use, or of the one chosen now; none, with
  // the failure in `failed`, when no server answers.
  std::shared_ptr<grpc::Channel> channelForCall(const QString& method, std::chrono::system_clock::time_point deadline,
                                                CallOutcome& failed);
  std::unique_ptr<Link> link_;
  // Reads the replies of the calls started and not yet over; lives while
  // one of them does.
  std::weak_ptr<CallDriver> driver_;
};

// Looks, on a thread of its own, every `intervalMs` for a server of the list
// that answers its health check, without touching the connection's calls;
// emits serverAnswers() once, on the thread that made it, when one does.
// Gone with its owner (it waits at most one health check's time).
class ServerWatch : public QObject {
  Q_OBJECT
 public:
  ~ServerWatch() override;

 signals:
  void serverAnswers();

 private:
  friend class TNetConnection;
  struct Watcher;
  ServerWatch(QObject* parent, std::unique_ptr<Watcher> watcher);
  std::unique_ptr<Watcher> watcher_;
};

// The servers of "host:porta[,host:porta...]", in order; an IPv6 address goes
// in brackets ("[::1]:50731"). An error text naming the entry that cannot be
// read.
Result<QList<ServerEndpoint>> parseServerList(const QString& text);
// "host:porta, host:porta": what parseServerList reads back.
QString serverListText(const QList<ServerEndpoint>& servers);

// What the operator reads when the server is lost, refuses the connection or
// does not answer in time.
QString serverSilentText();
// What the operator reads when the server no longer accepts the session.
QString sessionEndedText();

// Runs `work` on a worker thread while this thread waits in a local event
// loop that discards user input; runs it directly without a Qt application.
void runBlockingCall(const std::function<void()>& work);

}  // namespace hostkit
