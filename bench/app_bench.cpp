// app_bench: the client and the server end to end, each figure against the
// bare database doing the same work in the same run.
//
// For SQLite always, and PostgreSQL with --pg URL or $QFX_TEST_PG_URL:
//   list    the consolidation screen (real widgets, offscreen platform) lists
//           the items of branch 0001, store 01, over the 30 generated days:
//           GetPrincipal through the screen's own call, the reply loaded into
//           its dataset, the grid's model reset and the grid painted once;
//           bare: the server's own SELECT stepped through with the database's
//           C library (sqlite3 / libpq), every column of every row read.
//   z       the Z-reduction check of the run (the screen's Verifica_Valor):
//           GetVerifVenda, then GetSoma and GetReducaoZ per register-day,
//           and the CPU time this process spent on it;
//           bare: the same register-days summed and looked up with prepared
//           statements of the C library.
//   memory  a fresh child process opens the screen and lists the biggest
//           size; its resident memory grows by so much, against the natural
//           size of the values it received (text bytes, 8 per number).
//   load    --clients threads, each with its own channel and session, list
//           and consolidate disjoint selections (one day, one share of the
//           registers each) for --duration seconds: calls per second,
//           latencies, failures.
//   failover-load  the same load over two qfxserver processes on one
//           database (half the clients list A first, half B), while new
//           sales keep arriving in every client's selection; A is killed
//           (SIGKILL) halfway. Calls, the failures split into those in
//           flight on A at the kill and the rest, and, from the database,
//           items posted twice (a stock line holding more than the items
//           stamped with its posting) and balances that did not move by
//           exactly the posted lines.
//   scale   one store's day (branch 0001, store 01, three days ago, cut to
//           1 000 items over 40 registers) listed, Z-checked and posted
//           (then reversed) on a demo database of 100 000 items and on one
//           of 10 000 000 (--scale-sizes): the same demo with the rest of a
//           chain of 300 branches more, so the selection is the same in
//           both. The smaller database is the baseline; the bare list and Z
//           check of the same day on both show what the database's own work
//           does with the table's size.
//
// Each database is a demo database (seed 1) with 40 registers in store 01,
// trimmed so that the list holds exactly the asked number of items; its
// inventory adjustment is moved out of the period so consolidation runs.
// With --keep-data the databases outlive the run and a later run of the same
// day reuses them (PostgreSQL takes minutes to fill 100 000 items); no part
// changes them, the load clients consolidate on a copy.
#include <grpcpp/grpcpp.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTableView>
#include <QTest>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <latch>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "bench_support.h"
#include "common/log.h"
#include "common/wire_date.h"
#include "db/migrations.h"
#include "db/postgres_rows.h"
#include "db/sql.h"
#include "demo/demo_generator.h"
#include "domain/sale_lists.h"
#include "domain/selection.h"
#include "rpc/server.h"
#include "scriptedhostservices.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/netconnection.h>
#include <hostkit/core/query.h>
#include <hostkit/widgets/datasetmodel.h>
#include <proto/health.grpc.pb.h>
#include <qfx31700/consolidation/frmgeranf.h>
#include <qfx31700/module/package.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/remote/rdmgeranf.h>
#include <qfx31700/remote/replydatasets.h>

using namespace qfxbench;
namespace srv = qfx::server;
using hostkit::TDataSet;

namespace {

constexpr int kDays = 30;  // the demo's sales cover the 30 days up to today
constexpr int kRegisters = 40;

QDate today() { return QDate::currentDate(); }

struct Settings {
  std::string pg;
  bool sqlite = true;
  std::vector<int64_t> sizes{100000, 1000000};
  int zDays = 25;  // 40 registers x 25 days: 1 000 register-days
  int clients = 50;
  double duration = 60;
  int repeats = 3;
  bool keepData = false;
  std::vector<int64_t> scaleSizes{100000, 10000000};  // the first is the baseline
  int scaleRepeats = 7;
  int salesPerSecond = 50;  // new sales during the fail-over load
  std::set<std::string> parts{"list", "calls", "z", "memory", "load", "failover-load", "scale"};
  bool wants(const char* part) const { return parts.count(part) > 0; }
  // whether a part other than scale needs the list-sized databases
  bool wantsListData() const { return parts.size() > parts.count("scale"); }
};

double seconds(const QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e9; }

// CPU time of this process so far, every thread: the screen, the in-process
// server and, on SQLite, the database itself.
double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double percentile(std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  const size_t i = std::min(sorted.size() - 1, size_t(std::ceil(p * double(sorted.size()))) - 1);
  return sorted[i];
}

// With --figures FILE, each timed figure also goes there as one line
// "database key ours bare" (seconds, or milliseconds for a call), for
// scripts/bench.sh --check to hold against its targets.
FILE* figuresFile = nullptr;

void recordFigure(const std::string& database, const std::string& key, double value, double bare) {
  if (!figuresFile) return;
  std::fprintf(figuresFile, "%s %s %.6f %.6f\n", database.c_str(), key.c_str(), value, bare);
  std::fflush(figuresFile);
}

void printRow(const std::string& database, const std::string& what, double value, double bare, const char* unit,
              const std::string& note = {}) {
  std::printf("%-10s %-34s %10.3f %s %10.3f %s %7.2f  %s\n", database.c_str(), what.c_str(), value, unit, bare, unit,
              bare > 0 ? value / bare : 0.0, note.c_str());
  std::fflush(stdout);
}

// ---------------------------------------------------------------- the data

// All items of branch 0001, store 01, in the 30 days: what the list shows.
const char* const kListKeys =
    "SELECT I.NRSEQVENDA, I.NRSEQUITVEND FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = "
    "I.NRSEQVENDA WHERE V.CDFILIAL = '0001' AND V.CDLOJA = '01' AND V.DTVENDA >= ? AND V.DTVENDA <= ? "
    "ORDER BY I.NRSEQVENDA, I.NRSEQUITVEND";

QVariantList periodValues(int days) {
  return {srv::wiredate::dayText(today().addDays(-(days - 1))), srv::wiredate::dayText(today())};
}

// Leaves exactly `items` in the list (the surplus deleted, evenly spread)
// and moves the demo's inventory adjustment out of the period: it would
// leave its day unposted and the load clients refused. False: too few.
bool shape(Database& database, int64_t items, int64_t* found) {
  QSqlDatabase db = must(database.connection(), "conexão");
  auto tx = must(srv::sql::Transaction::begin(db, database.dialect()), "transação");
  exec(db, QStringLiteral("UPDATE LANCESTQ SET DTLANCESTQ = ? WHERE IDTIPOLANC = 'A'"),
       {srv::wiredate::dayText(today().addDays(-60))});
  std::vector<std::pair<QString, QString>> keys;
  {
    QSqlQuery q = exec(db, QString::fromLatin1(kListKeys), periodValues(kDays));
    while (q.next()) keys.emplace_back(q.value(0).toString(), q.value(1).toString());
  }
  *found = int64_t(keys.size());
  if (*found < items) return false;
  const int64_t surplus = *found - items;
  QSqlQuery del(db);
  if (!del.prepare(
          QStringLiteral("DELETE FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA = ? AND NRSEQUITVEND = ?")))
    die("DELETE");
  for (int64_t k = 0; k < surplus; ++k) {
    const auto& key = keys[size_t(k * *found / surplus)];
    del.bindValue(0, key.first);
    del.bindValue(1, key.second);
    if (!del.exec()) die("DELETE");
  }
  must(tx.commit(), "commit");
  return true;
}

struct Prepared {
  std::string tag;
  int64_t items = 0;           // in the list
  int64_t postedItems = 0;     // of them, what a posting takes (scale only)
  std::string signature;       // the measured day's items, amounts and products (scale only)
  int64_t generatedItems = 0;  // all branches
  double seconds = 0;
};

// Generated items per listed item, learnt from each generation.
double itemsPerListed = 1.9;

int64_t itemCount(const std::string& url) {
  auto database = openDatabase(url);
  QSqlDatabase db = must(database->connection(), "conexão");
  QSqlQuery q = exec(db, QStringLiteral("SELECT COUNT(*) FROM ITVENDA"));
  return q.next() ? q.value(0).toLongLong() : 0;
}

Prepared prepare(Store& store, int64_t items, bool kept) {
  Prepared p;
  p.items = items;
  // the generator dates its sales from today: a kept database serves its day only
  p.tag = "app_" + std::to_string(items) + (kept ? today().toString(QStringLiteral("_yyyyMMdd")).toStdString() : "");
  QElapsedTimer timer;
  timer.start();
  if (kept && store.exists(p.tag)) {
    // a kept database made before a new migration
    must(srv::migrations::migrate(*openDatabase(store.url(p.tag))), "migração");
    p.generatedItems = itemCount(store.url(p.tag));
    p.seconds = seconds(timer);
    return p;
  }
  for (int attempt = 0; attempt < 4; ++attempt) {
    const std::string url = store.create(p.tag);
    {
      auto database = openDatabase(url);
      must(srv::migrations::migrate(*database), "migração");
      srv::demo::Options options;
      options.items = int64_t(double(items) * itemsPerListed * 1.02) + 500;
      options.seed = 1;
      options.today = today();
      options.registersPerStore = kRegisters;
      const auto summary = must(srv::demo::generate(*database, options), "dados de demonstração");
      p.generatedItems = summary.items;
      int64_t found = 0;
      const bool enough = shape(*database, items, &found);
      if (found > 0) itemsPerListed = double(options.items) / double(found);
      if (enough) {
        settle(*database);
        p.seconds = seconds(timer);
        return p;
      }
    }
    store.drop(p.tag);
  }
  die("o gerador não produziu itens suficientes");
}

// ---------------------------------------------------------------- the bare database

// The server's own selection for the list (all items, no list restriction),
// with "$n" parameters, which both C libraries take.
std::string listSelect(const std::string& url) {
  srv::SaleFilter filter;
  filter.pendingOnly = false;  // the branch, store and days are bound
  const bool sqlite = url.rfind("sqlite:", 0) == 0;
  return srv::sql::numberedPlaceholders(srv::saleSelectionText(sqlite, filter, srv::ItemDetail::Full).toStdString());
}

// The Z check's work: the register-days a run still has work on, then per
// register-day its net sales (a return taken back) and the Z reduction.
// SQLite keeps the sales the outer table, as the server asks it to.
std::string saleItemsJoin(bool sqlite) {
  return std::string("FROM VENDA V ") + (sqlite ? "CROSS JOIN" : "JOIN") +
         " ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA ";
}
std::string registerDaysSql(bool sqlite) {
  return "SELECT DISTINCT V.CDCAIXA, V.DTVENDA " + saleItemsJoin(sqlite) +
         "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE V.CDFILIAL = $1 AND V.CDLOJA = $2 AND "
         "V.DTVENDA >= $3 AND V.DTVENDA <= $4 AND I.NRLANCESTQ IS NULL AND I.CDFILIALEST IS NULL AND "
         "V.IDSITUVENDA <> 'C' AND COALESCE(P.IDCTRLESTQ, 'S') = 'S' ORDER BY V.CDCAIXA, V.DTVENDA";
}
std::string daySumSql(bool sqlite) {
  return "SELECT SUM(CASE V.IDSITUVENDA WHEN 'D' THEN -1 WHEN 'C' THEN 0 ELSE 1 END * (I.QTPRODVEND * I.VRUNITVEND - "
         "I.VRDESITVEND)) " +
         saleItemsJoin(sqlite) +
         "WHERE V.CDFILIAL = $1 AND V.CDLOJA = $2 AND V.DTVENDA = $3 AND V.CDCAIXA = $4 AND V.IDSITUVENDA IS NOT NULL "
         "AND "
         "I.QTPRODVEND IS NOT NULL";
}
const char* const kZReduction =
    "SELECT VRVENLIQREDZ, CDFILIAL, CDCAIXA, DTREDUCAOZ FROM REDUCAOZ WHERE CDFILIAL = $1 AND CDCAIXA = $2 AND "
    "DTREDUCAOZ = $3";

// SQLite takes "?NNN" for "$NNN" as well: the same texts serve both.
class Bare {
 public:
  virtual ~Bare() = default;
  // Runs `sql` with text parameters; reads every column of every row. Returns
  // rows; `keep` gets every row's cells as text (empty for null).
  virtual int64_t query(const char* sql, const std::vector<std::string>& params,
                        std::vector<std::vector<std::string>>* keep = nullptr) = 0;
  // The same read with each row taken as it arrives (libpq's single-row
  // mode, as the server reads its lists), every cell read; -1 where the
  // library has only the one way (SQLite steps its rows either way).
  virtual int64_t queryRowByRow(const char*, const std::vector<std::string>&) { return -1; }
};

class BareSQLite : public Bare {
 public:
  explicit BareSQLite(const std::string& url) {
    const std::string path = url.substr(std::string("sqlite:").size());
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) die("sqlite3_open");
  }
  ~BareSQLite() override {
    for (auto& [text, stmt] : statements_) sqlite3_finalize(stmt);
    sqlite3_close(db_);
  }
  int64_t query(const char* sql, const std::vector<std::string>& params,
                std::vector<std::vector<std::string>>* keep) override {
    sqlite3_stmt*& stmt = statements_[sql];
    if (!stmt && sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) die(sqlite3_errmsg(db_));
    sqlite3_reset(stmt);
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(stmt, int(i + 1), params[i].data(), int(params[i].size()), SQLITE_STATIC);
    int64_t rows = 0;
    const int columns = sqlite3_column_count(stmt);
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      ++rows;
      std::vector<std::string> row;
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(stmt, c)) {
          case SQLITE_INTEGER:
            sink_ += uint64_t(sqlite3_column_int64(stmt, c));
            if (keep) row.emplace_back(std::to_string(sqlite3_column_int64(stmt, c)));
            break;
          case SQLITE_FLOAT:
            sink_ += uint64_t(sqlite3_column_double(stmt, c));
            if (keep) row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)));
            break;
          case SQLITE_NULL:
            if (keep) row.emplace_back();
            break;
          default: {
            const auto* text = sqlite3_column_text(stmt, c);
            const int n = sqlite3_column_bytes(stmt, c);
            sink_ += uint64_t(n) + (n > 0 ? text[0] : 0);
            if (keep) row.emplace_back(reinterpret_cast<const char*>(text), size_t(n));
          }
        }
      }
      if (keep) keep->push_back(std::move(row));
    }
    if (rc != SQLITE_DONE) die(sqlite3_errmsg(db_));
    return rows;
  }

 private:
  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
  uint64_t sink_ = 0;
};

class BarePostgres : public Bare {
 public:
  explicit BarePostgres(const std::string& url) : conn_(connectPostgres(url)) {}
  ~BarePostgres() override { PQfinish(conn_); }
  int64_t query(const char* sql, const std::vector<std::string>& params,
                std::vector<std::vector<std::string>>* keep) override {
    std::string& name = statements_[sql];
    if (name.empty()) {
      name = "s" + std::to_string(statements_.size());
      PGresult* prepared = PQprepare(conn_, name.c_str(), sql, int(params.size()), nullptr);
      if (PQresultStatus(prepared) != PGRES_COMMAND_OK) die(std::string("PQprepare: ") + PQerrorMessage(conn_));
      PQclear(prepared);
    }
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    PGresult* r = PQexecPrepared(conn_, name.c_str(), int(values.size()), values.data(), nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) die(std::string("libpq: ") + PQerrorMessage(conn_));
    const int rows = PQntuples(r), columns = PQnfields(r);
    for (int i = 0; i < rows; ++i) {
      std::vector<std::string> row;
      for (int c = 0; c < columns; ++c) {
        if (PQgetisnull(r, i, c)) {
          if (keep) row.emplace_back();
          continue;
        }
        const char* text = PQgetvalue(r, i, c);
        const int n = PQgetlength(r, i, c);
        sink_ += uint64_t(n) + (n > 0 ? text[0] : 0);
        if (keep) row.emplace_back(text, size_t(n));
      }
      if (keep) keep->push_back(std::move(row));
    }
    PQclear(r);
    return rows;
  }
  int64_t queryRowByRow(const char* sql, const std::vector<std::string>& params) override {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    if (!PQsendQueryParams(conn_, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0) ||
        !PQsetSingleRowMode(conn_))
      die(std::string("libpq: ") + PQerrorMessage(conn_));
    int64_t rows = 0;
    while (PGresult* r = PQgetResult(conn_)) {
      const ExecStatusType status = PQresultStatus(r);
      if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK)
        die(std::string("libpq: ") + PQerrorMessage(conn_));
      for (int i = 0; i < PQntuples(r); ++i, ++rows)
        for (int c = 0; c < PQnfields(r); ++c)
          if (!PQgetisnull(r, i, c)) sink_ += uint64_t(PQgetlength(r, i, c)) + uint64_t(PQgetvalue(r, i, c)[0]);
      PQclear(r);
    }
    return rows;
  }

 private:
  PGconn* conn_ = nullptr;
  std::map<const char*, std::string> statements_;
  uint64_t sink_ = 0;
};

std::unique_ptr<Bare> bareFor(const std::string& url) {
  if (url.rfind("sqlite:", 0) == 0) return std::make_unique<BareSQLite>(url);
  return std::make_unique<BarePostgres>(url);
}

std::vector<std::string> storeParams(int days) {
  return {"0001", "01", srv::wiredate::dayText(today().addDays(-(days - 1))).toStdString(),
          srv::wiredate::dayText(today()).toStdString()};
}

// ---------------------------------------------------------------- server and screen

struct RunningServer {
  std::unique_ptr<Database> database;
  std::unique_ptr<srv::AppServer> server;
};

RunningServer startServer(const std::string& url) {
  RunningServer r;
  r.database = openDatabase(url);
  srv::ServerOptions options;
  options.listen = "127.0.0.1:0";
  r.server = must(srv::AppServer::start(*r.database, srv::makeConsolidationObject(), options), "servidor");
  return r;
}

// The screen opened as the operator opens it: logged in as the demo
// operator, the host's lookups on the same database, the first activation
// done (branch 0001 and store 01 in the entry panel).
class Screen {
 public:
  Screen(const std::string& url, int port) {
    host_ = hostkit::ScriptedHostServices::install();
    host_->server.host = QStringLiteral("127.0.0.1");
    host_->server.port = port;
    host_->filial = QStringLiteral("0001");
    host_->operadorValue = QString::fromLatin1(srv::demo::kDemoOperator);
    hostkit::TNetConnection login;
    login.Host = host_->server.host;
    login.Port = port;
    auto session = login.Login(host_->operadorValue, QString::fromLatin1(srv::demo::kDemoPassword));
    if (!session.ok()) die("login: " + session.error().toStdString());
    host_->token = session->token;
    if (const auto opened = hostkit::openHostDatabase({QString::fromStdString(url)}); !opened.ok())
      die(opened.error().toStdString());
    Initialize();
    qfx::CriaGeraNF();
    screen_ = qfx::frmGeraNF;
    if (!screen_) die("a tela não abriu");
    QWidget* window = screen_->frameWindow();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window)) die("a tela não ficou ativa");
    if (screen_->medFilial->text() != QLatin1String("0001") || screen_->medCdLoja->text() != QLatin1String("01"))
      die("o painel não abriu com a filial 0001 e a loja 01");
  }
  ~Screen() {
    if (screen_) screen_->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Finalize();
    hostkit::closeHostDatabase();
  }

  qfx::TfrmGeraNF& operator*() const { return *screen_; }
  qfx::TfrmGeraNF* operator->() const { return screen_; }
  hostkit::ScriptedHostServices& host() { return *host_; }

 private:
  std::shared_ptr<hostkit::ScriptedHostServices> host_;
  QPointer<qfx::TfrmGeraNF> screen_;
};

// Every sale and item of branch 0001, store 01, consolidated or not, from
// `first` to `last`.
void filterPeriod(const QDate& first, const QDate& last) {
  qfx::TFiltro& f = qfx::Filtro;
  f = qfx::TFiltro();
  f.stFilial = QStringLiteral("0001");
  f.dtInicial = hostkit::toDateTime(first);
  f.dtFinal = hostkit::toDateTime(last);
  f.boTodasNF = true;
  f.boTodasVendas = f.boTodosCaixa = f.boTodosTipoCons = f.boTodosCliente = f.boTodosCentroCusto = f.boTodosProdutos =
      true;
}

// The same over the `days` up to today.
void filterAll(int days) { filterPeriod(today().addDays(-(days - 1)), today()); }

// Counts the grid's paint events.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// The operator's "Verificar" on the filter set: the list loaded and the grid painted once.
double listFiltered(Screen& screen, int64_t expected, double* clickSeconds = nullptr) {
  PaintCounter counter;
  QWidget* viewport = screen->dbgPadrao->viewport();
  viewport->installEventFilter(&counter);
  QElapsedTimer timer;
  timer.start();
  try {
    screen->sbtVerificarClick();
  } catch (const hostkit::EHostError& e) {
    die("GetPrincipal: " + e.message().toStdString());
  }
  if (clickSeconds) *clickSeconds = seconds(timer);
  viewport->repaint();
  const double s = seconds(timer);
  viewport->removeEventFilter(&counter);
  if (screen->cdsPrincipal->RecordCount() != expected)
    die("a lista tem " + std::to_string(screen->cdsPrincipal->RecordCount()) + " itens, esperados " +
        std::to_string(expected));
  if (screen->dbgPadrao->model()->rowCount() != expected) die("a grade não mostra a lista inteira");
  if (counter.paints < 1) die("a grade não foi pintada");
  return s;
}

// The same over the whole generated month.
double listOnce(Screen& screen, int64_t expected, double* clickSeconds = nullptr) {
  filterAll(kDays);
  return listFiltered(screen, expected, clickSeconds);
}

// ---------------------------------------------------------------- list

// GetPrincipal's packet for the listed period built in-process on a
// connection of the server's database: its query and cells, no call.
double serverPacketSeconds(Database& database, int64_t expected) {
  QSqlDatabase db = must(database.connection(), "conexão");
  srv::SaleFilter filter;
  filter.branch = QStringLiteral("0001");
  filter.store = QStringLiteral("01");
  filter.first = today().addDays(-(kDays - 1));
  filter.last = today();
  filter.pendingOnly = false;
  QElapsedTimer timer;
  timer.start();
  auto packet = srv::principalRows(db, filter);
  const double s = seconds(timer);
  if (!packet) die("GetPrincipal no servidor: " + packet.error().message);
  if (int64_t(packet->rowCount()) != expected) die("o pacote do servidor não tem a lista inteira");
  return s;
}

void benchList(Store& store, const Prepared& data, const Settings& settings) {
  const std::string url = store.url(data.tag);
  RunningServer server = startServer(url);
  auto bare = bareFor(url);
  const auto params = storeParams(kDays);
  const std::string select = listSelect(url);
  if (bare->query(select.c_str(), params) != data.items) die("a consulta direta não leu a lista inteira");
  Screen screen(url, server.server->port());
  std::vector<double> runs, bares, clicks, packets, rowByRow;
  for (int i = 0; i < settings.repeats; ++i) {
    double click = 0;
    runs.push_back(listOnce(screen, data.items, &click));
    clicks.push_back(click);
    QElapsedTimer timer;
    timer.start();
    bare->query(select.c_str(), params);
    bares.push_back(seconds(timer));
    packets.push_back(serverPacketSeconds(*server.database, data.items));
    timer.restart();
    const int64_t arrived = bare->queryRowByRow(select.c_str(), params);
    if (arrived >= 0 && arrived != data.items) die("a consulta direta linha a linha não leu a lista inteira");
    if (arrived >= 0) rowByRow.push_back(seconds(timer));
  }
  recordFigure(store.name(), "list" + std::to_string(data.items), median(runs), median(bares));
  printRow(store.name(), "list " + thousands(data.items) + " items (s)", median(runs), median(bares), "s",
           "median of " + std::to_string(settings.repeats) + "; load " + loadAverage());
  // where the time over the bare query goes: the server's packet (query and
  // cells) built in this process without a call; the click (call, transfer,
  // client dataset and model) minus that; the grid's one paint
  const double run = median(runs), click = median(clicks), packet = median(packets);
  std::printf("%-10s   parts: server packet %.3f s, transfer+client dataset+model %.3f s, paint %.3f s\n",
              store.name().c_str(), packet, click - packet, run - click);
  // the bare read as the server now reads its lists, for reference: the
  // baseline of the target stays the ordinary whole result
  if (!rowByRow.empty())
    std::printf("%-10s   bare read row by row (single-row mode) %.3f s, %.2f of the whole read\n", store.name().c_str(),
                median(rowByRow), median(rowByRow) / median(bares));
  std::fflush(stdout);
}

// ---------------------------------------------------------------- Z check

void benchZ(Store& store, const Prepared& data, const Settings& settings) {
  const std::string url = store.url(data.tag);
  RunningServer server = startServer(url);
  auto bare = bareFor(url);
  const bool sqlite = url.rfind("sqlite:", 0) == 0;
  const std::string registerDaysText = registerDaysSql(sqlite), daySumText = daySumSql(sqlite);
  Screen screen(url, server.server->port());
  int64_t registerDays = 0;
  std::vector<double> runs, cpus, bares;
  for (int i = 0; i < settings.repeats; ++i) {
    filterAll(settings.zDays);
    screen.host().defaultAnswer = hostkit::mrYes;  // every difference accepted: the check goes through all
    QElapsedTimer timer;
    const double cpuBefore = processCpuSeconds();
    timer.start();
    try {
      screen->Verifica_Valor();
    } catch (const hostkit::EHostError& e) {
      die("Verifica_Valor: " + e.message().toStdString());
    }
    runs.push_back(seconds(timer));
    cpus.push_back(processCpuSeconds() - cpuBefore);
    registerDays = screen->cdsVerifVenda->RecordCount();

    timer.restart();
    std::vector<std::vector<std::string>> days;
    const auto params = storeParams(settings.zDays);
    bare->query(registerDaysText.c_str(), params, &days);
    for (const auto& day : days) {
      bare->query(daySumText.c_str(), {"0001", "01", day.at(1), day.at(0)});
      bare->query(kZReduction, {"0001", day.at(0), day.at(1)});
    }
    bares.push_back(seconds(timer));
    if (int64_t(days.size()) != registerDays) die("o servidor e a consulta direta não acharam os mesmos dias");
  }
  // the CPU the check took in this process (on PostgreSQL without the
  // database's own processes): the calls overlap, so it may exceed the time
  char cpu[64];
  std::snprintf(cpu, sizeof cpu, "; cpu %.3f s", median(cpus));
  recordFigure(store.name(), "z" + std::to_string(registerDays), median(runs), median(bares));
  printRow(store.name(), "Z check " + thousands(registerDays) + " register-days (s)", median(runs), median(bares), "s",
           std::to_string(2 * registerDays + 1) + " calls" + cpu + "; load " + loadAverage());
}

// ---------------------------------------------------------------- small calls

// The floor of every call: GetReducaoZ of one register-day, through the
// screen's own connection to the server on `port`, against the same query
// straight from the database and the transport alone: the server's health
// check (no session, no database, answered on the same call threads) on a
// channel of its own. The three take turns in batches of a hundred, so a
// change in the machine's load falls on all three alike and their
// differences stay the server's and client's own. `recorded`: the figure
// --check holds to its target.
void measureCalls(Store& store, const std::string& url, int port, const std::string& what, const Settings& settings,
                  bool recorded) {
  auto bare = bareFor(url);
  Screen screen(url, port);
  auto health = grpc::health::v1::Health::NewStub(
      grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials()));
  const int calls = 1000, batch = 100;
  const double day = hostkit::toDateTime(today());
  const std::string dayText = srv::wiredate::dayText(today()).toStdString();
  const auto callBatch = [&] {
    for (int c = 0; c < batch; ++c)
      screen->rdm().GetReducaoZ(QStringLiteral("0001"), QStringLiteral("001"), day, *screen->cdsReducaoZ);
  };
  const auto bareBatch = [&] {
    for (int c = 0; c < batch; ++c) bare->query(kZReduction, {"0001", "001", dayText});
  };
  const auto transportBatch = [&] {
    for (int c = 0; c < batch; ++c) {
      grpc::ClientContext context;
      grpc::health::v1::HealthCheckRequest request;
      grpc::health::v1::HealthCheckResponse reply;
      if (!health->Check(&context, request, &reply).ok()) die("a verificação de saúde do servidor falhou");
    }
  };
  // the bare query as the server meets it: each after the database's
  // process (and this one) sat idle about as long as a call lasts, so a
  // processor woken from idle is paid as in the call; only the query is timed
  const auto idleBareBatch = [&] {
    double spent = 0;
    for (int c = 0; c < batch; ++c) {
      std::this_thread::sleep_for(std::chrono::microseconds(500));
      QElapsedTimer timer;
      timer.start();
      bare->query(kZReduction, {"0001", "001", dayText});
      spent += seconds(timer);
    }
    return spent;
  };
  const auto timed = [](const auto& work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return seconds(timer);
  };
  std::vector<double> runs, bares, floors, idleBares;
  for (int i = 0; i < settings.repeats; ++i) {
    double call = 0, alone = 0, transport = 0, fromIdle = 0;
    for (int b = 0; b < calls / batch; ++b) {
      call += timed(callBatch);
      alone += timed(bareBatch);
      transport += timed(transportBatch);
      fromIdle += idleBareBatch();
    }
    runs.push_back(call * 1000.0 / calls);
    bares.push_back(alone * 1000.0 / calls);
    floors.push_back(transport * 1000.0 / calls);
    idleBares.push_back(fromIdle * 1000.0 / calls);
  }
  if (recorded) recordFigure(store.name(), "call", median(runs), median(bares));
  printRow(store.name(), what, median(runs), median(bares), "ms",
           "GetReducaoZ x " + std::to_string(calls) + "; load " + loadAverage());
  std::printf("%-10s   transport alone (gRPC health check, no database): %.3f ms a call; ours %+.3f ms\n",
              store.name().c_str(), median(floors), median(runs) - median(floors) - median(bares));
  std::printf(
      "%-10s   bare query after 0.5 ms idle (as the server meets it): %.3f ms; ours over transport and it %+.3f ms\n",
      store.name().c_str(), median(idleBares), median(runs) - median(floors) - median(idleBares));
  std::fflush(stdout);
}

// The small call as an operator's host meets it: qfxserver in a process of
// its own, at its default log level (its log to a file). Beside it, for
// reference, the server inside this process, where gRPC's threads of server
// and client share one poller and hand each other the sockets' events, a
// cost no host pays (bench/README.md, 11 December).
void benchCalls(Store& store, const Prepared& data, const Settings& settings) {
  const std::string url = store.url(data.tag);
  QTemporaryDir dir;
  {
    ServerProcess child(url, dir.filePath(QStringLiteral("porta")), QStringLiteral("info"),
                        dir.filePath(QStringLiteral("qfxserver.log")));
    child.start();
    measureCalls(store, url, child.port(), "one small call (ms)", settings, true);
  }
  RunningServer server = startServer(url);
  measureCalls(store, url, server.server->port(), "one small call, server in this process (ms)", settings, false);
}

// ---------------------------------------------------------------- memory

// In the child: lists once and prints what the process holds.
int memoryChild(const std::string& url, int port, int64_t items) {
  Screen screen(url, port);
  const int64_t before = residentBytes();
  listOnce(screen, items);
  QApplication::processEvents();
  const int64_t after = residentBytes();
  // the values as received: text bytes, 8 bytes a number, 1 a boolean; no nulls
  const TDataSet& ds = *screen->cdsPrincipal;
  int64_t raw = 0;
  for (int f = 0; f < ds.FieldCount(); ++f) {
    if (ds.Fields(f)->Calculated()) continue;
    const auto& column = ds.column(f);
    for (size_t row = 0; row < column.rows(); ++row) {
      if (column.isNull(row)) continue;
      raw += column.type() == hostkit::FieldType::Text      ? int64_t(column.text(row).size())
             : column.type() == hostkit::FieldType::Boolean ? 1
                                                            : 8;
    }
  }
  std::printf("MEMORY %lld %lld %lld %lld\n", (long long)before, (long long)after, (long long)raw,
              (long long)ds.valueBytes());
  std::fflush(stdout);
  return 0;
}

void benchMemory(Store& store, const Prepared& data, const char* self) {
  const std::string url = store.url(data.tag);
  RunningServer server = startServer(url);
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QString::fromLocal8Bit(self), {QStringLiteral("--memory-child"), QString::fromStdString(url),
                                             QString::number(server.server->port()), QString::number(data.items)});
  // the server answers from this process's threads while the child waits
  if (!child.waitForFinished(-1) || child.exitCode() != 0) die("o processo filho da medida de memória falhou");
  long long before = 0, after = 0, raw = 0, held = 0;
  const QByteArray out = child.readAllStandardOutput();
  const int at = out.indexOf("MEMORY ");
  if (at < 0 || std::sscanf(out.constData() + at, "MEMORY %lld %lld %lld %lld", &before, &after, &raw, &held) != 4)
    die("o processo filho não informou a memória");
  const double mb = 1024.0 * 1024.0;
  printRow(store.name(), "memory " + thousands(data.items) + " items (MB)", double(after - before) / mb,
           double(raw) / mb, "MB",
           "RSS " + std::to_string(int(double(before) / mb)) + " -> " + std::to_string(int(double(after) / mb)) +
               " MB; " + std::to_string(int(double(after - before) / double(data.items))) + " B/item; columns " +
               std::to_string(int(double(held) / mb)) + " MB");
}

// ---------------------------------------------------------------- load

using Clock = std::chrono::steady_clock;
using ServerList = QList<hostkit::ServerEndpoint>;  // a client's servers, in its order of preference

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// One call of a load client, its times in seconds from the load's start.
struct CallRecord {
  double start = 0, end = 0;
  bool onWatched = false;  // the client's server in use, as the call began, was the watched one
  std::string failure;     // empty: answered
};

struct ClientFigures {
  std::vector<CallRecord> calls;
  int64_t posted = 0;  // runs that posted something
};

// When the load runs: the clients log in first (the password checks take
// their turns), then all start together.
struct LoadStart {
  explicit LoadStart(int clients) : loggedIn(clients) {}
  std::latch loggedIn, go{1};
  Clock::time_point begin, until;  // set before go opens
};

// One client: its own channel and session; lists and consolidates its own
// day and its own share of the registers until the deadline. `watched`: the
// server whose calls are marked (the one killed halfway), if any.
void loadClient(const ServerList& servers, const QString& watched, int index, int clients, LoadStart* start,
                ClientFigures* out) {
  hostkit::TNetConnection net;
  net.Host = servers.front().host;
  net.Port = servers.front().port;
  net.Alternates = servers.mid(1);
  net.CallTimeoutMs = 600000;
  const auto session =
      net.Login(QString::fromLatin1(srv::demo::kDemoOperator), QString::fromLatin1(srv::demo::kDemoPassword));
  start->loggedIn.count_down();
  start->go.wait();
  if (!session.ok()) {
    out->calls.push_back({0, 0, false, "login: " + session.error().toStdString()});
    return;
  }
  const Clock::time_point begin = start->begin, until = start->until;
  const auto timed = [&](const char* method, auto&& call) {
    CallRecord r;
    r.onWatched = !watched.isEmpty() && net.ServerInUse() == watched;
    r.start = secondsSince(begin);
    try {
      call();
    } catch (const hostkit::EHostError& e) {
      r.failure = std::string(method) + ": " + e.message().toStdString();
    }
    r.end = secondsSince(begin);
    out->calls.push_back(std::move(r));
  };
  qfx::RdmGeraNF rdm(net);
  const int shares = (clients + kDays - 1) / kDays;
  const QDate day = today().addDays(-(index % kDays));
  qfx::TFiltro f;
  f.stFilial = QStringLiteral("0001");
  f.dtInicial = f.dtFinal = hostkit::toDateTime(day);
  f.boTodasNF = false;
  f.boTodasVendas = f.boTodosTipoCons = f.boTodosCliente = f.boTodosCentroCusto = f.boTodosProdutos = true;
  f.boTodosCaixa = false;
  for (int r = 1; r <= kRegisters; ++r)
    if (r % shares == index / kDays) f.stCaixa += QStringLiteral("_0001%1_").arg(r, 3, 10, QLatin1Char('0'));
  TDataSet list, errors, blocked;
  qfx::defineCdsPrincipal(list);
  while (Clock::now() < until) {
    timed("GetPrincipal", [&] { rdm.GetPrincipal(QStringLiteral("0001"), QStringLiteral("01"), f, list); });
    timed("SemGeraNF", [&] {
      qfx::TFiltro run = f;
      const auto reply =
          rdm.SemGeraNF(QStringLiteral("0001"), QStringLiteral("0001"), QStringLiteral("01"), run, QStringLiteral("01"),
                        QStringLiteral("0001"), QString::fromLatin1(srv::demo::kDemoOperator), true,
                        QUuid::createUuid().toString(QUuid::WithoutBraces), errors, blocked);
      if (reply.lancamento > 0) ++out->posted;
    });
  }
}

struct LoadTotals {
  std::vector<double> latencies;  // seconds, sorted
  int64_t calls = 0, posted = 0, failed = 0;
  std::map<std::string, int64_t> failures;  // message -> count
};

LoadTotals totalsOf(const std::vector<ClientFigures>& figures) {
  LoadTotals t;
  for (const auto& f : figures) {
    for (const auto& call : f.calls) {
      t.latencies.push_back(call.end - call.start);
      if (call.failure.empty()) continue;
      ++t.failed;
      ++t.failures[call.failure];
    }
    t.calls += int64_t(f.calls.size());
    t.posted += f.posted;
  }
  std::sort(t.latencies.begin(), t.latencies.end());
  return t;
}

std::string latencyText(LoadTotals& t, double elapsed) {
  char text[160];
  std::snprintf(text, sizeof text, "%lld calls, %.1f calls/s, p50 %.1f ms, p99 %.1f ms, max %.1f ms",
                (long long)t.calls, double(t.calls) / elapsed, percentile(t.latencies, 0.50) * 1000,
                percentile(t.latencies, 0.99) * 1000, t.latencies.empty() ? 0.0 : t.latencies.back() * 1000);
  return text;
}

// The clients' threads, logged in and then started together, and joined;
// `serversOf(i)` gives client i its list. `meanwhile(begin)` runs on this
// thread while they work.
template <typename ServersOf, typename Meanwhile>
std::vector<ClientFigures> runClients(const Settings& settings, const ServersOf& serversOf, const QString& watched,
                                      const Meanwhile& meanwhile, double* elapsed) {
  std::vector<ClientFigures> figures(size_t(settings.clients));
  std::vector<std::thread> threads;
  LoadStart start(settings.clients);
  for (int i = 0; i < settings.clients; ++i)
    threads.emplace_back(loadClient, serversOf(i), watched, i, settings.clients, &start, &figures[size_t(i)]);
  start.loggedIn.wait();
  start.begin = Clock::now();
  start.until = start.begin + std::chrono::milliseconds(int64_t(settings.duration * 1000));
  start.go.count_down();
  meanwhile(start.begin);
  for (auto& t : threads) t.join();
  *elapsed = secondsSince(start.begin);
  return figures;
}

void benchLoad(Store& store, const Prepared& data, const Settings& settings) {
  const std::string url = store.copy(data.tag, data.tag + "_load");  // the clients consolidate: keep the template
  RunningServer server = startServer(url);
  const ServerList servers{{QStringLiteral("127.0.0.1"), server.server->port()}};
  double elapsed = 0;
  auto figures = runClients(
      settings, [&](int) { return servers; }, {}, [](Clock::time_point) {}, &elapsed);
  LoadTotals totals = totalsOf(figures);
  // the bare figure: the same selections listed straight from the database, one after another
  auto bare = bareFor(url);
  const std::string select = listSelect(url);
  QElapsedTimer bareTimer;
  bareTimer.start();
  for (int d = 0; d < kDays; ++d) {
    const std::string day = srv::wiredate::dayText(today().addDays(-d)).toStdString();
    bare->query(select.c_str(), {"0001", "01", day, day});
  }
  const double bareListMs = seconds(bareTimer) * 1000.0 / kDays;
  std::printf(
      "%-10s load %d clients %.0f s: %s, %lld runs posted, %lld failed; bare list of one day %.1f ms; load %s\n",
      store.name().c_str(), settings.clients, elapsed, latencyText(totals, elapsed).c_str(), (long long)totals.posted,
      (long long)totals.failed, bareListMs, loadAverage().c_str());
  for (const auto& [message, n] : totals.failures) std::printf("    %lld x %s\n", (long long)n, message.c_str());
  std::fflush(stdout);
  server.server.reset();
  server.database.reset();
  store.drop(data.tag + "_load");
}

// ---------------------------------------------------------------- load over two servers, one killed

// New sales keep arriving in every client's selection while the load runs
// (a sale of three items, one unit each, `perSecond` times a second, the
// clients in turn), so that posting runs are under way at any moment, the
// kill's included. Sale numbers start at 9 000 000 000, far above the demo's.
class SaleFeeder {
 public:
  SaleFeeder(std::string url, int clients, int perSecond)
      : url_(std::move(url)), clients_(clients), interval_(std::chrono::microseconds(1000000 / perSecond)) {
    thread_ = std::thread([this] { run(); });
  }
  ~SaleFeeder() { stop(); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int64_t sales() const { return sales_; }
  static constexpr int kItemsPerSale = 3;

 private:
  // Products the period's items post without trouble: active, stock
  // controlled, the most sold.
  static QStringList products(QSqlDatabase& db) {
    QSqlQuery q =
        exec(db, QStringLiteral("SELECT I.CDPRODUTO FROM ITVENDA I JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
                                "WHERE I.CDFILIAL = '0001' AND P.IDATIVO = 'S' AND P.IDCTRLESTQ = 'S' "
                                "GROUP BY I.CDPRODUTO ORDER BY COUNT(*) DESC, I.CDPRODUTO LIMIT 20"));
    QStringList codes;
    while (q.next()) codes << q.value(0).toString();
    if (codes.isEmpty()) die("nenhum produto para as vendas novas");
    return codes;
  }

  void add(QSqlDatabase& db, const QStringList& codes, int64_t n) {
    // the client's day and registers, as loadClient chooses them
    const int client = int(n % clients_);
    const int shares = (clients_ + kDays - 1) / kDays;
    std::vector<int> registers;
    for (int r = 1; r <= kRegisters; ++r)
      if (r % shares == client / kDays) registers.push_back(r);
    const int reg = registers[size_t(n / clients_) % registers.size()];
    const QDate day = today().addDays(-(client % kDays));
    const QString number = QString::number(9000000000LL + n);
    auto tx = must(srv::sql::Transaction::begin(db, database_->dialect()), "transação da venda nova");
    exec(db,
         QStringLiteral("INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, IDSITUVENDA) "
                        "VALUES ('0001', ?, '01', ?, ?, ?, 'F')"),
         {number, QStringLiteral("%1").arg(reg, 3, 10, QLatin1Char('0')), srv::wiredate::dayText(day),
          srv::wiredate::momentText(QDateTime(day, QTime(23, 0)))});
    for (int i = 0; i < kItemsPerSale; ++i)
      exec(db,
           QStringLiteral("INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, "
                          "VRDESITVEND) VALUES ('0001', ?, ?, ?, 1, 10, 0)"),
           {number, QStringLiteral("%1").arg(i + 1, 3, 10, QLatin1Char('0')), codes[int((n + i) % codes.size())]});
    must(tx.commit(), "commit da venda nova");
  }

  void run() {
    database_ = openDatabase(url_);
    QSqlDatabase db = must(database_->connection(), "conexão");
    const QStringList codes = products(db);
    auto next = Clock::now();
    for (int64_t n = 0; !stop_; ++n) {
      add(db, codes, n);
      sales_ = n + 1;
      next += interval_;
      std::this_thread::sleep_until(next);
    }
    db = QSqlDatabase();
    database_.reset();
  }

  std::string url_;
  int clients_;
  std::chrono::microseconds interval_;
  std::unique_ptr<Database> database_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> sales_{0};
  std::thread thread_;
};

// The books before the load: stock balances by branch|warehouse|place|product
// and the sale postings made already.
struct Books {
  std::map<std::string, double> balances;
  std::set<std::string> postings;  // branch|number
};

// The checks read with the database's C library (sqlite3 / libpq), every
// row at once. The texts are constants: the reader keeps a statement per text.
const char* const kBalances = "SELECT CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ FROM SALDOESTQ";
const char* const kSalePostings = "SELECT CDFILIAL, NRLANCESTQ FROM LANCESTQ WHERE IDTIPOLANC = 'V'";
const char* const kStampedItems =
    "SELECT I.CDFILIALEST, I.NRLANCESTQ, COALESCE(P.CDPRODESTO, I.CDPRODUTO), SUM(CASE WHEN V.IDSITUVENDA = 'D' "
    "THEN -I.QTPRODVEND ELSE I.QTPRODVEND END), COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND "
    "V.NRSEQVENDA = I.NRSEQVENDA JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE I.NRLANCESTQ IS NOT NULL GROUP BY "
    "I.CDFILIALEST, I.NRLANCESTQ, COALESCE(P.CDPRODESTO, I.CDPRODUTO)";
const char* const kPostingLines =
    "SELECT L.CDFILIAL, L.NRLANCESTQ, I.CDPRODUTO, I.QTLANCESTQ, L.CDALMOXARIFE, L.CDLOCALESTOQ FROM LANCESTQ L "
    "JOIN ITLANCESTQ I ON I.CDFILIAL = L.CDFILIAL AND I.NRLANCESTQ = L.NRLANCESTQ WHERE L.IDTIPOLANC = 'V'";

using Rows = std::vector<std::vector<std::string>>;

Rows readAll(Bare& bare, const char* sql) {
  Rows rows;
  bare.query(sql, {}, &rows);
  return rows;
}

std::map<std::string, double> balances(Bare& bare) {
  std::map<std::string, double> out;
  for (const auto& r : readAll(bare, kBalances))
    out[r.at(0) + "|" + r.at(1) + "|" + r.at(2) + "|" + r.at(3)] = std::atof(r.at(4).c_str());
  return out;
}

// The books after the load, against the balances before it: each stock line
// of a sale posting must hold exactly what the items stamped with that
// posting hold (returns counted back), and the balances must have moved by
// exactly the lines. An item posted twice shows as a line holding more than
// its posting's stamped items (its second posting could not stamp it again).
struct BooksCheck {
  int64_t postings = 0, lines = 0, stampedItems = 0;
  int64_t linesOver = 0, linesUnder = 0;  // lines holding more / less than their stamped items
  double quantityOver = 0;                // units moved beyond the stamped items
  int64_t balancesOff = 0, locations = 0;
};

Books readBooks(Bare& bare) {
  Books books{balances(bare), {}};
  for (const auto& r : readAll(bare, kSalePostings)) books.postings.insert(r.at(0) + "|" + r.at(1));
  return books;
}

BooksCheck checkBooks(Bare& bare, const Books& before) {
  BooksCheck c;
  std::map<std::string, double> stamped, lines, moved;
  std::map<std::string, int64_t> itemsOf;
  for (const auto& r : readAll(bare, kStampedItems)) {
    const std::string posting = r.at(0) + "|" + r.at(1);
    if (before.postings.count(posting)) continue;  // made before the load
    const std::string key = posting + "|" + r.at(2);
    stamped[key] = std::atof(r.at(3).c_str());
    itemsOf[key] = std::atoll(r.at(4).c_str());
  }
  std::set<std::string> postings;
  for (const auto& r : readAll(bare, kPostingLines)) {
    const std::string posting = r.at(0) + "|" + r.at(1);
    if (before.postings.count(posting)) continue;
    postings.insert(posting);
    lines[posting + "|" + r.at(2)] = std::atof(r.at(3).c_str());
    moved[r.at(0) + "|" + r.at(4) + "|" + r.at(5) + "|" + r.at(2)] += std::atof(r.at(3).c_str());
  }
  c.postings = int64_t(postings.size());
  c.lines = int64_t(lines.size());
  std::set<std::string> keys;
  for (const auto& [k, v] : stamped) keys.insert(k);
  for (const auto& [k, v] : lines) keys.insert(k);
  for (const std::string& key : keys) {
    const double line = lines.count(key) ? lines[key] : 0.0, items = stamped.count(key) ? stamped[key] : 0.0;
    c.stampedItems += itemsOf.count(key) ? itemsOf[key] : 0;
    if (line > items + 1e-6) {
      ++c.linesOver;
      c.quantityOver += line - items;
    } else if (line < items - 1e-6) {
      ++c.linesUnder;
    }
  }
  const auto now = balances(bare);
  std::set<std::string> locations;
  using Balances = std::map<std::string, double>;
  for (const Balances* m : std::initializer_list<const Balances*>{&before.balances, &now, &moved})
    for (const auto& [k, v] : *m) locations.insert(k);
  for (const std::string& location : locations) {
    const auto value = [&](const std::map<std::string, double>& m) {
      const auto it = m.find(location);
      return it == m.end() ? 0.0 : it->second;
    };
    if (std::fabs(value(before.balances) - value(moved) - value(now)) > 1e-6) ++c.balancesOff;
  }
  c.locations = int64_t(locations.size());
  return c;
}

// How the load's failures split around the kill at `killedAt`.
struct KillFigures {
  int64_t inFlight = 0;         // calls on the killed server when it was killed
  int64_t failedInFlight = 0;   // of those, failed
  int64_t failedSentAfter = 0;  // sent to the killed server after the kill, before its loss was known
  int64_t failedOther = 0;      // any other failure
  double lastFailure = 0;       // seconds after the kill
};

KillFigures splitFailures(const std::vector<ClientFigures>& figures, double killedAt) {
  KillFigures k;
  for (const auto& f : figures)
    for (const auto& call : f.calls) {
      const bool inFlight = call.onWatched && call.start < killedAt && call.end >= killedAt;
      k.inFlight += inFlight;
      if (call.failure.empty()) continue;
      k.lastFailure = std::max(k.lastFailure, call.end - killedAt);
      if (inFlight)
        ++k.failedInFlight;
      else if (call.onWatched && call.start >= killedAt)
        ++k.failedSentAfter;
      else
        ++k.failedOther;
    }
  return k;
}

// The new sales' items, and those of them posted by the end.
const char* const kFedItems = "SELECT COUNT(*), COUNT(NRLANCESTQ) FROM ITVENDA WHERE NRSEQVENDA >= '9000000000'";

// The load over two qfxserver processes on one database: half the clients
// list A first, half B first (so both serve), while new sales arrive; A is
// killed (SIGKILL) halfway and its clients go on on B.
void benchFailoverLoad(Store& store, const Prepared& data, const Settings& settings) {
  const std::string url = store.copy(data.tag, data.tag + "_failover");
  {
    // the new sales must never meet an empty shelf: the check would refuse them
    auto database = openDatabase(url);
    QSqlDatabase db = must(database->connection(), "conexão");
    exec(db, QStringLiteral("UPDATE SALDOESTQ SET QTSALDOESTQ = QTSALDOESTQ + 1000000 WHERE CDFILIAL = '0001'"));
  }
  auto bare = bareFor(url);
  const Books before = readBooks(*bare);
  QTemporaryDir dir;
  ServerProcess a(url, dir.filePath(QStringLiteral("porta-a")), QStringLiteral("error"));
  ServerProcess b(url, dir.filePath(QStringLiteral("porta-b")), QStringLiteral("error"));
  a.start();
  b.start();
  const hostkit::ServerEndpoint first{QStringLiteral("127.0.0.1"), a.port()};
  const hostkit::ServerEndpoint second{QStringLiteral("127.0.0.1"), b.port()};
  SaleFeeder feeder(url, settings.clients, settings.salesPerSecond);
  double killedAt = 0, elapsed = 0;
  auto figures = runClients(
      settings,
      [&](int i) {
        return i % 2 == 0 ? ServerList{first, second} : ServerList{second, first};
      },
      a.address(),
      [&](Clock::time_point begin) {
        std::this_thread::sleep_until(begin + std::chrono::milliseconds(int64_t(settings.duration * 500)));
        killedAt = secondsSince(begin);
        a.kill();
      },
      &elapsed);
  feeder.stop();
  b.kill();  // every call is over

  LoadTotals totals = totalsOf(figures);
  const KillFigures kill = splitFailures(figures, killedAt);
  const BooksCheck books = checkBooks(*bare, before);
  const Rows fed = readAll(*bare, kFedItems);
  const int64_t fedItems = std::atoll(fed.at(0).at(0).c_str()), fedPosted = std::atoll(fed.at(0).at(1).c_str());
  std::printf(
      "%-10s failover-load %d clients %.0f s over two servers (half list A first, half B), A killed at %.1f s: %s; "
      "%lld runs posted; load %s\n",
      store.name().c_str(), settings.clients, elapsed, killedAt, latencyText(totals, elapsed).c_str(),
      (long long)totals.posted, loadAverage().c_str());
  std::printf(
      "%-10s   failures %lld: %lld of the %lld calls in flight on A at the kill, %lld sent to A after the kill before "
      "its loss was known, %lld other; the last %.0f ms after the kill\n",
      store.name().c_str(), (long long)totals.failed, (long long)kill.failedInFlight, (long long)kill.inFlight,
      (long long)kill.failedSentAfter, (long long)kill.failedOther, kill.lastFailure * 1000);
  std::printf(
      "%-10s   items posted twice: %lld (%lld sale postings, %lld stock lines, %lld stamped items; lines holding more "
      "than their stamped items %lld (%.3f units), less %lld; balances off %lld of %lld); new sales during the load "
      "%lld (%lld items, %lld posted by the end)\n",
      store.name().c_str(), (long long)std::llround(books.quantityOver), (long long)books.postings,
      (long long)books.lines, (long long)books.stampedItems, (long long)books.linesOver, books.quantityOver,
      (long long)books.linesUnder, (long long)books.balancesOff, (long long)books.locations, (long long)feeder.sales(),
      (long long)fedItems, (long long)fedPosted);
  for (const auto& [message, n] : totals.failures) std::printf("    %lld x %s\n", (long long)n, message.c_str());
  std::fflush(stdout);
  bare.reset();
  store.drop(data.tag + "_failover");
}

// ---------------------------------------------------------------- chain scale

// One store's day, cut to the same items on every database of the figure.
constexpr int kScaleDaysBack = 3;  // a day without the tour's planted sales and Z differences
constexpr int64_t kScaleDayItems = 1000;

QDate scaleDay() { return today().addDays(-kScaleDaysBack); }

// The demo's inventory adjustment leaves the period, as in shape().
void moveAdjustmentOut(QSqlDatabase& db) {
  exec(db, QStringLiteral("UPDATE LANCESTQ SET DTLANCESTQ = ? WHERE IDTIPOLANC = 'A'"),
       {srv::wiredate::dayText(today().addDays(-60))});
}

// The day's Z reductions carry the day's sales as they are now, so the
// check finds no difference.
void matchDayReductions(QSqlDatabase& db) {
  exec(db,
       QStringLiteral(
           "UPDATE REDUCAOZ SET VRVENLIQREDZ = COALESCE((SELECT ROUND(CAST(SUM(CASE V.IDSITUVENDA WHEN 'D' THEN -1 "
           "WHEN 'C' THEN 0 ELSE 1 END * (I.QTPRODVEND * I.VRUNITVEND - I.VRDESITVEND)) AS NUMERIC), 2) FROM VENDA V "
           "JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA WHERE V.CDFILIAL = "
           "REDUCAOZ.CDFILIAL AND V.CDLOJA = '01' AND V.CDCAIXA = REDUCAOZ.CDCAIXA AND V.DTVENDA = "
           "REDUCAOZ.DTREDUCAOZ), 0) WHERE CDFILIAL = '0001' AND DTREDUCAOZ = ?"),
       {srv::wiredate::dayText(scaleDay())});
}

const char* const kDaySales =
    "SELECT NRSEQVENDA FROM VENDA WHERE CDFILIAL = '0001' AND CDLOJA = '01' AND DTVENDA = ? AND NRSEQVENDA > ?";

// The measured day: its sales of store 01 kept in number order until they
// hold kScaleDayItems items (the last one cut short), the rest of the day's
// sales deleted with their items. False: the day had too few items.
bool cutScaleDay(Database& database) {
  QSqlDatabase db = must(database.connection(), "conexão");
  auto tx = must(srv::sql::Transaction::begin(db, database.dialect()), "transação");
  moveAdjustmentOut(db);
  const QString day = srv::wiredate::dayText(scaleDay());
  QString lastKept;
  int64_t kept = 0, keptOfLast = 0;
  {
    QSqlQuery q = exec(db,
                       QStringLiteral("SELECT V.NRSEQVENDA, COUNT(I.NRSEQUITVEND) FROM VENDA V LEFT JOIN ITVENDA I ON "
                                      "I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA WHERE V.CDFILIAL = "
                                      "'0001' AND V.CDLOJA = '01' AND V.DTVENDA = ? GROUP BY V.NRSEQVENDA ORDER BY "
                                      "V.NRSEQVENDA"),
                       {day});
    while (kept < kScaleDayItems && q.next()) {
      lastKept = q.value(0).toString();
      keptOfLast = std::min<int64_t>(q.value(1).toLongLong(), kScaleDayItems - kept);
      kept += keptOfLast;
    }
  }
  if (kept < kScaleDayItems) return false;
  const QString later = QString::fromLatin1(kDaySales);
  exec(db, QStringLiteral("DELETE FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA IN (%1)").arg(later),
       {day, lastKept});
  exec(db, QStringLiteral("DELETE FROM VENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA IN (%1)").arg(later),
       {day, lastKept});
  exec(db, QStringLiteral("DELETE FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA = ? AND NRSEQUITVEND > ?"),
       {lastKept, QStringLiteral("%1").arg(keptOfLast, 3, 10, QLatin1Char('0'))});
  matchDayReductions(db);
  must(tx.commit(), "commit");
  return true;
}

// The day's items; `stockOnly`: those a posting takes (products that control stock).
int64_t scaleDayItems(QSqlDatabase& db, bool stockOnly = false) {
  QSqlQuery q = exec(db,
                     QStringLiteral("SELECT COUNT(*) FROM VENDA V JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND "
                                    "I.NRSEQVENDA = V.NRSEQVENDA JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE "
                                    "V.CDFILIAL = '0001' AND V.CDLOJA = '01' AND V.DTVENDA = ?%1")
                         .arg(stockOnly ? QStringLiteral(" AND P.IDCTRLESTQ = 'S'") : QString()),
                     {srv::wiredate::dayText(scaleDay())});
  return q.next() ? q.value(0).toLongLong() : -1;
}

// A chain of kChainBranches branches more than the demo's four, whose one
// store each sells as much as the measured one: a store's day is about as
// large a share of the table as in a real chain of a few hundred stores.
constexpr int kChainBranches = 300;

// What tells two selections apart: their items, amounts and products.
std::string scaleDaySignature(QSqlDatabase& db) {
  QSqlQuery q = exec(db,
                     QStringLiteral("SELECT COUNT(*), SUM(I.QTPRODVEND * I.VRUNITVEND), COUNT(DISTINCT I.CDPRODUTO), "
                                    "MIN(V.NRSEQVENDA), MAX(V.NRSEQVENDA) FROM VENDA V JOIN ITVENDA I ON I.CDFILIAL = "
                                    "V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA WHERE V.CDFILIAL = '0001' AND "
                                    "V.CDLOJA = '01' AND V.DTVENDA = ?"),
                     {srv::wiredate::dayText(scaleDay())});
  if (!q.next()) return {};
  return QStringLiteral("%1 itens, %2, %3 produtos, vendas %4 a %5")
      .arg(q.value(0).toLongLong())
      .arg(q.value(1).toDouble(), 0, 'f', 2)
      .arg(q.value(2).toLongLong())
      .arg(q.value(3).toString(), q.value(4).toString())
      .toStdString();
}

// The demo generator at `baseItems` (40 registers in store 01, seed 1) and,
// for a larger `items`, the rest of a chain up to it: the demo's branches,
// and so the measured day, are the same in every size. The day is cut,
// the statistics made fresh; kept, a later run of the same day reuses it.
Prepared prepareScale(Store& store, int64_t items, int64_t baseItems, bool kept) {
  Prepared p;
  p.items = kScaleDayItems;
  p.tag = "scale_" + std::to_string(items) + (kept ? today().toString(QStringLiteral("_yyyyMMdd")).toStdString() : "");
  QElapsedTimer timer;
  timer.start();
  // a kept database whose filling was cut short (its day not as made) is made again
  const auto dayAsMade = [&] {
    auto database = openDatabase(store.url(p.tag));
    QSqlDatabase db = must(database->connection(), "conexão");
    return scaleDayItems(db) == kScaleDayItems;
  };
  if (!(kept && store.exists(p.tag) && dayAsMade())) {
    const std::string url = store.create(p.tag);
    auto database = openDatabase(url);
    must(srv::migrations::migrate(*database), "migração");
    srv::demo::Options options;
    options.items = baseItems;
    options.seed = 1;
    options.today = today();
    options.registersPerStore = kRegisters;
    if (items > baseItems) {
      options.chainBranches = kChainBranches;
      options.chainItems = items - baseItems;
    }
    must(srv::demo::generate(*database, options), "dados de demonstração");
    if (!cutScaleDay(*database)) die("o dia da loja não tem itens suficientes");
    settle(*database);
  }
  auto database = openDatabase(store.url(p.tag));
  must(srv::migrations::migrate(*database), "migração");  // a kept database made before a new migration
  QSqlDatabase db = must(database->connection(), "conexão");
  if (scaleDayItems(db) != kScaleDayItems) die("o dia medido não tem os itens esperados");
  p.postedItems = scaleDayItems(db, true);
  p.signature = scaleDaySignature(db);
  QSqlQuery all = exec(db, QStringLiteral("SELECT COUNT(*) FROM ITVENDA"));
  p.generatedItems = all.next() ? all.value(0).toLongLong() : 0;
  p.seconds = seconds(timer);
  return p;
}

struct DayFigures {
  std::vector<double> list, z, posting, bareList, bareZ;
};

// The run of the screen's filter, as the consolidation screen sends it.
qfx::TFiltro scaleRunFilter() {
  qfx::TFiltro f;
  f.stFilial = QStringLiteral("0001");
  f.dtInicial = f.dtFinal = hostkit::toDateTime(scaleDay());
  f.boTodasNF = false;
  f.boTodasVendas = f.boTodosCaixa = f.boTodosTipoCons = f.boTodosCliente = f.boTodosCentroCusto = f.boTodosProdutos =
      true;
  return f;
}

// One store's day as the operator works it: "Verificar", the Z check, the
// posting (SemGeraNF); then the posting reversed, untimed, so the next round
// finds the day as it was.
void workStoreDay(const std::string& url, int port, int64_t postedItems, DayFigures* out) {
  Screen screen(url, port);
  filterPeriod(scaleDay(), scaleDay());
  out->list.push_back(listFiltered(screen, kScaleDayItems));

  filterPeriod(scaleDay(), scaleDay());
  screen.host().defaultAnswer = hostkit::mrYes;
  QElapsedTimer timer;
  timer.start();
  try {
    screen->Verifica_Valor();
  } catch (const hostkit::EHostError& e) {
    die("Verifica_Valor: " + e.message().toStdString());
  }
  out->z.push_back(seconds(timer));
  if (screen->cdsVerifVenda->RecordCount() < 1) die("a verificação da redução Z não achou o dia");

  qfx::TFiltro run = scaleRunFilter();
  TDataSet errors, blocked;
  timer.restart();
  qfx::SemGeraNFReply posted;
  try {
    posted = screen->rdm().SemGeraNF(QStringLiteral("0001"), QStringLiteral("0001"), QStringLiteral("01"), run,
                                     QStringLiteral("01"), QStringLiteral("0001"),
                                     QString::fromLatin1(srv::demo::kDemoOperator), true,
                                     QUuid::createUuid().toString(QUuid::WithoutBraces), errors, blocked);
  } catch (const hostkit::EHostError& e) {
    die("SemGeraNF: " + e.message().toStdString());
  }
  out->posting.push_back(seconds(timer));
  if (posted.lancamento <= 0) die("SemGeraNF não lançou o dia: " + posted.chave.toStdString());
  qfx::EstornaGeraNFReply reversed;
  try {
    reversed =
        screen->rdm().EstornaGeraNF(QStringLiteral("0001"), QStringLiteral("0001"), QStringLiteral("0001"),
                                    QStringLiteral("%1").arg(posted.lancamento, 10, 10, QLatin1Char('0')),
                                    QStringLiteral("medida de escala"), QString::fromLatin1(srv::demo::kDemoOperator));
  } catch (const hostkit::EHostError& e) {
    die("EstornaGeraNF: " + e.message().toStdString());
  }
  if (reversed.itens != postedItems)
    die("SemGeraNF lançou " + std::to_string(reversed.itens) + " itens do dia, esperados " +
        std::to_string(postedItems));
}

// The same day's list and Z check straight from the database, on
// PostgreSQL with the cost of a random page the server's sessions use (see
// docs/architecture.md): at the default a day's read walks the branch's
// pending items, which on 10 000 000 items is the database's own growth.
void bareStoreDay(const std::string& url, DayFigures* out) {
  auto bare = bareFor(url);
  const bool sqlite = url.rfind("sqlite:", 0) == 0;
  if (!sqlite) bare->query("SELECT set_config('random_page_cost', '1.1', false)", {});
  const std::string day = srv::wiredate::dayText(scaleDay()).toStdString();
  const std::vector<std::string> params{"0001", "01", day, day};
  const std::string select = listSelect(url);
  QElapsedTimer timer;
  timer.start();
  if (bare->query(select.c_str(), params) != kScaleDayItems) die("a consulta direta não leu o dia inteiro");
  out->bareList.push_back(seconds(timer));
  const std::string registerDaysText = registerDaysSql(sqlite), daySumText = daySumSql(sqlite);
  timer.restart();
  std::vector<std::vector<std::string>> days;
  bare->query(registerDaysText.c_str(), params, &days);
  for (const auto& d : days) {
    bare->query(daySumText.c_str(), {"0001", "01", d.at(1), d.at(0)});
    bare->query(kZReduction, {"0001", d.at(0), d.at(1)});
  }
  out->bareZ.push_back(seconds(timer));
}

void benchScale(Store& store, const Settings& settings) {
  std::vector<Prepared> data;
  for (int64_t size : settings.scaleSizes) {
    data.push_back(prepareScale(store, size, settings.scaleSizes.front(), settings.keepData));
    std::printf("%-10s scale data: %s items, %.1f s; the day: %s\n", store.name().c_str(),
                thousands(data.back().generatedItems).c_str(), data.back().seconds, data.back().signature.c_str());
    std::fflush(stdout);
    if (data.back().signature != data.front().signature) die("o dia medido difere entre os tamanhos");
  }
  std::vector<RunningServer> servers;
  for (const auto& d : data) servers.push_back(startServer(store.url(d.tag)));
  std::vector<DayFigures> figures(data.size());
  // the databases in turn, round after round, so that the machine's load
  // weighs on each alike, every other round the other way round (the first
  // to commit after another's writes may wait for the disk to take them);
  // the first round warms every cache and is not counted
  for (int round = 0; round <= settings.scaleRepeats; ++round) {
    for (size_t k = 0; k < data.size(); ++k) {
      const size_t i = round % 2 ? data.size() - 1 - k : k;
      DayFigures f;
      workStoreDay(store.url(data[i].tag), servers[i].server->port(), data[i].postedItems, &f);
      bareStoreDay(store.url(data[i].tag), &f);
      if (round == 0) continue;
      for (auto [all, one] : {std::pair{&figures[i].list, &f.list},
                              {&figures[i].z, &f.z},
                              {&figures[i].posting, &f.posting},
                              {&figures[i].bareList, &f.bareList},
                              {&figures[i].bareZ, &f.bareZ}})
        all->insert(all->end(), one->begin(), one->end());
    }
  }
  const DayFigures& base = figures.front();
  for (size_t i = 1; i < data.size(); ++i) {
    const DayFigures& big = figures[i];
    const std::string size = thousands(data[i].generatedItems) + " vs " + thousands(data.front().generatedItems);
    const std::string note = "median of " + std::to_string(settings.scaleRepeats) + "; load " + loadAverage();
    printRow(store.name(), "store day list, " + size, median(big.list), median(base.list), "s", note);
    printRow(store.name(), "store day Z check, " + size, median(big.z), median(base.z), "s", note);
    printRow(store.name(), "store day posting, " + size, median(big.posting), median(base.posting), "s", note);
    printRow(store.name(), "  bare list, " + size, median(big.bareList), median(base.bareList), "s");
    printRow(store.name(), "  bare Z check, " + size, median(big.bareZ), median(base.bareZ), "s");
    recordFigure(store.name(), "scalelist", median(big.list), median(base.list));
    recordFigure(store.name(), "scalez", median(big.z), median(base.z));
    recordFigure(store.name(), "scaleposting", median(big.posting), median(base.posting));
  }
  servers.clear();
  if (!settings.keepData)
    for (const auto& d : data) store.drop(d.tag);
}

std::vector<int64_t> parseSizes(const char* text) {
  std::vector<int64_t> sizes;
  for (const QString& s : QString::fromLocal8Bit(text).split(',')) {
    bool ok = false;
    const qint64 n = s.toLongLong(&ok);
    if (!ok || n < 1) die("--sizes: números positivos separados por vírgula");
    sizes.push_back(n);
  }
  return sizes;
}

int usage(int code) {
  std::fprintf(code == 0 ? stdout : stderr,
               "uso: app_bench [--pg URL] [--no-sqlite] [--sizes 100000,1000000]\n"
               "                [--only list,calls,z,memory,load,failover-load,scale]\n"
               "                [--scale-sizes 100000,10000000] [--scale-repeats 7]\n"
               "                [--clients 50] [--duration 60] [--repeats 3] [--keep-data] [--sales-per-second 50]\n"
               "                [--figures FILE]\n"
               "  --pg URL   também em PostgreSQL (padrão: $QFX_TEST_PG_URL); o usuário cria bancos\n");
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  srv::log::setLevel(std::getenv("QFX_BENCH_SERVER_LOG") ? srv::log::Level::Info : srv::log::Level::Warn);
  if (argc == 5 && std::string(argv[1]) == "--memory-child")
    return memoryChild(argv[2], std::atoi(argv[3]), std::atoll(argv[4]));

  Settings settings;
  if (const char* env = std::getenv("QFX_TEST_PG_URL")) settings.pg = env;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--pg" && value) {
      settings.pg = argv[++i];
    } else if (a == "--no-sqlite") {
      settings.sqlite = false;
    } else if (a == "--sizes" && value) {
      settings.sizes = parseSizes(argv[++i]);
    } else if (a == "--scale-sizes" && value) {
      settings.scaleSizes = parseSizes(argv[++i]);
      if (settings.scaleSizes.size() < 2) die("--scale-sizes: a base e pelo menos um tamanho maior");
    } else if (a == "--scale-repeats" && value) {
      settings.scaleRepeats = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--only" && value) {
      settings.parts.clear();
      for (const QString& p : QString::fromLocal8Bit(argv[++i]).split(',')) settings.parts.insert(p.toStdString());
    } else if (a == "--clients" && value) {
      settings.clients = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--duration" && value) {
      settings.duration = std::max(1.0, std::atof(argv[++i]));
    } else if (a == "--figures" && value) {
      figuresFile = std::fopen(argv[++i], "a");
      if (!figuresFile) die(std::string("--figures: não foi possível abrir ") + argv[i]);
    } else if (a == "--sales-per-second" && value) {
      settings.salesPerSecond = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep-data") {
      settings.keepData = true;
    } else if (a == "--repeats" && value) {
      settings.repeats = std::max(1, std::atoi(argv[++i]));
    } else {
      return usage(a == "--help" || a == "-h" ? 0 : 2);
    }
  }
  std::sort(settings.sizes.begin(), settings.sizes.end());

  std::vector<std::unique_ptr<Store>> stores;
  if (settings.sqlite) stores.push_back(std::make_unique<SQLiteStore>(settings.keepData));
  if (!settings.pg.empty()) stores.push_back(std::make_unique<PostgresStore>(settings.pg, settings.keepData));

  std::printf("app_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  std::printf("%-10s %-34s %13s %13s %7s\n", "database", "figure", "ours", "bare", "ratio");
  for (auto& store : stores) {
    if (settings.wants("scale")) benchScale(*store, settings);
    if (!settings.wantsListData()) continue;
    std::vector<Prepared> data;
    for (int64_t size : settings.sizes) {
      data.push_back(prepare(*store, size, settings.keepData));
      std::printf("%-10s data: %s listed items of %s generated, %.1f s\n", store->name().c_str(),
                  thousands(size).c_str(), thousands(data.back().generatedItems).c_str(), data.back().seconds);
    }
    if (settings.wants("list"))
      for (const auto& d : data) benchList(*store, d, settings);
    if (settings.wants("calls")) benchCalls(*store, data.front(), settings);
    if (settings.wants("z")) benchZ(*store, data.front(), settings);
    if (settings.wants("memory")) benchMemory(*store, data.back(), argv[0]);
    if (settings.wants("load")) benchLoad(*store, data.front(), settings);
    if (settings.wants("failover-load")) benchFailoverLoad(*store, data.front(), settings);
    if (!settings.keepData)
      for (const auto& d : data) store->drop(d.tag);
  }
  return 0;
}
