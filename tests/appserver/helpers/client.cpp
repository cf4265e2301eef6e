#include "client.h"

#include <proto/contract.h>

#include <gtest/gtest.h>

namespace qfx::test {

namespace {

void collectHeaders(const rpc::Value& value, packet::PacketAssembler& assembler, std::string* error) {
  if (value.has_packet()) {
    if (auto e = assembler.begin(value.packet())) *error = *e;
  } else if (value.has_list()) {
    for (const auto& item : value.list().items()) collectHeaders(item, assembler, error);
  }
}

void collectIds(const rpc::Value& value, std::vector<uint32_t>* ids) {
  if (value.has_packet()) ids->push_back(value.packet().id());
  if (value.has_list())
    for (const auto& item : value.list().items()) collectIds(item, ids);
}

const packet::Packet& emptyPacket() {
  static const packet::Packet empty;
  return empty;
}

}  // namespace

rpc::Argument text(const std::string& value, bool byReference) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::TEXT);
  a.set_by_reference(byReference);
  a.set_text(value);
  return a;
}

rpc::Argument ref(const std::string& value) { return text(value, true); }

rpc::Argument dateValue(double days, bool byReference) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::DATE);
  a.set_by_reference(byReference);
  a.set_date(days);
  return a;
}

rpc::Argument date(const QDate& day, bool byReference) { return dateValue(qfxtest::dia(day), byReference); }

rpc::Argument boolean(bool value) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::BOOLEAN);
  a.set_boolean(value);
  return a;
}

namespace {

// GetVerifVenda's arguments, with which GetPrincipal's start.
template <class A>
Args<A> verification(const PrincipalFilter& f) {
  using P = contract::GetPrincipal;
  const std::string nf = f.includePosted ? "S" : "N";
  return {{P::Filial, text(f.branch)},
          {P::DtInicial, date(f.first, true)},
          {P::DtFinal, date(f.last, true)},
          {P::TodasNF, ref(nf)},
          {P::TodasNF2, ref(nf)},
          {P::TodasVendas, ref(f.sales.empty() ? "S" : "N")},
          {P::StVendas, ref(f.sales)},
          {P::Loja, text(f.store)},
          {P::BoTodosCaixa, boolean(f.allRegisters)},
          {P::StCaixa, ref(f.registers)},
          {P::BoTodosTipoCons, boolean(f.allConsumptionTypes)},
          {P::StTipoCons, ref(f.consumptionTypes)}};
}

}  // namespace

std::vector<rpc::Argument> PrincipalFilter::verificationArgs() const {
  return verification<contract::GetVerifVenda>(*this).values();
}

std::vector<rpc::Argument> PrincipalFilter::args() const {
  using A = contract::GetPrincipal;
  return verification<A>(*this)
      .set({{A::BoTodosCliente, boolean(allCustomers)},
            {A::BoIntervaloCli, boolean(interval)},
            {A::StCliDe, ref(nameFrom)},
            {A::StCliAte, ref(nameTo)},
            {A::StCliente, ref(customers)},
            {A::StCentroCusto, ref(costCentres)},
            {A::BoTodosCentroCusto, boolean(allCostCentres)},
            {A::StProdutos, ref(products)},
            {A::BoTodosProdutos, boolean(allProducts)}})
      .values();
}

const packet::Packet& CallResult::packet() const {
  if (!result.has_packet() || !packets.count(result.packet().id())) return emptyPacket();
  return packets.at(result.packet().id());
}

const packet::Packet& CallResult::listPacket(int item) const {
  if (!result.has_list() || result.list().items_size() <= item) return emptyPacket();
  const auto& v = result.list().items(item);
  if (!v.has_packet() || !packets.count(v.packet().id())) return emptyPacket();
  return packets.at(v.packet().id());
}

TestClient::TestClient(int port, std::shared_ptr<grpc::ChannelCredentials> creds, const std::string& host) {
  if (!creds) creds = grpc::InsecureChannelCredentials();
  grpc::ChannelArguments args;  // gRPC's default 4 MiB receive limit: replies must fit it
  channel_ = grpc::CreateCustomChannel(host + ":" + std::to_string(port), creds, args);
  stub_ = rpc::ApplicationServer::NewStub(channel_);
}

grpc::Status TestClient::login(const std::string& operatorCode, const std::string& password, rpc::LoginReply* reply) {
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
  rpc::LoginRequest request;
  request.set_operator_code(operatorCode);
  request.set_password(password);
  rpc::LoginReply local;
  rpc::LoginReply* out = reply ? reply : &local;
  grpc::Status status = stub_->Login(&context, request, out);
  if (status.ok()) token_ = out->token();
  return status;
}

CallResult TestClient::invoke(const std::string& method, const std::vector<rpc::Argument>& args,
                              std::chrono::milliseconds deadline, const std::string& object) {
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + deadline);
  if (!token_.empty()) context.AddMetadata("x-qfx-session", token_);
  if (!runId_.empty()) context.AddMetadata(std::string(contract::kRunMetadata), runId_);
  rpc::InvokeRequest request;
  request.set_object(object);
  request.set_method(method);
  for (const auto& a : args) *request.add_arguments() = a;

  CallResult out;
  packet::PacketAssembler assembler;
  auto reader = stub_->Invoke(&context, request);
  rpc::InvokeReply message;
  bool first = true;
  while (reader->Read(&message)) {
    ++out.messages;
    if (first) {
      out.result = message.result();
      out.arguments.assign(message.arguments().begin(), message.arguments().end());
      collectHeaders(out.result, assembler, &out.packetError);
      first = false;
    }
    for (const auto& chunk : message.chunks())
      if (auto e = assembler.add(chunk); e && out.packetError.empty()) out.packetError = *e;
  }
  out.status = reader->Finish();
  const auto& trailing = context.GetServerTrailingMetadata();
  if (auto it = trailing.find(std::string(contract::kDetailsMetadata)); it != trailing.end())
    out.details.assign(it->second.data(), it->second.size());
  if (!out.status.ok()) return out;
  if (auto e = assembler.finish(); e && out.packetError.empty()) out.packetError = *e;
  std::vector<uint32_t> ids;
  collectIds(out.result, &ids);
  for (uint32_t id : ids) out.packets[id] = assembler.take(id);
  return out;
}

std::string cellText(const packet::Packet& p, const char* field, size_t row) {
  const int i = p.fieldIndex(field);
  if (i < 0) {
    ADD_FAILURE() << "campo ausente no pacote: " << field;
    return {};
  }
  if (row >= p.rowCount()) {
    ADD_FAILURE() << "linha " << row << " além do pacote (" << p.rowCount() << " linhas)";
    return {};
  }
  if (p.columns[size_t(i)].isNull(row)) return "<null>";
  return std::string(p.columns[size_t(i)].text(row));
}

double cellNumber(const packet::Packet& p, const char* field, size_t row) {
  const int i = p.fieldIndex(field);
  if (i < 0 || row >= p.rowCount()) {
    ADD_FAILURE() << "campo ou linha ausente: " << field << " " << row;
    return 0;
  }
  return p.columns[size_t(i)].number(row);
}

bool cellIsNull(const packet::Packet& p, const char* field, size_t row) {
  const int i = p.fieldIndex(field);
  if (i < 0 || row >= p.rowCount()) {
    ADD_FAILURE() << "campo ou linha ausente: " << field << " " << row;
    return false;
  }
  return p.columns[size_t(i)].isNull(row);
}

std::vector<std::string> columnTexts(const packet::Packet& p, const char* field) {
  std::vector<std::string> out;
  for (size_t r = 0; r < p.rowCount(); ++r) out.push_back(cellText(p, field, r));
  return out;
}

}  // namespace qfx::test
