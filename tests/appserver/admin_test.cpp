// The administrator's commands of the real qfxserver binary: none of them
// loses data. A backup never writes over the database or an existing file
// unasked, a restore is refused while a server works on the database, and an
// operator change touches only what it names, all of it or nothing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <thread>

#include "child_server.h"
#include "db/migrations.h"
#include "harness.h"
#include "posting_support.h"
#include <proto/health.grpc.pb.h>

using namespace qfx;
using namespace qfx::test;

namespace {

struct Outcome {
  int code = -1;
  QString out, error;
};

Outcome runServer(const std::string& dbUrl, QStringList arguments, const QByteArray& input = {}) {
  QProcess server;
  arguments << "--db" << QString::fromStdString(dbUrl);
  server.start(qfxtest::binPath(QStringLiteral("qfxserver")), arguments);
  server.write(input);
  server.closeWriteChannel();
  EXPECT_TRUE(server.waitForFinished(60000));
  return {server.exitCode(), QString::fromUtf8(server.readAllStandardOutput()),
          QString::fromUtf8(server.readAllStandardError())};
}

// The operator's row as text: name, branch, active flag, password hash.
std::string operatorRow(QSqlDatabase& db, const char* code) {
  return scalar(db,
                "SELECT NMOPERADOR || '|' || COALESCE(CDFILIAL, '-') || '|' || IDATIVO || '|' || DSSENHA "
                "FROM OPERADOR WHERE CDOPERADOR = ?",
                {QString::fromLatin1(code)});
}

class AdminCommands : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override { QFX_REQUIRE_BACKEND(GetParam()); }
};

TEST(EmbeddedBackupTarget, TheDatabaseItselfAndExistingFilesAreRefused) {
  QTemporaryDir folder;
  const QString live = folder.filePath("vivo.db");
  const std::string url = "sqlite:" + live.toStdString();
  ASSERT_EQ(runServer(url, {"--migrate"}).code, 0);
  ChildServer server(url);
  ASSERT_TRUE(server.started()) << server.failure();
  const QByteArray before = qfxtest::fileContents(live);

  QFile::link(live, folder.filePath("atalho.db"));
  for (const QString& spelling :
       {live, folder.path() + "/./vivo.db", folder.filePath("atalho.db"), live + "-wal", live + "-shm"}) {
    const Outcome refused = runServer(url, {"--backup", spelling});
    EXPECT_NE(refused.code, 0) << spelling.toStdString();
    EXPECT_TRUE(refused.error.contains("próprio banco")) << refused.error.toStdString();
  }
  EXPECT_EQ(qfxtest::fileContents(live), before);
  {
    server::Database database(*server::DbConfig::parse(url));
    QSqlDatabase db = *database.connection();
    EXPECT_EQ(scalar(db, "PRAGMA integrity_check"), "ok");
  }

  const QString other = folder.filePath("outro.txt");
  QFile file(other);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("dados de outra pessoa\n");
  file.close();
  const Outcome existing = runServer(url, {"--backup", other});
  EXPECT_NE(existing.code, 0);
  EXPECT_TRUE(existing.error.contains("--replace")) << existing.error.toStdString();
  EXPECT_EQ(qfxtest::fileContents(other), "dados de outra pessoa\n");

  const Outcome replaced = runServer(url, {"--backup", other, "--replace"});
  EXPECT_EQ(replaced.code, 0) << replaced.error.toStdString();
  EXPECT_TRUE(qfxtest::fileContents(other).startsWith("SQLite format 3"));
  EXPECT_TRUE(QDir(folder.path()).entryList({"*.parcial*"}).isEmpty());
}

TEST(EmbeddedRestore, IsRefusedWhileAServerHasTheDatabaseOpenAndNamesIt) {
  ServerHarness harness(Backend::SQLite);
  const std::string url = harness.testDatabase().url();
  QTemporaryDir folder;
  const QString copy = folder.filePath("copia.db");
  ASSERT_EQ(runServer(url, {"--backup", copy}).code, 0);
  QSqlDatabase db = harness.sql();
  exec(db, "UPDATE OPERADOR SET NMOPERADOR = 'depois da cópia' WHERE CDOPERADOR = ?", {kManager});

  auto server = std::make_unique<ChildServer>(url);
  ASSERT_TRUE(server->started()) << server->failure();
  const Outcome refused = runServer(url, {"--restore", copy});
  EXPECT_NE(refused.code, 0);
  EXPECT_TRUE(refused.error.contains("pid " + QString::number(server->pid()))) << refused.error.toStdString();
  EXPECT_EQ(scalar(db, "SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = ?", {kManager}), "depois da cópia");

  server.reset();  // stopped: now the restore goes through
  harness.stop();
  const Outcome restored = runServer(url, {"--restore", copy});
  EXPECT_EQ(restored.code, 0) << restored.error.toStdString();
  server::Database reopened(*server::DbConfig::parse(url));
  QSqlDatabase after = *reopened.connection();
  EXPECT_NE(scalar(after, "SELECT NMOPERADOR FROM OPERADOR WHERE CDOPERADOR = ?", {kManager}), "depois da cópia");
}

TEST_P(AdminCommands, AnOperatorChangeTouchesOnlyWhatItNames) {
  ServerHarness harness(GetParam());
  const std::string url = harness.testDatabase().url();
  QSqlDatabase db = harness.sql();
  ASSERT_EQ(runServer(url, {"--deactivate-operator", kClerk}).code, 0);
  const std::string before = operatorRow(db, kClerk);

  Outcome changed = runServer(url, {"--set-operator", kClerk, "--operator-password"}, "nova-senha\n");
  ASSERT_EQ(changed.code, 0) << changed.error.toStdString();
  const std::string afterPassword = operatorRow(db, kClerk);
  EXPECT_NE(afterPassword, before);
  EXPECT_EQ(afterPassword.substr(0, afterPassword.rfind('|')), before.substr(0, before.rfind('|')))
      << "name, branch and active flag kept";

  changed = runServer(url, {"--set-operator", kClerk, "--operator-name", "Caixa Um"});
  ASSERT_EQ(changed.code, 0) << changed.error.toStdString();
  EXPECT_EQ(scalar(db, "SELECT NMOPERADOR || CDFILIAL || IDATIVO FROM OPERADOR WHERE CDOPERADOR = ?", {kClerk}),
            "Caixa Um0001N");

  const Outcome nothingNamed = runServer(url, {"--set-operator", kClerk}, "outra\n");
  EXPECT_NE(nothingNamed.code, 0);
  EXPECT_EQ(runServer(url, {"--activate-operator", kClerk}).code, 0);
  auto client = harness.client();
  EXPECT_TRUE(client->login(kClerk, "nova-senha").ok());
  EXPECT_EQ(scalar(db, "SELECT COALESCE(CDFILIAL, '-') FROM OPERADOR WHERE CDOPERADOR = ?", {kClerk}), "0001");
}

TEST_P(AdminCommands, ARefusedChangeLeavesEverythingAsItWas) {
  ServerHarness harness(GetParam());
  const std::string url = harness.testDatabase().url();
  QSqlDatabase db = harness.sql();
  auto session = harness.loggedIn(kClerk, kClerkPassword);
  const auto before = snapshot(db, true);

  const Outcome mistyped =
      runServer(url, {"--set-operator", kClerk, "--operator-password", "--operator-branch", "9X9"}, "outra\n");
  EXPECT_NE(mistyped.code, 0);
  EXPECT_TRUE(mistyped.error.contains("9X9")) << mistyped.error.toStdString();
  EXPECT_NE(runServer(url, {"--set-operator", "ninguem", "--operator-branch", "9X9"}, "senha\n").code, 0);
  EXPECT_NE(runServer(url, {"--end-sessions", "ninguem"}).code, 0);
  EXPECT_EQ(snapshot(db, true), before);
  EXPECT_TRUE(harness.client()->login(kClerk, kClerkPassword).ok()) << "the old password still works";
}

TEST_P(AdminCommands, SessionsAreListedAndEnded) {
  ServerHarness harness(GetParam());
  const std::string url = harness.testDatabase().url();
  auto clerk = harness.loggedIn(kClerk, kClerkPassword);
  auto manager = harness.loggedIn();
  ASSERT_TRUE(clerk->invoke("GetParamFilial", {text("0001")}).ok());

  const Outcome listed = runServer(url, {"--list-sessions"});
  EXPECT_EQ(listed.code, 0);
  EXPECT_TRUE(listed.out.contains(kClerk) && listed.out.contains(kManager)) << listed.out.toStdString();
  const Outcome operators = runServer(url, {"--list-operators"});
  EXPECT_TRUE(operators.out.contains(kClerk)) << operators.out.toStdString();

  const Outcome ended = runServer(url, {"--end-sessions", kClerk});
  EXPECT_EQ(ended.code, 0) << ended.error.toStdString();
  EXPECT_FALSE(clerk->invoke("GetParamFilial", {text("0001")}).ok()) << "the ended session is refused";
  EXPECT_TRUE(manager->invoke("GetParamFilial", {text("0001")}).ok()) << "another operator's session goes on";
}

namespace {

bool serving(TestClient& client) {
  auto health = grpc::health::v1::Health::NewStub(client.channel());
  grpc::ClientContext context;
  context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(5));
  grpc::health::v1::HealthCheckRequest request;
  grpc::health::v1::HealthCheckResponse response;
  return health->Check(&context, request, &response).ok() &&
         response.status() == grpc::health::v1::HealthCheckResponse::SERVING;
}

// Waits up to `limit` for the health answer to become `wanted`; the seconds it took, or -1.
double secondsUntilServing(TestClient& client, bool wanted, std::chrono::seconds limit) {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < limit) {
    if (serving(client) == wanted)
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return -1;
}

server::ServerOptions quickHealth() {
  server::ServerOptions options;
  options.health.interval = std::chrono::milliseconds(200);
  options.health.sweepEvery = std::chrono::seconds(0);
  return options;
}

}  // namespace

// A logout ends the session on every server of the database; the others' go on.
TEST_P(AdminCommands, ALoggedOutSessionIsRefusedAndExpiredOnesAreSwept) {
  ServerHarness harness(GetParam(), true, quickHealth());
  auto leaving = harness.loggedIn(kClerk, kClerkPassword);
  auto staying = harness.loggedIn();
  grpc::ClientContext context;
  context.AddMetadata("x-qfx-session", leaving->token());
  rpc::LogoutReply reply;
  ASSERT_TRUE(leaving->stub().Logout(&context, rpc::LogoutRequest(), &reply).ok());
  auto refused = leaving->invoke("GetParamFilial", {text("0001")});
  EXPECT_EQ(refused.status.error_code(), grpc::StatusCode::UNAUTHENTICATED);
  EXPECT_TRUE(staying->invoke("GetParamFilial", {text("0001")}).ok());

  QSqlDatabase db = harness.sql();
  exec(db, "INSERT INTO SESSAO (CDSESSAO, CDOPERADOR, NRCRIACAO, NREXPIRACAO) VALUES ('vencida', ?, 1, 2)", {kClerk});
  const auto start = std::chrono::steady_clock::now();
  while (scalar(db, "SELECT COUNT(*) FROM SESSAO WHERE CDSESSAO = 'vencida'") != "0" &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM SESSAO WHERE CDSESSAO = 'vencida'"), "0") << "swept without a login";
  EXPECT_EQ(scalar(db, "SELECT COUNT(*) FROM SESSAO"), "1") << "the open session stays";
}

// Health follows the database: NOT_SERVING while the server cannot reach it,
// SERVING again once it is back.
TEST(HealthFollowsTheDatabase, NotServingWhileTheDatabaseIsLost) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  ServerHarness harness(Backend::PostgreSQL, true, quickHealth());
  auto client = harness.client();
  ASSERT_TRUE(serving(*client));
  const std::string name = harness.testDatabase().url().substr(harness.testDatabase().url().rfind('/') + 1);
  server::Database admin(*server::DbConfig::parse(std::getenv("QFX_TEST_PG_URL")));
  QSqlDatabase other = *admin.connection();
  const QString database = QString::fromStdString(name);
  const auto allowConnections = [&](bool allowed) {
    QSqlQuery q(other);  // not prepared: PostgreSQL prepares no ALTER DATABASE
    EXPECT_TRUE(q.exec(QString("ALTER DATABASE \"%1\" ALLOW_CONNECTIONS %2").arg(database, allowed ? "true" : "false")))
        << q.lastError().text().toStdString();
  };
  allowConnections(false);
  exec(other, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = ? AND pid <> pg_backend_pid()",
       {database});
  const double lost = secondsUntilServing(*client, false, std::chrono::seconds(15));
  allowConnections(true);
  EXPECT_GE(lost, 0) << "still SERVING without its database";
  const double back = secondsUntilServing(*client, true, std::chrono::seconds(15));
  EXPECT_GE(back, 0) << "NOT_SERVING with its database back";
  std::printf("NOT_SERVING %.1f s após perder o banco; SERVING %.1f s após voltar\n", lost, back);
  EXPECT_TRUE(harness.loggedIn()->invoke("GetParamFilial", {text("0001")}).ok());
}

// A server frozen in the middle of a posting (here: its session took the
// branch's items and then stopped sending anything) holds the branch only
// until PostgreSQL ends its transaction: another server's posting of that
// branch goes through once the bound has passed, not when the frozen one dies.
TEST(LostServer, HoldsABranchOnlyForTheBoundedTime) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  ServerHarness harness(Backend::PostgreSQL);
  QSqlDatabase db = harness.sql();
  plentyOfStock(db);
  auto config = *server::DbConfig::parse(harness.testDatabase().url());
  config.lostClientHoldMs = 2000;
  server::Database frozenServer(config);
  QSqlDatabase frozen = *frozenServer.connection();
  QSqlQuery hold(frozen);
  ASSERT_TRUE(hold.exec("BEGIN"));
  ASSERT_TRUE(hold.exec("SELECT COUNT(*) FROM (SELECT 1 FROM ITVENDA WHERE CDFILIAL = '0001' FOR UPDATE) T"));
  ASSERT_TRUE(hold.next());
  ASSERT_GT(hold.value(0).toInt(), 0) << "the frozen side holds the branch's items";
  const auto start = std::chrono::steady_clock::now();  // from here the frozen side sends nothing

  auto client = harness.loggedIn();
  const PostingReply reply = consolidate(*client, Consolidation(), std::chrono::seconds(60));
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_TRUE(reply.call.ok()) << reply.call.status.error_message();
  EXPECT_GT(reply.lastPosting, 0);
  EXPECT_GE(waited, 1.5) << "it did wait for the frozen server";
  EXPECT_LT(waited, 10.0) << "the frozen server's hold is bounded";
  std::printf("a consolidação do outro servidor passou em %.1f s (limite da sessão parada: 2 s)\n", waited);
  EXPECT_FALSE(hold.exec("SELECT 1")) << "PostgreSQL ended the frozen session";
}

namespace {
// A login in a read role (the hosts' shared one unless told), dropped at the end.
class ReaderLogin {
 public:
  explicit ReaderLogin(QSqlDatabase& admin, const QString& group = "qfx_consulta")
      : admin_(admin), name_(QString("qfx_leitor_%1_%2").arg(getpid()).arg(group)) {
    QSqlQuery q(admin_);
    q.exec(QString("DROP ROLE IF EXISTS %1").arg(name_));
    EXPECT_TRUE(q.exec(QString("CREATE ROLE %1 LOGIN IN ROLE %2").arg(name_, group)))
        << q.lastError().text().toStdString();
  }
  ~ReaderLogin() { dropRole(admin_, name_); }
  // `url` with this login's name in place of its user.
  std::string urlFor(const std::string& url) const {
    const size_t at = url.find('@'), scheme = url.find("://") + 3;
    return url.substr(0, scheme) + name_.toStdString() + url.substr(at);
  }
  static void dropRole(QSqlDatabase& admin, const QString& name) {
    QSqlQuery q(admin);
    q.exec(QString("DROP OWNED BY %1").arg(name));
    q.exec(QString("DROP ROLE IF EXISTS %1").arg(name));
  }

 private:
  QSqlDatabase& admin_;
  QString name_;
};

std::set<std::string> column(QSqlDatabase& db, const QString& sqlText) {
  QSqlQuery q(db);
  std::set<std::string> values;
  EXPECT_TRUE(q.exec(sqlText)) << q.lastError().text().toStdString();
  while (q.next()) values.insert(q.value(0).toString().toStdString());
  return values;
}
}  // namespace

// A chain that keeps its stores apart: a read role made for one branch sees
// that branch's rows and customers only, while the shared read role still
// sees every branch; a mistyped branch changes nothing.
TEST(BranchReader, SeesOneBranchsRowsOnly) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  ServerHarness harness(Backend::PostgreSQL);
  const std::string url = harness.testDatabase().url();
  QSqlDatabase admin = harness.sql();
  const QString role = QString("qfx_leitura_%1").arg(getpid());
  struct Cleanup {
    QSqlDatabase& admin;
    QString role;
    ~Cleanup() { ReaderLogin::dropRole(admin, role); }
  } cleanup{admin, role};

  const Outcome mistyped = runServer(url, {"--create-branch-reader", role, "--reader-branch", "9X9"});
  EXPECT_NE(mistyped.code, 0);
  EXPECT_TRUE(mistyped.error.contains("9X9")) << mistyped.error.toStdString();
  EXPECT_EQ(scalar(admin, "SELECT COUNT(*) FROM pg_roles WHERE rolname = ?", {role}), "0");

  const Outcome made = runServer(url, {"--create-branch-reader", role, "--reader-branch", "0001"});
  ASSERT_EQ(made.code, 0) << made.error.toStdString();
  ASSERT_GT(column(admin, "SELECT DISTINCT CDFILIAL FROM VENDA").size(), 1u) << "the fixture has several branches";

  ReaderLogin branchLogin(admin, role);
  server::Database branchDatabase(*server::DbConfig::parse(branchLogin.urlFor(url)));
  QSqlDatabase asBranch = *branchDatabase.connection();
  for (const char* table : {"FILIAL", "LOJA", "CAIXA", "VENDA", "ITVENDA"})
    EXPECT_EQ(column(asBranch, QString("SELECT DISTINCT CDFILIAL FROM %1").arg(table)), std::set<std::string>{"0001"})
        << table;
  EXPECT_EQ(column(asBranch, "SELECT CDCLIENTE FROM CLIENTE"),
            column(admin, "SELECT DISTINCT CDCLIENTE FROM VENDA WHERE CDFILIAL = '0001' AND CDCLIENTE IS NOT NULL"));

  ReaderLogin shared(admin);
  server::Database sharedDatabase(*server::DbConfig::parse(shared.urlFor(url)));
  QSqlDatabase asShared = *sharedDatabase.connection();
  EXPECT_EQ(column(asShared, "SELECT DISTINCT CDFILIAL FROM VENDA"),
            column(admin, "SELECT DISTINCT CDFILIAL FROM VENDA"));
  EXPECT_EQ(column(asShared, "SELECT CDCLIENTE FROM CLIENTE"), column(admin, "SELECT CDCLIENTE FROM CLIENTE"));
}

// What a server waits for at start, a reader cannot hold: a reader taking the
// old advisory key and keeping a read open stops no server; a lock a reader
// could not take makes the start wait, say whom for, and give up.
TEST(ServerStart, AReaderCannotHoldItAndAWaitSaysWhomItWaitsFor) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  ServerHarness harness(Backend::PostgreSQL, false);
  const std::string url = harness.testDatabase().url();
  QSqlDatabase admin = harness.sql();
  ReaderLogin reader(admin);
  server::Database readerDatabase(*server::DbConfig::parse(reader.urlFor(url)));
  QSqlDatabase asReader = *readerDatabase.connection();
  QSqlQuery held(asReader);
  ASSERT_TRUE(held.exec("SELECT pg_advisory_lock(3170031700)"));
  ASSERT_TRUE(held.exec("BEGIN"));
  ASSERT_TRUE(held.exec("SELECT COUNT(*) FROM FILIAL"));
  QSqlQuery tries(asReader);
  EXPECT_FALSE(tries.exec("LOCK TABLE QFXVERSAOESQUEMA IN SHARE ROW EXCLUSIVE MODE")) << "a reader may not lock it";

  const auto start = std::chrono::steady_clock::now();
  const Outcome migrated = runServer(url, {"--migrate"});
  EXPECT_EQ(migrated.code, 0) << migrated.error.toStdString();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  // the schema's owner holding the version table: the start waits, then gives up naming it
  server::Database ownerDatabase(*server::DbConfig::parse(url));
  QSqlDatabase owner = *ownerDatabase.connection();
  QSqlQuery lock(owner);
  ASSERT_TRUE(lock.exec("BEGIN"));
  ASSERT_TRUE(lock.exec("LOCK TABLE QFXVERSAOESQUEMA IN ACCESS EXCLUSIVE MODE"));
  ASSERT_TRUE(lock.exec("SELECT pg_backend_pid()") && lock.next());
  const std::string holder = "pid " + lock.value(0).toString().toStdString();
  std::string failure;
  std::thread starting([&] {
    server::Database starter(*server::DbConfig::parse(url));
    auto version = server::migrations::migrate(starter, {std::chrono::milliseconds(300), std::chrono::seconds(1)});
    failure = version ? "" : version.error().message;
  });
  starting.join();
  EXPECT_NE(failure.find(holder), std::string::npos) << failure;
  EXPECT_NE(failure.find("esperei"), std::string::npos) << failure;
}

// The read role made (or stripped) after the first migration gets its rights
// at the server's next start.
TEST(ServerStart, TheReadRoleGetsWhatItLacks) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  ServerHarness harness(Backend::PostgreSQL);
  const std::string url = harness.testDatabase().url();
  QSqlDatabase admin = harness.sql();
  QSqlQuery revoke(admin);  // not prepared: PostgreSQL prepares no REVOKE
  ASSERT_TRUE(revoke.exec("REVOKE SELECT ON FILIAL, VENDA FROM qfx_consulta"));
  ASSERT_EQ(scalar(admin, "SELECT has_table_privilege('qfx_consulta', 'filial', 'SELECT')"), "false");
  const Outcome migrated = runServer(url, {"--migrate"});
  EXPECT_EQ(migrated.code, 0) << migrated.error.toStdString();
  EXPECT_TRUE(migrated.error.contains("2 concessões")) << migrated.error.toStdString();
  ReaderLogin reader(admin);
  server::Database readerDatabase(*server::DbConfig::parse(reader.urlFor(url)));
  QSqlDatabase asReader = *readerDatabase.connection();
  EXPECT_NE(scalar(asReader, "SELECT COUNT(*) FROM FILIAL"), "0");
  QSqlQuery refused(asReader);
  EXPECT_FALSE(refused.exec("SELECT COUNT(*) FROM OPERADOR")) << "nothing beyond the read role's tables";
}

// The same with real servers: one frozen (SIGSTOP) while its posting holds the
// branch, the other's posting of that branch goes through once PostgreSQL
// has ended the frozen one's transaction (20 s), long before it would die.
TEST(LostServer, AFrozenServerReleasesTheBranchWithinTheBound) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  ServerHarness harness(Backend::PostgreSQL);
  QSqlDatabase db = harness.sql();
  plentyOfStock(db);
  addSales(db, 20000, 4000);
  const Books before = readBooks(db);
  harness.stop();
  const std::string url = harness.testDatabase().url();
  ChildServer frozen(url), other(url);
  ASSERT_TRUE(frozen.started() && other.started()) << frozen.failure() << other.failure();
  TestClient onFrozen(frozen.port()), onOther(other.port());
  ASSERT_TRUE(onFrozen.login(kManager, kManagerPassword).ok());
  ASSERT_TRUE(onOther.login(kManager, kManagerPassword).ok());

  Consolidation lateMarch;
  lateMarch.first = QDate(2024, 3, 12);
  lateMarch.last = QDate(2024, 3, 16);
  std::thread frozenRun([&] { consolidate(onFrozen, lateMarch, std::chrono::seconds(120)); });
  // the frozen server's posting has begun once a session holds the number series
  bool caught = false;
  const auto looking = std::chrono::steady_clock::now();
  while (!caught && std::chrono::steady_clock::now() - looking < std::chrono::seconds(30)) {
    caught = scalar(db,
                    "SELECT COUNT(*) FROM pg_locks L JOIN pg_class C ON C.oid = L.relation "
                    "WHERE C.relname = 'numerador' AND L.mode = 'RowExclusiveLock' AND L.granted") != "0";
    if (!caught) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(caught) << "the posting never started";
  ::kill(pid_t(frozen.pid()), SIGSTOP);
  const auto stopped = std::chrono::steady_clock::now();

  const PostingReply reply = consolidate(onOther, lateMarch, std::chrono::seconds(90));
  const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
  ::kill(pid_t(frozen.pid()), SIGCONT);
  frozenRun.join();
  ASSERT_TRUE(reply.call.ok()) << reply.call.status.error_message();
  EXPECT_GT(reply.lastPosting, 0) << "the other server posted the branch";
  EXPECT_LT(waited, 60.0);
  std::printf("servidor congelado; a consolidação do outro passou %.1f s depois (limite: 20 s)\n", waited);
  EXPECT_EQ(checkBooks(db, before), "") << "nothing posted twice";
}

INSTANTIATE_TEST_SUITE_P(Backends, AdminCommands, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());

}  // namespace
