// What travels on one call: the request built from the arguments, the
// reply stream and its packets, and the outcome the caller reads (the value,
// a refusal, or a failure in the operator's words). Inside the host kit only.
#pragma once

#include <grpcpp/grpcpp.h>

#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <hostkit/core/netconnection.h>
#include <proto/qfx31700.grpc.pb.h>

namespace hostkit::net {

namespace rpc = ::qfx::rpc;

struct Failure {
  QString message;
  QString details;
  bool transport = false;  // the server was not reached or did not answer
};

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

// A lost, refused or silent server is one message for the operator; what
// gRPC said goes to the details.
Failure describeFailure(const grpc::Status& status, const QString& method, const QString& server, int timeoutMs);

std::chrono::system_clock::time_point deadlineIn(int timeoutMs);

// No server of the list answered its health check.
Failure noServerFailure(const QString& servers, const QString& method, const QStringList& answers);

void fillArgument(const RemoteArg& a, rpc::Argument* out);

rpc::InvokeRequest invokeRequest(const QString& object, const QString& method, const std::vector<RemoteArg>& args);

// A call the server failed or refused, or that never reached it; `lost` says
// the server was not reached or did not answer.
CallOutcome failedCall(const grpc::Status& status, const QString& method, const QString& server, int timeoutMs,
                       bool& lost);

// A call the server answered: its value, with the by-reference values copied
// back into the program's variables.
CallOutcome answeredCall(const QString& method, const std::vector<RemoteArg>& args, ReplyStream& replies);

// What the server said beside a refusal's key or an answer's message key.
QString detailsOf(const grpc::ClientContext& ctx);

QString notConnectedText();

}  // namespace hostkit::net
