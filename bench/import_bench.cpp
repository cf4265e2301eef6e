// The import of sale items from CSV (ImportaDados through an in-process
// server on loopback, the qfximport client streaming the file) against the
// same rows loaded bare into the same kind of database: SQLite prepared
// inserts in one transaction, PostgreSQL COPY, both with the databases' own
// C libraries and the rows already in memory.
//
// Usage: import_bench [--pg URL] [--sizes 1000000] [--no-sqlite] [--figures FILE]
//   --figures    appends "database import<items> ours bare" lines to FILE
#include <libpq-fe.h>
#include <sqlite3.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "auth/sessions.h"
#include "bench_support.h"
#include "common/log.h"
#include "db/migrations.h"
#include "methods/dispatcher.h"
#include "rpc/server.h"
#include <qfximport/import_client.h>

using namespace qfxbench;
namespace server = qfx::server;

namespace {

constexpr int kItemsPerSale = 4;
constexpr int kRegisters = 8;
constexpr int kProducts = 1000;
constexpr const char* kOperator = "carga";
constexpr const char* kPassword = "carga-bench";

struct SaleRow {
  std::string number, reg, day, moment;
};
struct ItemRow {
  std::string number, item, product, quantity, price;
};

std::string padded(int64_t n, int width) {
  std::string s = std::to_string(n);
  return std::string(size_t(std::max(0, width - int(s.size()))), '0') + s;
}

// The rows, the same for the file and the bare load: sales of four items
// over the thirty days of November 2026, eight registers of store 01.
void forEachSale(int64_t items, const std::function<void(const SaleRow&, const std::vector<ItemRow>&)>& visit) {
  const int64_t sales = (items + kItemsPerSale - 1) / kItemsPerSale;
  std::vector<ItemRow> lines;
  int64_t made = 0;
  for (int64_t s = 0; s < sales; ++s) {
    const int day = 1 + int(s * 30 / sales);
    const std::string dayText = "2026-11-" + padded(day, 2);
    SaleRow sale{padded(s + 1, 10), padded(1 + s % kRegisters, 3), dayText,
                 dayText + " " + padded(8 + s % 12, 2) + ":" + padded(s % 60, 2) + ":00"};
    lines.clear();
    for (int i = 0; i < kItemsPerSale && made < items; ++i, ++made)
      lines.push_back({sale.number, padded(i + 1, 3), "P" + padded(1 + (s * 7 + i * 13) % kProducts, 5),
                       std::to_string(1 + i % 3), std::to_string(2 + (s + i) % 40) + ".50"});
    visit(sale, lines);
  }
}

void writeRegistrations(Database& database) {
  QSqlDatabase db = must(database.connection(), "conexão");
  if (!db.transaction()) die("BEGIN");
  exec(db, "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('01', 'Carga')");
  exec(db, "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0001', 'Carga', '01')");
  exec(db, "INSERT INTO PARAMFILIAL (CDFILIAL) VALUES ('0001')");
  exec(db, "INSERT INTO LOJA (CDFILIAL, CDLOJA, NMLOJA) VALUES ('0001', '01', 'Loja')");
  exec(db, "INSERT INTO TIPOCONS (CDTIPOCONS, NMTIPOCONS) VALUES ('01', 'Balcão')");
  for (int r = 1; r <= kRegisters; ++r)
    exec(db, "INSERT INTO CAIXA (CDFILIAL, CDLOJA, CDCAIXA, NMCAIXA) VALUES ('0001', '01', ?, 'Caixa')",
         {QString::fromStdString(padded(r, 3))});
  for (int p = 1; p <= kProducts; ++p)
    exec(db, "INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO) VALUES (?, 'Produto')",
         {QString::fromStdString("P" + padded(p, 5))});
  if (!db.commit()) die("COMMIT");
  must(server::SessionStore::saveOperator(db, kOperator, "Carga", kPassword, ""), "operador");
  must(server::SessionStore::setImportRight(db, kOperator, true), "direito de importar");
}

QString writeCsv(const QString& path, int64_t items) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) die("não foi possível gravar " + path.toStdString());
  std::string out =
      "CDFILIAL;NRSEQVENDA;CDLOJA;CDCAIXA;DTVENDA;DTENTRVENDA;CDTIPOCONS;NRSEQUITVEND;CDPRODUTO;QTPRODVEND;"
      "VRUNITVEND\n";
  forEachSale(items, [&](const SaleRow& s, const std::vector<ItemRow>& lines) {
    for (const auto& i : lines) {
      std::string price = i.price;
      price[price.size() - 3] = ',';  // the decimal comma of a Brazilian export
      out += "0001;" + s.number + ";01;" + s.reg + ";" + s.day + ";" + s.moment + ";01;" + i.item + ";" + i.product +
             ";" + i.quantity + ";" + price + "\n";
    }
    if (out.size() > (1u << 20)) {
      file.write(out.data(), qint64(out.size()));
      out.clear();
    }
  });
  file.write(out.data(), qint64(out.size()));
  return path;
}

double importThroughServer(Database& database, const QString& csv) {
  server::ServerOptions options;
  options.listen = "127.0.0.1:0";
  options.maxThreads = 4;
  auto running = must(server::AppServer::start(database, server::makeConsolidationObject(), options), "servidor");
  QString error;
  auto connection =
      qfximport::login("127.0.0.1:" + std::to_string(running->port()), false, {}, kOperator, kPassword, &error);
  if (!connection) die("login: " + error.toStdString());
  auto files = qfximport::collectFiles({csv}, &error);
  if (!files) die(error.toStdString());
  QElapsedTimer clock;
  clock.start();
  auto outcome = qfximport::importFiles(*connection, *files, false);
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  if (!outcome.ok) die("importação: " + outcome.error.toStdString());
  if (!outcome.reply.written())
    die("importação recusada: " + (outcome.reply.problems_size() ? outcome.reply.problems(0).reason() : ""));
  running->shutdown();
  return seconds;
}

void sqliteMust(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) die(std::string(what) + ": " + sqlite3_errmsg(db));
}

double bareSqlite(const std::string& url, int64_t items) {
  const std::string path = url.substr(url.find(':') + 1);
  sqlite3* db = nullptr;
  sqliteMust(sqlite3_open(path.c_str(), &db), db, "sqlite3_open");
  // the server's own settings: WAL, a full sync at commit, foreign keys checked
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"})
    sqliteMust(sqlite3_exec(db, pragma, nullptr, nullptr, nullptr), db, pragma);
  QElapsedTimer clock;
  clock.start();
  sqlite3_stmt *sale = nullptr, *item = nullptr;
  sqliteMust(sqlite3_prepare_v2(db,
                                "INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, "
                                "CDTIPOCONS, IDSITUVENDA) VALUES ('0001', ?, '01', ?, ?, ?, '01', 'F')",
                                -1, &sale, nullptr),
             db, "prepare VENDA");
  sqliteMust(sqlite3_prepare_v2(db,
                                "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, "
                                "VRUNITVEND, VRDESITVEND) VALUES ('0001', ?, ?, ?, ?, ?, 0)",
                                -1, &item, nullptr),
             db, "prepare ITVENDA");
  sqliteMust(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), db, "BEGIN");
  auto text = [](sqlite3_stmt* st, int at, const std::string& v) {
    sqlite3_bind_text(st, at, v.data(), int(v.size()), SQLITE_TRANSIENT);
  };
  forEachSale(items, [&](const SaleRow& s, const std::vector<ItemRow>& lines) {
    text(sale, 1, s.number);
    text(sale, 2, s.reg);
    text(sale, 3, s.day);
    text(sale, 4, s.moment);
    sqliteMust(sqlite3_step(sale), db, "INSERT VENDA");
    sqlite3_reset(sale);
    for (const auto& i : lines) {
      text(item, 1, i.number);
      text(item, 2, i.item);
      text(item, 3, i.product);
      sqlite3_bind_double(item, 4, std::stod(i.quantity));
      sqlite3_bind_double(item, 5, std::stod(i.price));
      sqliteMust(sqlite3_step(item), db, "INSERT ITVENDA");
      sqlite3_reset(item);
    }
  });
  sqliteMust(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "COMMIT");
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  sqlite3_finalize(sale);
  sqlite3_finalize(item);
  sqlite3_close(db);
  return seconds;
}

void copyRows(PGconn* pg, const char* statement, const std::function<void(std::string&)>& fill) {
  PGresult* started = PQexec(pg, statement);
  if (PQresultStatus(started) != PGRES_COPY_IN) die(std::string(statement) + ": " + PQerrorMessage(pg));
  PQclear(started);
  std::string buffer;
  fill(buffer);
  if (!buffer.empty() && PQputCopyData(pg, buffer.data(), int(buffer.size())) != 1) die(PQerrorMessage(pg));
  if (PQputCopyEnd(pg, nullptr) != 1) die(PQerrorMessage(pg));
  PGresult* done = PQgetResult(pg);
  if (PQresultStatus(done) != PGRES_COMMAND_OK) die(std::string("COPY: ") + PQerrorMessage(pg));
  PQclear(done);
  while (PGresult* r = PQgetResult(pg)) PQclear(r);
}

double barePostgres(const std::string& url, int64_t items) {
  PGconn* pg = connectPostgres(url);
  QElapsedTimer clock;
  clock.start();
  PQclear(PQexec(pg, "BEGIN"));
  auto flushIfFull = [&](std::string& buffer) {
    if (buffer.size() < (1u << 20)) return;
    if (PQputCopyData(pg, buffer.data(), int(buffer.size())) != 1) die(PQerrorMessage(pg));
    buffer.clear();
  };
  copyRows(pg,
           "COPY VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, CDTIPOCONS, IDSITUVENDA) "
           "FROM STDIN",
           [&](std::string& buffer) {
             forEachSale(items, [&](const SaleRow& s, const std::vector<ItemRow>&) {
               buffer += "0001\t" + s.number + "\t01\t" + s.reg + "\t" + s.day + "\t" + s.moment + "\t01\tF\n";
               flushIfFull(buffer);
             });
           });
  copyRows(pg,
           "COPY ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
           "FROM STDIN",
           [&](std::string& buffer) {
             forEachSale(items, [&](const SaleRow&, const std::vector<ItemRow>& lines) {
               for (const auto& i : lines)
                 buffer += "0001\t" + i.number + "\t" + i.item + "\t" + i.product + "\t" + i.quantity + "\t" + i.price +
                           "\t0\n";
               flushIfFull(buffer);
             });
           });
  PGresult* committed = PQexec(pg, "COMMIT");
  if (PQresultStatus(committed) != PGRES_COMMAND_OK) die(std::string("COMMIT: ") + PQerrorMessage(pg));
  PQclear(committed);
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  PQfinish(pg);
  return seconds;
}

std::string prepared(Store& store, const std::string& tag) {
  const std::string url = store.create(tag);
  auto database = openDatabase(url);
  must(server::migrations::migrate(*database), "migração");
  writeRegistrations(*database);
  return url;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  qfx::server::log::setLevel(qfx::server::log::Level::Warn);
  std::string pg;
  if (const char* env = std::getenv("QFX_TEST_PG_URL")) pg = env;
  std::vector<int64_t> sizes{1000000};
  bool sqlite = true;
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
    } else if (a == "--figures" && i + 1 < argc) {
      figures = std::fopen(argv[++i], "a");
      if (!figures) die(std::string("--figures: não foi possível abrir ") + argv[i]);
    } else {
      std::fprintf(stderr, "uso: import_bench [--pg URL] [--sizes 1000000] [--no-sqlite] [--figures FILE]\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  std::vector<std::unique_ptr<Store>> stores;
  if (sqlite) stores.push_back(std::make_unique<SQLiteStore>());
  if (!pg.empty()) stores.push_back(std::make_unique<PostgresStore>(pg));

  std::printf("import_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  std::printf(
      "ImportaDados: a CSV of sale items (four a sale) streamed by the qfximport client to an in-process server on "
      "loopback, checked and written in one transaction; bare: the same rows, already in memory, by prepared "
      "inserts in one transaction (SQLite) or COPY (PostgreSQL) with the C library\n\n");
  std::printf("%-10s %10s %10s %12s %10s %8s %12s\n", "database", "items", "import s", "items/s", "bare s", "ratio",
              "RSS MB");
  QTemporaryDir folder;
  for (auto& store : stores) {
    for (int64_t items : sizes) {
      const QString csv = writeCsv(folder.filePath(QStringLiteral("VENDA-carga.csv")), items);
      const std::string ours = "imp_" + std::to_string(items), bare = "bare_" + std::to_string(items);
      double seconds = 0;
      {
        auto database = openDatabase(prepared(*store, ours));
        seconds = importThroughServer(*database, csv);
      }
      store->drop(ours);
      const std::string bareUrl = prepared(*store, bare);
      const double bareSeconds = store->name() == "SQLite" ? bareSqlite(bareUrl, items) : barePostgres(bareUrl, items);
      store->drop(bare);
      QFile::remove(csv);
      if (figures) {
        std::fprintf(figures, "%s import%lld %.6f %.6f\n", store->name().c_str(), (long long)items, seconds,
                     bareSeconds);
        std::fflush(figures);
      }
      std::printf("%-10s %10s %10.3f %12.0f %10.3f %8.2f %12.1f\n", store->name().c_str(), thousands(items).c_str(),
                  seconds, double(items) / seconds, bareSeconds, seconds / bareSeconds, double(residentBytes()) / 1e6);
      std::fflush(stdout);
    }
  }
  return 0;
}
