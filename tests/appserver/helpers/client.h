// A plain gRPC client of the application server for the tests: login, and
// Invoke with positional arguments, assembling the streamed packets.
#pragma once

#include <grpcpp/grpcpp.h>

#include <QDate>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <proto/contract_methods.h>
#include <proto/packet_codec.h>
#include <proto/qfx31700.grpc.pb.h>

#include "testhelpers.h"

namespace qfx::test {

rpc::Argument text(const std::string& value, bool byReference = false);
rpc::Argument ref(const std::string& value);  // text by reference
rpc::Argument date(const QDate& day, bool byReference = false);
rpc::Argument dateValue(double days, bool byReference = false);
rpc::Argument boolean(bool value);

// A method's arguments placed by the contract's position names.
template <class Method>
using Args = contract::ArgumentList<Method, rpc::Argument>;

// GetPrincipal's arguments, every restriction off unless set; GetVerifVenda
// takes the first twelve of them.
struct PrincipalFilter {
  std::string branch = "0001", store = "01";
  QDate first = QDate(2024, 3, 10), last = QDate(2024, 3, 11);
  bool includePosted = false;
  std::string sales;  // empty: all sales
  std::string registers, consumptionTypes, customers, costCentres, products;
  bool allRegisters = true, allConsumptionTypes = true, allCustomers = true, interval = false, allCostCentres = true,
       allProducts = true;
  std::string nameFrom, nameTo;

  std::vector<rpc::Argument> args() const;
  std::vector<rpc::Argument> verificationArgs() const;
};

struct CallResult {
  grpc::Status status;
  rpc::Value result;
  std::vector<rpc::Argument> arguments;
  std::map<uint32_t, packet::Packet> packets;
  std::string packetError;  // a damaged packet
  int messages = 0;         // stream messages received
  std::string details;      // the trailing metadata beside a refusal or message key

  bool ok() const { return status.ok() && packetError.empty(); }
  // The packet the result announces (the result itself, or item i of a list).
  const packet::Packet& packet() const;
  const packet::Packet& listPacket(int item) const;
};

class TestClient {
 public:
  explicit TestClient(int port, std::shared_ptr<grpc::ChannelCredentials> creds = nullptr,
                      const std::string& host = "127.0.0.1");

  grpc::Status login(const std::string& operatorCode, const std::string& password, rpc::LoginReply* reply = nullptr);
  void setToken(const std::string& token) { token_ = token; }
  // The posting run the next calls belong to (contract::kRunMetadata); empty: none.
  void setRunId(const std::string& runId) { runId_ = runId; }
  const std::string& token() const { return token_; }

  CallResult invoke(const std::string& method, const std::vector<rpc::Argument>& args,
                    std::chrono::milliseconds deadline = std::chrono::seconds(120),
                    const std::string& object = "Qfx31700.rdmGeraNF");
  rpc::ApplicationServer::Stub& stub() { return *stub_; }
  std::shared_ptr<grpc::Channel> channel() { return channel_; }

 private:
  std::shared_ptr<grpc::Channel> channel_;
  std::unique_ptr<rpc::ApplicationServer::Stub> stub_;
  std::string token_;
  std::string runId_;
};

// Cell readers: text of a null cell is "<null>".
std::string cellText(const packet::Packet& p, const char* field, size_t row);
double cellNumber(const packet::Packet& p, const char* field, size_t row);
bool cellIsNull(const packet::Packet& p, const char* field, size_t row);
std::vector<std::string> columnTexts(const packet::Packet& p, const char* field);

}  // namespace qfx::test
