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
//      NRLANCTONF), with the connection settings the server uses.
//
// Usage: posting_bench [--pg URL] [--sizes 10000,100000] [--no-sqlite]
#include <grpcpp/grpcpp.h>
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
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "common/log.h"
#include "common/wire_date.h"
#include "db/database.h"
#include "db/migrations.h"
#include "db/sql.h"
#include "demo/demo_generator.h"
#include "qfx31700.grpc.pb.h"
#include "rpc/server.h"

using namespace qfx::server;
using namespace qfxbench;
namespace rpc = qfx::rpc;

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

Template makeTemplate(Store& store, int64_t items) {
  Template t;
  t.tag = "tmpl_" + std::to_string(items);
  QElapsedTimer timer;
  timer.start();
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
  return {text("0001"),
          text("0001"),
          text("01"),
          text("S", true),
          text("", true),
          day(firstDay()),
          day(lastDay()),
          text("", true),
          boolean(true),
          text("", true),
          boolean(true),
          boolean(false),
          text("", true),
          text("", true),
          text("", true),
          boolean(true),
          text("01"),
          text("0001"),
          text(demo::kDemoOperator),
          text("", true),
          boolean(true),
          text("", true),
          boolean(true),
          boolean(true)};
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

RunResult consolidate(const std::string& url) {
  auto database = openDatabase(url);
  ServerOptions options;
  options.listen = "127.0.0.1:0";
  auto server = must(AppServer::start(*database, options), "servidor");

  auto channel = grpc::CreateChannel("127.0.0.1:" + std::to_string(server->port()), grpc::InsecureChannelCredentials());
  auto stub = rpc::ApplicationServer::NewStub(channel);
  std::string token;
  {
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
    rpc::LoginRequest request;
    request.set_operator_code(demo::kDemoOperator);
    request.set_password(demo::kDemoPassword);
    rpc::LoginReply reply;
    const grpc::Status status = stub->Login(&context, request, &reply);
    if (!status.ok()) die("login: " + status.error_message());
    token = reply.token();
  }

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
  while (reader->Read(&message)) {
    if (!first) continue;
    first = false;
    const auto& list = message.result().list();
    if (list.items_size() != 5) die("resposta de SemGeraNF sem os 5 elementos");
    out.warnings = int64_t(list.items(0).packet().row_count());
    out.lastPosting = list.items(1).integer();
    out.messageKey = list.items(3).text();
    if (list.items(2).packet().row_count() > 0) die("SemGeraNF respondeu produtos bloqueados");
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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  log::setLevel(log::Level::Warn);

  std::string pg;
  if (const char* env = std::getenv("QFX_TEST_PG_URL")) pg = env;
  std::vector<int64_t> sizes{10000, 100000};
  bool sqlite = true;
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
    } else {
      std::fprintf(stderr,
                   "uso: posting_bench [--pg URL] [--sizes 10000,100000] [--no-sqlite]\n"
                   "  --pg URL   também em PostgreSQL (padrão: $QFX_TEST_PG_URL); o usuário cria bancos\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }

  std::vector<std::unique_ptr<Store>> stores;
  if (sqlite) stores.push_back(std::make_unique<SQLiteStore>());
  if (!pg.empty()) stores.push_back(std::make_unique<PostgresStore>(pg));

  std::printf("posting_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  std::printf(
      "SemGeraNF: in-process server on loopback, gRPC client call timed; bare: one UPDATE ITVENDA of the same "
      "rows in one transaction, on a fresh copy\n\n");
  std::printf("%-10s %8s %9s %12s %12s %10s %8s  %s\n", "database", "items", "generated", "SemGeraNF s", "items/s",
              "bare s", "ratio", "reply");
  for (auto& store : stores) {
    for (int64_t items : sizes) {
      const Template t = makeTemplate(*store, items);
      const std::string runTag = "run_" + std::to_string(items), bareTag = "bare_" + std::to_string(items);
      const RunResult run = consolidate(store->copy(t.tag, runTag));
      store->drop(runTag);
      if (run.stamped != items)
        die("SemGeraNF lançou " + std::to_string(run.stamped) + " de " + std::to_string(items) + " itens");
      if (run.lastPosting <= 0) die("SemGeraNF não lançou nada");
      const double bare = bareUpdate(store->copy(t.tag, bareTag), items);
      store->drop(bareTag);
      store->drop(t.tag);
      std::printf("%-10s %8s %9s %12.3f %12.0f %10.3f %8.1f  last=%lld warnings=%lld%s%s\n", store->name().c_str(),
                  thousands(items).c_str(), thousands(t.generatedItems).c_str(), run.seconds,
                  double(items) / run.seconds, bare, run.seconds / bare, (long long)run.lastPosting,
                  (long long)run.warnings, run.messageKey.empty() ? "" : " key=", run.messageKey.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
