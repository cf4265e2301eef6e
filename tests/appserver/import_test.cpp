// The import through the server (ImportaDados) on SQLite and PostgreSQL:
// registrations by key, sales replaced only while pending, every check before
// anything is written, whole or nothing, the dry run, bad input, who may
// import, and imports side by side with posting runs.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <atomic>
#include <thread>

#include "auth/sessions.h"
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

TEST_P(ImportTest, EveryProblemOfAFileIsReportedAtOnceAndNothingIsWritten) {
  struct Case {
    std::string line, column, reason;
  };
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
  const QString samples = qEnvironmentVariable("QFX_SOURCE_DIR") + QStringLiteral("/docs/exemplos");
  auto run = [&](QStringList args, const QString& password = QString::fromLatin1(kManagerPassword)) {
    QProcess command;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!password.isEmpty()) env.insert(QStringLiteral("QFX_PASSWORD"), password);
    command.setProcessEnvironment(env);
    args = QStringList{"--server", QStringLiteral("127.0.0.1:%1").arg(empty.port()), "--operator", kManager} + args;
    command.start(qEnvironmentVariable("QFX_BIN_DIR") + QStringLiteral("/qfximport"), args);
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

INSTANTIATE_TEST_SUITE_P(Backends, ImportTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL), BackendName());

}  // namespace
}  // namespace qfx::test
