// All or nothing: the server process is killed (SIGKILL) at points spread
// over a large consolidation run. After each kill the database holds either
// none or all of the run, the books agree with the stamped items, SQLite's
// integrity check is clean, and a restarted server finishes the job exactly
// once. On SQLite and on PostgreSQL.
#include <gtest/gtest.h>
#include <signal.h>

#include <QFile>
#include <QSqlQuery>
#include <QUrl>
#include <chrono>
#include <thread>
#include <tuple>

#include "child_server.h"
#include "harness.h"
#include "posting_support.h"
#include "reply_cutter.h"

using namespace qfx;
using namespace qfx::test;

namespace {

constexpr int kKillPoints = 20;
constexpr int kSales = 2000;  // 6 000 items over five days

using Clock = std::chrono::steady_clock;

Consolidation run() {
  Consolidation c;
  c.first = QDate(2024, 3, 12);
  c.last = QDate(2024, 3, 16);
  return c;
}

// A copy of the prepared database for one round, dropped with it.
class RoundCopy {
 public:
  RoundCopy(const TestDatabase& base, int round) : base_(base) {
    if (base.backend() == Backend::SQLite) {
      path_ = base.path() + QStringLiteral(".round%1").arg(round);
      QFile::remove(path_);
      EXPECT_TRUE(QFile::copy(base.path(), path_));
      url_ = "sqlite:" + path_.toStdString();
    } else {
      QUrl url(QString::fromStdString(base.url()));
      baseName_ = url.path().mid(1).toStdString();
      name_ = baseName_ + "_r" + std::to_string(round);
      admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
      admin("CREATE DATABASE " + name_ + " TEMPLATE " + baseName_);
      url.setPath(QString::fromStdString("/" + name_));
      url_ = url.toString().toStdString();
    }
  }
  ~RoundCopy() {
    if (!name_.empty()) admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    if (!path_.isEmpty()) {
      for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(path_ + QLatin1String(suffix));
    }
  }
  const std::string& url() const { return url_; }

 private:
  void admin(const std::string& statement) {
    // any database but the copies will do for CREATE/DROP DATABASE
    QUrl url(QString::fromStdString(base_.url()));
    url.setPath(QStringLiteral("/postgres"));
    server::Database maintenance(*server::DbConfig::parse(url.toString().toStdString()));
    auto db = maintenance.connection();
    ASSERT_TRUE(db.ok()) << db.error().message;
    QSqlQuery q(*db);
    q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
    ASSERT_TRUE(q.exec(QString::fromStdString(statement))) << statement;
  }
  const TestDatabase& base_;
  QString path_;
  std::string url_, name_, baseName_;
};

struct Inspection {
  Progress progress;
  std::string books;
  std::string integrity = "ok";
};

Inspection inspect(const std::string& url, Backend backend, const Books& before) {
  server::Database database(*server::DbConfig::parse(url));
  auto db = database.connection();
  Inspection out;
  if (!db) {
    out.books = db.error().message;
    return out;
  }
  if (backend == Backend::SQLite) out.integrity = scalar(*db, "PRAGMA integrity_check");
  out.progress = progress(*db);
  out.books = checkBooks(*db, before);
  return out;
}

// Logs in to the child and runs the consolidation, killing the child after
// `killAfter` (none: let it finish). Returns the time the call took.
std::chrono::milliseconds runAndMaybeKill(ChildServer& child, std::optional<std::chrono::milliseconds> killAfter,
                                          bool* replied) {
  TestClient client(child.port());
  EXPECT_TRUE(client.login(kManager, kManagerPassword).ok());
  PostingReply reply;
  const auto start = Clock::now();
  std::thread call([&] { reply = consolidate(client, run(), std::chrono::seconds(120)); });
  if (killAfter) {
    std::this_thread::sleep_for(*killAfter);
    child.kill();
  }
  call.join();
  *replied = reply.call.ok();
  if (!killAfter) {
    EXPECT_TRUE(reply.call.ok()) << reply.call.status.error_message();
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace

class PostingCrashTest : public ::testing::TestWithParam<Backend> {};

TEST_P(PostingCrashTest, KilledServerLeavesTheRunUntouchedOrWhole) {
  QFX_REQUIRE_BACKEND(GetParam());
  const Backend backend = GetParam();
  TestDatabase base(backend);
  Books before;
  {
    auto database = base.open();
    QSqlDatabase db = *database->connection();
    loadFixture(db);
    plentyOfStock(db);
    addSales(db, 10000, kSales);
    before = readBooks(db);
    if (backend == Backend::SQLite) exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  }  // closed: the copies start from a quiet database

  // an uncut run on a copy tells how long a run takes
  std::chrono::milliseconds full{0};
  {
    RoundCopy copy(base, 0);
    ChildServer child(copy.url());
    ASSERT_TRUE(child.started()) << child.failure();
    bool replied = false;
    full = runAndMaybeKill(child, std::nullopt, &replied);
    const Inspection done = inspect(copy.url(), backend, before);
    ASSERT_EQ(done.progress.posted, done.progress.items);
    ASSERT_EQ(done.books, "");
  }

  int untouched = 0, whole = 0;
  for (int point = 0; point < kKillPoints; ++point) {
    SCOPED_TRACE("ponto de interrupção " + std::to_string(point));
    RoundCopy copy(base, point + 1);
    // kill points spread over the whole call, first to last
    const auto killAfter = std::chrono::milliseconds(full.count() * (2 * point + 1) / (2 * kKillPoints));
    bool replied = false;
    {
      ChildServer child(copy.url());
      ASSERT_TRUE(child.started()) << child.failure();
      runAndMaybeKill(child, killAfter, &replied);
    }
    const Inspection after = inspect(copy.url(), backend, before);
    EXPECT_EQ(after.integrity, "ok");
    EXPECT_EQ(after.books, "");
    EXPECT_TRUE(after.progress.posted == 0 || after.progress.posted == after.progress.items)
        << after.progress.posted << " de " << after.progress.items << " itens lançados";
    if (replied) {
      EXPECT_EQ(after.progress.posted, after.progress.items);  // a reply means committed
    }
    (after.progress.posted == 0 ? untouched : whole)++;

    // a restarted server finishes the job, once
    {
      ChildServer child(copy.url());
      ASSERT_TRUE(child.started()) << child.failure();
      runAndMaybeKill(child, std::nullopt, &replied);
    }
    const Inspection finished = inspect(copy.url(), backend, before);
    EXPECT_EQ(finished.progress.posted, finished.progress.items);
    EXPECT_EQ(finished.books, "");
    EXPECT_EQ(finished.integrity, "ok");
  }
  RecordProperty("kill_outcomes", std::to_string(untouched) + " intactos, " + std::to_string(whole) + " completos");
  std::printf(
      "interrupções: %d deixaram o banco intacto, %d encontraram a execução completa (execução inteira: %lld ms)\n",
      untouched, whole, (long long)full.count());
}

// The server is killed right after it committed the run, before the first
// byte of its reply leaves: the client knows nothing. Asked again under the
// run's identifier, a restarted server answers the first run's own outcome
// (its last posting), not a second run's "nothing posted"; the same run
// without the identifier shows the difference, and an identifier names one
// run only.
TEST_P(PostingCrashTest, KilledRightAfterCommittingTheRunAskedAgainAnswersItsOwnOutcome) {
  QFX_REQUIRE_BACKEND(GetParam());
  TestDatabase base(GetParam());
  Books before;
  {
    auto database = base.open();
    QSqlDatabase db = *database->connection();
    loadFixture(db);
    plentyOfStock(db);
    addSales(db, 10000, 40);
    before = readBooks(db);
  }
  std::string token;
  PostingReply lost;
  {
    ChildServer child(base.url());
    ASSERT_TRUE(child.started()) << child.failure();
    TestClient direct(child.port());
    ASSERT_TRUE(direct.login(kManager, kManagerPassword).ok());
    token = direct.token();
    // SIGKILL from the relay's thread, the moment the reply starts
    ReplyCutter cutter(child.port(), [pid = child.pid()] { ::kill(pid_t(pid), SIGKILL); });
    TestClient client(cutter.port());
    client.setToken(token);
    client.setRunId("execucao-1");
    lost = consolidate(client, run(), std::chrono::seconds(60));
    EXPECT_TRUE(cutter.cut());
  }
  EXPECT_FALSE(lost.call.ok());
  auto database = base.open();
  QSqlDatabase db = *database->connection();
  const Progress committed = progress(db);
  ASSERT_GT(committed.items, 0);
  ASSERT_EQ(committed.posted, committed.items) << "killed after the commit";
  const int64_t lastPosting =
      std::stoll(scalar(db, "SELECT MAX(NRLANCESTQ) FROM LANCESTQ WHERE CDFILIAL = '0001' AND IDTIPOLANC = 'V'"));

  ChildServer restarted(base.url());
  ASSERT_TRUE(restarted.started()) << restarted.failure();
  TestClient client(restarted.port());
  client.setToken(token);
  client.setRunId("execucao-1");
  const PostingReply again = consolidate(client, run(), std::chrono::seconds(60));
  ASSERT_TRUE(again.call.ok()) << again.call.status.error_message();
  EXPECT_EQ(again.lastPosting, lastPosting);
  EXPECT_EQ(again.errors().rowCount(), 0u);
  EXPECT_EQ(again.blocked().rowCount(), 0u);
  EXPECT_EQ(checkBooks(db, before), "");
  EXPECT_EQ(progress(db).posted, committed.posted);

  client.setRunId("");
  EXPECT_EQ(consolidate(client, run(), std::chrono::seconds(60)).lastPosting, 0) << "a new run finds nothing pending";
  TestClient other(restarted.port());
  ASSERT_TRUE(other.login(kClerk, kClerkPassword).ok());
  other.setRunId("execucao-1");
  Consolidation theirs = run();
  theirs.operatorCode = kClerk;
  const PostingReply foreign = consolidate(other, theirs, std::chrono::seconds(60));
  EXPECT_EQ(foreign.call.status.error_code(), grpc::StatusCode::INVALID_ARGUMENT)
      << foreign.call.status.error_message();
  client.setRunId(std::string(contract::kRunIdMaxLength + 1, 'x'));
  EXPECT_EQ(consolidate(client, run(), std::chrono::seconds(60)).call.status.error_code(),
            grpc::StatusCode::INVALID_ARGUMENT)
      << "an identifier too long is refused, not cut";
  client.setRunId("execucao 1");  // a blank is no part of an identifier
  EXPECT_EQ(consolidate(client, run(), std::chrono::seconds(60)).call.status.error_code(),
            grpc::StatusCode::INVALID_ARGUMENT);
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM EXECCONSOLIDA"), "1");
}

// The same for a reversal: the server is killed at points spread over the
// reversal of a posting of 6 000 items. After each kill the posting is either
// still in force (its items stamped, no reversal) or reversed whole (its
// items pending, its reversal and record there), the books agree, and a
// restarted server reverses it once.
TEST_P(PostingCrashTest, KilledServerLeavesTheReversalUndoneOrWhole) {
  QFX_REQUIRE_BACKEND(GetParam());
  const Backend backend = GetParam();
  TestDatabase base(backend);
  Books before;
  Reversal undo;
  {
    auto database = base.open();
    QSqlDatabase db = *database->connection();
    loadFixture(db);
    plentyOfStock(db);
    addSales(db, 10000, kSales, 1);  // one day: one posting of every item
    before = readBooks(db);
    Consolidation c = run();
    auto posted = server::posting::consolidate(db, database->dialect(), c.request(), server::CallLimits());
    ASSERT_TRUE(posted.ok()) << posted.error().message;
    undo.posting = QStringLiteral("%1").arg(posted->lastPosting, 10, 10, QLatin1Char('0')).toStdString();
    if (backend == Backend::SQLite) exec(db, "PRAGMA wal_checkpoint(TRUNCATE)");
  }
  const auto state = [&](const std::string& url) {
    Inspection i = inspect(url, backend, before);
    server::Database database(*server::DbConfig::parse(url));
    QSqlDatabase db = *database.connection();
    const std::string records = scalar(db, "SELECT COUNT(*) FROM ESTORNOLANCESTQ");
    return std::tuple{i, records};
  };
  const auto reverseAndMaybeKill = [&](ChildServer& child, std::optional<std::chrono::milliseconds> killAfter) {
    TestClient client(child.port());
    EXPECT_TRUE(client.login(kManager, kManagerPassword).ok());
    ReversalReply reply;
    const auto start = Clock::now();
    std::thread call([&] { reply = reverse(client, undo, std::chrono::seconds(120)); });
    if (killAfter) {
      std::this_thread::sleep_for(*killAfter);
      child.kill();
    }
    call.join();
    if (!killAfter) {
      EXPECT_TRUE(reply.call.ok()) << reply.call.status.error_message();
    }
    return std::pair{std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start), reply.call.ok()};
  };

  std::chrono::milliseconds full{0};
  {
    RoundCopy copy(base, 0);
    ChildServer child(copy.url());
    ASSERT_TRUE(child.started()) << child.failure();
    full = reverseAndMaybeKill(child, std::nullopt).first;
    const auto [done, records] = state(copy.url());
    ASSERT_EQ(done.progress.posted, 0);
    ASSERT_EQ(records, "1");
    ASSERT_EQ(done.books, "");
  }
  int untouched = 0, whole = 0;
  for (int point = 0; point < kKillPoints; ++point) {
    SCOPED_TRACE("ponto de interrupção " + std::to_string(point));
    RoundCopy copy(base, point + 1);
    const auto killAfter = std::chrono::milliseconds(full.count() * (2 * point + 1) / (2 * kKillPoints));
    bool replied = false;
    {
      ChildServer child(copy.url());
      ASSERT_TRUE(child.started()) << child.failure();
      replied = reverseAndMaybeKill(child, killAfter).second;
    }
    const auto [after, records] = state(copy.url());
    EXPECT_EQ(after.integrity, "ok");
    EXPECT_EQ(after.books, "");
    const bool reversed = after.progress.posted == 0 && records == "1";
    const bool inForce = after.progress.posted == after.progress.items && records == "0";
    EXPECT_TRUE(reversed || inForce) << after.progress.posted << " de " << after.progress.items
                                     << " itens lançados, registros de estorno: " << records;
    if (replied) {
      EXPECT_TRUE(reversed);  // a reply means committed
    }
    (reversed ? whole : untouched)++;
    {
      ChildServer child(copy.url());
      ASSERT_TRUE(child.started()) << child.failure();
      TestClient client(child.port());
      ASSERT_TRUE(client.login(kManager, kManagerPassword).ok());
      const auto again = reverse(client, undo);
      if (reversed) {
        EXPECT_EQ(again.call.status.error_message(), "Estorno_Ja_Estornado");
      } else {
        EXPECT_TRUE(again.call.ok()) << again.call.status.error_message();
      }
    }
    const auto [finished, finalRecords] = state(copy.url());
    EXPECT_EQ(finished.progress.posted, 0);
    EXPECT_EQ(finalRecords, "1");
    EXPECT_EQ(finished.books, "");
    EXPECT_EQ(finished.integrity, "ok");
  }
  std::printf(
      "interrupções do estorno: %d deixaram o lançamento em vigor, %d o encontraram estornado (estorno inteiro: "
      "%lld ms)\n",
      untouched, whole, (long long)full.count());
}

INSTANTIATE_TEST_SUITE_P(Backends, PostingCrashTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
