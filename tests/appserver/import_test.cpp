// The import through the server (ImportaDados) on SQLite and PostgreSQL:
// registrations by key, sales replaced only while pending, every check before
// anything is written, whole or nothing, the dry run, bad input, who may
// import, and imports side by side with posting runs.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <functional>
#include <thread>

#include "auth/sessions.h"
#include "common/nfce_reader.h"
#include "db/database.h"
#include "db/migrations.h"
#include "harness.h"
#include "posting_support.h"

namespace qfx::test {
namespace {

struct File {
  std::string name, kind, text;
};

struct Imported {
  grpc::Status status;
  rpc::ImportaDadosResposta reply;

  const rpc::ImportaDadosContagem& count(const std::string& kind) const {
    for (const auto& c : reply.counts())
      if (c.kind() == kind) return c;
    static const rpc::ImportaDadosContagem none;
    ADD_FAILURE() << "sem contagem de " << kind;
    return none;
  }
  std::string problems() const {
    std::string all;
    for (const auto& p : reply.problems())
      all += p.file_name() + ":" + std::to_string(p.line()) + ":" + p.column() + ": " + p.reason() + "\n";
    return all;
  }
};

// Streams the files in pieces of `pieceBytes` (small pieces cut fields and
// line breaks apart); `complete` false ends the stream without its last word.
Imported send(TestClient& client, const std::vector<File>& files, bool dryRun = false, size_t pieceBytes = 1 << 20,
              bool complete = true) {
  Imported out;
  grpc::ClientContext context;
  context.AddMetadata(std::string(contract::kSessionMetadata), client.token());
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(120));
  auto writer = client.stub().ImportaDados(&context, &out.reply);
  bool first = true;
  for (const auto& f : files) {
    rpc::ImportaDadosLote piece;
    piece.set_file_name(f.name);
    piece.set_kind(f.kind);
    size_t at = 0;
    do {
      if (first) piece.set_dry_run(dryRun);
      first = false;
      piece.set_data(f.text.substr(at, pieceBytes));
      at += pieceBytes;
      writer->Write(piece);
      piece.Clear();
    } while (at < f.text.size());
  }
  if (complete) {
    rpc::ImportaDadosLote last;
    last.set_complete(true);
    writer->Write(last);
  }
  writer->WritesDone();
  out.status = writer->Finish();
  return out;
}

constexpr const char* kSaleHeader =
    "CDFILIAL;NRSEQVENDA;CDLOJA;CDCAIXA;DTVENDA;DTENTRVENDA;CDCLIENTE;CDCCUSCLIE;CDTIPOCONS;IDSITUVENDA;"
    "NRSEQUITVEND;CDPRODUTO;QTPRODVEND;VRUNITVEND;VRDESITVEND\n";

// A sale line of branch 0001, store 01, register 001 on 10 March 2024.
std::string saleLine(const std::string& number, const std::string& item, const std::string& product,
                     const std::string& quantity = "1", const std::string& price = "10,50",
                     const std::string& day = "10/03/2024", const std::string& reg = "001") {
  return "0001;" + number + ";01;" + reg + ";" + day + ";" + day + " 09:00:00;;;01;F;" + item + ";" + product + ";" +
         quantity + ";" + price + ";0\n";
}

File sales(const std::string& lines, const std::string& name = "VENDA.csv") {
  return {name, "VENDA", kSaleHeader + lines};
}

class ImportTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    QFX_REQUIRE_BACKEND(GetParam());
    harness_ = std::make_unique<ServerHarness>(GetParam());
    auto db = harness_->sql();
    exec(db, QStringLiteral("UPDATE OPERADOR SET IDIMPORTA = 'S' WHERE CDOPERADOR IN ('gerente', 'caixa1')"));
    client_ = harness_->loggedIn();
  }
  QSqlDatabase sql() { return harness_->sql(); }

  std::unique_ptr<ServerHarness> harness_;
  std::unique_ptr<TestClient> client_;
};

TEST_P(ImportTest, RegistrationsAreInsertedUpdatedOrLeftByTheirKey) {
  const File products{"PRODUTO.csv", "PRODUTO",
                      "\xEF\xBB\xBF"
                      "CDPRODUTO,NMPRODUTO,IDATIVO\n"
                      "P1,Arroz,S\n"                     // as stored
                      "P2,Feijão carioca,S\n"            // another name
                      "P9,\"Café, \"\"forte\"\"\",\n"};  // new; an empty flag is the column's default
  const File stores{"LOJA.csv", "LOJA", "CDFILIAL;CDLOJA;NMLOJA\n0002;07;Loja Nova\n0001;01;Loja Centro\n"};
  auto done = send(*client_, {products, stores});
  ASSERT_TRUE(done.status.ok()) << done.status.error_message();
  ASSERT_TRUE(done.reply.written()) << done.problems();
  EXPECT_EQ(done.count("PRODUTO").inserted(), 1u);
  EXPECT_EQ(done.count("PRODUTO").updated(), 1u);
  EXPECT_EQ(done.count("PRODUTO").unchanged(), 1u);
  EXPECT_EQ(done.count("LOJA").inserted(), 1u);
  EXPECT_EQ(done.count("LOJA").unchanged(), 1u);
  auto db = sql();
  EXPECT_EQ(scalar(db, "SELECT NMPRODUTO FROM PRODUTO WHERE CDPRODUTO = 'P2'"), "Feijão carioca");
  EXPECT_EQ(scalar(db, "SELECT NMPRODUTO || '|' || IDATIVO || '|' || IDCTRLESTQ FROM PRODUTO WHERE CDPRODUTO = 'P9'"),
            "Café, \"forte\"|S|S");
  // a column the file leaves out keeps its stored value
  EXPECT_EQ(scalar(db, "SELECT CDARVPROD FROM PRODUTO WHERE CDPRODUTO = 'P2'"), "01.002");
}

TEST_P(ImportTest, ASaleIsReplacedWhilePendingAndRefusedOncePosted) {
  auto db = sql();
  // sale 1 as stored (two items, the second with its discount), sale 2 with one item less
  const std::string sale1 =
      "0001;0000000001;01;001;2024-03-10;2024-03-10 09:00:00;C1;CC1;01;F;001;P1;2;10.5;0\n"
      "0001;0000000001;01;001;2024-03-10;2024-03-10 09:00:00;C1;CC1;01;F;002;P2;1;7.25;0.25\n";
  const std::string sale2 = "0001;0000000002;01;002;2024-03-10;2024-03-10 10:30:00;;;02;F;001;P1;3;10.5;0\n";
  const std::string posted = "0001;0000000007;01;001;2024-03-10;2024-03-10 08:00:00;C1;CC2;01;F;001;P1;5;10;0\n";
  const auto before = snapshot(db);
  auto refused = send(*client_, {sales(sale1 + sale2 + posted)});
  ASSERT_TRUE(refused.status.ok()) << refused.status.error_message();
  EXPECT_FALSE(refused.reply.written());
  ASSERT_EQ(refused.reply.problems_size(), 1) << refused.problems();
  const auto& why = refused.reply.problems(0);
  EXPECT_EQ(why.line(), 5u);
  EXPECT_EQ(why.reason().rfind("venda 0000000007 da filial 0001 já consolidada: ", 0), 0u) << why.reason();
  EXPECT_NE(why.reason().find("estorne"), std::string::npos) << "a recusa diz o que fazer";
  EXPECT_EQ(snapshot(db), before) << "um arquivo recusado não grava nada";

  auto done = send(*client_, {sales(sale1 + sale2)});
  ASSERT_TRUE(done.reply.written()) << done.problems();
  EXPECT_EQ(done.count("VENDA").unchanged(), 1u);
  EXPECT_EQ(done.count("VENDA").updated(), 1u);
  EXPECT_EQ(done.count("VENDA").items(), 3u);
  EXPECT_EQ(scalarNumber(db, "SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA = '0000000002'"), 1);
  EXPECT_EQ(
      scalarNumber(db, "SELECT SUM(QTPRODVEND) FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA = '0000000002'"), 3);
  auto again = send(*client_, {sales(sale1 + sale2 + posted.substr(0, posted.find(";001;P1;5")) + ";001;P1;4;10;0\n")});
  ASSERT_TRUE(again.reply.written()) << again.problems();
  EXPECT_EQ(again.count("VENDA").unchanged(), 3u) << "a consolidated sale brought as it is changes nothing";
}

TEST_P(ImportTest, ASaleKeepsItsTextsDaysAndMomentsAsWrittenAndComesBackUnchanged) {
  // a name with what the writers must escape or convert (accents, a quote, a tab, a backslash),
  // a Brazilian day and a moment without seconds; a sale number with what a
  // list of numbers sent to the database must quote
  const std::string file =
      "CDFILIAL;NRSEQVENDA;CDLOJA;CDCAIXA;DTVENDA;DTENTRVENDA;CDTIPOCONS;NMCONSUMIDOR;NRSEQUITVEND;CDPRODUTO;"
      "QTPRODVEND;VRUNITVEND\n"
      "0001;0000000031;01;001;10/03/2024;10/03/2024 09:05;01;\"Jos\xC3\xA9 "
      "\"\"Z\xC3\xA9\"\"\tC:\\caixa\";001;P1;2;10,5\n"
      "0001;0000000032;01;001;2024-03-11;2024-03-11T23:59:58;01;Ana;001;P2;1;7.25\n"
      "0001;\"A\"\"1\\,{ }\";01;001;2024-03-11;2024-03-11 08:00:00;01;;001;P1;1;1\n";
  auto done = send(*client_, {{"VENDA.csv", "VENDA", file}});
  ASSERT_TRUE(done.reply.written()) << done.problems();
  EXPECT_EQ(done.count("VENDA").inserted(), 3u);
  auto db = sql();
  EXPECT_EQ(scalar(db, "SELECT NMCONSUMIDOR FROM VENDA WHERE NRSEQVENDA = '0000000031'"),
            "Jos\xC3\xA9 \"Z\xC3\xA9\"\tC:\\caixa");
  EXPECT_EQ(scalarNumber(db,
                         "SELECT COUNT(*) FROM VENDA WHERE (NRSEQVENDA = '0000000031' AND DTVENDA = '2024-03-10' "
                         "AND DTENTRVENDA = '2024-03-10 09:05:00') OR (NRSEQVENDA = '0000000032' AND "
                         "DTVENDA = '2024-03-11' AND DTENTRVENDA = '2024-03-11 23:59:58')"),
            2);
  auto again = send(*client_, {{"VENDA.csv", "VENDA", file}});
  ASSERT_TRUE(again.reply.written()) << again.problems();
  EXPECT_EQ(again.count("VENDA").unchanged(), 3u) << "read back as written, the same sales change nothing";
}

TEST_P(ImportTest, OnPostgresqlALargeImportLeavesThePlannerItsStatistics) {
  if (GetParam() != Backend::PostgreSQL) GTEST_SKIP() << "SQLite plans without gathered statistics";
  std::string lines;
  for (int sale = 0; sale < 2500; ++sale)
    for (int item = 1; item <= 4; ++item)
      lines += saleLine(QStringLiteral("%1").arg(500000 + sale, 10, 10, QChar('0')).toStdString(),
                        "00" + std::to_string(item), item % 2 ? "P1" : "P2");
  auto done = send(*client_, {sales(lines)});
  ASSERT_TRUE(done.reply.written()) << done.problems();
  // COPY leaves pg_class's estimate where the empty table's index build put it; ANALYZE counts the rows
  auto db = sql();
  EXPECT_GE(scalarNumber(db, "SELECT reltuples FROM pg_class WHERE relname = 'itvenda'"), 10000);
}

// A server session plans the items' foreign key check once, at the first
// items it writes; planned while VENDA looked nearly empty, every check of a
// later large import read the branch's sales through VENDA_DIA. One worker,
// so both imports share a session; its counters are read once it has ended.
TEST_P(ImportTest, OnPostgresqlEveryItemOfALaterLargeImportIsCheckedByTheSalesKey) {
  if (GetParam() != Backend::PostgreSQL) GTEST_SKIP() << "SQLite checks foreign keys by the parent's key alone";
  server::ServerOptions oneWorker;
  oneWorker.maxThreads = 1;
  client_.reset();
  harness_ = std::make_unique<ServerHarness>(GetParam(), true, oneWorker);
  auto db = sql();
  exec(db, QStringLiteral("UPDATE OPERADOR SET IDIMPORTA = 'S' WHERE CDOPERADOR = 'gerente'"));
  client_ = harness_->loggedIn();
  auto number = [](int n) { return QStringLiteral("%1").arg(n, 10, 10, QChar('0')).toStdString(); };
  {
    // another transaction analysing VENDA: the import neither waits for it nor fails
    OtherWriter analysing(harness_->testDatabase().url());
    analysing.exec(QStringLiteral("BEGIN"));
    analysing.exec(QStringLiteral("LOCK TABLE VENDA IN SHARE UPDATE EXCLUSIVE MODE"));
    auto small = send(*client_, {sales(saleLine(number(600000), "001", "P1"))});
    ASSERT_TRUE(small.reply.written()) << small.problems();
    analysing.exec(QStringLiteral("ROLLBACK"));
  }
  constexpr int kSales = 1500;
  std::string lines;
  for (int sale = 0; sale < kSales; ++sale)
    for (const char* item : {"001", "002"}) lines += saleLine(number(700000 + sale), item, "P1");
  auto tried = send(*client_, {sales(lines)}, true);
  ASSERT_EQ(tried.count("VENDA").inserted(), uint64_t(kSales)) << tried.problems();
  auto large = send(*client_, {sales(lines)});
  ASSERT_TRUE(large.reply.written()) << large.problems();
  EXPECT_EQ(scalarNumber(db, QStringLiteral("SELECT count(*) FROM ITVENDA WHERE NRSEQVENDA >= '0000600000'")),
            1 + 2 * kSales);

  // a session's counters reach the shared statistics for certain when it ends
  client_.reset();
  harness_->stop();
  exec(db, QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                          "WHERE datname = current_database() AND pid <> pg_backend_pid()"));
  for (int tries = 0; scalarNumber(db, QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE datname = "
                                                      "current_database() AND pid <> pg_backend_pid()")) > 0;
       ++tries) {
    ASSERT_LT(tries, 1000) << "a server session did not end";
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  exec(db, QStringLiteral("SELECT pg_stat_clear_snapshot()"));
  auto indexCounter = [&](const char* counter, const char* index) {
    return scalarNumber(db, QStringLiteral("SELECT %1 FROM pg_stat_user_indexes WHERE indexrelname = '%2'")
                                .arg(QLatin1String(counter), QLatin1String(index)));
  };
  EXPECT_GE(indexCounter("idx_scan", "venda_pkey"), 2 * kSales) << "one key lookup per item's check";
  // the first batch's lookups, planned before any statistics, may read the
  // branch's few stored sales once per number; checks planned that way read
  // the whole branch once per item (millions here)
  EXPECT_LT(indexCounter("idx_tup_read", "venda_dia"), 10 * kSales)
      << "no item's check reads the branch's sales by day";
}

TEST_P(ImportTest, EveryProblemOfAFileIsReportedAtOnceAndNothingIsWritten) {
  struct Case {
    std::string line, column, reason;
  };
  // a long sale (its items looked up rather than scanned) with one item twice: one problem
  std::string longSale;
  for (int i = 1; i <= 20; ++i)
    longSale += saleLine("0000000115", QStringLiteral("%1").arg(i, 3, 10, QChar('0')).toStdString(), "P1");
  longSale += saleLine("0000000115", "007", "P2");
  const std::vector<Case> cases = {
      {saleLine("0000000101", "001", "P1", "1", "1", "10/03/2024", "009"), "CDCAIXA", "caixa 009 não cadastrado"},
      {saleLine("0000000102", "001", "P1", "1", "1", "10/03/2024", "003"), "CDCAIXA", "é da loja 02"},
      {saleLine("0000000103", "001", "PX"), "CDPRODUTO", "produto PX não cadastrado"},
      {"0001;0000000104;01;001;10/03/2024;;ZZ;;01;F;001;P1;1;1;0\n", "CDCLIENTE", "cliente ZZ não cadastrado"},
      {"0001;0000000105;01;001;10/03/2024;;C1;CC9;01;F;001;P1;1;1;0\n", "CDCCUSCLIE", "centro de custo C1/CC9"},
      {"0009;0000000106;01;001;10/03/2024;;;;01;F;001;P1;1;1;0\n", "CDLOJA", "loja 0009/01 não cadastrada"},
      {"0001;0000000107;01;001;30/02/2024;;;;01;F;001;P1;1;1;0\n", "DTVENDA", "data inválida"},
      {saleLine("0000000108", "001", "P1", "um", "1"), "QTPRODVEND", "número inválido"},
      {saleLine("0000000109", "001", "P1", "1", "1.234,5"), "VRUNITVEND", "número inválido"},
      {"0002;0000000110;01;001;20/03/2024;;;;01;F;001;P1;1;1;0\n", "DTVENDA", "período contábil fechado"},
      {saleLine("0000000111", "001", "P1", "1", "1", "29/02/2024"), "DTVENDA", "fechamento do estoque"},
      {saleLine("0000000112", "001", "P1") + saleLine("0000000112", "001", "P2"), "NRSEQUITVEND", "repetido"},
      {saleLine("0000000113", "001", "P1") + saleLine("0000000114", "001", "P1") + saleLine("0000000113", "002", "P1"),
       "NRSEQVENDA", "já apareceu antes"},
      {longSale, "NRSEQUITVEND", "item 007 da venda 0000000115 da filial 0001 repetido"},
  };
  auto db = sql();
  const auto before = snapshot(db);
  std::string lines = saleLine("0000000100", "001", "P1");  // a sound sale among them
  for (const auto& c : cases) lines += c.line;
  auto done = send(*client_, {sales(lines)}, false, 7);
  ASSERT_TRUE(done.status.ok()) << done.status.error_message();
  EXPECT_FALSE(done.reply.written());
  EXPECT_EQ(done.reply.problem_count(), cases.size()) << done.problems();
  for (const auto& c : cases) {
    bool found = false;
    for (const auto& p : done.reply.problems())
      found = found || (p.column() == c.column && p.reason().find(c.reason) != std::string::npos &&
                        p.file_name() == "VENDA.csv" && p.line() > 1);
    EXPECT_TRUE(found) << c.column << ": " << c.reason << "\n" << done.problems();
  }
  EXPECT_EQ(snapshot(db), before);
}

TEST_P(ImportTest, ADryRunCountsWhatTheImportDoesAndWritesNothing) {
  auto db = sql();
  const std::vector<File> files = {{"PRODUTO.csv", "PRODUTO", "CDPRODUTO;NMPRODUTO\nP8;Novo\nP1;Arroz\n"},
                                   sales(saleLine("0000000200", "001", "P8") + saleLine("0000000200", "002", "P1") +
                                         saleLine("0000000002", "001", "P1", "9")),
                                   {"REDUCAOZ.csv", "REDUCAOZ",
                                    "CDFILIAL;CDCAIXA;DTREDUCAOZ;VRVENLIQREDZ\n0001;001;10/03/2024;68\n"
                                    "0001;001;2024-03-11;1,5\n"}};
  const auto before = snapshot(db);
  auto dry = send(*client_, files, true);
  ASSERT_TRUE(dry.status.ok()) << dry.status.error_message();
  EXPECT_FALSE(dry.reply.written());
  EXPECT_EQ(snapshot(db), before);
  auto real = send(*client_, files);
  ASSERT_TRUE(real.reply.written()) << real.problems();
  dry.reply.set_written(true);
  EXPECT_EQ(dry.reply.SerializeAsString(), real.reply.SerializeAsString());
  EXPECT_EQ(real.count("VENDA").inserted(), 1u);
  EXPECT_EQ(real.count("VENDA").updated(), 1u);
  EXPECT_EQ(real.count("REDUCAOZ").unchanged(), 1u);
  EXPECT_EQ(real.count("REDUCAOZ").inserted(), 1u);
  EXPECT_EQ(scalarNumber(db, "SELECT VRVENLIQREDZ FROM REDUCAOZ WHERE CDCAIXA = '001' AND DTREDUCAOZ = '2024-03-11'"),
            1.5);
}

TEST_P(ImportTest, BadInputIsRefusedWithWhereAndWhyAndWritesNothing) {
  struct Case {
    const char* what;
    File file;
    std::string reason;
  };
  const std::string header = "CDPRODUTO;NMPRODUTO\n";
  const std::vector<Case> cases = {
      {"empty", {"PRODUTO.csv", "PRODUTO", ""}, "arquivo vazio"},
      {"open quote", {"PRODUTO.csv", "PRODUTO", header + "P7;\"Sem fim\nP8;x\n"}, "não se fecham"},
      {"quote inside", {"PRODUTO.csv", "PRODUTO", header + "P7;meio\"aspas\n"}, "aspas fora do lugar"},
      {"latin-1", {"PRODUTO.csv", "PRODUTO", header + "P7;Feij\xE3o\n"}, "UTF-8"},
      {"UTF-16",
       {"PRODUTO.csv", "PRODUTO",
        "\xFF\xFE"
        "C\0D\0"},
       "UTF-16"},
      {"unknown column", {"PRODUTO.csv", "PRODUTO", "CDPRODUTO;NMPRODUTO;PRECO\nP7;x;1\n"}, "coluna desconhecida"},
      {"missing column", {"PRODUTO.csv", "PRODUTO", "CDPRODUTO\nP7\n"}, "falta a coluna obrigatória NMPRODUTO"},
      {"fields", {"PRODUTO.csv", "PRODUTO", header + "P7;x;y\n"}, "3 campos"},
      {"long line", {"PRODUTO.csv", "PRODUTO", header + "P7;" + std::string(3 << 20, 'x') + "\n"}, "bytes"},
      {"unknown kind", {"PRECOS.csv", "PRECOS", header}, "tipo de arquivo desconhecido"},
  };
  auto db = sql();
  const auto before = snapshot(db);
  for (const auto& c : cases) {
    auto done = send(*client_, {{"PRODUTO.csv", "PRODUTO", header + "P6;Bom\n"}, c.file}, false, 4096);
    ASSERT_TRUE(done.status.ok()) << c.what << ": " << done.status.error_message();
    EXPECT_FALSE(done.reply.written()) << c.what;
    ASSERT_EQ(done.reply.problems_size(), 1) << c.what << "\n" << done.problems();
    EXPECT_NE(done.reply.problems(0).reason().find(c.reason), std::string::npos) << c.what << "\n" << done.problems();
    EXPECT_EQ(done.reply.problems(0).file_name(), c.file.name) << c.what;
  }
  // a stream that stops before its last word writes nothing either
  auto cut = send(*client_, {{"PRODUTO.csv", "PRODUTO", header + "P6;Bom\n"}}, false, 1 << 20, false);
  EXPECT_EQ(cut.status.error_code(), grpc::StatusCode::UNAVAILABLE) << cut.status.error_message();
  EXPECT_EQ(snapshot(db), before);
}

TEST_P(ImportTest, OnlyOperatorsWithTheRightImportAndABoundOneOnlyItsBranch) {
  auto db = sql();
  exec(db, QStringLiteral("UPDATE OPERADOR SET IDIMPORTA = 'N' WHERE CDOPERADOR = 'gerente'"));
  auto denied = send(*client_, {{"PRODUTO.csv", "PRODUTO", "CDPRODUTO;NMPRODUTO\nP7;x\n"}});
  EXPECT_EQ(denied.status.error_code(), grpc::StatusCode::PERMISSION_DENIED);
  TestClient anonymous(harness_->port());
  EXPECT_EQ(send(anonymous, {{"PRODUTO.csv", "PRODUTO", "x\n"}}).status.error_code(),
            grpc::StatusCode::UNAUTHENTICATED);

  auto clerk = harness_->loggedIn(kClerk, kClerkPassword);
  auto shared = send(*clerk, {{"PRODUTO.csv", "PRODUTO", "CDPRODUTO;NMPRODUTO\nP7;x\n"}});
  ASSERT_EQ(shared.reply.problems_size(), 1) << shared.problems();
  EXPECT_NE(shared.reply.problems(0).reason().find("cadastro de todas as filiais"), std::string::npos);
  auto other = send(*clerk, {{"REDUCAOZ.csv", "REDUCAOZ",
                              "CDFILIAL;CDCAIXA;DTREDUCAOZ;VRVENLIQREDZ\n0002;001;10/03/2024;1\n"
                              "0001;001;11/03/2024;2\n"}});
  ASSERT_EQ(other.reply.problems_size(), 1) << other.problems();
  EXPECT_EQ(other.reply.problems(0).line(), 2u);
  auto own =
      send(*clerk, {{"REDUCAOZ.csv", "REDUCAOZ", "CDFILIAL;CDCAIXA;DTREDUCAOZ;VRVENLIQREDZ\n0001;001;11/03/2024;2\n"}});
  EXPECT_TRUE(own.reply.written()) << own.problems();
}

TEST_P(ImportTest, ASaleSplitAcrossFilesIsRefused) {
  auto split = send(*client_, {sales(saleLine("0000000300", "001", "P1"), "VENDA-1.csv"),
                               sales(saleLine("0000000300", "002", "P2"), "VENDA-2.csv")});
  ASSERT_EQ(split.reply.problems_size(), 1) << split.problems();
  EXPECT_EQ(split.reply.problems(0).file_name(), "VENDA-2.csv");
  EXPECT_FALSE(split.reply.written());
}

// Imports of new and replaced sales of the days a posting run takes, again
// and again while runs go: no item is posted twice, and no sale is posted in
// part (every stock item of a sale stamped, or none).
TEST_P(ImportTest, ImportsBesidePostingRunsNeverPostTwiceNorHalfASale) {
  auto db = sql();
  plentyOfStock(db);
  const Books before = readBooks(db);
  std::atomic<bool> importing{true};
  std::atomic<int> imports{0}, runs{0};
  std::thread importer([&] {
    auto client = harness_->loggedIn();
    // a dozen imports at least, and on until three runs went by them
    for (int round = 0; round < 200 && (round < 12 || runs < 3); ++round) {
      std::string lines;
      for (int s = 0; s < 20; ++s) {
        const std::string number = QString::number(1000 + round * 20 + s).rightJustified(10, '0').toStdString();
        lines += saleLine(number, "001", "P1", "1", "10", "12/03/2024") +
                 saleLine(number, "002", "P2", "1", "7", "12/03/2024");
      }
      // one sale again every third round, with other quantities, while it may be under a run
      if (round % 3 == 0)
        lines += saleLine("0000000999", "001", "P1", std::to_string(round + 1), "10", "12/03/2024") +
                 saleLine("0000000999", "002", "P2", "1", "7", "12/03/2024");
      auto done = send(*client, {sales(lines)});
      // once a run took the repeated sale, its next import is refused as consolidated
      const bool consolidated =
          !done.reply.problems().empty() && done.reply.problems(0).reason().find("já consolidada") != std::string::npos;
      EXPECT_TRUE(done.status.ok() && (done.reply.written() || consolidated))
          << done.status.error_message() << done.problems();
      ++imports;
      // the pace of a busy chain's stores, not a loop that leaves a run no moment to finish
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    importing = false;
  });
  Consolidation day;
  day.first = day.last = QDate(2024, 3, 12);
  auto runner = harness_->loggedIn();
  while (importing || runs == 0) {
    auto run = consolidate(*runner, day);
    // a run that kept losing its items to imports gives up whole (ABORTED) and posts nothing of them
    const auto code = run.call.status.error_code();
    EXPECT_TRUE(run.call.status.ok() || code == grpc::StatusCode::FAILED_PRECONDITION ||
                code == grpc::StatusCode::ABORTED)
        << run.call.status.error_message();
    ++runs;
  }
  importer.join();
  EXPECT_EQ(checkBooks(db, before), "");
  // a sale half posted: some of its stock items stamped and some not
  EXPECT_EQ(scalar(db,
                   "SELECT COUNT(*) FROM (SELECT I.NRSEQVENDA FROM ITVENDA I JOIN PRODUTO P ON "
                   "P.CDPRODUTO = I.CDPRODUTO WHERE I.CDFILIAL = '0001' AND P.IDCTRLESTQ = 'S' "
                   "GROUP BY I.NRSEQVENDA HAVING COUNT(I.NRLANCESTQ) > 0 AND COUNT(I.NRLANCESTQ) < COUNT(*)) H"),
            "0");
  EXPECT_GT(progress(db).posted, 0) << "the runs posted while the imports went on";
  EXPECT_GE(runs.load(), 3);
  EXPECT_GE(imports.load(), 12);
}

// qfximport as an administrator runs it: the sample files of the manual into
// an empty database, the dry run, a refused file, a password file others may read.
TEST_P(ImportTest, TheCommandImportsTheSamplesAndItsExitStatusSaysWhatHappened) {
  ServerHarness empty(GetParam(), false);
  auto db = empty.sql();
  ASSERT_TRUE(server::SessionStore::saveOperator(db, kManager, "Gerente", kManagerPassword, "").ok());
  ASSERT_TRUE(server::SessionStore::setImportRight(db, kManager, true).ok());
  const QString samples = qfxtest::sourcePath(QStringLiteral("docs/exemplos"));
  auto run = [&](QStringList args, const QString& password = QString::fromLatin1(kManagerPassword)) {
    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!password.isEmpty()) env.insert(QStringLiteral("QFX_PASSWORD"), password);
    command.setProcessEnvironment(env);
    args = QStringList{"--server", QStringLiteral("127.0.0.1:%1").arg(empty.port()), "--operator", kManager} + args;
    command.start(qfxtest::binPath(QStringLiteral("qfximport")), args);
    EXPECT_TRUE(command.waitForFinished(120000));
    return std::make_pair(command.exitCode(),
                          QString::fromUtf8(command.readAllStandardOutput() + command.readAllStandardError()));
  };
  const auto dry = run({"--testar", samples});
  EXPECT_EQ(dry.first, 0) << dry.second.toStdString();
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM VENDA"), "0");
  const auto imported = run({samples});
  EXPECT_EQ(imported.first, 0) << imported.second.toStdString();
  EXPECT_TRUE(imported.second.contains(QStringLiteral("Importação gravada"))) << imported.second.toStdString();
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM ITVENDA"), "5");
  // what the manual's newcomer does next: the imported days consolidate
  Consolidation samplesDays;
  samplesDays.first = QDate(2026, 12, 8);
  samplesDays.last = QDate(2026, 12, 9);
  auto runner = empty.loggedIn();
  const auto posted = consolidate(*runner, samplesDays);
  EXPECT_TRUE(posted.call.ok()) << posted.call.status.error_message();
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM ITVENDA WHERE NRLANCESTQ IS NOT NULL"), "5");

  QTemporaryDir bad;
  QFile broken(bad.filePath(QStringLiteral("REDUCAOZ-x.csv")));
  ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
  broken.write("CDFILIAL;CDCAIXA;DTREDUCAOZ;VRVENLIQREDZ\n0001;001;10/12/2026;doze\n");
  broken.close();
  const auto refused = run({bad.path()});
  EXPECT_EQ(refused.first, 1) << refused.second.toStdString();
  EXPECT_TRUE(refused.second.contains(QStringLiteral("REDUCAOZ-x.csv:2: VRVENLIQREDZ")))
      << refused.second.toStdString();

  QFile open(bad.filePath(QStringLiteral("senha")));
  ASSERT_TRUE(open.open(QIODevice::WriteOnly));
  open.write(kManagerPassword);
  open.close();
  open.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
  const auto readable = run({"--password-file", open.fileName(), samples}, QString());
  EXPECT_EQ(readable.first, 2) << readable.second.toStdString();
  EXPECT_TRUE(readable.second.contains(QStringLiteral("chmod 600"))) << readable.second.toStdString();
}

// ---- NFC-e ----

// Writes an authorised NFC-e as a point of sale keeps it: namespaces as
// issued, the signature block, the QR code in CDATA; each field can be
// bent to make the document a case of its own.
struct NfceItemSpec {
  std::string code, gtin, quantity, price, discount;
};
NfceItemSpec item(std::string code, std::string gtin = "SEM GTIN", std::string quantity = "1.0000",
                  std::string price = "10.5000000000", std::string discount = "") {
  return {std::move(code), std::move(gtin), std::move(quantity), std::move(price), std::move(discount)};
}

struct NfceDocument {
  std::string cnpj = "11222333000181", series = "1", number = "1", model = "65", layout = "4.00";
  std::string moment = "2024-03-10T09:15:00-03:00", environment = "1", emission = "1", status = "100";
  std::string destTag, destDocument, destName;  // no dest when destTag is empty
  std::vector<NfceItemSpec> items = {item("P1")};
  std::vector<std::pair<std::string, std::string>> payments = {{"01", ""}};
  bool protocol = true;
  std::string totalOverride, itemValueOverride;

  static std::string money(long long c) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%02lld", c / 100, c % 100);
    return buf;
  }
  static long long cents(const std::string& v) { return std::llround(std::stod(v) * 100); }

  std::string key() const {
    char first[44];
    std::snprintf(first, sizeof first, "3524%02d%s%s%03d%09d%s%08d", 3, cnpj.c_str(), model.c_str(), std::stoi(series),
                  std::stoi(number), emission.c_str(), 12345678);
    return std::string(first) + server::nfceKeyDigit(first);
  }

  std::string xml() const {
    const std::string k = key();
    std::string x =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<nfeProc xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"4.00\">\n"
        "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\">\n"
        "<infNFe versao=\"" +
        layout + "\" Id=\"NFe" + k +
        "\">\n"
        "<ide><cUF>35</cUF><cNF>12345678</cNF><natOp>VENDA</natOp><mod>" +
        model + "</mod><serie>" + series + "</serie><nNF>" + number + "</nNF><dhEmi>" + moment +
        "</dhEmi><tpNF>1</tpNF><tpImp>4</tpImp><tpEmis>" + emission + "</tpEmis><tpAmb>" + environment +
        "</tpAmb></ide>\n<emit><CNPJ>" + cnpj + "</CNPJ><xNome>Alfa Matriz</xNome></emit>\n";
    if (!destTag.empty())
      x += "<dest><" + destTag + ">" + destDocument + "</" + destTag + ">" +
           (destName.empty() ? "" : "<xNome>" + destName + "</xNome>") + "</dest>\n";
    long long products = 0, discounts = 0;
    for (size_t i = 0; i < items.size(); ++i) {
      const auto& it = items[i];
      const long long value = std::llround(std::stod(it.quantity) * std::stod(it.price) * 100);
      products += value;
      if (!it.discount.empty()) discounts += cents(it.discount);
      x += "<det nItem=\"" + std::to_string(i + 1) + "\"><prod><cProd>" + it.code + "</cProd><cEAN>" + it.gtin +
           "</cEAN><xProd>Produto</xProd><qCom>" + it.quantity + "</qCom><vUnCom>" + it.price + "</vUnCom><vProd>" +
           (i == 0 && !itemValueOverride.empty() ? itemValueOverride : money(value)) + "</vProd>" +
           (it.discount.empty() ? "" : "<vDesc>" + it.discount + "</vDesc>") +
           "</prod><imposto><ICMS><ICMSSN102><orig>0</orig><CSOSN>102</CSOSN></ICMSSN102></ICMS></imposto></det>\n";
    }
    const std::string total = totalOverride.empty() ? money(products - discounts) : totalOverride;
    x += "<total><ICMSTot><vBC>0.00</vBC><vProd>" + money(products) + "</vProd><vDesc>" + money(discounts) +
         "</vDesc><vFrete>0.00</vFrete><vOutro>0.00</vOutro><vNF>" + total + "</vNF></ICMSTot></total>\n<pag>";
    for (const auto& [type, value] : payments)
      x += "<detPag><tPag>" + type + "</tPag><vPag>" + (value.empty() ? total : value) + "</vPag></detPag>";
    x += "</pag>\n</infNFe>\n"
         "<infNFeSupl><qrCode><![CDATA[https://www.example.invalid/qrcode?p=" +
         k +
         "|2|1|1|ABC&x=<det>]]></qrCode></infNFeSupl>\n"
         "<Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignedInfo><Reference URI=\"#NFe" +
         k +
         "\"><DigestValue>AAAA</DigestValue></Reference></SignedInfo><SignatureValue>QUJD</SignatureValue>"
         "<KeyInfo><X509Data><X509Certificate>MIIB</X509Certificate></X509Data></KeyInfo></Signature>\n</NFe>\n";
    if (protocol)
      x += "<protNFe versao=\"4.00\"><infProt><tpAmb>" + environment + "</tpAmb><chNFe>" + k +
           "</chNFe><dhRecbto>2024-03-10T09:15:02-03:00</dhRecbto><nProt>135240000000001</nProt><cStat>" + status +
           "</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo></infProt></protNFe>\n";
    x += "</nfeProc>\n";
    return x;
  }

  File file(const std::string& name = {}) const { return {name.empty() ? key() + "-nfe.xml" : name, "NFCE", xml()}; }
};

// branch 0001 issues NFC-e under CNPJ 11222333000181; series 1 and 2 are
// its registers 001 and 002 (store 01), series 3 the kiosk's 003 (store 02)
void registerNfceIssuer(QSqlDatabase& db) {
  exec(db, QStringLiteral("UPDATE FILIAL SET NRCNPJFILI = '11222333000181' WHERE CDFILIAL = '0001'"));
  exec(db, QStringLiteral("UPDATE CAIXA SET CDSERIENFCE = CAST(CAST(CDCAIXA AS INTEGER) AS VARCHAR(3)) "
                          "WHERE CDFILIAL = '0001'"));
}

TEST_P(ImportTest, NfceDocumentsBecomeSalesAsTheyWereIssued) {
  auto db = sql();
  registerNfceIssuer(db);
  exec(db, QStringLiteral("UPDATE PRODUTO SET CDGTINPROD = '7891000100103' WHERE CDPRODUTO = 'P2'"));
  exec(db, QStringLiteral("UPDATE PARAMFILIAL SET IDNFCEGTIN = 'S' WHERE CDFILIAL = '0001'"));
  NfceDocument customer;  // a registered customer, a discount, two payments, late at night in its own offset
  customer.number = "41";
  customer.moment = "2024-03-10T23:30:00-03:00";
  customer.destTag = "CNPJ";
  customer.destDocument = "12345678000199";
  customer.items = {item("P1", "SEM GTIN", "2.0000", "10.5000000000", "1.00"),
                    item("IGNORADO", "7891000100103", "1.5000", "7.3300000000")};
  customer.payments = {{"01", "10.00"}, {"03", "20.99"}};
  NfceDocument consumer;  // a consumer who is no customer keeps the name
  consumer.number = "42";
  consumer.series = "3";
  consumer.destTag = "CPF";
  consumer.destDocument = "11144477735";
  consumer.destName = "José da Silva";
  NfceDocument contingency;  // issued offline, authorised late
  contingency.number = "43";
  contingency.series = "2";
  contingency.emission = "9";
  contingency.status = "150";
  const File copied = customer.file("copia-renomeada.xml");  // the same document twice is one sale

  auto done = send(*client_, {customer.file(), consumer.file(), contingency.file(), copied}, false, 13);
  ASSERT_TRUE(done.status.ok()) << done.status.error_message();
  ASSERT_TRUE(done.reply.written()) << done.problems();
  EXPECT_EQ(done.count("NFCE").inserted(), 3u);
  EXPECT_EQ(done.count("NFCE").unchanged(), 1u);
  const auto sale = [&](const NfceDocument& document) {
    return scalar(db,
                  "SELECT NRSEQVENDA || '|' || CDLOJA || '|' || CDCAIXA || '|' || DTVENDA || '|' || DTENTRVENDA || '|' "
                  "|| NRCUPOMFIS || '|' || COALESCE(CDCLIENTE, '-') || '|' || COALESCE(NMCONSUMIDOR, '-') || '|' || "
                  "IDTPFORPGVEN || '|' || IDSITUVENDA FROM VENDA WHERE CDCHAVENFCE = ?",
                  {QString::fromStdString(document.key())});
  };
  EXPECT_EQ(sale(customer), "0000000010|01|001|2024-03-10|2024-03-10 23:30:00|41|C1|-|3|F");
  EXPECT_EQ(sale(consumer), "0000000011|02|003|2024-03-10|2024-03-10 09:15:00|42|-|José da Silva|1|F");
  EXPECT_EQ(sale(contingency), "0000000012|01|002|2024-03-10|2024-03-10 09:15:00|43|-|-|1|F");
  const auto itemValue = [&](const char* column, int item) {
    return scalarNumber(db,
                        QStringLiteral("SELECT %1 FROM ITVENDA WHERE NRSEQVENDA = '0000000010' AND NRSEQUITVEND = ?")
                            .arg(QLatin1String(column)),
                        {QString::number(item)});
  };
  // the second item found by its GTIN, as the branch says
  EXPECT_EQ(scalar(db, "SELECT CDPRODUTO FROM ITVENDA WHERE NRSEQVENDA = '0000000010' AND NRSEQUITVEND = '2'"), "P2");
  EXPECT_DOUBLE_EQ(itemValue("QTPRODVEND", 2), 1.5);
  EXPECT_DOUBLE_EQ(itemValue("VRUNITVEND", 2), 7.33);
  EXPECT_DOUBLE_EQ(itemValue("VRDESITVEND", 1), 1.0);
  EXPECT_DOUBLE_EQ(itemValue("VRDESITVEND", 2), 0.0);

  auto again = send(*client_, {customer.file(), consumer.file(), contingency.file()});
  ASSERT_TRUE(again.reply.written()) << again.problems();
  EXPECT_EQ(again.count("NFCE").unchanged(), 3u) << "the access key is the sale: nothing imports twice";
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM VENDA WHERE CDCHAVENFCE IS NOT NULL"), "3");

  // once posted, a document with the same key and other content is refused
  exec(db, QStringLiteral("UPDATE ITVENDA SET NRLANCESTQ = 1 WHERE NRSEQVENDA = '0000000011'"));
  NfceDocument edited = consumer;
  edited.items = {item("P1", "SEM GTIN", "2.0000")};
  auto refused = send(*client_, {edited.file()});
  EXPECT_FALSE(refused.reply.written());
  ASSERT_EQ(refused.reply.problems_size(), 1) << refused.problems();
  EXPECT_EQ(refused.reply.problems(0).file_name(), edited.key() + "-nfe.xml");
  EXPECT_NE(refused.reply.problems(0).reason().find("já consolidada"), std::string::npos) << refused.problems();
}

TEST_P(ImportTest, EachRefusedNfceNamesItsFileElementAndReason) {
  auto db = sql();
  registerNfceIssuer(db);
  struct Case {
    std::string element, reason;
    std::function<void(NfceDocument&)> bend;
    std::function<std::string(std::string)> damage = nullptr;
  };
  const std::vector<Case> cases = {
      {"NFe/infNFe/ide/mod", "modelo 55 não é NFC-e", [](NfceDocument& n) { n.model = "55"; }},
      {"protNFe", "sem protocolo de autorização", [](NfceDocument& n) { n.protocol = false; }},
      {"protNFe/infProt/cStat", "não autorizada: situação 110", [](NfceDocument& n) { n.status = "110"; }},
      {"NFe/infNFe/ide/tpAmb", "homologação", [](NfceDocument& n) { n.environment = "2"; }},
      {"NFe/infNFe/emit/CNPJ", "CNPJ 99888777000166", [](NfceDocument& n) { n.cnpj = "99888777000166"; }},
      {"NFe/infNFe/ide/serie", "série 9 não é de nenhum caixa", [](NfceDocument& n) { n.series = "9"; }},
      {"NFe/infNFe/det/prod/cProd", "produto PX não cadastrado", [](NfceDocument& n) { n.items = {item("PX")}; }},
      {"NFe/infNFe/total/ICMSTot/vNF", "não fecha", [](NfceDocument& n) { n.totalOverride = "9.50"; }},
      {"NFe/infNFe/det/prod/vProd", "não é qCom", [](NfceDocument& n) { n.itemValueOverride = "1.00"; }},
      {"NFe/infNFe/@versao", "leiaute 3.10", [](NfceDocument& n) { n.layout = "3.10"; }},
      {"NFe/infNFe/@Id", "dígito verificador", [](NfceDocument&) {},
       [](std::string x) {
         const auto at = x.find("Id=\"NFe") + 7 + 43;
         x[at] = x[at] == '0' ? '1' : '0';
         return x;
       }},
      {"", "XML malformado", [](NfceDocument&) {},
       [](std::string x) { return x.replace(x.find("</serie>"), 8, "</nNF>"); }},
      {"", "arquivo incompleto", [](NfceDocument&) {}, [](std::string x) { return x.substr(0, x.size() / 2); }},
      {"", "codificação UTF-8", [](NfceDocument&) {},
       [](std::string x) { return x.replace(x.find("Alfa Matriz"), 4, "Cora\xE7\xE3o"); }},
  };
  std::vector<File> files{NfceDocument{}.file()};  // a sound one among them
  for (size_t i = 0; i < cases.size(); ++i) {
    NfceDocument document;
    document.number = std::to_string(100 + i);
    cases[i].bend(document);
    File f = document.file("caso-" + std::to_string(i) + ".xml");
    if (cases[i].damage) f.text = cases[i].damage(f.text);
    files.push_back(f);
  }
  const auto before = snapshot(db);
  auto done = send(*client_, files, false, 100);
  ASSERT_TRUE(done.status.ok()) << done.status.error_message();
  EXPECT_FALSE(done.reply.written());
  EXPECT_EQ(done.reply.problem_count(), cases.size()) << done.problems();
  EXPECT_EQ(done.count("NFCE").refused(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    bool found = false;
    for (const auto& p : done.reply.problems())
      found = found || (p.file_name() == "caso-" + std::to_string(i) + ".xml" && p.column() == cases[i].element &&
                        p.reason().find(cases[i].reason) != std::string::npos);
    EXPECT_TRUE(found) << i << " " << cases[i].element << ": " << cases[i].reason << "\n" << done.problems();
  }
  EXPECT_EQ(snapshot(db), before) << "a refused document writes nothing, and neither does its import";
}

// qfximport --pasta as a timer runs it: twice over the same folder, a copy
// under another name, a file still being written, one refused.
TEST_P(ImportTest, TheDropFolderImportsWhatIsNewOnceByAccessKey) {
  auto db = sql();
  registerNfceIssuer(db);
  QTemporaryDir folder;
  const QDateTime settled = QDateTime::currentDateTime().addSecs(-600);
  auto write = [&](const std::string& name, const std::string& text, bool old = true) {
    QFile f(folder.filePath(QString::fromStdString(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), qint64(text.size()));
    f.flush();  // before the time is set, or the write sets it again
    if (old) {
      ASSERT_TRUE(f.setFileTime(settled, QFileDevice::FileModificationTime));
    }
  };
  NfceDocument first, second, unknown;
  first.number = "51";
  second.number = "52";
  unknown.number = "53";
  unknown.items = {item("PX")};
  write("a.xml", first.xml());
  write("b.xml", second.xml());
  write("copia-de-a.xml", first.xml());
  write("c.xml", unknown.xml());
  auto run = [&] {
    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QFX_PASSWORD"), QString::fromLatin1(kManagerPassword));
    command.setProcessEnvironment(env);
    command.setProcessChannelMode(QProcess::MergedChannels);
    command.start(qfxtest::binPath(QStringLiteral("qfximport")),
                  {"--server", QStringLiteral("127.0.0.1:%1").arg(harness_->port()), "--operator", kManager, "--pasta",
                   folder.path()});
    EXPECT_TRUE(command.waitForFinished(120000)) << command.errorString().toStdString();
    return std::make_pair(command.exitCode(), QString::fromUtf8(command.readAll()));
  };
  const auto once = run();
  EXPECT_EQ(once.first, 1) << "one was refused";
  EXPECT_TRUE(once.second.contains(QStringLiteral("2 importadas, 1 já importadas antes, 1 recusadas")))
      << once.second.toStdString();
  EXPECT_TRUE(once.second.contains(QStringLiteral("c.xml:"))) << once.second.toStdString();
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM VENDA WHERE CDCHAVENFCE IS NOT NULL"), "2");

  // the refused product is registered; a new document is still being written
  exec(db,
       QStringLiteral("INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO, IDATIVO, IDCTRLESTQ) VALUES ('PX', 'X', 'S', 'S')"));
  NfceDocument fresh;
  fresh.number = "54";
  write("d.xml", fresh.xml(), false);
  const auto twice = run();
  EXPECT_EQ(twice.first, 0) << twice.second.toStdString();
  EXPECT_TRUE(twice.second.contains(QStringLiteral("1 importadas, 3 já importadas antes, 0 recusadas, 1 ainda")))
      << twice.second.toStdString();
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM VENDA WHERE CDCHAVENFCE IS NOT NULL"), "3");
}

// A copy far behind its document, more documents between them than the
// import writes at a time: still one sale, and still refused when it differs.
TEST_P(ImportTest, ACopyIsOneSaleHoweverManyDocumentsComeBetween) {
  auto db = sql();
  registerNfceIssuer(db);
  std::vector<File> files;
  NfceDocument copied, edited;
  copied.number = "901";
  edited.number = "902";
  files.push_back(copied.file());
  files.push_back(edited.file());
  for (int n = 0; n < 1100; ++n) {
    NfceDocument between;
    between.number = std::to_string(1000 + n);
    files.push_back(between.file());
  }
  files.push_back(copied.file("copia.xml"));
  edited.items = {item("P1", "SEM GTIN", "2.0000")};
  files.push_back(edited.file("alterada.xml"));
  auto done = send(*client_, files);
  ASSERT_TRUE(done.status.ok()) << done.status.error_message();
  EXPECT_FALSE(done.reply.written());
  EXPECT_EQ(done.count("NFCE").inserted(), 1102u);
  EXPECT_EQ(done.count("NFCE").unchanged(), 1u);
  ASSERT_EQ(done.reply.problems_size(), 1) << done.problems();
  EXPECT_EQ(done.reply.problems(0).file_name(), "alterada.xml");
  EXPECT_EQ(done.reply.problems(0).column(), "NFe/infNFe/@Id") << done.problems();
}

// The cancellation event as the point of sale keeps it: the event, signed,
// and the authority's return.
File cancellationOf(const std::string& key, const std::string& type = "110111", const std::string& status = "135") {
  const std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<procEventoNFe xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.00\">\n"
      "<evento versao=\"1.00\"><infEvento Id=\"ID" +
      type + key +
      "01\"><cOrgao>35</cOrgao><tpAmb>1</tpAmb>"
      "<CNPJ>11222333000181</CNPJ><chNFe>" +
      key + "</chNFe><dhEvento>2024-03-10T10:00:00-03:00</dhEvento><tpEvento>" + type +
      "</tpEvento><nSeqEvento>1</nSeqEvento><verEvento>1.00</verEvento><detEvento versao=\"1.00\">"
      "<descEvento>Cancelamento</descEvento><nProt>135240000000001</nProt><xJust>Cliente desistiu da compra</xJust>"
      "</detEvento></infEvento><Signature xmlns=\"http://www.w3.org/2000/09/xmldsig#\"><SignatureValue>QUJD"
      "</SignatureValue></Signature></evento>\n<retEvento versao=\"1.00\"><infEvento><tpAmb>1</tpAmb><cStat>" +
      status + "</cStat><xMotivo>Evento registrado</xMotivo><chNFe>" + key + "</chNFe><tpEvento>" + type +
      "</tpEvento></infEvento></retEvento>\n</procEventoNFe>\n";
  return {"cancelamento-" + key + ".xml", "NFCE", x};
}

TEST_P(ImportTest, ACancellationCancelsAPendingSaleAndWaitsForAConsolidationToBeReversed) {
  auto db = sql();
  registerNfceIssuer(db);
  NfceDocument kept, cancelled;
  kept.number = "61";
  cancelled.number = "62";
  const auto situation = [&](const NfceDocument& document) {
    return scalar(db, "SELECT IDSITUVENDA FROM VENDA WHERE CDCHAVENFCE = ?", {QString::fromStdString(document.key())});
  };
  // the event comes first in the import, its document after it
  auto done = send(*client_, {cancellationOf(cancelled.key()), kept.file(), cancelled.file()});
  ASSERT_TRUE(done.reply.written()) << done.problems();
  EXPECT_EQ(done.count("NFCE").inserted(), 2u);
  EXPECT_EQ(done.count("NFCE").updated(), 1u);
  EXPECT_EQ(situation(kept), "F");
  EXPECT_EQ(situation(cancelled), "C");
  auto again = send(*client_, {cancelled.file(), cancellationOf(cancelled.key())});
  ASSERT_TRUE(again.reply.written()) << again.problems();
  EXPECT_EQ(again.count("NFCE").unchanged(), 2u);
  EXPECT_EQ(situation(cancelled), "C") << "the document again does not undo its cancellation";

  const QString number = QString::fromStdString(
      scalar(db, "SELECT NRSEQVENDA FROM VENDA WHERE CDCHAVENFCE = ?", {QString::fromStdString(kept.key())}));
  exec(db, QStringLiteral("UPDATE ITVENDA SET NRLANCESTQ = 1 WHERE NRSEQVENDA = ?"), {number});
  const auto before = snapshot(db);
  auto refused = send(*client_, {cancellationOf(kept.key()), cancellationOf(kept.key(), "110110")});
  EXPECT_FALSE(refused.reply.written());
  EXPECT_EQ(refused.reply.problem_count(), 2u) << refused.problems();
  for (const char* why : {"já consolidada: estorne a consolidação", "não é um cancelamento"})
    EXPECT_NE(refused.problems().find(why), std::string::npos) << why << "\n" << refused.problems();
  EXPECT_EQ(snapshot(db), before);

  // the consolidation reversed, the same event applies
  exec(db, QStringLiteral("UPDATE ITVENDA SET NRLANCESTQ = NULL WHERE NRSEQVENDA = ?"), {number});
  auto applied = send(*client_, {cancellationOf(kept.key())});
  ASSERT_TRUE(applied.reply.written()) << applied.problems();
  EXPECT_EQ(situation(kept), "C");

  // an event in an earlier import than its document waits for it
  NfceDocument late;
  late.number = "63";
  for (unsigned run : {1u, 2u}) {
    auto waiting = send(*client_, {cancellationOf(late.key())});
    ASSERT_TRUE(waiting.reply.written()) << waiting.problems();
    EXPECT_EQ(run == 1 ? waiting.count("NFCE").inserted() : waiting.count("NFCE").unchanged(), 1u) << run;
  }
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM NFCECANCPEND"), "1");
  auto arrived = send(*client_, {late.file()});
  ASSERT_TRUE(arrived.reply.written()) << arrived.problems();
  EXPECT_EQ(arrived.count("NFCE").updated(), 1u);
  EXPECT_EQ(situation(late), "C");
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM NFCECANCPEND"), "0");
}

// PostgreSQL, the import beside others: a cancellation waits for a posting run
// under way (which holds the branch's note series from before it reads the
// sales to its commit), and two imports numbering the same branch's new sales
// take turns. A connection of the test holds each lock, as the other side would.
TEST_P(ImportTest, OnPostgresqlACancellationWaitsForARunAndConcurrentImportsNeverShareANumber) {
  if (GetParam() != Backend::PostgreSQL) GTEST_SKIP() << "SQLite writes one transaction at a time";
  auto db = sql();
  registerNfceIssuer(db);
  NfceDocument sold;
  sold.number = "81";
  ASSERT_TRUE(send(*client_, {sold.file()}).reply.written());
  OtherWriter run(harness_->testDatabase().url()), observer(harness_->testDatabase().url());
  const auto holdSeries = [&](const char* series) {
    run.exec(QStringLiteral("INSERT INTO NUMERADOR (CDFILIAL, NMNUMERADOR, NRULTIMO) VALUES ('0001', '%1', 0) "
                            "ON CONFLICT (CDFILIAL, NMNUMERADOR) DO NOTHING")
                 .arg(QLatin1String(series)));
    run.exec(QStringLiteral("BEGIN"));
    run.exec(QStringLiteral("UPDATE NUMERADOR SET NRULTIMO = NRULTIMO WHERE CDFILIAL = '0001' AND NMNUMERADOR = '%1'")
                 .arg(QLatin1String(series)));
  };

  holdSeries("LANCTONF");
  std::atomic<bool> ended{false};
  Imported cancelling;
  auto canceller = harness_->loggedIn();
  std::thread cancel([&] {
    cancelling = send(*canceller, {cancellationOf(sold.key())});
    ended = true;
  });
  const bool waited = waitForBlockedSession(observer.sql(), run.backendPid(), [&] { return ended.load(); }) != 0;
  // the run posts the sale's items and commits
  run.exec(QStringLiteral("UPDATE ITVENDA SET CDFILIALEST = '0001', NRLANCESTQ = '0000000099' WHERE NRSEQVENDA IN "
                          "(SELECT NRSEQVENDA FROM VENDA WHERE CDCHAVENFCE = '%1')")
               .arg(QString::fromStdString(sold.key())));
  run.exec(QStringLiteral("COMMIT"));
  cancel.join();
  EXPECT_TRUE(waited) << "the cancellation did not wait for the run under way";
  EXPECT_FALSE(cancelling.reply.written());
  EXPECT_NE(cancelling.problems().find("já consolidada"), std::string::npos) << cancelling.problems();
  EXPECT_EQ(scalar(db, "SELECT IDSITUVENDA FROM VENDA WHERE CDCHAVENFCE = ?", {QString::fromStdString(sold.key())}),
            "F");

  holdSeries("VENDANFCE");
  std::vector<File> first, second;
  for (int n = 0; n < 40; ++n) {
    NfceDocument a, b;
    a.number = std::to_string(200 + n);
    b.number = std::to_string(300 + n);
    b.series = "2";
    first.push_back(a.file());
    second.push_back(b.file());
  }
  std::atomic<int> finished{0};
  Imported one, other;
  auto otherClient = harness_->loggedIn();
  std::thread a([&] {
    one = send(*client_, first);
    ++finished;
  });
  std::thread b([&] {
    other = send(*otherClient, second);
    ++finished;
  });
  const bool bothWaited =
      waitForBlockedSessions(observer.sql(), run.backendPid(), 2, [&] { return finished.load() > 0; });
  run.exec(QStringLiteral("COMMIT"));
  a.join();
  b.join();
  EXPECT_TRUE(bothWaited) << "the imports did not wait for the branch's numbering";
  EXPECT_TRUE(one.reply.written()) << one.status.error_message() << one.problems();
  EXPECT_TRUE(other.reply.written()) << other.status.error_message() << other.problems();
  EXPECT_EQ(scalar(db, "SELECT COUNT(DISTINCT NRSEQVENDA) FROM VENDA WHERE CDCHAVENFCE IS NOT NULL"), "81");
}

// What the Z check of a register-day compares, as the screen receives it:
// the sum of its sales and the value they must come to (an empty reply is
// 0), in cents; the screen compares the two numbers exactly, as they come.
std::pair<long long, long long> zCheck(TestClient& client, const std::string& reg, QDate day) {
  const auto first = [](const CallResult& reply, const char* field) {
    EXPECT_TRUE(reply.ok()) << reply.status.error_message();
    return reply.ok() && reply.packet().rowCount() > 0 ? cellNumber(reply.packet(), field, 0) : 0.0;
  };
  using A = contract::GetSoma;
  const auto sum = client.invoke("GetSoma", Args<A>{{A::Filial, text("0001")},
                                                    {A::Loja, text("01")},
                                                    {A::Caixa, text(reg)},
                                                    {A::Dia, date(day)},
                                                    {A::TodasVendas, ref("S")},
                                                    {A::StVendas, ref("")},
                                                    {A::BoTodosTipoCons, boolean(true)},
                                                    {A::StTipoCons, ref("")},
                                                    {A::TodasNF, ref("N")}}
                                                .values());
  const auto z = client.invoke("GetReducaoZ", {text("0001"), text(reg), date(day)});
  const double sales = first(sum, "TOTAL"), expected = first(z, "VRVENLIQREDZ");
  if (std::llround(sales * 100) == std::llround(expected * 100)) {
    EXPECT_EQ(sales, expected);
  }
  return {std::llround(sales * 100), std::llround(expected * 100)};
}

TEST_P(ImportTest, AnNfceRegistersDayIsCheckedAgainstItsDocumentsWhereTheBranchSaysSo) {
  auto db = sql();
  registerNfceIssuer(db);
  const QDate day(2024, 3, 12);
  NfceDocument plain, discounted, cancelled, other;
  for (auto* d : {&plain, &discounted, &cancelled, &other}) d->moment = "2024-03-12T10:00:00-03:00";
  plain.number = "71";
  discounted.number = "72";
  discounted.items = {item("P1", "SEM GTIN", "3.0000", "7.3300000000", "0.99"), item("P2")};
  cancelled.number = "73";
  other.number = "74";
  other.series = "2";
  auto done = send(*client_, {plain.file(),
                              discounted.file(),
                              cancelled.file(),
                              other.file(),
                              cancellationOf(cancelled.key()),
                              {"REDUCAOZ.csv", "REDUCAOZ",
                               "CDFILIAL;CDCAIXA;DTREDUCAOZ;VRVENLIQREDZ\n"
                               "0001;001;12/03/2024;1,00\n0001;002;12/03/2024;2,00\n"}});
  ASSERT_TRUE(done.reply.written()) << done.problems();
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(4200LL, 100LL)) << "by default: the Z reduction";

  auto byDocuments = send(*client_, {{"PARAMFILIAL.csv", "PARAMFILIAL", "CDFILIAL;IDZNFCE\n0001;N\n"}});
  ASSERT_TRUE(byDocuments.reply.written()) << byDocuments.problems();
  {
    // a database upgraded with these documents in: their sales give the record
    server::Database database(*server::DbConfig::parse(harness_->testDatabase().url()));
    QSqlQuery drop(db);
    for (const char* table : {"NFCECAIXADIA", "NFCEDOCUMENTO"})
      ASSERT_TRUE(drop.exec(QStringLiteral("DROP TABLE ") + QLatin1String(table)))
          << drop.lastError().text().toStdString();
    exec(db, QStringLiteral("DELETE FROM QFXVERSAOESQUEMA WHERE NRVERSAO IN (13, 15)"));
    auto upgraded = server::migrations::migrate(database);
    ASSERT_TRUE(upgraded.ok()) << upgraded.error().message;
  }
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(4200LL, 4200LL)) << "the cancelled one counts nothing";
  // a register that issues no NFC-e keeps its Z reduction
  exec(db, QStringLiteral("UPDATE CAIXA SET CDSERIENFCE = NULL WHERE CDFILIAL = '0001' AND CDCAIXA = '002'"));
  EXPECT_EQ(zCheck(*client_, "002", day).second, 200);

  // an item changed, then one lost, after the import: the documents still say what was sold
  const QString number = QString::fromStdString(
      scalar(db, "SELECT NRSEQVENDA FROM VENDA WHERE CDCHAVENFCE = ?", {QString::fromStdString(discounted.key())}));
  exec(db, QStringLiteral("UPDATE ITVENDA SET QTPRODVEND = 2 WHERE NRSEQVENDA = ? AND NRSEQUITVEND = '1'"), {number});
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(1050LL + 1466 - 99 + 1050, 4200LL));
  exec(db, QStringLiteral("DELETE FROM ITVENDA WHERE NRSEQVENDA = ? AND NRSEQUITVEND = '2'"), {number});
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(1050LL + 1466 - 99, 4200LL));
  // the documents imported again put the pending sale back as it was issued
  auto again = send(*client_, {discounted.file()});
  ASSERT_TRUE(again.reply.written()) << again.problems();
  EXPECT_EQ(again.count("NFCE").updated(), 1u);
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(4200LL, 4200LL));

  // a sale deleted whole: its document was recorded apart from it
  const auto deleteSales = [&](const QString& where, const QVariantList& values) {
    for (const char* table : {"ITVENDA", "VENDA"})
      exec(db,
           QStringLiteral("DELETE FROM %1 WHERE NRSEQVENDA IN (SELECT NRSEQVENDA FROM VENDA WHERE %2)")
               .arg(QLatin1String(table), where),
           values);
  };
  deleteSales(QStringLiteral("CDCHAVENFCE = ?"), {QString::fromStdString(plain.key())});
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(4200LL - 1050, 4200LL));
  // every sale of the register-day deleted: the day is still offered to the check
  deleteSales(QStringLiteral("CDCAIXA = '001'"), {});
  PrincipalFilter filter;
  filter.first = filter.last = day;
  const auto registerDays = client_->invoke("GetVerifVenda", filter.verificationArgs());
  ASSERT_TRUE(registerDays.ok()) << registerDays.status.error_message();
  EXPECT_EQ(columnTexts(registerDays.packet(), "CDCAIXA"), (std::vector<std::string>{"001", "002"}));
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(0LL, 4200LL));
  // a selection of sales names none of a day that has none
  filter.sales = "_0001" + number.toStdString() + "_";
  EXPECT_EQ(client_->invoke("GetVerifVenda", filter.verificationArgs()).packet().rowCount(), 0u);

  // the deleted sales imported again, twice: each document counts once, the cancelled one as nothing
  for (int round = 0; round < 2; ++round) {
    auto back = send(*client_, {plain.file(), discounted.file(), cancelled.file()});
    ASSERT_TRUE(back.reply.written()) << back.problems();
    EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(4200LL, 4200LL)) << "round " << round;
  }
  EXPECT_EQ(
      scalar(db, "SELECT IDSITUVENDA FROM VENDA WHERE CDCHAVENFCE = ?", {QString::fromStdString(cancelled.key())}),
      "C");
  // a cancellation of a document whose sale was deleted takes it out of the day, and it comes back cancelled
  deleteSales(QStringLiteral("CDCHAVENFCE = ?"), {QString::fromStdString(plain.key())});
  auto lateCancellation = send(*client_, {cancellationOf(plain.key())});
  ASSERT_TRUE(lateCancellation.reply.written()) << lateCancellation.problems();
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(3150LL, 3150LL));
  auto cancelledBack = send(*client_, {plain.file()});
  ASSERT_TRUE(cancelledBack.reply.written()) << cancelledBack.problems();
  EXPECT_EQ(zCheck(*client_, "001", day), std::make_pair(3150LL, 3150LL));
  EXPECT_EQ(scalar(db, "SELECT IDSITUVENDA FROM VENDA WHERE CDCHAVENFCE = ?", {QString::fromStdString(plain.key())}),
            "C");
}

INSTANTIATE_TEST_SUITE_P(Backends, ImportTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName());

}  // namespace
}  // namespace qfx::test
