// posting_bench: how fast a SemGeraNF consolidation posts pending sale items,
// against the floor the same database sets for writing that many rows.
//
// For each size (default 10 000 and 100 000 pending items) and each database
// (SQLite always; PostgreSQL with --pg URL or $QFX_TEST_PG_URL):
//   1. a template database is filled by the demo generator and shaped so that
//      branch 0001, store 01, over the 30 generated days holds exactly that
//      many pending items of stock-controlled products, and nothing stops the
//      run (see shape());
//   2. on a fresh copy, an application server is started in this process on
//      loopback (port 0) and a gRPC client logged in as the demo operator
//      calls SemGeraNF for the whole selection: the time is that of the call
//      as the client sees it (request sent until the last reply message);
//      afterwards the stamped items are counted to check the run posted all;
//   3. on another fresh copy, one transaction runs one bare UPDATE ITVENDA
//      stamping the same rows (CDFILIALEST, NRLANCESTQ, CDFILIALNF,
//      NRLANCTONF), with the connection settings the server uses;
//   4. on a third fresh copy, "the same writes done bare": in one transaction,
//      with the database's C library (sqlite3 / libpq) and prepared
//      statements, the reads and writes the run itself must make: the
//      selection read once by the server's own SELECT, every cell of it
//      (the run's filters, checks and postings need them), both number series moved, per day a stock
//      posting, its product lines and its fiscal-note entry (on PostgreSQL,
//      as the run, each of the three for every day in one insert of arrays),
//      the day's items stamped as the run stamps them
//      (one update of the whole run by the rows' addresses read: ROWID on
//      SQLite, ctid on PostgreSQL) and the balances moved per product (on
//      PostgreSQL in one insert of arrays).
//      What the run takes beyond this is ours; up to it, the database's.
//   5. on the run's copy, once it has posted, every stock posting of the run
//      is reversed with EstornaGeraNF, one call after the other from the same
//      kind of client: the time is that of all the calls, set against the
//      run's own; afterwards no item of the selection may be left stamped.
//
// Usage: posting_bench [--pg URL] [--sizes 10000,100000] [--no-sqlite] [--keep-data] [--figures FILE]
//   --keep-data  the templates outlive the run and a later run of the same
//                day reuses them (every run and bare figure works on a copy)
//   --figures    appends "database posting<items> ours same-writes" lines,
//                "database postingupdate<items> ours update" ones and
//                "database reversal<items> reversal posting" ones, to FILE
//                (scripts/bench.sh --check reads them)
#include <grpcpp/grpcpp.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "common/log.h"
#include "common/wire_date.h"
#include "db/database.h"
#include "db/migrations.h"
#include "db/postgres_rows.h"
#include "db/sql.h"
#include "demo/demo_generator.h"
#include "domain/posting_engine.h"
#include "domain/selection.h"
#include "rpc/server.h"
#include <proto/contract_methods.h>
#include <proto/qfx31700.grpc.pb.h>

using namespace qfx::server;
using namespace qfxbench;
namespace rpc = qfx::rpc;
namespace contract = qfx::contract;

namespace {

constexpr int kDays = 30;  // the demo generator's sales cover the 30 days up to today

// The run's period: every generated day.
QDate firstDay() { return QDate::currentDate().addDays(-(kDays - 1)); }
QDate lastDay() { return QDate::currentDate(); }

// ---------------------------------------------------------------- the data

// The rows the run must post: pending items of stock-controlled products of
// branch 0001, store 01, in the period.
const char* const kSelection =
    "ITVENDA.CDFILIAL = '0001' AND ITVENDA.NRLANCESTQ IS NULL AND ITVENDA.CDFILIALEST IS NULL "
    "AND EXISTS (SELECT 1 FROM VENDA V WHERE V.CDFILIAL = ITVENDA.CDFILIAL AND V.NRSEQVENDA = ITVENDA.NRSEQVENDA "
    "AND V.CDLOJA = '01' AND V.DTVENDA >= ? AND V.DTVENDA <= ?) "
    "AND EXISTS (SELECT 1 FROM PRODUTO P WHERE P.CDPRODUTO = ITVENDA.CDPRODUTO AND P.IDCTRLESTQ = 'S')";

QVariantList periodValues() { return {wiredate::dayText(firstDay()), wiredate::dayText(lastDay())}; }

// The demo data is made to show every refusal and warning on some branch.
// For branch 0001 (stock control, negative stock converted, 31-day window,
// stock closed 45 days ago) only one thing keeps items of the period from
// being posted: the inventory adjustment 12 days ago makes that day's last
// posting an adjustment (ULT_LANC_DIA). It is moved back to the day of the
// implantation, 60 days ago, out of the period. Then the surplus of
// selected items is deleted, evenly spread over the selection, so exactly
// `items` remain. Returns false when the generated data had too few.
bool shape(Database& database, int64_t items, int64_t* found) {
  QSqlDatabase db = must(database.connection(), "conexão");
  auto tx = must(sql::Transaction::begin(db, database.dialect()), "transação");
  exec(db, QStringLiteral("UPDATE LANCESTQ SET DTLANCESTQ = ? WHERE IDTIPOLANC = 'A'"),
       {wiredate::dayText(QDate::currentDate().addDays(-60))});
  std::vector<std::pair<QString, QString>> keys;
  {
    QSqlQuery q = exec(db,
                       QStringLiteral("SELECT NRSEQVENDA, NRSEQUITVEND FROM ITVENDA WHERE %1 "
                                      "ORDER BY NRSEQVENDA, NRSEQUITVEND")
                           .arg(QLatin1String(kSelection)),
                       periodValues());
    while (q.next()) keys.emplace_back(q.value(0).toString(), q.value(1).toString());
  }
  *found = int64_t(keys.size());
  if (*found < items) return false;
  const int64_t surplus = *found - items;
  if (surplus > 0) {
    QSqlQuery del(db);
    if (!del.prepare(
            QStringLiteral("DELETE FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA = ? AND NRSEQUITVEND = ?")))
      die("DELETE: " + del.lastError().text().toStdString());
    // the k-th of `surplus` evenly spaced positions
    for (int64_t k = 0; k < surplus; ++k) {
      const auto& key = keys[size_t(k * *found / surplus)];
      del.bindValue(0, key.first);
      del.bindValue(1, key.second);
      if (!del.exec()) die("DELETE: " + del.lastError().text().toStdString());
    }
  }
  must(tx.commit(), "commit");
  QSqlQuery check =
      exec(db, QStringLiteral("SELECT COUNT(*) FROM ITVENDA WHERE %1").arg(QLatin1String(kSelection)), periodValues());
  if (!check.next() || check.value(0).toLongLong() != items) die("a seleção não ficou com o número pedido de itens");
  check.finish();
  if (database.dialect() == Dialect::PostgreSQL) {
    QSqlQuery analyze(db);  // as after any bulk load; not a statement PostgreSQL prepares
    if (!analyze.exec(QStringLiteral("ANALYZE"))) die("ANALYZE: " + analyze.lastError().text().toStdString());
  } else {
    exec(db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
  }
  return true;
}

struct Template {
  std::string tag;
  int64_t generatedItems = 0;  // all branches
  double seconds = 0;
};

// Sale items the generator must make for `items` selected ones; learnt from
// each generation (about 55 % of them are branch 0001, three quarters of
// those store 01, most products control stock).
double itemsPerSelected = 2.6;

Template makeTemplate(Store& store, int64_t items, bool kept) {
  Template t;
  // the generator dates its sales from today: a kept template serves its day only
  t.tag = "tmpl_" + std::to_string(items) +
          (kept ? QDate::currentDate().toString(QStringLiteral("_yyyyMMdd")).toStdString() : "");
  QElapsedTimer timer;
  timer.start();
  if (kept && store.exists(t.tag)) {
    auto database = openDatabase(store.url(t.tag));
    must(migrations::migrate(*database), "migração");  // a kept template made before a new migration
    QSqlDatabase db = must(database->connection(), "conexão");
    QSqlQuery q = exec(db, QStringLiteral("SELECT COUNT(*) FROM ITVENDA"));
    t.generatedItems = q.next() ? q.value(0).toLongLong() : 0;
    t.seconds = timer.elapsed() / 1000.0;
    return t;
  }
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string url = store.create(t.tag);
    int64_t found = 0;
    {
      auto database = openDatabase(url);
      must(migrations::migrate(*database), "migração");
      demo::Options options;
      options.items = int64_t(double(items) * itemsPerSelected * 1.03) + 200;
      options.seed = 1;
      options.today = QDate::currentDate();
      const demo::Summary summary = must(demo::generate(*database, options), "dados de demonstração");
      t.generatedItems = summary.items;
      const bool enough = shape(*database, items, &found);
      if (found > 0) itemsPerSelected = double(options.items) / double(found);
      if (enough) {
        t.seconds = timer.elapsed() / 1000.0;
        return t;  // the Database closes its connection here
      }
    }
    store.drop(t.tag);
  }
  die("o gerador não produziu itens suficientes");
}

// ---------------------------------------------------------------- the client

rpc::Argument text(const std::string& value, bool byReference = false) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::TEXT);
  a.set_by_reference(byReference);
  a.set_text(value);
  return a;
}

rpc::Argument day(const QDate& d) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::DATE);
  a.set_by_reference(true);
  a.set_date(double(QDate(1899, 12, 30).daysTo(d)));
  return a;
}

rpc::Argument boolean(bool value) {
  rpc::Argument a;
  a.set_kind(rpc::Argument::BOOLEAN);
  a.set_boolean(value);
  return a;
}

// SemGeraNF's 24 arguments: branch 0001, store 01, the whole period, no list
// restriction, withdrawal type 01, sector 0001, the demo operator, stock
// check on (as the screen's first call).
std::vector<rpc::Argument> consolidationArguments() {
  using A = contract::SemGeraNF;
  return contract::ArgumentList<A, rpc::Argument>{{A::FiliProc, text("0001")},
                                                  {A::Filial, text("0001")},
                                                  {A::Loja, text("01")},
                                                  {A::TodasVendas, text("S", true)},
                                                  {A::StVendas, text("", true)},
                                                  {A::DtInicial, day(firstDay())},
                                                  {A::DtFinal, day(lastDay())},
                                                  {A::StCaixa, text("", true)},
                                                  {A::BoTodosCaixa, boolean(true)},
                                                  {A::StCliente, text("", true)},
                                                  {A::BoTodosCliente, boolean(true)},
                                                  {A::BoIntervaloCli, boolean(false)},
                                                  {A::StCliDe, text("", true)},
                                                  {A::StCliAte, text("", true)},
                                                  {A::StTipoCons, text("", true)},
                                                  {A::BoTodosTipoCons, boolean(true)},
                                                  {A::TipoReti, text("01")},
                                                  {A::Setor, text("0001")},
                                                  {A::Operador, text(demo::kDemoOperator)},
                                                  {A::StCentroCusto, text("", true)},
                                                  {A::BoTodosCentroCusto, boolean(true)},
                                                  {A::StProdutos, text("", true)},
                                                  {A::BoTodosProdutos, boolean(true)},
                                                  {A::VerificaEstoque, boolean(true)}}
      .values();
}

struct RunResult {
  double seconds = 0;
  int64_t lastPosting = 0;
  int64_t warnings = 0;  // LIB00200_3 rows: products left negative, posted anyway
  std::string messageKey;
  int64_t stamped = 0;  // items stamped afterwards, counted in the database
};

int64_t stampedItems(QSqlDatabase& db) {
  QSqlQuery q = exec(db, QStringLiteral("SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = '0001' AND NRLANCESTQ IS NOT "
                                        "NULL AND CDFILIALEST IS NOT NULL"));
  return q.next() ? q.value(0).toLongLong() : -1;
}

// The demo operator's session on the server behind `stub`.
std::string demoLogin(rpc::ApplicationServer::Stub& stub) {
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
  rpc::LoginRequest request;
  request.set_operator_code(demo::kDemoOperator);
  request.set_password(demo::kDemoPassword);
  rpc::LoginReply reply;
  const grpc::Status status = stub.Login(&context, request, &reply);
  if (!status.ok()) die("login: " + status.error_message());
  return reply.token();
}

RunResult consolidate(const std::string& url) {
  auto database = openDatabase(url);
  ServerOptions options;
  options.listen = "127.0.0.1:0";
  auto server = must(AppServer::start(*database, makeConsolidationObject(), options), "servidor");

  auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(server->port()), grpc::InsecureChannelCredentials());
  auto stub = rpc::ApplicationServer::NewStub(channel);
  const std::string token = demoLogin(*stub);

  rpc::InvokeRequest request;
  request.set_object("Qfx31700.rdmGeraNF");
  request.set_method("SemGeraNF");
  for (const auto& a : consolidationArguments()) *request.add_arguments() = a;

  RunResult out;
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::hours(1));
  context.AddMetadata("x-qfx-session", token);
  QElapsedTimer timer;
  timer.start();
  auto reader = stub->Invoke(&context, request);
  rpc::InvokeReply message;
  bool first = true;
  uint32_t warningsPacket = 0, blockedPacket = 0;
  while (reader->Read(&message)) {
    if (first) {
      first = false;
      const auto& list = message.result().list();
      if (list.items_size() != 5) die("resposta de SemGeraNF sem os 5 elementos");
      warningsPacket = list.items(0).packet().id();
      blockedPacket = list.items(2).packet().id();
      out.lastPosting = list.items(1).integer();
      out.messageKey = list.items(3).text();
    }
    // a packet's row count comes with its last chunk
    for (const auto& chunk : message.chunks()) {
      if (!chunk.last()) continue;
      if (chunk.packet() == warningsPacket) out.warnings = int64_t(chunk.row_count());
      if (chunk.packet() == blockedPacket && chunk.row_count() > 0) die("SemGeraNF respondeu produtos bloqueados");
    }
  }
  const grpc::Status status = reader->Finish();
  out.seconds = double(timer.nsecsElapsed()) / 1e9;
  if (!status.ok()) die("SemGeraNF: " + status.error_message());

  server->shutdown(std::chrono::milliseconds(2000));
  server.reset();
  QSqlDatabase db = must(database->connection(), "conexão");
  out.stamped = stampedItems(db);
  return out;
}

// The stock postings of branch 0001's sales numbered after `after`: those of
// the run.
std::vector<std::pair<std::string, std::string>> postingsAfter(QSqlDatabase& db, int64_t after) {
  std::vector<std::pair<std::string, std::string>> postings;
  QSqlQuery q = exec(db,
                     QStringLiteral("SELECT CDFILIAL, NRLANCESTQ FROM LANCESTQ WHERE CDFILIALVENDA = '0001' AND "
                                    "IDTIPOLANC = 'V' AND CAST(NRLANCESTQ AS BIGINT) > ? ORDER BY NRLANCESTQ"),
                     {qint64(after)});
  while (q.next()) postings.emplace_back(q.value(0).toString().toStdString(), q.value(1).toString().toStdString());
  return postings;
}

int64_t highestPosting(const std::string& url) {
  auto database = openDatabase(url);
  QSqlDatabase db = must(database->connection(), "conexão");
  QSqlQuery q = exec(db, QStringLiteral("SELECT MAX(CAST(NRLANCESTQ AS BIGINT)) FROM LANCESTQ"));
  return q.next() ? q.value(0).toLongLong() : 0;
}

struct ReversalResult {
  double seconds = 0;
  int64_t postings = 0, items = 0;  // reversed, and the items they made pending
  int64_t stampedAfter = -1;
};

// Every posting of the run reversed, one EstornaGeraNF after the other.
ReversalResult reverseRun(const std::string& url, int64_t postedAfter) {
  auto database = openDatabase(url);
  std::vector<std::pair<std::string, std::string>> postings;
  {
    QSqlDatabase db = must(database->connection(), "conexão");
    postings = postingsAfter(db, postedAfter);
  }
  ServerOptions options;
  options.listen = "127.0.0.1:0";
  auto server = must(AppServer::start(*database, makeConsolidationObject(), options), "servidor");
  auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(server->port()), grpc::InsecureChannelCredentials());
  auto stub = rpc::ApplicationServer::NewStub(channel);
  const std::string token = demoLogin(*stub);

  using A = contract::EstornaGeraNF;
  ReversalResult out;
  QElapsedTimer timer;
  timer.start();
  for (const auto& [stockBranch, number] : postings) {
    rpc::InvokeRequest request;
    request.set_object("Qfx31700.rdmGeraNF");
    request.set_method("EstornaGeraNF");
    for (const auto& a : contract::ArgumentList<A, rpc::Argument>{{A::FiliProc, text("0001")},
                                                                  {A::Filial, text("0001")},
                                                                  {A::FilialEst, text(stockBranch)},
                                                                  {A::NrLancEstq, text(number)},
                                                                  {A::Motivo, text("medida de desempenho")},
                                                                  {A::Operador, text(demo::kDemoOperator)}}
                             .values())
      *request.add_arguments() = a;
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::hours(1));
    context.AddMetadata("x-qfx-session", token);
    auto reader = stub->Invoke(&context, request);
    rpc::InvokeReply message;
    bool first = true;
    while (reader->Read(&message)) {
      if (!first) continue;
      first = false;
      const auto& list = message.result().list();
      if (list.items_size() != 2) die("resposta de EstornaGeraNF sem os 2 elementos");
      out.items += list.items(1).integer();
    }
    const grpc::Status status = reader->Finish();
    if (!status.ok()) die("EstornaGeraNF " + number + ": " + status.error_message());
    ++out.postings;
  }
  out.seconds = double(timer.nsecsElapsed()) / 1e9;
  server->shutdown(std::chrono::milliseconds(2000));
  server.reset();
  QSqlDatabase db = must(database->connection(), "conexão");
  out.stampedAfter = stampedItems(db);
  return out;
}

// One transaction, one UPDATE stamping the same rows as the run.
double bareUpdate(const std::string& url, int64_t items) {
  auto database = openDatabase(url);
  QSqlDatabase db = must(database->connection(), "conexão");
  QElapsedTimer timer;
  timer.start();
  auto tx = must(sql::Transaction::begin(db, database->dialect()), "transação");
  QVariantList values{QStringLiteral("0001"), QStringLiteral("0000999999"), QStringLiteral("0001"),
                      QStringLiteral("0000999999")};
  values.append(periodValues());
  QSqlQuery q = exec(db,
                     QStringLiteral("UPDATE ITVENDA SET CDFILIALEST = ?, NRLANCESTQ = ?, CDFILIALNF = ?, "
                                    "NRLANCTONF = ? WHERE %1")
                         .arg(QLatin1String(kSelection)),
                     values);
  const int touched = q.numRowsAffected();
  q.finish();
  must(tx.commit(), "commit");
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  if (touched != items) die("a atualização direta tocou " + std::to_string(touched) + " linhas");
  return seconds;
}

// ---------------------------------------------------------------- the same writes, bare

// Statements with "$n" text parameters on either C library (SQLite takes
// "$n" as the n-th parameter when they appear in order).
class BareWriter {
 public:
  virtual ~BareWriter() = default;
  // Runs `sql`; returns the rows changed, and the rows read into `rows`.
  virtual int64_t run(const std::string& sql, const std::vector<std::string>& params,
                      std::vector<std::vector<std::string>>* rows = nullptr) = 0;
};

class BareSQLiteWriter : public BareWriter {
 public:
  explicit BareSQLiteWriter(const std::string& url) {
    const std::string path = url.substr(std::string("sqlite:").size());
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) die("sqlite3_open");
    // the server's settings
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"})
      run(pragma, {});
  }
  ~BareSQLiteWriter() override {
    for (auto& [text, stmt] : statements_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }
  int64_t run(const std::string& sql, const std::vector<std::string>& params,
              std::vector<std::vector<std::string>>* rows = nullptr) override {
    sqlite3_stmt*& stmt = statements_[sql];
    if (!stmt && sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) die(sqlite3_errmsg(db_));
    sqlite3_reset(stmt);
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(stmt, int(i + 1), params[i].data(), int(params[i].size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (!rows) continue;
      std::vector<std::string>& row = rows->emplace_back();
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        const auto* text = sqlite3_column_text(stmt, c);
        row.emplace_back(text ? reinterpret_cast<const char*>(text) : "", size_t(sqlite3_column_bytes(stmt, c)));
      }
    }
    if (rc != SQLITE_DONE) die(sql + ": " + sqlite3_errmsg(db_));
    const int64_t changed = sqlite3_changes(db_);
    sqlite3_reset(stmt);
    return changed;
  }

 private:
  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
};

class BarePostgresWriter : public BareWriter {
 public:
  explicit BarePostgresWriter(const std::string& url) : conn_(connectPostgres(url)) {
    run("SET SESSION CHARACTERISTICS AS TRANSACTION ISOLATION LEVEL READ COMMITTED", {});
  }
  ~BarePostgresWriter() override { PQfinish(conn_); }
  int64_t run(const std::string& sql, const std::vector<std::string>& params,
              std::vector<std::vector<std::string>>* rows = nullptr) override {
    std::string& name = statements_[sql];
    if (name.empty()) {
      name = "w" + std::to_string(statements_.size());
      PGresult* prepared = PQprepare(conn_, name.c_str(), sql.c_str(), 0, nullptr);
      if (PQresultStatus(prepared) != PGRES_COMMAND_OK) die(sql + ": " + PQerrorMessage(conn_));
      PQclear(prepared);
    }
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    PGresult* r = PQexecPrepared(conn_, name.c_str(), int(values.size()), values.data(), nullptr, nullptr, 0);
    const auto status = PQresultStatus(r);
    if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) die(sql + ": " + PQerrorMessage(conn_));
    for (int i = 0; rows && i < PQntuples(r); ++i) {
      std::vector<std::string>& row = rows->emplace_back();
      for (int c = 0; c < PQnfields(r); ++c) row.emplace_back(PQgetvalue(r, i, c), size_t(PQgetlength(r, i, c)));
    }
    const char* changed = PQcmdTuples(r);
    const int64_t n = changed && *changed ? std::atoll(changed) : 0;
    PQclear(r);
    return n;
  }

 private:
  PGconn* conn_ = nullptr;
  std::map<std::string, std::string> statements_;
};

std::string number10(int64_t n) { return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0')).toStdString(); }

// The run's writes without the server (see the header, step 4).
double bareWrites(const std::string& url, int64_t items) {
  const bool postgres = url.rfind("sqlite:", 0) != 0;
  std::unique_ptr<BareWriter> w;
  if (postgres)
    w = std::make_unique<BarePostgresWriter>(url);
  else
    w = std::make_unique<BareSQLiteWriter>(url);
  const std::string branch = "0001", store = "01", operatorCode = demo::kDemoOperator;
  const std::string first = wiredate::dayText(firstDay()).toStdString(),
                    last = wiredate::dayText(lastDay()).toStdString(),
                    now = wiredate::momentText(QDateTime::currentDateTime()).toStdString();
  QElapsedTimer timer;
  timer.start();
  w->run(postgres ? "BEGIN" : "BEGIN IMMEDIATE", {});
  std::vector<std::vector<std::string>> place;
  w->run("SELECT CDALMOXARIFE, CDLOCALESTOQ FROM LOJA WHERE CDFILIAL = $1 AND CDLOJA = $2", {branch, store}, &place);
  if (place.size() != 1) die("loja 01 da filial 0001 ausente");
  const std::string warehouse = place[0][0], location = place[0][1];

  // the selection as the run reads it (the server's own SELECT: the columns
  // its filters, checks and postings use, the product and its registration
  // for the branch, the row's address and whether it may be posted), every
  // cell read; kept of each postable row: key, stock product, quantity,
  // price, discount, day, situation, address
  std::vector<std::vector<std::string>> read, rows;
  {
    SaleFilter filter;
    filter.branch = QString::fromStdString(branch);
    filter.store = QString::fromStdString(store);
    filter.first = firstDay();
    filter.last = lastDay();
    w->run(sql::numberedPlaceholders(saleSelectionText(!postgres, filter, ItemDetail::Posting).toStdString()),
           {branch, store, first, last}, &read);
  }
  namespace column = saleColumn;
  for (auto& r : read) {
    if (r.at(column::postable) != "1") continue;
    rows.push_back({std::move(r[column::sale]), std::move(r[column::item]), std::move(r[column::stockProduct]),
                    std::move(r[column::quantity]), std::move(r[column::unitPrice]), std::move(r[column::discount]),
                    std::move(r[column::day]), std::move(r[column::situation]), std::move(r[column::rowAddress])});
  }
  if (int64_t(rows.size()) != items) die("a leitura direta achou " + std::to_string(rows.size()) + " itens");
  struct Day {
    std::map<std::string, double> out;  // by stock product
    double cents = 0;
    std::vector<size_t> items;
  };
  std::map<std::string, Day> days;
  std::map<std::string, double> balances;
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i];
    const double sign = r[7] == "D" ? -1 : 1, quantity = std::atof(r[3].c_str());
    Day& d = days[r[6].substr(0, 10)];
    d.out[r[2]] += sign * quantity;
    balances[r[2]] -= sign * quantity;
    d.cents += sign * (quantity * std::atof(r[4].c_str()) - std::atof(r[5].c_str())) * 100.0;
    d.items.push_back(i);
  }

  // both series moved past the numbers in use
  int64_t firstNumber[2] = {0, 0};
  const char* series[2][3] = {{"LANCESTQ", "LANCESTQ", "NRLANCESTQ"}, {"LANCTONF", "LANCTONF", "NRLANCTONF"}};
  for (int s = 0; s < 2; ++s) {
    std::vector<std::vector<std::string>> highest, counter;
    w->run(std::string("SELECT MAX(") + series[s][2] + ") FROM " + series[s][1] + " WHERE CDFILIAL = $1", {branch},
           &highest);
    const int64_t inUse = highest.empty() ? 0 : std::atoll(highest[0][0].c_str());
    const std::string count = std::to_string(days.size());
    w->run(
        "INSERT INTO NUMERADOR (CDFILIAL, NMNUMERADOR, NRULTIMO) VALUES ($1, $2, $3) ON CONFLICT (CDFILIAL, "
        "NMNUMERADOR) DO UPDATE SET NRULTIMO = CASE WHEN NUMERADOR.NRULTIMO < $4 THEN $5 ELSE NUMERADOR.NRULTIMO "
        "END + $6",
        {branch, series[s][0], std::to_string(inUse + int64_t(days.size())), std::to_string(inUse),
         std::to_string(inUse), count});
    w->run("SELECT NRULTIMO FROM NUMERADOR WHERE CDFILIAL = $1 AND NMNUMERADOR = $2", {branch, series[s][0]}, &counter);
    firstNumber[s] = std::atoll(counter.at(0).at(0).c_str()) - int64_t(days.size()) + 1;
  }

  int64_t offset = 0, stamped = 0;
  std::vector<std::pair<size_t, int64_t>> places;  // item, day's place from 1: stamped after the last day
  // PostgreSQL, as the run: the days' postings, lines and notes in three inserts of arrays
  std::string headerNumbers = "{", headerDays = "{", lineNumbers = "{", lineProducts = "{", lineQuantities = "{",
              noteNumbers = "{", noteStocks = "{", noteTotals = "{", noteCounts = "{";
  const auto append = [](std::string& array, const std::string& element) {
    array += (array.size() > 1 ? ",\"" : "\"") + element + "\"";
  };
  for (const auto& [day, d] : days) {
    const std::string stock = number10(firstNumber[0] + offset), note = number10(firstNumber[1] + offset);
    ++offset;
    const std::string total = QString::number(double(std::llround(d.cents)) / 100.0, 'g', 17).toStdString();
    for (size_t i : d.items) places.push_back({i, offset});
    if (postgres) {
      append(headerNumbers, stock);
      append(headerDays, day);
      for (const auto& [product, out] : d.out) {
        append(lineNumbers, stock);
        append(lineProducts, product);
        append(lineQuantities, QString::number(out, 'g', 17).toStdString());
      }
      append(noteNumbers, note);
      append(noteStocks, stock);
      append(noteTotals, total);
      append(noteCounts, std::to_string(d.items.size()));
      continue;
    }
    w->run(
        "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, CDTIPORETI, "
        "CDSETOR, CDOPERADOR, CDFILIALVENDA, CDLOJA, DTINCLUSAO) VALUES ($1, $2, $3, 'V', $4, $5, $6, $7, $8, $9, $10, "
        "$11)",
        {branch, stock, day, warehouse, location, "01", "0001", operatorCode, branch, store, now});
    for (const auto& [product, out] : d.out)
      w->run("INSERT INTO ITLANCESTQ (CDFILIAL, NRLANCESTQ, CDPRODUTO, QTLANCESTQ) VALUES ($1, $2, $3, $4)",
             {branch, stock, product, std::to_string(out)});
    w->run(
        "INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTLANCTONF, CDFILIALEST, NRLANCESTQ, CDOPERADOR, VRTOTLANCTONF, "
        "QTITENS, DTINCLUSAO) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9)",
        {branch, note, day, branch, stock, operatorCode, total, std::to_string(d.items.size()), now});
  }
  if (postgres) {
    w->run(
        "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, CDTIPORETI, "
        "CDSETOR, CDOPERADOR, CDFILIALVENDA, CDLOJA, DTINCLUSAO) SELECT $1, H.N, H.D, 'V', $2, $3, $4, $5, $6, $7, $8, "
        "CAST($9 AS TIMESTAMP) FROM UNNEST(CAST($10 AS VARCHAR[]), CAST($11 AS DATE[])) AS H (N, D)",
        {branch, warehouse, location, "01", "0001", operatorCode, branch, store, now, headerNumbers + "}",
         headerDays + "}"});
    w->run(
        "INSERT INTO ITLANCESTQ (CDFILIAL, NRLANCESTQ, CDPRODUTO, QTLANCESTQ) SELECT $1, L.N, L.P, L.Q FROM "
        "UNNEST(CAST($2 AS VARCHAR[]), CAST($3 AS VARCHAR[]), CAST($4 AS DOUBLE PRECISION[])) AS L (N, P, Q)",
        {branch, lineNumbers + "}", lineProducts + "}", lineQuantities + "}"});
    w->run(
        "INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTLANCTONF, CDFILIALEST, NRLANCESTQ, CDOPERADOR, VRTOTLANCTONF, "
        "QTITENS, DTINCLUSAO) SELECT $1, F.NF, F.D, $2, F.N, $3, F.V, F.Q, CAST($4 AS TIMESTAMP) FROM "
        "UNNEST(CAST($5 AS VARCHAR[]), CAST($6 AS DATE[]), CAST($7 AS VARCHAR[]), CAST($8 AS DOUBLE PRECISION[]), "
        "CAST($9 AS INTEGER[])) AS F (NF, D, N, V, Q)",
        {branch, branch, operatorCode, now, noteNumbers + "}", headerDays + "}", noteStocks + "}", noteTotals + "}",
         noteCounts + "}"});
  }
  // as the run: every item at once, by its row's address, with its day's place
  if (postgres) {
    std::string stocks = "{", notes = "{", addresses = "{", sales = "{", itemNumbers = "{", dayPlaces = "{";
    for (int64_t k = 0; k < offset; ++k) {
      stocks += (k ? "," : "") + number10(firstNumber[0] + k);
      notes += (k ? "," : "") + number10(firstNumber[1] + k);
    }
    for (const auto& [i, place] : places) {
      const char* comma = addresses.size() > 1 ? "," : "";
      addresses += comma + ("\"" + rows[i][8] + "\"");
      sales += comma + rows[i][0];
      itemNumbers += comma + rows[i][1];
      dayPlaces += comma + std::to_string(place);
    }
    stamped += w->run(sql::numberedPlaceholders(posting::postgresStampText()),
                      {branch, stocks + "}", branch, notes + "}", addresses + "}", sales + "}", itemNumbers + "}",
                       dayPlaces + "}", branch});
  } else {
    std::vector<std::pair<int64_t, int64_t>> pairs;
    for (const auto& [i, place] : places) pairs.emplace_back(std::atoll(rows[i][8].c_str()), place - 1);
    std::sort(pairs.begin(), pairs.end());
    std::string list = "[";
    for (const auto& [rowId, place] : pairs)
      list += (list.size() > 1 ? ",[" : "[") + std::to_string(rowId) + "," + std::to_string(place) + "]";
    stamped += w->run(posting::sqliteStampText(), {list + "]", branch, std::to_string(firstNumber[0]), branch,
                                                   std::to_string(firstNumber[1]), branch});
  }
  if (postgres) {  // as the run: every balance in one insert of arrays
    std::string products = "{", deltas = "{";
    for (const auto& [product, delta] : balances) {
      append(products, product);
      append(deltas, QString::number(delta, 'g', 17).toStdString());
    }
    w->run(
        "INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ) SELECT $1, $2, $3, B.P, "
        "B.Q FROM UNNEST(CAST($4 AS VARCHAR[]), CAST($5 AS DOUBLE PRECISION[])) AS B (P, Q) ON CONFLICT (CDFILIAL, "
        "CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO) DO UPDATE SET QTSALDOESTQ = SALDOESTQ.QTSALDOESTQ + "
        "EXCLUDED.QTSALDOESTQ",
        {branch, warehouse, location, products + "}", deltas + "}"});
  } else {
    for (const auto& [product, delta] : balances)
      w->run(
          "INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ) VALUES ($1, $2, $3, "
          "$4, $5) ON CONFLICT (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO) DO UPDATE SET QTSALDOESTQ = "
          "SALDOESTQ.QTSALDOESTQ + EXCLUDED.QTSALDOESTQ",
          {branch, warehouse, location, product, std::to_string(delta)});
  }
  w->run("COMMIT", {});
  const double seconds = double(timer.nsecsElapsed()) / 1e9;
  if (stamped != items) die("as gravações diretas marcaram " + std::to_string(stamped) + " itens");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  log::setLevel(log::Level::Warn);

  std::string pg;
  if (const char* env = std::getenv("QFX_TEST_PG_URL")) pg = env;
  std::vector<int64_t> sizes{10000, 100000};
  bool sqlite = true, kept = false;
  FILE* figures = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--pg" && i + 1 < argc) {
      pg = argv[++i];
    } else if (a == "--sizes" && i + 1 < argc) {
      sizes.clear();
      for (const QString& s : QString::fromLocal8Bit(argv[++i]).split(',')) {
        bool ok = false;
        const qint64 n = s.toLongLong(&ok);
        if (!ok || n < 1) die("--sizes: números positivos separados por vírgula");
        sizes.push_back(n);
      }
    } else if (a == "--no-sqlite") {
      sqlite = false;
    } else if (a == "--keep-data") {
      kept = true;
    } else if (a == "--figures" && i + 1 < argc) {
      figures = std::fopen(argv[++i], "a");
      if (!figures) die(std::string("--figures: não foi possível abrir ") + argv[i]);
    } else {
      std::fprintf(stderr,
                   "uso: posting_bench [--pg URL] [--sizes 10000,100000] [--no-sqlite] [--keep-data] [--figures FILE]\n"
                   "  --pg URL   também em PostgreSQL (padrão: $QFX_TEST_PG_URL); o usuário cria bancos\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }

  std::vector<std::unique_ptr<Store>> stores;
  if (sqlite) stores.push_back(std::make_unique<SQLiteStore>(kept));
  if (!pg.empty()) stores.push_back(std::make_unique<PostgresStore>(pg, kept));

  std::printf("posting_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  std::printf(
      "SemGeraNF: in-process server on loopback, gRPC client call timed; bare: one UPDATE ITVENDA of the same "
      "rows in one transaction, on a fresh copy; same writes: the run's own reads and writes done bare with the "
      "C library (stock postings, lines, notes, item stamps, balances, series)\n\n");
  std::printf("%-10s %8s %9s %12s %12s %10s %8s %13s %8s  %s\n", "database", "items", "generated", "SemGeraNF s",
              "items/s", "bare s", "ratio", "same writes s", "ratio", "reply");
  struct ReversalLine {
    std::string database;
    int64_t items;
    ReversalResult reversal;
    double posting;
  };
  std::vector<ReversalLine> reversals;
  for (auto& store : stores) {
    for (int64_t items : sizes) {
      const Template t = makeTemplate(*store, items, kept);
      const std::string runTag = "run_" + std::to_string(items), bareTag = "bare_" + std::to_string(items);
      const std::string runUrl = store->copy(t.tag, runTag);
      const int64_t before = highestPosting(runUrl);
      const RunResult run = consolidate(runUrl);
      if (run.stamped != items)
        die("SemGeraNF lançou " + std::to_string(run.stamped) + " de " + std::to_string(items) + " itens");
      if (run.lastPosting <= 0) die("SemGeraNF não lançou nada");
      const ReversalResult reversal = reverseRun(runUrl, before);
      store->drop(runTag);
      if (reversal.items != items || reversal.stampedAfter != 0)
        die("EstornaGeraNF devolveu " + std::to_string(reversal.items) + " de " + std::to_string(items) +
            " itens; restaram " + std::to_string(reversal.stampedAfter) + " lançados");
      reversals.push_back({store->name(), items, reversal, run.seconds});
      const double bare = bareUpdate(store->copy(t.tag, bareTag), items);
      store->drop(bareTag);
      const std::string writesTag = "writes_" + std::to_string(items);
      const double writes = bareWrites(store->copy(t.tag, writesTag), items);
      store->drop(writesTag);
      if (!kept) store->drop(t.tag);
      if (figures) {
        // the target's baseline is the same reads and writes done bare; the
        // bare UPDATE, which only stamps, is printed beside it for reference
        std::fprintf(figures, "%s posting%lld %.6f %.6f\n", store->name().c_str(), (long long)items, run.seconds,
                     writes);
        std::fprintf(figures, "%s postingupdate%lld %.6f %.6f\n", store->name().c_str(), (long long)items, run.seconds,
                     bare);
        std::fprintf(figures, "%s reversal%lld %.6f %.6f\n", store->name().c_str(), (long long)items, reversal.seconds,
                     run.seconds);
        std::fflush(figures);
      }
      std::printf("%-10s %8s %9s %12.3f %12.0f %10.3f %8.1f %13.3f %8.1f  last=%lld warnings=%lld%s%s\n",
                  store->name().c_str(), thousands(items).c_str(), thousands(t.generatedItems).c_str(), run.seconds,
                  double(items) / run.seconds, bare, run.seconds / bare, writes, run.seconds / writes,
                  (long long)run.lastPosting, (long long)run.warnings,
                  run.messageKey.empty() ? "" : " key=", run.messageKey.c_str());
      std::fflush(stdout);
    }
  }
  std::printf("\nEstornaGeraNF: every stock posting of the run reversed, one call after the other\n");
  std::printf("%-10s %8s %9s %12s %12s %8s\n", "database", "items", "postings", "reversal s", "posting s", "ratio");
  for (const ReversalLine& r : reversals)
    std::printf("%-10s %8s %9lld %12.3f %12.3f %8.2f\n", r.database.c_str(), thousands(r.items).c_str(),
                (long long)r.reversal.postings, r.reversal.seconds, r.posting, r.reversal.seconds / r.posting);
  return 0;
}
