// An application server whose replies a test scripts: it records every call
// (method, arguments, session token) and answers each method as told. Used
// where a test must force a reply's shape; everything else runs against the
// real server.
#pragma once

#include <grpcpp/grpcpp.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <proto/contract_methods.h>
#include <proto/contract_packets.h>
#include <proto/packet_codec.h>
#include <proto/qfx31700.grpc.pb.h>

namespace qfxtest {

struct RecordedCall {
  std::string object;
  std::string method;
  std::vector<qfx::rpc::Argument> args;
  std::string token;
  std::string runId;  // contract::kRunMetadata, when sent

  // The argument at a position the contract names (contract_methods.h).
  const qfx::rpc::Argument& arg(int position) const { return args.at(qfx::contract::argIndex(position)); }
};

// What a scripted method answers: the result, the final argument values
// (initially as received) and the packets the result refers to.
class ScriptedReply {
 public:
  qfx::rpc::Value result;
  std::vector<qfx::rpc::Argument> args;
  std::string details;  // beside a refusal's or message's key (trailing metadata)
  qfx::rpc::Argument& arg(int position) { return args.at(qfx::contract::argIndex(position)); }

  // A value announcing `p`; its rows go out as chunks after the first message.
  qfx::rpc::Value packet(qfx::packet::Packet p);
  const std::vector<std::pair<uint32_t, qfx::packet::Packet>>& packets() const { return packets_; }

 private:
  std::vector<std::pair<uint32_t, qfx::packet::Packet>> packets_;
};

class ScriptedServer {
 public:
  using Script = std::function<grpc::Status(const RecordedCall&, ScriptedReply&)>;

  ScriptedServer();
  ~ScriptedServer();

  int port() const { return port_; }
  void on(const std::string& method, Script script);
  std::vector<RecordedCall> calls() const;
  std::vector<RecordedCall> callsOf(const std::string& method) const;
  void clearCalls();
  void stop();

 private:
  class Service;
  std::unique_ptr<Service> service_;
  std::unique_ptr<grpc::Server> server_;
  int port_ = 0;
};

// Helpers to build replies.
qfx::rpc::Value textValue(const std::string& s);
qfx::rpc::Value integerValue(int64_t i);
qfx::rpc::Value booleanValue(bool b);
qfx::rpc::Value listValue(std::vector<qfx::rpc::Value> items);
// A one-row-per-entry text packet: fields named, every value text.
qfx::packet::Packet textPacket(const std::vector<std::string>& fields,
                               const std::vector<std::vector<std::string>>& rows);
// A packet of the contract's fields, each row's values as texts in the
// fields' order: a number or date field reads its text as a number, and an
// empty one as null.
qfx::packet::Packet contractPacket(std::span<const qfx::contract::Field> fields,
                                   const std::vector<std::vector<std::string>>& rows);
// A packet's column by its field's name.
qfx::packet::Column& column(qfx::packet::Packet& p, std::string_view field);

}  // namespace qfxtest
