// The posting engine on the fixture database, called directly (no server, no
// login): what a run posts, the refusals that come before any write, blocked
// products, implantation days, the stock check and central stock. Then
// SemGeraNF over a real server: its list arguments and who may call it. On
// SQLite and on PostgreSQL.
#include <gtest/gtest.h>

#include <QSqlError>
#include <QSqlQuery>
#include <functional>
#include <set>

#include "harness.h"
#include "posting_support.h"

using namespace qfx;
using namespace qfx::test;

class PostingEngineTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    QFX_REQUIRE_BACKEND(GetParam());
    testDb_ = std::make_unique<TestDatabase>(GetParam());
    database_ = testDb_->open();
    db_ = *database_->connection();
    loadFixture(db_);
    before_ = readBooks(db_);
  }
  server::Result<server::posting::Outcome> consolidate(const Consolidation& c) {
    return server::posting::consolidate(db_, database_->dialect(), c.request(), server::CallLimits());
  }
  std::string item(const std::string& branch, int sale, const char* item, const char* column) {
    return scalar(
        db_,
        QStringLiteral("SELECT %1 FROM ITVENDA WHERE CDFILIAL = ? AND NRSEQVENDA = ? AND NRSEQUITVEND = ?").arg(column),
        {QString::fromStdString(branch), QStringLiteral("%1").arg(sale, 10, 10, QLatin1Char('0')), item});
  }
  double balance(const char* branch, const char* warehouse, const char* product) {
    return scalarNumber(db_,
                        "SELECT QTSALDOESTQ FROM SALDOESTQ WHERE CDFILIAL = ? AND CDALMOXARIFE = ? AND CDPRODUTO = ?",
                        {branch, warehouse, product});
  }
  void expectNothingPosted(const std::vector<std::string>& snapshotBefore) { EXPECT_EQ(snapshot(db_), snapshotBefore); }

  std::unique_ptr<TestDatabase> testDb_;
  std::unique_ptr<server::Database> database_;
  QSqlDatabase db_;
  Books before_;
};

// The error a run ended in; a run that went through is no error of any kind.
server::Error errorOf(const server::Result<server::posting::Outcome>& run) {
  return run.ok() ? server::Error{server::ErrorKind::Internal, "<a consolidação foi feita>"} : run.error();
}

TEST_P(PostingEngineTest, PostsEachPendingStockItemOncePerSaleDay) {
  auto reply = consolidate(Consolidation{});
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  // postings 2 (10 March) and 3 (11 March) follow the fixture's posting 1
  EXPECT_EQ(reply->lastPosting, 3);
  EXPECT_EQ(reply->messageKey.toStdString(), "");
  EXPECT_EQ(reply->errors.rowCount(), 0u);
  EXPECT_EQ(reply->blocked.rowCount(), 0u);
  EXPECT_GE(reply->errors.fieldIndex("CDOBJETO5"), 0);
  EXPECT_GE(reply->blocked.fieldIndex("NMPRODUTO"), 0);

  EXPECT_EQ(scalar(db_, "SELECT DTLANCESTQ FROM LANCESTQ WHERE CDFILIAL = '0001' AND NRLANCESTQ = '0000000002'")
                .substr(0, 10),
            "2024-03-10");
  EXPECT_EQ(scalar(db_,
                   "SELECT CDTIPORETI || CDSETOR || CDOPERADOR || CDALMOXARIFE || IDTIPOLANC FROM LANCESTQ "
                   "WHERE NRLANCESTQ = '0000000003'"),
            "010001gerente000001V");
  // 10 March: rice 2 + 1, beans 1; 11 March: beans 3 less 1 returned, the combo's rice 1
  EXPECT_EQ(scalarNumber(db_, "SELECT QTLANCESTQ FROM ITLANCESTQ WHERE NRLANCESTQ = '0000000002' AND CDPRODUTO = 'P1'"),
            3);
  EXPECT_EQ(scalarNumber(db_, "SELECT QTLANCESTQ FROM ITLANCESTQ WHERE NRLANCESTQ = '0000000002' AND CDPRODUTO = 'P2'"),
            1);
  EXPECT_EQ(scalarNumber(db_, "SELECT QTLANCESTQ FROM ITLANCESTQ WHERE NRLANCESTQ = '0000000003' AND CDPRODUTO = 'P1'"),
            1);
  EXPECT_EQ(scalarNumber(db_, "SELECT QTLANCESTQ FROM ITLANCESTQ WHERE NRLANCESTQ = '0000000003' AND CDPRODUTO = 'P2'"),
            2);
  EXPECT_EQ(balance("0001", "000001", "P1"), 96);
  EXPECT_EQ(balance("0001", "000001", "P2"), 0);
  EXPECT_EQ(scalarNumber(db_, "SELECT VRTOTLANCTONF FROM LANCTONF WHERE NRLANCESTQ = '0000000002'"), 38.5);
  EXPECT_EQ(scalarNumber(db_, "SELECT VRTOTLANCTONF FROM LANCTONF WHERE NRLANCESTQ = '0000000003'"), 26);
  EXPECT_EQ(scalar(db_, "SELECT NRLANCTONF FROM LANCTONF WHERE NRLANCESTQ = '0000000003'"), "0000000003");

  EXPECT_EQ(item("0001", 1, "001", "NRLANCESTQ"), "0000000002");
  EXPECT_EQ(item("0001", 1, "001", "CDFILIALEST"), "0001");
  EXPECT_EQ(item("0001", 1, "001", "CDFILIALNF"), "0001");
  EXPECT_EQ(item("0001", 1, "001", "NRLANCTONF"), "0000000002");
  EXPECT_EQ(item("0001", 6, "001", "NRLANCESTQ"), "0000000003");
  EXPECT_EQ(item("0001", 2, "002", "NRLANCESTQ"), "<null>");  // service fee: no stock control, stays pending
  EXPECT_EQ(item("0001", 4, "001", "NRLANCESTQ"), "<null>");  // other store
  EXPECT_EQ(item("0001", 5, "001", "NRLANCESTQ"), "<null>");  // before the period
  EXPECT_EQ(checkBooks(db_, before_), "");

  // calling again finds nothing left to post
  auto again = consolidate(Consolidation{});
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->lastPosting, 0);
  EXPECT_EQ(scalar(db_, "SELECT COUNT(*) FROM LANCESTQ"), "3");
}

// A product code holding quotes, braces, a comma and a backslash, and
// quantities whose sum is no round decimal: the posting's line and the
// balance hold exactly the sum of the items, on either database.
TEST_P(PostingEngineTest, ProductLinesKeepOddCodesAndExactQuantities) {
  const QString code = QStringLiteral("Q\"{,}\\x");
  exec(db_,
       QStringLiteral("INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO, CDARVPROD, IDATIVO, IDCTRLESTQ) "
                      "VALUES (?, 'Estranho', '01.003', 'S', 'S')"),
       {code});
  exec(db_, QStringLiteral("INSERT INTO PRODFILI (CDFILIAL, CDPRODUTO) VALUES ('0001', ?)"), {code});
  exec(db_,
       QStringLiteral("INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ) "
                      "VALUES ('0001', '000001', '000001', ?, 10)"),
       {code});
  exec(db_, QStringLiteral("INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, "
                           "NRCUPOMFIS, CDTIPOCONS, IDSITUVENDA, IDTPFORPGVEN, IDTIPOIMPV) VALUES ('0001', "
                           "'0000000010', '01', '001', '2024-03-11', '2024-03-11 16:00:00', '104', '01', 'F', 'D', "
                           "'F')"));
  for (const auto& [item, quantity] : {std::pair{"001", 0.1}, std::pair{"002", 0.2}})
    exec(db_,
         QStringLiteral("INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, "
                        "VRDESITVEND) VALUES ('0001', '0000000010', ?, ?, ?, 1, 0)"),
         {QString::fromLatin1(item), code, quantity});
  // a sale and an item whose keys the stamp's arrays must quote and escape (as UTF-8 and as ASCII)
  const QString oddSale = QStringLiteral("Vé\"{,}\\1"), oddItem = QStringLiteral("\"\\,");
  exec(db_,
       QStringLiteral("INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, NRCUPOMFIS, "
                      "CDTIPOCONS, IDSITUVENDA, IDTPFORPGVEN, IDTIPOIMPV) VALUES ('0001', ?, '01', '001', "
                      "'2024-03-11', '2024-03-11 17:00:00', '105', '01', 'F', 'D', 'F')"),
       {oddSale});
  exec(db_,
       QStringLiteral("INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, "
                      "VRDESITVEND) VALUES ('0001', ?, ?, 'P1', 1, 2, 0)"),
       {oddSale, oddItem});
  before_ = readBooks(db_);

  auto reply = consolidate(Consolidation{});
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(reply->errors.rowCount(), 0u);
  const double sum = 0.1 + 0.2;  // 0.30000000000000004
  EXPECT_EQ(
      scalarNumber(db_, "SELECT QTLANCESTQ FROM ITLANCESTQ WHERE NRLANCESTQ = '0000000003' AND CDPRODUTO = ?", {code}),
      sum);
  EXPECT_EQ(balance("0001", "000001", code.toUtf8().constData()), 10 - sum);
  EXPECT_EQ(item("0001", 10, "002", "NRLANCESTQ"), "0000000003");
  EXPECT_EQ(scalar(db_,
                   QStringLiteral("SELECT NRLANCESTQ FROM ITVENDA WHERE CDFILIAL = '0001' AND NRSEQVENDA = ? AND "
                                  "NRSEQUITVEND = ?"),
                   {oddSale, oddItem}),
            "0000000003");
  EXPECT_EQ(checkBooks(db_, before_), "");
}

TEST_P(PostingEngineTest, RefusalsComeBeforeAnyWrite) {
  const auto untouched = snapshot(db_);
  auto refusal = [&](const Consolidation& c) { return errorOf(consolidate(c)); };
  Consolidation noStock;
  noStock.workBranch = noStock.branch = "0003";
  EXPECT_EQ(refusal(noStock).message, "N_CTRL_ESTOQ");
  EXPECT_EQ(refusal(noStock).kind, server::ErrorKind::Refused);
  Consolidation late;
  late.last = QDate(2024, 4, 1);  // after the processing date 31 March
  EXPECT_EQ(refusal(late).message, "Data_Mai");
  Consolidation closed;
  closed.first = QDate(2024, 2, 29);  // stock closed up to 29 February
  EXPECT_EQ(refusal(closed).message, "Data_Men");
  EXPECT_NE(refusal(closed).details.find("29/02/2024"), std::string::npos) << refusal(closed).details;
  Consolidation related;
  related.withdrawalType = "02";  // moves beans only; the selection has rice
  EXPECT_EQ(refusal(related).message, "Prod_NRelacReti");
  related.products = "_P2_";
  related.first = related.last = QDate(2024, 3, 10);
  Consolidation unknownType;
  unknownType.withdrawalType = "99";
  EXPECT_EQ(refusal(unknownType).kind, server::ErrorKind::InvalidArgument);
  Consolidation inverted;
  inverted.first = QDate(2024, 3, 11);
  inverted.last = QDate(2024, 3, 10);
  EXPECT_EQ(refusal(inverted).kind, server::ErrorKind::InvalidArgument);
  expectNothingPosted(untouched);

  // the beans alone may go out under type 02
  auto beans = consolidate(related);
  ASSERT_TRUE(beans.ok()) << beans.error().message;
  EXPECT_EQ(beans->lastPosting, 2);

  exec(db_, "UPDATE PARAMFILIAL SET NRDIASMAXCONS = 1 WHERE CDFILIAL = '0001'");
  const auto shortWindow = snapshot(db_);
  EXPECT_EQ(refusal(Consolidation{}).message, "Data_M");  // two days, one allowed
  EXPECT_NE(refusal(Consolidation{}).details.find("no máximo 1 dias"), std::string::npos)
      << refusal(Consolidation{}).details;
  expectNothingPosted(shortWindow);
}

TEST_P(PostingEngineTest, DaysEndingInImplantationOrAdjustmentAreLeftAlone) {
  // 10 March: an adjustment, then a sales withdrawal; only the day's last counts
  exec(db_,
       "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, "
       "DTINCLUSAO) VALUES ('0001', '0000000003', '2024-03-10', 'A', '000001', '000001', '2024-03-10 08:00:00'), "
       "('0001', '0000000004', '2024-03-10', 'V', '000001', '000001', '2024-03-10 09:00:00')");
  exec(db_,
       "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, "
       "DTINCLUSAO) VALUES ('0001', '0000000005', '2024-03-11', 'A', '000001', '000001', '2024-03-11 23:00:00')");
  auto reply = consolidate(Consolidation{});
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(reply->messageKey.toStdString(), "ULT_LANC_DIA");
  EXPECT_EQ(reply->details.toStdString(), "Dias não consolidados: 11/03/2024.");
  EXPECT_EQ(reply->lastPosting, 6);  // the series starts after the adjustment's number
  EXPECT_EQ(item("0001", 1, "001", "NRLANCESTQ"), "0000000006");
  EXPECT_EQ(item("0001", 3, "001", "NRLANCESTQ"), "<null>");  // 11 March untouched
  EXPECT_EQ(checkBooks(db_, readBooks(db_)), "");

  // an implantation ending 10 March too: every day is closed
  exec(db_,
       "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, "
       "DTINCLUSAO) VALUES ('0001', '0000000009', '2024-03-10', 'I', '000001', '000001', '2024-03-10 23:00:00')");
  exec(db_,
       "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
       "VALUES ('0001', '0000000001', '003', 'P1', 1, 10.5, 0)");
  const auto untouched = snapshot(db_);
  auto refused = consolidate(Consolidation{});
  EXPECT_EQ(errorOf(refused).message, "Lanc_Bloq_Impl");
  expectNothingPosted(untouched);
}

TEST_P(PostingEngineTest, BlockedProductsAreRepliedAndNothingIsPosted) {
  // an inactive product on 10 March, and beans short so the stock check would complain
  exec(db_,
       "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
       "VALUES ('0001', '0000000001', '003', 'P4', 1, 3, 0)");
  exec(db_, "UPDATE SALDOESTQ SET QTSALDOESTQ = 0 WHERE CDPRODUTO = 'P2'");
  const auto untouched = snapshot(db_);
  auto reply = consolidate(Consolidation{});
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(reply->lastPosting, 0);
  ASSERT_EQ(reply->blocked.rowCount(), 1u);
  EXPECT_EQ(cellText(reply->blocked, "CDPRODUTO", 0), "P4");
  EXPECT_EQ(cellText(reply->blocked, "NMPRODUTO", 0), "Produto antigo");
  EXPECT_EQ(cellText(reply->blocked, "IDMOTIVOBLOQ", 0), "I") << "inactive";
  EXPECT_EQ(reply->errors.rowCount(), 0u);  // never reached the stock check
  expectNothingPosted(untouched);

  // a sold code with no product register at all
  exec(db_,
       "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
       "VALUES ('0001', '0000000001', '004', 'PX', 1, 3, 0)");
  reply = consolidate(Consolidation{});
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(columnTexts(reply->blocked, "CDPRODUTO"), (std::vector<std::string>{"P4", "PX"}));
  EXPECT_EQ(columnTexts(reply->blocked, "IDMOTIVOBLOQ"), (std::vector<std::string>{"I", "N"}));
  EXPECT_EQ(reply->lastPosting, 0);

  // a product the branch does not carry blocks as well
  exec(db_,
       "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
       "VALUES ('0002', '0000000001', '002', 'P5', 1, 12, 0)");
  Consolidation north;
  north.workBranch = north.branch = "0002";
  north.first = north.last = QDate(2024, 3, 10);
  auto blocked = consolidate(north);
  ASSERT_TRUE(blocked.ok()) << blocked.error().message;
  EXPECT_EQ(columnTexts(blocked->blocked, "CDPRODUTO"), std::vector<std::string>{"P5"});
  EXPECT_EQ(columnTexts(blocked->blocked, "IDMOTIVOBLOQ"), std::vector<std::string>{"F"}) << "not in the branch";
  EXPECT_EQ(blocked->lastPosting, 0);
}

TEST_P(PostingEngineTest, StockCheckListsProductsEndingNegativeAndFollowsTheBranchRules) {
  exec(db_, "UPDATE SALDOESTQ SET QTSALDOESTQ = 2 WHERE CDPRODUTO = 'P2'");  // the run takes 3 beans
  const Books books = readBooks(db_);

  // not permitted and not to be converted: the rows, nothing posted
  exec(db_, "UPDATE PARAVEND SET IDPERCONVESTNEG = 'N' WHERE CDFILIAL = '0001'");
  const auto refusedState = snapshot(db_);
  auto blocked = consolidate(Consolidation{});
  ASSERT_TRUE(blocked.ok()) << blocked.error().message;
  EXPECT_EQ(blocked->lastPosting, 0);
  ASSERT_EQ(blocked->errors.rowCount(), 1u);
  EXPECT_EQ(cellText(blocked->errors, "CDERRO", 0), "LIB00200_3");
  EXPECT_EQ(cellText(blocked->errors, "CDOBJETO2", 0), "P2 Feijão");
  EXPECT_EQ(cellText(blocked->errors, "CDOBJETO3", 0), "000001");
  EXPECT_EQ(cellText(blocked->errors, "CDOBJETO4", 0), "000001");
  EXPECT_EQ(cellNumber(blocked->errors, "CDOBJETO5", 0), 2);
  EXPECT_EQ(cellNumber(blocked->errors, "QTLANCESTQ", 0), 3);
  EXPECT_EQ(cellNumber(blocked->errors, "QTSALDOFINAL", 0), -1) << "the balance the run would have left";
  expectNothingPosted(refusedState);

  // permitted: the first call only reports, the second without the check posts
  exec(db_, "UPDATE PARAMFILIAL SET IDPERMESTNEG = 'S' WHERE CDFILIAL = '0001'");
  const auto permittedState = snapshot(db_);
  auto first = consolidate(Consolidation{});
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->lastPosting, 0);
  EXPECT_EQ(first->errors.rowCount(), 1u);
  expectNothingPosted(permittedState);
  Consolidation unchecked;
  unchecked.checkStock = false;
  auto second = consolidate(unchecked);
  ASSERT_TRUE(second.ok()) << second.error().message;
  EXPECT_EQ(second->lastPosting, 3);
  EXPECT_EQ(second->errors.rowCount(), 0u);
  EXPECT_EQ(balance("0001", "000001", "P2"), -1);
  EXPECT_EQ(checkBooks(db_, books), "");
}

TEST_P(PostingEngineTest, NegativeStockConvertedPostsAndKeepsTheWarnings) {
  exec(db_, "UPDATE SALDOESTQ SET QTSALDOESTQ = 2 WHERE CDPRODUTO = 'P2'");
  const Books books = readBooks(db_);
  auto reply = consolidate(Consolidation{});  // IDPERMESTNEG N, IDPERCONVESTNEG S
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(reply->lastPosting, 3);
  EXPECT_EQ(columnTexts(reply->errors, "CDOBJETO2"), std::vector<std::string>{"P2 Feijão"});
  EXPECT_EQ(balance("0001", "000001", "P2"), -1);
  EXPECT_EQ(cellNumber(reply->errors, "CDOBJETO5", 0), 2) << "before the posting";
  EXPECT_EQ(cellNumber(reply->errors, "QTSALDOFINAL", 0), balance("0001", "000001", "P2")) << "after it, as stored";
  EXPECT_EQ(checkBooks(db_, books), "");
}

TEST_P(PostingEngineTest, CentralStockMovesTheCentralWarehouse) {
  // branch 0002 keeps stock in 0001's warehouse 000009 and permits negative stock
  Consolidation north;
  north.workBranch = north.branch = "0002";
  north.first = north.last = QDate(2024, 3, 10);
  auto first = consolidate(north);
  ASSERT_TRUE(first.ok()) << first.error().message;
  EXPECT_EQ(first->lastPosting, 0);
  ASSERT_EQ(first->errors.rowCount(), 1u);
  EXPECT_EQ(cellText(first->errors, "CDOBJETO3", 0), "000009");
  EXPECT_EQ(cellNumber(first->errors, "CDOBJETO5", 0), 0);
  north.checkStock = false;
  auto second = consolidate(north);
  ASSERT_TRUE(second.ok()) << second.error().message;
  EXPECT_EQ(second->lastPosting, 2);  // the central branch's series
  EXPECT_EQ(item("0002", 1, "001", "CDFILIALEST"), "0001");
  EXPECT_EQ(item("0002", 1, "001", "NRLANCESTQ"), "0000000002");
  EXPECT_EQ(item("0002", 1, "001", "CDFILIALNF"), "0002");
  EXPECT_EQ(item("0002", 1, "001", "NRLANCTONF"), "0000000001");  // the branch's own note series
  EXPECT_EQ(scalar(db_,
                   "SELECT CDFILIALVENDA || CDALMOXARIFE || CDLOCALESTOQ FROM LANCESTQ WHERE CDFILIAL = '0001' "
                   "AND NRLANCESTQ = '0000000002'"),
            "0002000009000009");
  EXPECT_EQ(balance("0001", "000009", "P1"), -1);
  EXPECT_EQ(checkBooks(db_, before_), "");
}

TEST_P(PostingEngineTest, NothingPendingRepliesZero) {
  Consolidation empty;
  empty.first = empty.last = QDate(2024, 3, 20);
  auto reply = consolidate(empty);
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(reply->lastPosting, 0);
  EXPECT_EQ(reply->messageKey.toStdString(), "");
  EXPECT_EQ(reply->errors.rowCount(), 0u);
  Consolidation onlyFees;  // the service fee of V9 controls no stock
  onlyFees.first = onlyFees.last = QDate(2024, 3, 7);
  auto fees = consolidate(onlyFees);
  ASSERT_TRUE(fees.ok()) << fees.error().message;
  EXPECT_EQ(fees->lastPosting, 0);
  EXPECT_EQ(scalar(db_, "SELECT COUNT(*) FROM LANCESTQ"), "1");
}

TEST_P(PostingEngineTest, AStampedItemNeverMovesToAnotherPosting) {
  // the database's last guard behind the conditional claim
  QSqlQuery q(db_);
  EXPECT_FALSE(
      q.exec("UPDATE ITVENDA SET NRLANCESTQ = '0000000099' WHERE CDFILIAL = '0001' AND NRSEQVENDA = "
             "'0000000007'"));
  EXPECT_NE(q.lastError().text().toUpper().indexOf("ITVENDA_JA_LANCADO"), -1) << q.lastError().text().toStdString();
  EXPECT_EQ(item("0001", 7, "001", "NRLANCESTQ"), "0000000001");
  // a reversal may clear the stamp; a pending item may be stamped
  EXPECT_TRUE(q.exec("UPDATE ITVENDA SET NRLANCESTQ = NULL WHERE CDFILIAL = '0001' AND NRSEQVENDA = '0000000007'"));
  EXPECT_TRUE(
      q.exec("UPDATE ITVENDA SET NRLANCESTQ = '0000000001' WHERE CDFILIAL = '0001' AND NRSEQVENDA = "
             "'0000000007'"));
}

TEST_P(PostingEngineTest, DamagedSaleDateStopsTheRunBeforeAnyWrite) {
  if (GetParam() != Backend::SQLite) GTEST_SKIP() << "a DATE column of PostgreSQL cannot hold a damaged date";
  // text that still falls inside the period's range but is no date
  exec(db_, "UPDATE VENDA SET DTVENDA = '2024-03-10?', DTENTRVENDA = 'ontem' WHERE NRSEQVENDA = '0000000003'");
  const auto untouched = snapshot(db_);
  auto reply = consolidate(Consolidation{});
  EXPECT_EQ(errorOf(reply).kind, server::ErrorKind::Internal);
  EXPECT_NE(errorOf(reply).message.find("0000000003"), std::string::npos) << errorOf(reply).message;
  expectNothingPosted(untouched);
}

// Between reading its items and stamping them, a run's items could be
// stamped by another writer, or moved by an update that touches another
// column (PostgreSQL gives the new version another ctid). The stamp counts
// the rows it changed: a stolen item makes the run start again, and one
// that keeps being stolen makes it fail with nothing posted; a moved item is
// found again by the next attempt, never left pending nor stamped twice.
TEST_P(PostingEngineTest, ItemsTakenOrMovedBeforeTheStampStartTheRunAgain) {
  const bool sqlite = GetParam() == Backend::SQLite;
  // statements run as they are: PostgreSQL prepares no DDL
  const auto ddl = [&](const QString& text) {
    QSqlQuery q(db_);
    ASSERT_TRUE(q.exec(text)) << text.toStdString() << ": " << q.lastError().text().toStdString();
  };
  const char* steal =
      "UPDATE ITVENDA SET CDFILIALEST = '0001', NRLANCESTQ = '0000000098' WHERE CDFILIAL = '0001' AND NRSEQVENDA = "
      "'0000000001' AND NRSEQUITVEND = '001'";
  // fires inside the run's own transaction, once a day's note is written: after the read, before the stamp
  if (sqlite) {
    ddl(QStringLiteral("CREATE TRIGGER QFX_TESTE_ROUBA AFTER INSERT ON LANCTONF BEGIN %1; END").arg(steal));
  } else {
    ddl(QStringLiteral("CREATE FUNCTION QFX_TESTE_ROUBA() RETURNS TRIGGER LANGUAGE plpgsql AS $$ BEGIN %1; "
                       "RETURN NEW; END $$")
            .arg(steal));
    ddl(QStringLiteral(
        "CREATE TRIGGER QFX_TESTE_ROUBA AFTER INSERT ON LANCTONF FOR EACH ROW EXECUTE FUNCTION QFX_TESTE_ROUBA()"));
  }
  const auto untouched = snapshot(db_);
  auto stolen = consolidate(Consolidation{});
  EXPECT_FALSE(stolen.ok());
  EXPECT_NE(errorOf(stolen).message.find("outra consolidação"), std::string::npos) << errorOf(stolen).message;
  expectNothingPosted(untouched);
  ddl(QStringLiteral("DROP TRIGGER QFX_TESTE_ROUBA") + QLatin1String(sqlite ? "" : " ON LANCTONF"));

  if (!sqlite) {
    // moved once, by an update of another column: a new ctid for the item
    ddl(QStringLiteral("CREATE SEQUENCE QFX_TESTE_UMA_VEZ"));
    ddl(QStringLiteral(
        "CREATE FUNCTION QFX_TESTE_MOVE() RETURNS TRIGGER LANGUAGE plpgsql AS $$ BEGIN IF "
        "nextval('QFX_TESTE_UMA_VEZ') = 1 THEN UPDATE ITVENDA SET VRDESITVEND = VRDESITVEND WHERE CDFILIAL = "
        "'0001' AND NRSEQVENDA = '0000000001' AND NRSEQUITVEND = '001'; END IF; RETURN NEW; END $$"));
    ddl(QStringLiteral(
        "CREATE TRIGGER QFX_TESTE_MOVE AFTER INSERT ON LANCTONF FOR EACH ROW EXECUTE FUNCTION QFX_TESTE_MOVE()"));
  }
  auto reply = consolidate(Consolidation{});
  ASSERT_TRUE(reply.ok()) << reply.error().message;
  EXPECT_EQ(reply->lastPosting, 3);
  EXPECT_EQ(item("0001", 1, "001", "NRLANCESTQ"), "0000000002");
  EXPECT_EQ(item("0001", 1, "001", "NRLANCTONF"), "0000000002");
  EXPECT_EQ(item("0001", 6, "001", "NRLANCESTQ"), "0000000003");
  EXPECT_EQ(checkBooks(db_, before_), "");
}

// SemGeraNF over a real server, as the screen calls it.
class SemGeraNFTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { QFX_REQUIRE_BACKEND(GetParam()); }
};

// Each list argument of SemGeraNF, alone and together, posts exactly the
// pending stock items it selects (sale/item), each case on a fresh fixture.
TEST_P(SemGeraNFTest, SelectionFollowsEveryFilterList) {
  using Items = std::set<std::string>;
  const auto setCustomers = [](Consolidation& c) { c.customers = "_C2_"; };
  const auto interval = [](const std::string& from, const std::string& to) {
    return [from, to](Consolidation& c) {
      c.customerInterval = true;
      c.nameFrom = from;
      c.nameTo = to;
    };
  };
  const struct {
    const char* what;
    std::function<void(Consolidation&)> choose;
    Items posted;
    const char* before = nullptr;  // a change to the fixture first
  } cases[] = {
      {"registers", [](Consolidation& c) { c.registers = "_0001002_"; }, {"2/001", "6/001"}},
      {"products", [](Consolidation& c) { c.products = "_P5_"; }, {"3/002"}},
      {"sales", [](Consolidation& c) { c.sales = "_00010000000001__00010000000006_"; }, {"1/001", "1/002", "6/001"}},
      {"customer list", setCustomers, {"3/001", "3/002"}},
      {"customer interval", interval("MARIA", "MARIA ZZZ"), {"3/001", "3/002"}},
      {"customer interval in lower case", interval("acme", "maria zzz"), {"1/001", "1/002", "3/001", "3/002"}},
      {"consumption types", [](Consolidation& c) { c.consumptionTypes = "_02_"; }, {"2/001", "6/001"}},
      {"cost centres", [](Consolidation& c) { c.costCentres = "_C1CC1_"; }, {"1/001", "1/002"}},
      {"all at once",
       [](Consolidation& c) {
         c.registers = "_0001001_";
         c.consumptionTypes = "_01_";
         c.products = "_P2_";
       },
       {"1/002", "3/001"}},
      {"a sale cancelled at the register",
       [](Consolidation&) {},
       {"2/001", "3/001", "3/002", "6/001"},
       "UPDATE VENDA SET IDSITUVENDA = 'C' WHERE NRSEQVENDA = '0000000001'"},
  };
  for (const auto& each : cases) {
    SCOPED_TRACE(each.what);
    ServerHarness harness(GetParam());
    auto client = harness.loggedIn();
    QSqlDatabase db = harness.sql();
    if (each.before) exec(db, QString::fromLatin1(each.before));
    const Books before = readBooks(db);
    Consolidation c;
    each.choose(c);
    const auto reply = consolidate(*client, c);
    ASSERT_TRUE(reply.call.ok()) << reply.call.status.error_message();
    Items posted;
    QSqlQuery q(db);
    ASSERT_TRUE(
        q.exec("SELECT NRSEQVENDA, NRSEQUITVEND FROM ITVENDA WHERE NRLANCESTQ IS NOT NULL AND NRSEQVENDA <> "
               "'0000000007'"));
    while (q.next()) posted.insert(std::to_string(q.value(0).toInt()) + "/" + q.value(1).toString().toStdString());
    EXPECT_EQ(posted, each.posted);
    EXPECT_EQ(checkBooks(db, before), "");
  }
}

// The posting is made in the name of the logged-in operator, on a branch it
// may use; a refusal reaches the screen as a precondition with its key.
TEST_P(SemGeraNFTest, RefusalsReachTheClientBeforeAnyWrite) {
  ServerHarness harness(GetParam());
  auto client = harness.loggedIn();
  QSqlDatabase db = harness.sql();
  const auto untouched = snapshot(db);
  Consolidation noStock;
  noStock.workBranch = noStock.branch = "0003";
  const grpc::Status refused = consolidate(*client, noStock).call.status;
  EXPECT_EQ(refused.error_message(), "N_CTRL_ESTOQ");
  EXPECT_EQ(refused.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  Consolidation otherOperator;
  otherOperator.operatorCode = kClerk;
  EXPECT_EQ(consolidate(*client, otherOperator).call.status.error_code(), grpc::StatusCode::PERMISSION_DENIED);
  auto clerk = harness.loggedIn(kClerk, kClerkPassword);
  Consolidation otherBranch;
  otherBranch.operatorCode = kClerk;
  otherBranch.workBranch = "0002";
  EXPECT_EQ(consolidate(*clerk, otherBranch).call.status.error_code(), grpc::StatusCode::PERMISSION_DENIED);
  EXPECT_EQ(snapshot(db), untouched);
}

INSTANTIATE_TEST_SUITE_P(Backends, PostingEngineTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
INSTANTIATE_TEST_SUITE_P(Backends, SemGeraNFTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
