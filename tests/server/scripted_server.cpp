#include "scripted_server.h"
#include <proto/contract.h>

namespace qfxtest {

using namespace qfx;

rpc::Value ScriptedReply::packet(packet::Packet p) {
  const auto id = uint32_t(packets_.size() + 1);
  rpc::Value v;
  packet::fillHeader(p, id, v.mutable_packet());
  packets_.emplace_back(id, std::move(p));
  return v;
}

class ScriptedServer::Service final : public rpc::ApplicationServer::Service {
 public:
  grpc::Status Login(grpc::ServerContext*, const rpc::LoginRequest* request, rpc::LoginReply* reply) override {
    reply->set_token("token-" + request->operator_code());
    reply->set_operator_code(request->operator_code());
    return grpc::Status::OK;
  }

  grpc::Status Invoke(grpc::ServerContext* ctx, const rpc::InvokeRequest* request,
                      grpc::ServerWriter<rpc::InvokeReply>* writer) override {
    RecordedCall call{
        request->object(), request->method(), {request->arguments().begin(), request->arguments().end()}, {}, {}};
    auto token = ctx->client_metadata().find(std::string(qfx::contract::kSessionMetadata));
    if (token != ctx->client_metadata().end()) call.token = std::string(token->second.data(), token->second.size());
    auto run = ctx->client_metadata().find(std::string(qfx::contract::kRunMetadata));
    if (run != ctx->client_metadata().end()) call.runId = std::string(run->second.data(), run->second.size());
    Script script;
    {
      std::lock_guard lock(mutex);
      calls.push_back(call);
      auto it = scripts.find(call.method);
      if (it != scripts.end()) script = it->second;
    }
    ScriptedReply reply;
    reply.args = call.args;
    if (script) {
      grpc::Status status = script(call, reply);
      if (!reply.details.empty()) ctx->AddTrailingMetadata(std::string(qfx::contract::kDetailsMetadata), reply.details);
      if (!status.ok()) return status;
    }
    rpc::InvokeReply first;
    *first.mutable_result() = reply.result;
    for (const auto& a : reply.args) *first.add_arguments() = a;
    writer->Write(first);
    for (const auto& [id, p] : reply.packets()) {
      packet::encodeChunks(p, id, 1 << 20, [&](rpc::PacketChunk&& chunk) {
        rpc::InvokeReply more;
        *more.add_chunks() = std::move(chunk);
        writer->Write(more);
      });
    }
    return grpc::Status::OK;
  }

  mutable std::mutex mutex;
  std::vector<RecordedCall> calls;
  std::map<std::string, Script> scripts;
};

ScriptedServer::ScriptedServer() : service_(std::make_unique<Service>()) {
  grpc::ServerBuilder builder;
  builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port_);
  builder.RegisterService(service_.get());
  server_ = builder.BuildAndStart();
}

ScriptedServer::~ScriptedServer() { stop(); }

void ScriptedServer::stop() {
  if (!server_) return;
  server_->Shutdown(std::chrono::system_clock::now());
  server_.reset();
}

void ScriptedServer::on(const std::string& method, Script script) {
  std::lock_guard lock(service_->mutex);
  service_->scripts[method] = std::move(script);
}

std::vector<RecordedCall> ScriptedServer::calls() const {
  std::lock_guard lock(service_->mutex);
  return service_->calls;
}

std::vector<RecordedCall> ScriptedServer::callsOf(const std::string& method) const {
  std::vector<RecordedCall> out;
  for (auto& c : calls())
    if (c.method == method) out.push_back(c);
  return out;
}

void ScriptedServer::clearCalls() {
  std::lock_guard lock(service_->mutex);
  service_->calls.clear();
}

rpc::Value textValue(const std::string& s) {
  rpc::Value v;
  v.set_text(s);
  return v;
}

rpc::Value integerValue(int64_t i) {
  rpc::Value v;
  v.set_integer(i);
  return v;
}

rpc::Value booleanValue(bool b) {
  rpc::Value v;
  v.set_boolean(b);
  return v;
}

rpc::Value listValue(std::vector<rpc::Value> items) {
  rpc::Value v;
  for (auto& i : items) *v.mutable_list()->add_items() = std::move(i);
  return v;
}

packet::Packet textPacket(const std::vector<std::string>& fields, const std::vector<std::vector<std::string>>& rows) {
  std::vector<packet::FieldDef> defs;
  for (const auto& f : fields) defs.push_back({f, packet::FieldType::Text, 0});
  packet::Packet p(std::move(defs));
  for (const auto& row : rows)
    for (size_t i = 0; i < fields.size(); ++i) p.columns[i].appendText(i < row.size() ? row[i] : std::string());
  return p;
}

packet::Packet contractPacket(std::span<const contract::Field> fields,
                              const std::vector<std::vector<std::string>>& rows) {
  packet::Packet p = contract::emptyPacket(fields);
  for (const auto& row : rows) {
    for (size_t i = 0; i < fields.size(); ++i) {
      const std::string value = i < row.size() ? row[i] : std::string();
      if (fields[i].type == packet::FieldType::Text)
        p.columns[i].appendText(value);
      else if (value.empty())
        p.columns[i].appendNull();
      else
        p.columns[i].appendNumber(std::stod(value));
    }
  }
  return p;
}

packet::Column& column(packet::Packet& p, std::string_view field) {
  const int i = p.fieldIndex(field);
  if (i < 0) throw std::out_of_range("no field " + std::string(field) + " in the packet");
  return p.columns[size_t(i)];
}

}  // namespace qfxtest
