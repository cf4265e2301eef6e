// Undoing a consolidation's posting: the engine on the fixture database
// (what a reversal writes, a round trip of post, reverse and post again, the
// refusals that come before any write), then EstornaGeraNF and
// GetConsolidacoes over a real server. On SQLite and on PostgreSQL.
#include <gtest/gtest.h>

#include <QSqlQuery>

#include "harness.h"
#include "posting_support.h"

using namespace qfx;
using namespace qfx::test;

namespace {

// The stock lines of the sales postings still in force, by day and product
// (numbers differ from run to run), and every balance.
struct StockPicture {
  std::map<std::string, double> lines, balances;
  bool operator==(const StockPicture&) const = default;
};

StockPicture pictureOf(QSqlDatabase& db) {
  StockPicture p;
  QSqlQuery q(db);
  EXPECT_TRUE(
      q.exec("SELECT L.DTLANCESTQ, I.CDPRODUTO, I.QTLANCESTQ FROM LANCESTQ L JOIN ITLANCESTQ I ON "
             "I.CDFILIAL = L.CDFILIAL AND I.NRLANCESTQ = L.NRLANCESTQ WHERE L.IDTIPOLANC = 'V' AND NOT "
             "EXISTS (SELECT 1 FROM ESTORNOLANCESTQ E WHERE E.CDFILIAL = L.CDFILIAL AND E.NRLANCESTQ = "
             "L.NRLANCESTQ)"));
  while (q.next())
    p.lines[q.value(0).toString().left(10).toStdString() + "|" + q.value(1).toString().toStdString()] +=
        q.value(2).toDouble();
  p.balances = readBooks(db).balances;
  return p;
}

void expectSamePicture(const StockPicture& a, const StockPicture& b) {
  EXPECT_EQ(a.lines.size(), b.lines.size());
  for (const auto& [key, quantity] : a.lines)
    EXPECT_NEAR(b.lines.count(key) ? b.lines.at(key) : -1e9, quantity, 1e-9) << key;
  EXPECT_EQ(a.balances.size(), b.balances.size());
  for (const auto& [key, quantity] : a.balances)
    EXPECT_NEAR(b.balances.count(key) ? b.balances.at(key) : -1e9, quantity, 1e-9) << key;
}

Reversal ofPosting(int number) {
  Reversal r;
  r.posting = QStringLiteral("%1").arg(number, 10, 10, QLatin1Char('0')).toStdString();
  return r;
}

}  // namespace

class ReversalEngineTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    QFX_REQUIRE_BACKEND(GetParam());
    testDb_ = std::make_unique<TestDatabase>(GetParam());
    database_ = testDb_->open();
    db_ = *database_->connection();
    loadFixture(db_);
    before_ = readBooks(db_);
  }
  server::Result<server::posting::Outcome> consolidate(const Consolidation& c = {}) {
    return server::posting::consolidate(db_, database_->dialect(), c.request(), server::CallLimits());
  }
  server::Result<server::reversal::Outcome> reverse(const Reversal& r) {
    return server::reversal::reverse(db_, database_->dialect(), r.request(), server::CallLimits());
  }
  std::string refusalOf(const Reversal& r) {
    auto outcome = reverse(r);
    return outcome.ok() ? "<estornado>" : outcome.error().message;
  }

  std::unique_ptr<TestDatabase> testDb_;
  std::unique_ptr<server::Database> database_;
  QSqlDatabase db_;
  Books before_;
};

TEST_P(ReversalEngineTest, ReversalPutsTheItemsAndBalancesBackAndRecordsWhoWhenWhy) {
  const StockPicture untouched = pictureOf(db_);
  const int64_t pendingBefore = countPending(db_, "0001");
  auto run = consolidate();
  ASSERT_TRUE(run.ok()) << run.error().message;
  ASSERT_EQ(run->lastPosting, 3);  // 10 March is 2, 11 March is 3

  Reversal tenth = ofPosting(2);
  tenth.reason = "  Setor errado  ";
  auto undone = reverse(tenth);
  ASSERT_TRUE(undone.ok()) << undone.error().message;
  EXPECT_EQ(undone->reversal.toStdString(), "0000000004");
  EXPECT_EQ(undone->items, 3);  // sale 1's two items and sale 2's rice; the service fee was never stamped
  EXPECT_EQ(scalar(db_, "SELECT COUNT(*) FROM ITVENDA WHERE NRLANCESTQ = '0000000002' OR NRLANCTONF = '0000000002'"),
            "0");
  EXPECT_EQ(scalar(db_,
                   "SELECT IDTIPOLANC || CDOPERADOR || CDFILIALVENDA || CDLOJA FROM LANCESTQ WHERE "
                   "NRLANCESTQ = '0000000004'"),
            "Rgerente000101");
  EXPECT_EQ(scalar(db_, "SELECT DTLANCESTQ FROM LANCESTQ WHERE NRLANCESTQ = '0000000004'").substr(0, 10), "2024-03-10");
  EXPECT_EQ(scalarNumber(db_, "SELECT QTLANCESTQ FROM ITLANCESTQ WHERE NRLANCESTQ = '0000000004' AND CDPRODUTO = 'P1'"),
            -3);
  EXPECT_EQ(scalar(db_, "SELECT IDESTORNADO FROM LANCTONF WHERE NRLANCESTQ = '0000000002'"), "S");
  EXPECT_EQ(scalar(db_, "SELECT IDESTORNADO FROM LANCTONF WHERE NRLANCESTQ = '0000000003'"), "N");
  EXPECT_EQ(scalar(db_,
                   "SELECT NRLANCESTQESTORNO || '|' || CDOPERADOR || '|' || DSMOTIVO FROM ESTORNOLANCESTQ "
                   "WHERE CDFILIAL = '0001' AND NRLANCESTQ = '0000000002'"),
            "0000000004|gerente|Setor errado");
  EXPECT_EQ(checkBooks(db_, before_), "");

  // the other day too: everything the run posted is pending again, the
  // balances are as before it
  ASSERT_TRUE(reverse(ofPosting(3)).ok());
  EXPECT_EQ(countPending(db_, "0001"), pendingBefore);
  expectSamePicture(untouched, pictureOf(db_));
  EXPECT_EQ(checkBooks(db_, before_), "");
}

TEST_P(ReversalEngineTest, PostingAgainAfterAReversalGivesTheSameLinesAndBalances) {
  ASSERT_TRUE(consolidate().ok());
  const StockPicture first = pictureOf(db_);
  for (int posting : {2, 3}) ASSERT_TRUE(reverse(ofPosting(posting)).ok()) << posting;
  auto again = consolidate();
  ASSERT_TRUE(again.ok()) << again.error().message;
  EXPECT_EQ(again->lastPosting, 7);  // after the reversals 4 and 5: 6 and 7
  expectSamePicture(first, pictureOf(db_));
  EXPECT_EQ(checkBooks(db_, before_), "");
}

TEST_P(ReversalEngineTest, RefusalsComeBeforeAnyWrite) {
  ASSERT_TRUE(consolidate().ok());
  const auto posted = snapshot(db_);
  const auto refusal = [&](const char* arrange, Reversal r, const char* undo = nullptr) {
    if (arrange) exec(db_, QString::fromLatin1(arrange));
    const auto arranged = snapshot(db_);
    const std::string key = refusalOf(r);
    EXPECT_EQ(snapshot(db_), arranged) << key;
    if (undo) exec(db_, QString::fromLatin1(undo));
    return key;
  };
  Reversal noReason = ofPosting(2);
  noReason.reason = " \t ";
  EXPECT_EQ(refusal(nullptr, noReason), "Estorno_Motivo");
  Reversal longReason = ofPosting(2);
  longReason.reason = std::string(server::reversal::kReasonLength + 1, 'x');
  EXPECT_EQ(refusal(nullptr, longReason), "Estorno_Motivo");
  EXPECT_EQ(refusal(nullptr, ofPosting(99)), "Estorno_Nao_Consol");
  Reversal otherBranch = ofPosting(2);
  otherBranch.branch = "0002";  // a posting of 0001's sales
  EXPECT_EQ(refusal(nullptr, otherBranch), "Estorno_Nao_Consol");
  EXPECT_EQ(refusal("INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, "
                    "CDFILIALVENDA, DTINCLUSAO) VALUES ('0001', '0000000050', '2024-03-09', 'E', '000001', '000001', "
                    "'0001', '2024-03-09 10:00:00')",
                    ofPosting(50), "DELETE FROM LANCESTQ WHERE NRLANCESTQ = '0000000050'"),
            "Estorno_Nao_Consol");
  EXPECT_EQ(refusal("UPDATE PERIODOCTB SET IDSITPERCTB = 'F' WHERE CDFILIAL = '0001' AND DTINIPERCTB = '2024-03-01'",
                    ofPosting(2),
                    "UPDATE PERIODOCTB SET IDSITPERCTB = 'A' WHERE CDFILIAL = '0001' AND DTINIPERCTB = '2024-03-01'"),
            "Estorno_Periodo_CTB");
  EXPECT_EQ(refusal("UPDATE PARAMFILIAL SET DTFECHAESTQ = '2024-03-10' WHERE CDFILIAL = '0001'", ofPosting(2),
                    "UPDATE PARAMFILIAL SET DTFECHAESTQ = '2024-02-29' WHERE CDFILIAL = '0001'"),
            "Estorno_Estq_Fechado");
  // an adjustment counted the warehouse on 11 March: 10 March's posting is
  // in that count, and so is 11 March's, made before it
  EXPECT_EQ(refusal("INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, "
                    "DTINCLUSAO) VALUES ('0001', '0000000051', '2024-03-11', 'A', '000001', '000001', "
                    "'2024-03-11 22:00:00')",
                    ofPosting(2)),
            "Estorno_Impl_Ajuste");
  EXPECT_EQ(refusal(nullptr, ofPosting(3), "DELETE FROM LANCESTQ WHERE NRLANCESTQ = '0000000051'"),
            "Estorno_Impl_Ajuste");
  // one in another warehouse counts nothing of this one
  exec(db_,
       "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, "
       "DTINCLUSAO) VALUES ('0001', '0000000052', '2024-03-11', 'I', '000002', '000002', '2024-03-11 22:00:00')");
  ASSERT_TRUE(reverse(ofPosting(2)).ok());
  EXPECT_EQ(refusal(nullptr, ofPosting(2)), "Estorno_Ja_Estornado");
  EXPECT_NE(snapshot(db_), posted);
  EXPECT_EQ(checkBooks(db_, before_), "");
}

TEST_P(ReversalEngineTest, CentralStockIsReversedInTheCentralWarehouse) {
  // branch 0002 keeps its stock in 0001's central warehouse 000009
  exec(db_,
       "INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ) VALUES ('0001', "
       "'000009', '000009', 'P1', 10)");
  Consolidation north;
  north.workBranch = north.branch = "0002";
  north.withdrawalType = "01";
  north.first = north.last = QDate(2024, 3, 10);
  auto run = consolidate(north);
  ASSERT_TRUE(run.ok()) << run.error().message;
  ASSERT_GT(run->lastPosting, 0);
  Reversal r = ofPosting(int(run->lastPosting));
  r.branch = r.workBranch = "0002";
  Reversal wrongStock = r;
  wrongStock.stockBranch = "0002";
  EXPECT_EQ(refusalOf(wrongStock), "Estorno_Nao_Consol");
  auto undone = reverse(r);
  ASSERT_TRUE(undone.ok()) << undone.error().message;
  EXPECT_EQ(scalarNumber(db_,
                         "SELECT QTSALDOESTQ FROM SALDOESTQ WHERE CDFILIAL = '0001' AND CDALMOXARIFE = '000009' "
                         "AND CDPRODUTO = 'P1'"),
            10);
  EXPECT_EQ(countPending(db_, "0002"), 1);
}

// EstornaGeraNF and GetConsolidacoes as the screen calls them.
class EstornaGeraNFTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { QFX_REQUIRE_BACKEND(GetParam()); }
};

TEST_P(EstornaGeraNFTest, ListsTheRunsReversesOneAndShowsWhoReversedIt) {
  ServerHarness harness(GetParam());
  auto client = harness.loggedIn();
  QSqlDatabase db = harness.sql();
  ASSERT_TRUE(consolidate(*client, Consolidation{}).call.ok());
  const auto runs = [&] {
    using A = contract::GetConsolidacoes;
    return client->invoke("GetConsolidacoes", Args<A>{{A::Filial, text("0001")},
                                                      {A::DtInicial, date(QDate(2024, 3, 1))},
                                                      {A::DtFinal, date(QDate(2024, 3, 31))}}
                                                  .values());
  };
  auto listed = runs();
  ASSERT_TRUE(listed.ok()) << listed.status.error_message();
  // the fixture's posting 1 and the run's 2 and 3, by day
  EXPECT_EQ(columnTexts(listed.packet(), "NRLANCESTQ"),
            (std::vector<std::string>{"0000000001", "0000000002", "0000000003"}));
  EXPECT_EQ(cellNumber(listed.packet(), "QTITENS", 1), 3);
  EXPECT_NEAR(cellNumber(listed.packet(), "VRTOTLANCTONF", 1), 2 * 10.5 + 7.25 - 0.25 + 10.5, 1e-9);
  EXPECT_EQ(cellText(listed.packet(), "CDOPERADOR", 1), "gerente");
  EXPECT_TRUE(cellIsNull(listed.packet(), "DTESTORNO", 1));

  auto undone = reverse(*client, ofPosting(2));
  ASSERT_TRUE(undone.call.ok()) << undone.call.status.error_message();
  EXPECT_EQ(undone.reversal, "0000000004");
  EXPECT_EQ(undone.items, 3);
  listed = runs();
  ASSERT_TRUE(listed.ok());
  EXPECT_EQ(listed.packet().rowCount(), 3u);  // the reversing posting is not a run
  EXPECT_EQ(cellText(listed.packet(), "NRLANCESTQESTORNO", 1), "0000000004");
  EXPECT_EQ(cellText(listed.packet(), "CDOPERESTORNO", 1), "gerente");
  EXPECT_EQ(cellText(listed.packet(), "DSMOTIVOESTORNO", 1), "Tipo de retirada errado");
  EXPECT_FALSE(cellIsNull(listed.packet(), "DTESTORNO", 1));

  const auto again = reverse(*client, ofPosting(2));
  EXPECT_EQ(again.call.status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(again.call.status.error_message(), "Estorno_Ja_Estornado");
}

TEST_P(EstornaGeraNFTest, BranchBindingAndOperatorAreCheckedBeforeAnyWrite) {
  ServerHarness harness(GetParam());
  auto manager = harness.loggedIn();
  QSqlDatabase db = harness.sql();
  Consolidation north;
  north.workBranch = north.branch = "0002";
  north.first = north.last = QDate(2024, 3, 10);
  north.checkStock = false;
  const auto run = consolidate(*manager, north);
  ASSERT_TRUE(run.call.ok()) << run.call.status.error_message();
  const auto posted = snapshot(db);

  auto clerk = harness.loggedIn(kClerk, kClerkPassword);  // bound to 0001
  Reversal r = ofPosting(int(run.lastPosting));
  r.branch = r.workBranch = "0002";
  r.operatorCode = kClerk;
  const auto bound = reverse(*clerk, r);
  EXPECT_EQ(bound.call.status.error_code(), grpc::StatusCode::PERMISSION_DENIED);
  EXPECT_EQ(bound.call.status.error_message(), "Estorno_Filial_Oper");
  Reversal asSomeoneElse = r;
  asSomeoneElse.operatorCode = kManager;
  EXPECT_EQ(reverse(*clerk, asSomeoneElse).call.status.error_code(), grpc::StatusCode::PERMISSION_DENIED);
  // the clerk's own branch, naming 0002's posting in the central stock
  Reversal own = r;
  own.branch = own.workBranch = "0001";
  EXPECT_EQ(reverse(*clerk, own).call.status.error_message(), "Estorno_Nao_Consol");
  EXPECT_EQ(snapshot(db), posted);
}

INSTANTIATE_TEST_SUITE_P(Backends, ReversalEngineTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
INSTANTIATE_TEST_SUITE_P(Backends, EstornaGeraNFTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
