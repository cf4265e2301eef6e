// Exactly once: two operators consolidating overlapping selections at the
// same moment, through two server instances sharing the database, post
// every item once; a client whose call timed out and calls again does not
// post twice; fifty clients calling at once, far more than the server's
// database connections, are all served in turn. On SQLite and on PostgreSQL.
#include <gtest/gtest.h>
#include <optional>

#include <QSqlQuery>
#include <barrier>
#include <thread>

#include "harness.h"
#include "posting_support.h"

using namespace qfx;
using namespace qfx::test;

namespace {

constexpr int kRounds = 15;
constexpr int kSalesPerRound = 40;

Consolidation lateMarch() {
  Consolidation c;
  c.first = QDate(2024, 3, 12);
  c.last = QDate(2024, 3, 16);
  return c;
}

}  // namespace

class PostingConcurrencyTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    QFX_REQUIRE_BACKEND(GetParam());
    harness_ = std::make_unique<ServerHarness>(GetParam());
    db_ = harness_->sql();
    plentyOfStock(db_);
  }
  // A second, independent server instance on the same database, with the
  // clerk logged in on it.
  void startSecondServer() {
    secondDatabase_.emplace(*server::DbConfig::parse(harness_->testDatabase().url()));
    server::ServerOptions options;
    options.listen = "127.0.0.1:0";
    auto started = server::AppServer::start(*secondDatabase_, server::makeConsolidationObject(), options);
    ASSERT_TRUE(started.ok()) << started.error().message;
    second_ = std::move(*started);
    clerk_ = std::make_unique<TestClient>(second_->port());
    ASSERT_TRUE(clerk_->login(kClerk, kClerkPassword).ok());
  }

  std::unique_ptr<ServerHarness> harness_;
  QSqlDatabase db_;
  std::optional<server::Database> secondDatabase_;
  std::unique_ptr<server::AppServer> second_;
  std::unique_ptr<TestClient> clerk_;
};

TEST_P(PostingConcurrencyTest, TwoClientsOnTwoServersPostEveryItemOnce) {
  startSecondServer();
  if (HasFatalFailure()) return;
  auto manager = harness_->loggedIn();
  TestClient& clerk = *clerk_;

  const Books before = readBooks(db_);
  int clerkPosted = 0, managerPosted = 0;
  for (int round = 0; round < kRounds; ++round) {
    addSales(db_, 1000 + round * kSalesPerRound, kSalesPerRound);
    Consolidation everything = lateMarch();
    Consolidation oneRegister = lateMarch();  // overlaps: a part of everything
    oneRegister.registers = "_0001001_";
    oneRegister.operatorCode = kClerk;
    std::barrier start(2);
    PostingReply managerReply, clerkReply;
    std::thread a([&] {
      start.arrive_and_wait();
      managerReply = consolidate(*manager, everything);
    });
    std::thread b([&] {
      start.arrive_and_wait();
      clerkReply = consolidate(clerk, oneRegister);
    });
    a.join();
    b.join();
    ASSERT_TRUE(managerReply.call.ok()) << "rodada " << round << ": " << managerReply.call.status.error_message();
    ASSERT_TRUE(clerkReply.call.ok()) << "rodada " << round << ": " << clerkReply.call.status.error_message();

    // each reply tells what its own run posted, possibly nothing
    for (const auto& [reply, op] : {std::pair{&managerReply, kManager}, std::pair{&clerkReply, kClerk}}) {
      if (reply->lastPosting == 0) continue;
      EXPECT_EQ(scalar(db_, "SELECT CDOPERADOR FROM LANCESTQ WHERE CDFILIAL = '0001' AND NRLANCESTQ = ?",
                       {QStringLiteral("%1").arg(reply->lastPosting, 10, 10, QLatin1Char('0'))}),
                op)
          << "rodada " << round;
    }
    if (managerReply.lastPosting != 0 && clerkReply.lastPosting != 0) {
      EXPECT_NE(managerReply.lastPosting, clerkReply.lastPosting);
    }
    managerPosted += managerReply.lastPosting != 0;
    clerkPosted += clerkReply.lastPosting != 0;

    const Progress p = progress(db_);
    ASSERT_EQ(p.posted, p.items) << "rodada " << round;  // the manager's selection covers every item
    ASSERT_EQ(checkBooks(db_, before), "") << "rodada " << round;
  }
  // every run ended in a posting or in an honest zero
  EXPECT_EQ(scalar(db_, "SELECT COUNT(*) FROM ITVENDA WHERE NRLANCESTQ IS NOT NULL AND CDFILIALEST IS NULL"), "0");
  RecordProperty("runs_that_posted", std::to_string(managerPosted) + " gerente, " + std::to_string(clerkPosted) +
                                         " caixa1 em " + std::to_string(kRounds) + " rodadas");
  second_->shutdown();
}

TEST_P(PostingConcurrencyTest, ARepeatedCallAfterATimeoutDoesNotPostTwice) {
  auto client = harness_->loggedIn();
  const Books before = readBooks(db_);
  int next = 5000;
  for (int deadlineMs : {1, 3, 10, 30, 100, 300}) {
    addSales(db_, next, 120, 3);  // three days
    next += 120;
    const int64_t postingsBefore =
        QString::fromStdString(scalar(db_, "SELECT COUNT(*) FROM LANCESTQ WHERE IDTIPOLANC = 'V'")).toLongLong();
    auto hurried = consolidate(*client, lateMarch(), std::chrono::milliseconds(deadlineMs));
    if (!hurried.call.ok()) {
      EXPECT_EQ(hurried.call.status.error_code(), grpc::StatusCode::DEADLINE_EXCEEDED)
          << hurried.call.status.error_message();
    }
    auto again = consolidate(*client, lateMarch());
    ASSERT_TRUE(again.call.ok()) << again.call.status.error_message();
    const Progress p = progress(db_);
    EXPECT_EQ(p.posted, p.items) << "prazo " << deadlineMs << " ms";
    // one posting per day between both calls: nothing was posted twice
    EXPECT_EQ(QString::fromStdString(scalar(db_, "SELECT COUNT(*) FROM LANCESTQ WHERE IDTIPOLANC = 'V'")).toLongLong(),
              postingsBefore + 3)
        << "prazo " << deadlineMs << " ms";
    ASSERT_EQ(checkBooks(db_, before), "") << "prazo " << deadlineMs << " ms";
  }
}

// Each of 50 clients has its own channel and session and consolidates one
// day of five, so each day is asked for ten times at once; the server has 4
// database connections. Every call must be answered, none refused for want
// of a thread, and every item posted once: one stock posting per day.
TEST_P(PostingConcurrencyTest, FiftyClientsAtOnceAreAllServedByFourConnections) {
  constexpr int kClients = 50, kDays = 5;
  server::ServerOptions options;
  options.listen = "127.0.0.1:0";
  options.maxThreads = 4;
  ServerHarness narrow(GetParam(), true, options);
  QSqlDatabase db = narrow.sql();
  plentyOfStock(db);
  addSales(db, 7000, 200, kDays);
  const Books before = readBooks(db);
  const int64_t postingsBefore =
      QString::fromStdString(scalar(db, "SELECT COUNT(*) FROM LANCESTQ WHERE IDTIPOLANC = 'V'")).toLongLong();

  std::vector<std::unique_ptr<TestClient>> clients;
  for (int i = 0; i < kClients; ++i) clients.push_back(narrow.loggedIn());
  std::vector<PostingReply> replies(kClients);
  std::barrier start(kClients);
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) {
    threads.emplace_back([&, i] {
      Consolidation oneDay;
      oneDay.first = oneDay.last = QDate(2024, 3, 12).addDays(i % kDays);
      start.arrive_and_wait();
      replies[size_t(i)] = consolidate(*clients[size_t(i)], oneDay);
    });
  }
  for (auto& t : threads) t.join();

  for (int i = 0; i < kClients; ++i)
    ASSERT_TRUE(replies[size_t(i)].call.ok()) << "cliente " << i << ": " << replies[size_t(i)].call.status.error_code()
                                              << " " << replies[size_t(i)].call.status.error_message();
  const Progress p = progress(db);
  EXPECT_EQ(p.posted, p.items);
  EXPECT_EQ(QString::fromStdString(scalar(db, "SELECT COUNT(*) FROM LANCESTQ WHERE IDTIPOLANC = 'V'")).toLongLong(),
            postingsBefore + kDays);
  EXPECT_EQ(checkBooks(db, before), "");
}

// The sales postings in force (not reversed), as "branch|number".
std::vector<std::string> postingsInForce(QSqlDatabase& db) {
  std::vector<std::string> postings;
  QSqlQuery q(db);
  EXPECT_TRUE(
      q.exec("SELECT L.CDFILIAL, L.NRLANCESTQ FROM LANCESTQ L WHERE L.IDTIPOLANC = 'V' AND L.DTLANCESTQ >= "
             "'2024-03-12' AND NOT EXISTS (SELECT 1 FROM ESTORNOLANCESTQ E WHERE E.CDFILIAL = L.CDFILIAL AND "
             "E.NRLANCESTQ = L.NRLANCESTQ) ORDER BY L.NRLANCESTQ"));
  while (q.next()) postings.push_back(q.value(1).toString().toStdString());
  return postings;
}

// Undoing exactly once: two operators on two servers reverse the same posting
// at the same moment (one reverses it, the other is told it is reversed), and
// a reversal races a new run over the same selection (the run posts what the
// reversal made pending, or leaves it to the next one). Every item's stock
// moves once each way: the books agree after every round.
TEST_P(PostingConcurrencyTest, ReversalsRacingEachOtherOrARunMoveTheStockOnceEachWay) {
  startSecondServer();
  if (HasFatalFailure()) return;
  auto manager = harness_->loggedIn();
  TestClient& clerk = *clerk_;
  const Books before = readBooks(db_);
  constexpr int kReversalRounds = 6;
  for (int round = 0; round < kReversalRounds; ++round) {
    SCOPED_TRACE("rodada " + std::to_string(round));
    addSales(db_, 20000 + round * kSalesPerRound, kSalesPerRound);
    ASSERT_TRUE(consolidate(*manager, lateMarch()).call.ok());
    const auto postings = postingsInForce(db_);
    ASSERT_FALSE(postings.empty());

    // the same posting, twice at once
    Reversal byManager;
    byManager.posting = postings.front();
    Reversal byClerk = byManager;
    byClerk.operatorCode = kClerk;
    ReversalReply managerReply, clerkReply;
    {
      std::barrier start(2);
      std::thread a([&] {
        start.arrive_and_wait();
        managerReply = reverse(*manager, byManager);
      });
      std::thread b([&] {
        start.arrive_and_wait();
        clerkReply = reverse(clerk, byClerk);
      });
      a.join();
      b.join();
    }
    EXPECT_NE(managerReply.call.ok(), clerkReply.call.ok())
        << managerReply.call.status.error_message() << " / " << clerkReply.call.status.error_message();
    const ReversalReply& loser = managerReply.call.ok() ? clerkReply : managerReply;
    EXPECT_EQ(loser.call.status.error_message(), "Estorno_Ja_Estornado");
    ASSERT_EQ(checkBooks(db_, before), "");

    // another posting reversed while a run takes the selection again
    Reversal racing;
    racing.posting = postings.back();
    ReversalReply undone;
    PostingReply rerun;
    {
      std::barrier start(2);
      std::thread a([&] {
        start.arrive_and_wait();
        undone = reverse(*manager, racing);
      });
      std::thread b([&] {
        start.arrive_and_wait();
        Consolidation c = lateMarch();
        c.operatorCode = kClerk;
        rerun = consolidate(clerk, c);
      });
      a.join();
      b.join();
    }
    ASSERT_TRUE(undone.call.ok()) << undone.call.status.error_message();
    ASSERT_TRUE(rerun.call.ok()) << rerun.call.status.error_message();
    ASSERT_EQ(checkBooks(db_, before), "");
    // whatever the order, one more run leaves nothing pending
    ASSERT_TRUE(consolidate(*manager, lateMarch()).call.ok());
    const Progress p = progress(db_);
    ASSERT_EQ(p.posted, p.items);
    ASSERT_EQ(checkBooks(db_, before), "");
  }
  second_->shutdown();
}

INSTANTIATE_TEST_SUITE_P(Backends, PostingConcurrencyTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
