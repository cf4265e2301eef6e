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

#include <chrono>
#include <thread>

#include "child_server.h"
#include "harness.h"
#include "health.grpc.pb.h"

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
  server.start(QString::fromStdString(binaryPath("qfxserver")), arguments);
  server.write(input);
  server.closeWriteChannel();
  EXPECT_TRUE(server.waitForFinished(60000));
  return {server.exitCode(), QString::fromUtf8(server.readAllStandardOutput()),
          QString::fromUtf8(server.readAllStandardError())};
}

QByteArray contentOf(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

}  // namespace

TEST(EmbeddedBackupTarget, TheDatabaseItselfAndExistingFilesAreRefused) {
  QTemporaryDir folder;
  const QString live = folder.filePath("vivo.db");
  const std::string url = "sqlite:" + live.toStdString();
  ASSERT_EQ(runServer(url, {"--migrate"}).code, 0);
  ChildServer server(url);
  ASSERT_TRUE(server.started()) << server.failure();
  const QByteArray before = contentOf(live);

  QFile::link(live, folder.filePath("atalho.db"));
  for (const QString& spelling :
       {live, folder.path() + "/./vivo.db", folder.filePath("atalho.db"), live + "-wal", live + "-shm"}) {
    const Outcome refused = runServer(url, {"--backup", spelling});
    EXPECT_NE(refused.code, 0) << spelling.toStdString();
    EXPECT_TRUE(refused.error.contains("próprio banco")) << refused.error.toStdString();
  }
  EXPECT_EQ(contentOf(live), before);
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
  EXPECT_EQ(contentOf(other), "dados de outra pessoa\n");

  const Outcome replaced = runServer(url, {"--backup", other, "--replace"});
  EXPECT_EQ(replaced.code, 0) << replaced.error.toStdString();
  EXPECT_TRUE(contentOf(other).startsWith("SQLite format 3"));
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

INSTANTIATE_TEST_SUITE_P(Backends, AdminCommands, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
