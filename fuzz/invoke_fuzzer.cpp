// The server's side of a call: the bytes are an InvokeRequest, dispatched the
// way the gRPC service does it (object and method by name, argument count and
// kinds, dates, the operator's branch) and, when admitted, run by its method
// against an in-memory SQLite database built by the server's own migrations
// and demo data, reset whenever a call changed it. A request must end in an
// error value with a message or in a reply whose packets the client's
// assembler accepts; a healthy database never explains an internal error.
#include <google/protobuf/stubs/logging.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QSqlDriver>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/log.h"
#include "db/database.h"
#include "db/migrations.h"
#include "demo/demo_generator.h"
#include "methods/dispatcher.h"
#include "rpc/service.h"

using namespace qfx;
using namespace qfx::server;

namespace {

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "invoke_fuzzer: %s\n", what.c_str());
  std::abort();
}

sqlite3* rawHandle(QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  sqlite3* raw = *static_cast<sqlite3* const*>(handle.constData());
  if (!raw) fail("conexão SQLite sem handle");
  return raw;
}

std::unique_ptr<Database> openMemoryDatabase() {
  auto config = DbConfig::parse("sqlite::memory:");
  if (!config) fail(config.error().message);
  auto db = std::make_unique<Database>(*config);
  if (auto migrated = migrations::migrate(*db); !migrated) fail("migrações: " + migrated.error().message);
  return db;
}

// The demo data stays untouched in `pristine`; `work` serves the calls and is
// copied back from it after any call that wrote (a posting run).
class Backend {
 public:
  Backend() : pristine_(openMemoryDatabase()), work_(openMemoryDatabase()), dispatcher_(makeConsolidationObject()) {
    demo::Options options;
    options.items = 120;
    options.today = QDate(2024, 3, 15);  // the seeds' dates fall in the month up to it
    if (auto made = demo::generate(*pristine_, options); !made) fail("dados de demonstração: " + made.error().message);
    auto source = pristine_->connection();
    auto target = work_->connection();
    if (!source || !target) fail("conexão ao banco em memória");
    pristineRaw_ = rawHandle(*source);
    workRaw_ = rawHandle(*target);
    restore();
    bound_ = {demo::kBranchOperator, "Operador da loja", demo::kBranchOperatorBranch, 4102444800};
    unbound_ = {demo::kDemoOperator, "Demonstração", "", 4102444800};
  }

  // As the bound operator first, so the branch check is exercised; a branch
  // it may not use is tried again by the operator who may use any.
  Result<Reply> invoke(const rpc::InvokeRequest& request) {
    auto reply = invokeAs(bound_, request);
    if (!reply && reply.error().kind == ErrorKind::PermissionDenied) reply = invokeAs(unbound_, request);
    if (sqlite3_total_changes(workRaw_) != changesAfterRestore_) restore();
    return reply;
  }

 private:
  Result<Reply> invokeAs(const Session& session, const rpc::InvokeRequest& request) {
    auto db = work_->connection();
    if (!db) fail("conexão ao banco em memória: " + db.error().message);
    CallContext call{*work_, *db, session};
    return dispatcher_.invoke(call, request);
  }

  void restore() {
    sqlite3_backup* copy = sqlite3_backup_init(workRaw_, "main", pristineRaw_, "main");
    if (!copy) fail(std::string("cópia do banco: ") + sqlite3_errmsg(workRaw_));
    const int stepped = sqlite3_backup_step(copy, -1);
    sqlite3_backup_finish(copy);
    if (stepped != SQLITE_DONE) fail(std::string("cópia do banco: ") + sqlite3_errstr(stepped));
    changesAfterRestore_ = sqlite3_total_changes(workRaw_);
  }

  std::unique_ptr<Database> pristine_, work_;
  sqlite3* pristineRaw_ = nullptr;
  sqlite3* workRaw_ = nullptr;
  int changesAfterRestore_ = 0;
  Dispatcher dispatcher_;
  Session bound_, unbound_;
};

Backend* backend = nullptr;

void collectHeaders(const rpc::Value& v, std::vector<const rpc::PacketHeader*>& headers) {
  if (v.has_packet()) headers.push_back(&v.packet());
  if (v.has_list())
    for (const auto& item : v.list().items()) collectHeaders(item, headers);
}

// What the client does with the streamed reply: every announced packet must
// be assembled from the chunks the service would send, with all its rows.
void checkReply(const Reply& reply) {
  std::vector<const rpc::PacketHeader*> headers;
  collectHeaders(reply.result, headers);
  if (headers.size() != reply.packets.size()) fail("pacotes anunciados e enviados em número diferente");
  packet::PacketAssembler assembler;
  for (const auto* header : headers)
    if (auto e = assembler.begin(*header)) fail("cabeçalho recusado pelo cliente: " + *e);
  for (const auto& [id, p] : reply.packets) {
    packet::encodeChunks(p, id, kChunkBytes, [&](rpc::PacketChunk&& chunk) {
      if (auto e = assembler.add(chunk)) fail("bloco recusado pelo cliente: " + *e);
    });
  }
  if (auto e = assembler.finish()) fail("resposta incompleta para o cliente: " + *e);
  for (const auto& [id, p] : reply.packets)
    if (assembler.take(id).rowCount() != p.rowCount()) fail("pacote chegou com outro número de linhas");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  google::protobuf::SetLogHandler(nullptr);
  log::setLevel(log::Level::Off);
  // Qt SQL finds its drivers through the application object
  static int argc = 1;
  static char name[] = "invoke_fuzzer";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
  backend = new Backend();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  rpc::InvokeRequest request;
  // bytes that are no request never reach the service: gRPC refuses them
  if (!request.ParseFromArray(data, int(size))) return 0;
  auto reply = backend->invoke(request);
  if (!reply) {
    const Error& e = reply.error();
    if (e.message.empty()) fail("erro sem mensagem em " + request.method());
    if (e.kind == ErrorKind::Internal || e.kind == ErrorKind::Unavailable)
      fail("erro interno num banco saudável em " + request.method() + ": " + e.message);
    return 0;
  }
  checkReply(*reply);
  return 0;
}
