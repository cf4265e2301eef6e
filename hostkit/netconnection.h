// The client's connection to the application server.
//
// Calls are late-bound: a method name and positional arguments of kind text,
// date or boolean, each by value or by reference. The call itself runs on a
// worker thread while the user-interface thread waits in a local event loop,
// so the window keeps painting and the busy animation keeps moving; input
// that arrives meanwhile is discarded, not queued. Every call has a deadline.
// A failed call is an error value: a refusal carries its key as the message.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "packet_codec.h"

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
  QString details;                   // and what went wrong in technical terms, when known
  bool refused = false;              // the server refused (error is the key)
  bool ok() const { return value.has_value(); }
};

class TNetConnection;

// The server object for one call; fetch a fresh one from the connection each time.
class TDispatch {
 public:
  CallOutcome Invoke(const QString& method, const std::vector<RemoteArg>& args) const;

 private:
  friend class TNetConnection;
  explicit TDispatch(TNetConnection* connection) : connection_(connection) {}
  TNetConnection* connection_;
};

struct LoginResult {
  QString token, operatorCode, operatorName, boundBranch;
  QStringList branches;
};

class TNetConnection : public QObject {
  Q_OBJECT
 public:
  explicit TNetConnection(QObject* parent = nullptr, const QString& name = {});
  ~TNetConnection() override;

  QString ServerName = QStringLiteral("Qfx31700.rdmGeraNF");
  bool ThrowException = false;
  QString Host = QStringLiteral("127.0.0.1");
  int Port = 50731;
  bool UseTLS = false;
  QString CaFile;
  int CallTimeoutMs = 60000;
  QString SessionToken;
  // Runs before each connection is made: sets host and port.
  std::function<void(TNetConnection&)> BeforeConnect;

  bool Connected() const { return bool(channel_); }
  void SetConnected(bool connected);
  TDispatch AppServer() { return TDispatch(this); }

  // Logs in on the server; an error value when it refuses or is unreachable.
  std::variant<LoginResult, QString> Login(const QString& operatorCode, const QString& password);
  // Asks the server's health service; true when it serves.
  bool Ping(int timeoutMs);

 private:
  friend class TDispatch;
  CallOutcome call(const QString& method, const std::vector<RemoteArg>& args);
  std::shared_ptr<grpc::Channel> channel_;
};

// What the operator reads when the server is lost, refuses the connection or
// does not answer in time.
QString serverSilentText();

// Runs `work` on a worker thread while this thread waits in a local event
// loop that discards user input; runs it directly without a Qt application.
void runBlockingCall(const std::function<void()>& work);

}  // namespace hostkit
