// The import of sale items from CSV (ImportaDados through an in-process
// server on loopback, the qfximport client streaming the file) against the
// same rows loaded bare into the same kind of database: SQLite prepared
// inserts in one transaction, PostgreSQL COPY, both with the databases' own
// C libraries and the rows already in memory.
//
// With --nfce N, also N NFC-e (five items each, one file a document, as a
// drop folder holds them) imported from their folder against the CSV import
// of the same sales in the same run: the time per item of the two.
//
// Usage: import_bench [--pg URL] [--sizes 1000000] [--nfce 100000 [--only-nfce]] [--no-sqlite] [--figures FILE]
//   --only-nfce  the NFC-e figure alone (no CSV against bare rows)
//   --figures    appends "database import<items> ours bare" and "database nfce<documents> nfce csv" lines to FILE
#include <libpq-fe.h>
#include <sqlite3.h>

#include <sys/resource.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "auth/sessions.h"
#include "bench_support.h"
#include "common/log.h"
#include "common/nfce_reader.h"
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
constexpr const char* kCnpj = "11222333000181";
constexpr int kNfceItems = 5;

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
void forEachSale(int64_t items, const std::function<void(const SaleRow&, const std::vector<ItemRow>&)>& visit,
                 int perSale = kItemsPerSale) {
  const int64_t sales = (items + perSale - 1) / perSale;
  std::vector<ItemRow> lines;
  int64_t made = 0;
  for (int64_t s = 0; s < sales; ++s) {
    const int day = 1 + int(s * 30 / sales);
    const std::string dayText = "2026-11-" + padded(day, 2);
    SaleRow sale{padded(s + 1, 10), padded(1 + s % kRegisters, 3), dayText,
                 dayText + " " + padded(8 + s % 12, 2) + ":" + padded(s % 60, 2) + ":00"};
    lines.clear();
    for (int i = 0; i < perSale && made < items; ++i, ++made)
      lines.push_back({sale.number, padded(i + 1, 3), "P" + padded(1 + (s * 7 + i * 13) % kProducts, 5),
                       std::to_string(1 + i % 3), std::to_string(2 + (s + i) % 40) + ".50"});
    visit(sale, lines);
  }
}

void writeRegistrations(Database& database) {
  QSqlDatabase db = must(database.connection(), "conexão");
  if (!db.transaction()) die("BEGIN");
  exec(db, "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('01', 'Carga')");
  exec(db, "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, NRCNPJFILI) VALUES ('0001', 'Carga', '01', ?)",
       {QString::fromLatin1(kCnpj)});
  exec(db, "INSERT INTO PARAMFILIAL (CDFILIAL) VALUES ('0001')");
  exec(db, "INSERT INTO LOJA (CDFILIAL, CDLOJA, NMLOJA) VALUES ('0001', '01', 'Loja')");
  exec(db, "INSERT INTO TIPOCONS (CDTIPOCONS, NMTIPOCONS) VALUES ('01', 'Balcão')");
  for (int r = 1; r <= kRegisters; ++r)
    exec(db, "INSERT INTO CAIXA (CDFILIAL, CDLOJA, CDCAIXA, NMCAIXA, CDSERIENFCE) VALUES ('0001', '01', ?, 'Caixa', ?)",
         {QString::fromStdString(padded(r, 3)), QString::number(r)});
  for (int p = 1; p <= kProducts; ++p)
    exec(db, "INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO) VALUES (?, 'Produto')",
         {QString::fromStdString("P" + padded(p, 5))});
  if (!db.commit()) die("COMMIT");
  must(server::SessionStore::saveOperator(db, kOperator, "Carga", kPassword, ""), "operador");
  must(server::SessionStore::setImportRight(db, kOperator, true), "direito de importar");
}

QString writeCsv(const QString& path, int64_t items, int perSale = kItemsPerSale) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) die("não foi possível gravar " + path.toStdString());
  std::string out =
      "CDFILIAL;NRSEQVENDA;CDLOJA;CDCAIXA;DTVENDA;DTENTRVENDA;CDTIPOCONS;NRSEQUITVEND;CDPRODUTO;QTPRODVEND;"
      "VRUNITVEND\n";
  forEachSale(
      items,
      [&](const SaleRow& s, const std::vector<ItemRow>& lines) {
        for (const auto& i : lines) {
          std::string price = i.price;
          price[price.size() - 3] = ',';  // the decimal comma of a Brazilian export
          out += "0001;" + s.number + ";01;" + s.reg + ";" + s.day + ";" + s.moment + ";01;" + i.item + ";" +
                 i.product + ";" + i.quantity + ";" + price + "\n";
        }
        if (out.size() > (1u << 20)) {
          file.write(out.data(), qint64(out.size()));
          out.clear();
        }
      },
      perSale);
  file.write(out.data(), qint64(out.size()));
  return path;
}

// The same sales as authorised NFC-e, one file each, as issued (namespaces,
// signature, QR code); the register's number is its series.
QString writeNfceFolder(const QString& folder, int64_t documents) {
  QDir().mkpath(folder);
  std::string x;
  forEachSale(
      documents * kNfceItems,
      [&](const SaleRow& s, const std::vector<ItemRow>& lines) {
        const std::string series = std::to_string(std::stoi(s.reg));
        char first[64];
        std::snprintf(first, sizeof first, "352611%s65%03d%09lld1%08lld", kCnpj, std::stoi(s.reg),
                      std::stoll(s.number) % 1000000000, std::stoll(s.number) % 100000000);
        const std::string key = std::string(first) + qfx::server::nfceKeyDigit(first);
        const std::string moment = s.moment.substr(0, 10) + "T" + s.moment.substr(11) + "-03:00";
        x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" "
            "versao=\"4.00\"><NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe versao=\"4.00\" Id=\"NFe" +
            key + "\"><ide><cUF>35</cUF><mod>65</mod><serie>" + series + "</serie><nNF>" +
            std::to_string(std::stoll(s.number)) + "</nNF><dhEmi>" + moment +
            "</dhEmi><tpEmis>1</tpEmis><tpAmb>1</tpAmb></ide><emit><CNPJ>" + kCnpj +
            "</CNPJ><xNome>Carga</xNome></emit>";
        long long total = 0;
        for (size_t i = 0; i < lines.size(); ++i) {
          const auto& it = lines[i];
          const long long cents = std::llround(std::stod(it.quantity) * std::stod(it.price) * 100);
          total += cents;
          char value[32];
          std::snprintf(value, sizeof value, "%lld.%02lld", cents / 100, cents % 100);
          x += "<det nItem=\"" + std::to_string(i + 1) + "\"><prod><cProd>" + it.product +
               "</cProd><cEAN>SEM GTIN</cEAN><xProd>Produto</xProd><qCom>" + it.quantity + ".0000</qCom><vUnCom>" +
               it.price + "00000000</vUnCom><vProd>" + value +
               "</vProd></prod><imposto><ICMS><ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102></ICMS></imposto>"
               "</det>";
        }
        char vnf[32];
        std::snprintf(vnf, sizeof vnf, "%lld.%02lld", total / 100, total % 100);
        x += std::string("<total><ICMSTot><vProd>") + vnf + "</vProd><vDesc>0.00</vDesc><vNF>" + vnf +
             "</vNF></ICMSTot></total><pag><detPag><tPag>01</tPag><vPag>" + vnf +
             "</vPag></detPag></pag></infNFe><infNFeSupl><qrCode><![CDATA[https://nfce.example.invalid/?p=" + key +
             "]]></qrCode></infNFeSupl><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignatureValue>QUJD"
             "</SignatureValue></Signature></NFe><protNFe versao=\"4.00\"><infProt><tpAmb>1</tpAmb><chNFe>" +
             key +
             "</chNFe><cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe></nfeProc>\n";
        QFile file(folder + "/" + QString::fromStdString(key) + "-nfce.xml");
        if (!file.open(QIODevice::WriteOnly) || file.write(x.data(), qint64(x.size())) != qint64(x.size()))
          die("não foi possível gravar " + file.fileName().toStdString());
      },
      kNfceItems);
  return folder;
}

// The process's peak resident memory (VmHWM), in bytes.
int64_t peakResidentBytes() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
  return 0;
}

// Processor seconds of this process (client, server and SQLite; not the
// PostgreSQL server's): on a shared machine they move far less than the
// wall clock, so they tell our own cost apart from the others' load.
double processorSeconds() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(use.ru_utime) + seconds(use.ru_stime);
}

// The processor seconds of the last importThroughServer.
double lastImportProcessorSeconds = 0;

double importThroughServer(Database& database, const QString& csv) {
  server::ServerOptions options;
  options.listen = "127.0.0.1:0";
  options.maxThreads = 4;
  auto running = must(server::AppServer::start(database, server::makeConsolidationObject(), options), "servidor");
  auto connection = qfximport::login("127.0.0.1:" + std::to_string(running->port()), false, {}, kOperator, kPassword);
  if (!connection.ok()) die("login: " + connection.error().toStdString());
  auto files = qfximport::collectFiles({csv});
  if (!files.ok()) die(files.error().toStdString());
  QElapsedTimer clock;
  clock.start();
  const double processorBefore = processorSeconds();
  auto outcome = qfximport::importFiles(*connection, *files, false);
  const double seconds = double(clock.nsecsElapsed()) / 1e9;
  lastImportProcessorSeconds = processorSeconds() - processorBefore;
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
  int64_t documents = 0;
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
    } else if (a == "--nfce" && i + 1 < argc) {
      documents = std::atoll(argv[++i]);
      if (documents < 1) die("--nfce: um número positivo de documentos");
    } else if (a == "--only-nfce") {
      sizes.clear();
    } else if (a == "--no-sqlite") {
      sqlite = false;
    } else if (a == "--figures" && i + 1 < argc) {
      figures = std::fopen(argv[++i], "a");
      if (!figures) die(std::string("--figures: não foi possível abrir ") + argv[i]);
    } else {
      std::fprintf(stderr,
                   "uso: import_bench [--pg URL] [--sizes 1000000] [--nfce 100000 [--only-nfce]] [--no-sqlite] "
                   "[--figures FILE]\n");
      return a == "--help" || a == "-h" ? 0 : 2;
    }
  }
  std::vector<std::unique_ptr<Store>> stores;
  if (sqlite) stores.push_back(std::make_unique<SQLiteStore>());
  if (!pg.empty()) stores.push_back(std::make_unique<PostgresStore>(pg));

  std::printf("import_bench  %s  load average %s\n", machineLine().c_str(), loadAverage().c_str());
  if (!sizes.empty()) {
    std::printf(
        "ImportaDados: a CSV of sale items (four a sale) streamed by the qfximport client to an in-process server on "
        "loopback, checked and written in one transaction; bare: the same rows, already in memory, by prepared "
        "inserts in one transaction (SQLite) or COPY (PostgreSQL) with the C library\n\n");
    std::printf("%-10s %10s %10s %12s %10s %8s %12s\n", "database", "items", "import s", "items/s", "bare s", "ratio",
                "RSS MB");
  }
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
  if (documents > 0) {
    std::printf(
        "\nNFC-e: %s documents of %d items, one file each in a folder, imported by the qfximport client; "
        "against the CSV import of the same sales (%d items a sale) in the same run, time per item\n\n",
        thousands(documents).c_str(), kNfceItems, kNfceItems);
    std::printf("%-10s %10s %10s %12s %10s %8s %12s %12s %12s\n", "database", "documents", "nfce s", "items/s", "csv s",
                "ratio", "peak RSS MB", "nfce cpu s", "csv cpu s");
    const int64_t items = documents * kNfceItems;
    for (auto& store : stores) {
      const QString csv = writeCsv(folder.filePath(QStringLiteral("VENDA-carga.csv")), items, kNfceItems);
      double csvSeconds = 0, nfceSeconds = 0, csvProcessor = 0, nfceProcessor = 0;
      {
        auto database = openDatabase(prepared(*store, "csv_nfce"));
        csvSeconds = importThroughServer(*database, csv);
        csvProcessor = lastImportProcessorSeconds;
      }
      store->drop("csv_nfce");
      QFile::remove(csv);
      const QString xml = writeNfceFolder(folder.filePath(QStringLiteral("nfce")), documents);
      {
        auto database = openDatabase(prepared(*store, "nfce"));
        nfceSeconds = importThroughServer(*database, xml);
        nfceProcessor = lastImportProcessorSeconds;
      }
      store->drop("nfce");
      QDir(xml).removeRecursively();
      if (figures) {
        std::fprintf(figures, "%s nfce%lld %.6f %.6f\n", store->name().c_str(), (long long)documents, nfceSeconds,
                     csvSeconds);
        std::fflush(figures);
      }
      std::printf("%-10s %10s %10.3f %12.0f %10.3f %8.2f %12.1f %12.3f %12.3f\n", store->name().c_str(),
                  thousands(documents).c_str(), nfceSeconds, double(items) / nfceSeconds, csvSeconds,
                  nfceSeconds / csvSeconds, double(peakResidentBytes()) / 1e6, nfceProcessor, csvProcessor);
      std::fflush(stdout);
    }
  }
  return 0;
}
