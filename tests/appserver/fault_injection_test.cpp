// The database fails under a posting run: another writer holds the lock, the
// disk fills up, the database session is cut or PostgreSQL restarts. Each
// time the caller gets a clear error, nothing of the run is in the database
// (items, balances, postings, number series exactly as before), and once the
// fault is gone a call posts every item exactly once.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "db/migrations.h"
#include "harness.h"
#include "posting_support.h"
#include "private_postgres.h"

using namespace qfx;
using namespace qfx::test;

namespace {

constexpr int kSales = 500;  // 1 500 items over five days from 12 March

Consolidation run() {
  Consolidation c;
  c.first = QDate(2024, 3, 12);
  c.last = QDate(2024, 3, 16);
  return c;
}

std::string firstDifference(const std::vector<std::string>& expected, const std::vector<std::string>& found) {
  for (size_t i = 0; i < std::min(expected.size(), found.size()); ++i)
    if (expected[i] != found[i]) return "esperado «" + expected[i] + "», encontrado «" + found[i] + "»";
  if (expected.size() != found.size())
    return std::to_string(expected.size()) + " linhas esperadas, " + std::to_string(found.size()) + " encontradas";
  return {};
}

// The fixture, balances large enough for any run and kSales more sales of
// branch 0001; a server on it that can be stopped and started again with
// another database configuration, and the manager's session, which lives in
// the database and so outlasts any server.
class Scene {
 public:
  explicit Scene(Backend backend) : testDb_(std::make_unique<TestDatabase>(backend)), url_(testDb_->url()) {
    prepare();
  }
  // On an empty database of a server of the test's own.
  explicit Scene(std::string url) : url_(std::move(url)) { prepare(); }
  ~Scene() { stopServer(); }

  const std::string& url() const { return url_; }
  bool sqlite() const { return url_.rfind("sqlite:", 0) == 0; }

  // This thread's connection for arranging and checking.
  QSqlDatabase db() {
    auto db = arrange_->connection();
    EXPECT_TRUE(db.ok()) << (db ? "" : db.error().message);
    return db ? *db : QSqlDatabase();
  }
  // After the database went away under the connection.
  void reconnect() { arrange_->discardConnection(); }

  // `workers`: the server's database workers (and connections).
  void startServer(const std::function<void(server::DbConfig&)>& configure = {}, int workers = 4) {
    stopServer();
    auto config = server::DbConfig::parse(url_);
    ASSERT_TRUE(config.ok());
    if (configure) configure(*config);
    serverDb_ = std::make_unique<server::Database>(*config);
    server::ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.maxThreads = workers;
    auto started = server::AppServer::start(*serverDb_, server::makeConsolidationObject(), options);
    ASSERT_TRUE(started.ok()) << started.error().message;
    server_ = std::move(*started);
    client_ = std::make_unique<TestClient>(server_->port());
    if (token_.empty()) {
      ASSERT_TRUE(client_->login(kManager, kManagerPassword).ok());
      token_ = client_->token();
    }
    client_->setToken(token_);
  }
  void stopServer() {
    client_.reset();
    if (server_) server_->shutdown(std::chrono::milliseconds(2000));
    server_.reset();
    serverDb_.reset();
  }
  TestClient& client() { return *client_; }

  // Nothing of any run: every table as it was prepared (sessions aside).
  void expectUntouched() {
    QSqlDatabase check = db();
    EXPECT_EQ(firstDifference(before_, snapshot(check)), "");
    EXPECT_EQ(progress(check).posted, 0);
  }

  // Every pending item posted once: one stock posting and one note per sale
  // day, both number series moved by five, the books agreeing with the items.
  void expectPostedOnce() {
    QSqlDatabase check = db();
    const Progress p = progress(check);
    EXPECT_EQ(p.items, 3 * kSales);
    EXPECT_EQ(p.posted, p.items);
    EXPECT_EQ(checkBooks(check, books_), "");
    EXPECT_EQ(scalar(check, "SELECT COUNT(*) FROM LANCESTQ WHERE CDFILIAL = '0001' AND DTLANCESTQ >= '2024-03-12'"),
              "5");
    EXPECT_EQ(scalar(check, "SELECT COUNT(*) FROM LANCTONF WHERE CDFILIAL = '0001' AND DTLANCTONF >= '2024-03-12'"),
              "5");
    for (const char* series : {"LANCESTQ", "LANCTONF"}) {
      EXPECT_EQ(scalar(check, "SELECT NRULTIMO FROM NUMERADOR WHERE CDFILIAL = '0001' AND NMNUMERADOR = ?",
                       {QString::fromLatin1(series)}),
                "6")
          << series;
    }
  }

  // The run after the fault: everything posted once, and calling again
  // (a client that never saw the reply) posts nothing more.
  void retryPostsOnce() {
    auto reply = consolidate(*client_, run());
    ASSERT_TRUE(reply.call.ok()) << reply.call.status.error_message();
    EXPECT_GT(reply.lastPosting, 0);
    expectPostedOnce();
    QSqlDatabase check = db();
    const auto posted = snapshot(check);
    auto again = consolidate(*client_, run());
    ASSERT_TRUE(again.call.ok()) << again.call.status.error_message();
    EXPECT_EQ(again.lastPosting, 0);
    EXPECT_EQ(firstDifference(posted, snapshot(check)), "");
  }

 private:
  void prepare() {
    auto config = server::DbConfig::parse(url_);
    ASSERT_TRUE(config.ok()) << config.error().message;
    arrange_ = std::make_unique<server::Database>(*config);
    auto migrated = server::migrations::migrate(*arrange_);
    ASSERT_TRUE(migrated.ok()) << migrated.error().message;
    QSqlDatabase d = db();
    loadFixture(d);
    plentyOfStock(d);
    addSales(d, 10000, kSales);
    before_ = snapshot(d);
    books_ = readBooks(d);
  }

  std::unique_ptr<TestDatabase> testDb_;
  std::string url_;
  std::unique_ptr<server::Database> arrange_, serverDb_;
  std::unique_ptr<server::AppServer> server_;
  std::unique_ptr<TestClient> client_;
  std::string token_;
  std::vector<std::string> before_;
  Books books_;
};

// A posting run on another thread, for faults made while it waits.
class RunInBackground {
 public:
  explicit RunInBackground(TestClient& client)
      : thread_([this, &client] {
          reply_ = consolidate(client, run());
          ended_ = true;
        }) {}
  ~RunInBackground() {
    if (thread_.joinable()) thread_.join();
  }
  bool ended() const { return ended_; }
  PostingReply& finish() {
    if (thread_.joinable()) thread_.join();
    return reply_;
  }

 private:
  PostingReply reply_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// A posting run on another thread whose client can cancel it at any moment.
class CancellableRun {
 public:
  CancellableRun(TestClient& client, const std::string& token) {
    context_.set_deadline(std::chrono::system_clock::now() + std::chrono::minutes(5));
    context_.AddMetadata("x-qfx-session", token);
    request_.set_object("Qfx31700.rdmGeraNF");
    request_.set_method("SemGeraNF");
    for (const auto& a : run().args()) *request_.add_arguments() = a;
    thread_ = std::thread([this, &client] {
      auto reader = client.stub().Invoke(&context_, request_);
      rpc::InvokeReply message;
      while (reader->Read(&message)) {
      }
      status_ = reader->Finish();
      ended_ = true;
    });
  }
  ~CancellableRun() {
    if (thread_.joinable()) thread_.join();
  }
  bool ended() const { return ended_; }
  grpc::Status cancel() {
    context_.TryCancel();
    thread_.join();
    return status_;
  }

 private:
  grpc::ClientContext context_;
  rpc::InvokeRequest request_;
  grpc::Status status_;
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

// Another writer keeps the run from starting its writes: SQLite's write lock,
// or on PostgreSQL a lock on the number series that the run's first insert
// waits for (reads go on).
void holdTheWriteLock(Scene& scene, OtherWriter& other) {
  if (scene.sqlite()) {
    other.exec("BEGIN IMMEDIATE");
    return;
  }
  other.exec("BEGIN");
  other.exec("LOCK TABLE NUMERADOR IN EXCLUSIVE MODE");
}

// Where the run stops to wait when another session holds the first balance
// it moves: after every item is stamped, just before the commit.
const QString kHoldFirstBalance = QStringLiteral(
    "SELECT QTSALDOESTQ FROM SALDOESTQ WHERE CDFILIAL = '0001' AND CDALMOXARIFE = '000001' AND "
    "CDLOCALESTOQ = '000001' AND CDPRODUTO = 'P1' FOR UPDATE");

// PostgreSQL: the run is held just before its commit while `cut` ends its
// session; the call fails as a lost database and posts nothing.
void cutTheSessionOfAHeldRun(Scene& scene, const std::function<void(int blockedPid)>& cut) {
  OtherWriter holder(scene.url());
  holder.exec("BEGIN");
  holder.exec(kHoldFirstBalance);
  const int holderPid = holder.backendPid();
  RunInBackground running(scene.client());
  QSqlDatabase observer = scene.db();
  const int blocked = waitForBlockedSession(observer, holderPid, [&] { return running.ended(); });
  if (blocked == 0) {
    holder.exec("ROLLBACK");  // lets a run still waiting finish
    FAIL() << "a execução não chegou a esperar pelo saldo: " << running.finish().call.status.error_message();
  }
  cut(blocked);
  const PostingReply& reply = running.finish();
  EXPECT_EQ(reply.call.status.error_code(), grpc::StatusCode::UNAVAILABLE) << reply.call.status.error_message();
  EXPECT_NE(reply.call.status.error_message().find("conexão com o banco de dados foi perdida"), std::string::npos)
      << reply.call.status.error_message();
}

// A tmpfs of a few megabytes: a disk that really fills up. Needs root.
class TinyDisk {
 public:
  explicit TinyDisk(int megabytes) : dir_(QDir::tempPath() + QStringLiteral("/qfx-disco-XXXXXX")) {
    if (!dir_.isValid()) return;
    dir_.setAutoRemove(false);  // removed after the unmount
    const QByteArray options = "size=" + QByteArray::number(megabytes) + "m,mode=0755";
    mounted_ = ::mount("tmpfs", QFile::encodeName(dir_.path()).constData(), "tmpfs", 0, options.constData()) == 0;
  }
  ~TinyDisk() {
    if (mounted_) ::umount2(QFile::encodeName(dir_.path()).constData(), MNT_DETACH);
    QDir().rmdir(dir_.path());
  }
  bool mounted() const { return mounted_; }
  QString path(const QString& name = {}) const { return name.isEmpty() ? dir_.path() : dir_.filePath(name); }

  // Fills it with a file until only about `leftBytes` remain.
  bool fill(qint64 leftBytes) {
    QFile filler(path(QStringLiteral("enchimento")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size()) {
    }
    filler.close();
    return filler.resize(std::max<qint64>(0, filler.size() - leftBytes));
  }
  void release() { QFile::remove(path(QStringLiteral("enchimento"))); }

 private:
  QTemporaryDir dir_;
  bool mounted_ = false;
};

// One private server for the binary: making one takes seconds. Gone at the
// end of the run, while the application object still exists.
std::unique_ptr<PrivatePostgres> privateServer;

class PrivateServerEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { privateServer.reset(); }
};
const auto* const privateServerEnvironment = ::testing::AddGlobalTestEnvironment(new PrivateServerEnvironment);

// The private server, started on first use; null (and the reason) when it
// cannot run here.
PrivatePostgres* sharedPrivateServer(std::string* why) {
  if (!privatePostgresPossible(why)) return nullptr;
  if (!privateServer) privateServer = std::make_unique<PrivatePostgres>();
  *why = privateServer->failure();
  return why->empty() ? privateServer.get() : nullptr;
}

// One statement on a private server's maintenance database.
void admin(const PrivatePostgres& pg, const QString& statement) {
  server::Database maintenance(*server::DbConfig::parse(pg.url()));
  auto db = maintenance.connection();
  ASSERT_TRUE(db.ok()) << db.error().message;
  QSqlQuery q(*db);
  q.exec(QStringLiteral("SET client_min_messages TO WARNING"));
  ASSERT_TRUE(q.exec(statement)) << statement.toStdString() << ": " << q.lastError().text().toStdString();
}

}  // namespace

class FaultInjection : public ::testing::TestWithParam<Backend> {};

// SQLite gives up after the busy timeout (here 200 ms, and the run tries a
// few times); PostgreSQL waits for the lock. Neither writes a thing while the
// other writer holds it.
TEST_P(FaultInjection, AnotherWriterHoldingTheLockLeavesTheRunUnwrittenUntilItLetsGo) {
  QFX_REQUIRE_BACKEND(GetParam());
  Scene scene(GetParam());
  scene.startServer([](server::DbConfig& c) { c.sqliteBusyTimeoutMs = 200; });
  OtherWriter other(scene.url());
  if (scene.sqlite()) {
    other.exec("BEGIN IMMEDIATE");
    auto refused = consolidate(scene.client(), run());
    EXPECT_EQ(refused.call.status.error_code(), grpc::StatusCode::UNAVAILABLE) << refused.call.status.error_message();
    EXPECT_NE(refused.call.status.error_message().find("ocupado com outra gravação"), std::string::npos)
        << refused.call.status.error_message();
    scene.expectUntouched();
    other.exec("ROLLBACK");
    scene.retryPostsOnce();
    return;
  }
  other.exec("BEGIN");
  other.exec("LOCK TABLE NUMERADOR IN EXCLUSIVE MODE");
  RunInBackground running(scene.client());
  QSqlDatabase observer = scene.db();
  const int blocked = waitForBlockedSession(observer, other.backendPid(), [&] { return running.ended(); });
  if (blocked != 0) scene.expectUntouched();
  other.exec("ROLLBACK");
  EXPECT_NE(blocked, 0) << "a execução não esperou pela trava da outra transação";
  const PostingReply& reply = running.finish();
  ASSERT_TRUE(reply.call.ok()) << reply.call.status.error_message();
  scene.expectPostedOnce();
}

// The host gives each call a deadline (a minute); the database's own wait
// (SQLite's 30 s busy timeout, a run's retries, PostgreSQL's endless lock
// wait) may be longer. The call must end before its deadline with the clear
// "busy" error, not DEADLINE_EXCEEDED, post nothing, and leave the server's
// only worker free for the next call.
TEST_P(FaultInjection, ACallWhoseDeadlineComesWhileAnotherWriterHoldsTheLockGetsTheBusyErrorInTime) {
  QFX_REQUIRE_BACKEND(GetParam());
  Scene scene(GetParam());
  scene.startServer({}, 1);  // the default busy timeout
  OtherWriter other(scene.url());
  holdTheWriteLock(scene, other);
  auto busy = consolidate(scene.client(), run(), std::chrono::seconds(3));
  EXPECT_EQ(busy.call.status.error_code(), grpc::StatusCode::UNAVAILABLE) << busy.call.status.error_message();
  EXPECT_NE(busy.call.status.error_message().find("ocupado com outra gravação"), std::string::npos)
      << busy.call.status.error_message();
  scene.expectUntouched();
  // answered, so the worker is free again: while the lock is held a read gets
  // through at once, and once it is let go the run posts
  EXPECT_TRUE(scene.client().invoke("GetParamFilial", {text("0001")}, std::chrono::seconds(20)).ok());
  other.exec("ROLLBACK");
  scene.retryPostsOnce();
}

// A client that gives up while its run waits for another writer: the server
// stops waiting at once, so the next call on its only worker is answered
// while the other writer still holds the lock, and the run posted nothing.
TEST_P(FaultInjection, AClientCancellingWhileTheRunWaitsForALockFreesTheServersOnlyWorker) {
  QFX_REQUIRE_BACKEND(GetParam());
  Scene scene(GetParam());
  scene.startServer({}, 1);
  OtherWriter other(scene.url());
  holdTheWriteLock(scene, other);
  CancellableRun waiting(scene.client(), scene.client().token());
  if (scene.sqlite()) {
    // SQLite shows no one who waits for its lock: the pause lets the run get
    // there (a cancel that comes sooner frees the worker as well)
    std::this_thread::sleep_for(std::chrono::seconds(1));
  } else {
    QSqlDatabase observer = scene.db();
    ASSERT_NE(waitForBlockedSession(observer, other.backendPid(), [&] { return waiting.ended(); }), 0)
        << "a execução não esperou pela trava da outra transação";
  }
  EXPECT_FALSE(waiting.ended());
  EXPECT_EQ(waiting.cancel().error_code(), grpc::StatusCode::CANCELLED);
  auto next = scene.client().invoke("GetParamFilial", {text("0001")}, std::chrono::seconds(20));
  EXPECT_TRUE(next.ok()) << next.status.error_message();
  if (!scene.sqlite()) {
    // the server's session no longer waits for the lock either
    QSqlDatabase observer = scene.db();
    EXPECT_EQ(scalar(observer,
                     "SELECT COUNT(*) FROM pg_stat_activity WHERE datname = current_database() AND ? = "
                     "ANY(pg_blocking_pids(pid))",
                     {other.backendPid()}),
              "0");
  }
  scene.expectUntouched();
  other.exec("ROLLBACK");
  scene.retryPostsOnce();
}

// SQLite: the file may not grow past a few pages more than it has, as on a
// full disk. PostgreSQL: the database lives in a tablespace on a tmpfs that
// is filled up. The run fails midway through its writes, the database stays
// sound, and once there is room again the run posts everything once.
TEST_P(FaultInjection, DiskFullMidRunFailsClearlyPostsNothingAndTheRetryPostsOnce) {
  QFX_REQUIRE_BACKEND(GetParam());
  if (GetParam() == Backend::SQLite) {
    Scene scene(Backend::SQLite);
    scene.startServer();  // the session is made while there is room
    QSqlDatabase db = scene.db();
    const qint64 pages = QString::fromStdString(scalar(db, "PRAGMA page_count")).toLongLong();
    scene.startServer([pages](server::DbConfig& c) { c.sqliteMaxPageCount = pages + 8; });
    auto failed = consolidate(scene.client(), run());
    EXPECT_EQ(failed.call.status.error_code(), grpc::StatusCode::INTERNAL) << failed.call.status.error_message();
    EXPECT_NE(failed.call.status.error_message().find("disco do banco de dados está cheio"), std::string::npos)
        << failed.call.status.error_message();
    scene.stopServer();
    EXPECT_EQ(scalar(db, "PRAGMA integrity_check"), "ok");
    scene.expectUntouched();
    scene.startServer();  // room again
    scene.retryPostsOnce();
    return;
  }
  std::string why;
  if (!privatePostgresPossible(&why)) GTEST_SKIP() << why;
  if (::geteuid() != 0) GTEST_SKIP() << "montar o tmpfs do disco cheio pede root";
  TinyDisk disk(32);
  if (!disk.mounted()) GTEST_SKIP() << "não foi possível montar um tmpfs aqui";
  PrivatePostgres* server = sharedPrivateServer(&why);
  ASSERT_TRUE(server) << why;
  PrivatePostgres& pg = *server;
  ASSERT_TRUE(pg.giveToOwner(disk.path()));
  admin(pg, QStringLiteral("DROP DATABASE IF EXISTS cheio WITH (FORCE)"));
  admin(pg, QStringLiteral("DROP TABLESPACE IF EXISTS pequeno"));
  admin(pg, QStringLiteral("CREATE TABLESPACE pequeno LOCATION '%1'").arg(disk.path()));
  admin(pg, QStringLiteral("CREATE DATABASE cheio TABLESPACE pequeno"));
  {
    Scene scene(pg.url("cheio"));
    scene.startServer();
    ASSERT_TRUE(disk.fill(64 * 1024));
    auto failed = consolidate(scene.client(), run());
    EXPECT_EQ(failed.call.status.error_code(), grpc::StatusCode::INTERNAL) << failed.call.status.error_message();
    EXPECT_NE(failed.call.status.error_message().find("disco do banco de dados está cheio"), std::string::npos)
        << failed.call.status.error_message();
    scene.expectUntouched();
    disk.release();
    scene.retryPostsOnce();
  }
  admin(pg, QStringLiteral("DROP DATABASE cheio WITH (FORCE)"));
  admin(pg, QStringLiteral("DROP TABLESPACE pequeno"));
}

INSTANTIATE_TEST_SUITE_P(Backends, FaultInjection, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());

// SQLite has no session to lose (a killed server is posting_crash_test's);
// these are PostgreSQL's.
TEST(LostDatabaseSession, TerminatedMidRunPostsNothingAndTheServerReconnects) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  Scene scene(Backend::PostgreSQL);
  scene.startServer();
  cutTheSessionOfAHeldRun(scene, [&](int blockedPid) {
    QSqlDatabase db = scene.db();
    EXPECT_EQ(scalar(db, "SELECT pg_terminate_backend(?)", {blockedPid}), "true");
  });
  scene.expectUntouched();
  scene.retryPostsOnce();
}

TEST(LostDatabaseSession, PostgresRestartedMidRunPostsNothingAndTheServerReconnects) {
  std::string why;
  if (!privatePostgresPossible(&why)) GTEST_SKIP() << why;
  PrivatePostgres* server = sharedPrivateServer(&why);
  ASSERT_TRUE(server) << why;
  PrivatePostgres& pg = *server;
  admin(pg, QStringLiteral("DROP DATABASE IF EXISTS reinicio WITH (FORCE)"));
  admin(pg, QStringLiteral("CREATE DATABASE reinicio"));
  {
    Scene scene(pg.url("reinicio"));
    scene.startServer();
    cutTheSessionOfAHeldRun(scene, [&](int) { ASSERT_TRUE(pg.restart()); });
    scene.reconnect();
    scene.expectUntouched();
    scene.retryPostsOnce();
  }
  admin(pg, QStringLiteral("DROP DATABASE reinicio WITH (FORCE)"));
}
