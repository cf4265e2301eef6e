// Logging in on a real application server: the demo operators, wrong
// credentials, an unreachable server, a list of servers, a branch-bound
// operator, TLS, and the secrets kept out of sight of other users and logs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QFile>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <grpcpp/grpcpp.h>
#include <grpcpp/health_check_service_interface.h>
#include <sqlite3.h>

#include <atomic>

#include "backend.h"
#include <proto/qfx31700.grpc.pb.h>

#include "live_server.h"
#include <hostapp/logindialog.h>
#include <hostapp/mainwindow.h>

using namespace qfxhost;
using qfxtest::LiveServer;

namespace {
HostSettings settingsFor(int port) {
  HostSettings s;
  s.server.host = "127.0.0.1";
  s.server.port = port;
  return s;
}

int closedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const int port = probe.serverPort();
  probe.close();
  return port;  // nobody listens there any more
}
}  // namespace

TEST(Login, DemoOperatorsWrongCredentialsAndUnreachableServer) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  HostSettings s = settingsFor(server.port());

  auto demo = loginDirect(s, "demo", "demo");
  ASSERT_TRUE(demo.ok()) << demo.error().toStdString();
  const auto& free = demo.value();
  EXPECT_FALSE(free.login.token.isEmpty());
  EXPECT_TRUE(free.login.boundBranch.isEmpty());
  EXPECT_TRUE(free.login.branches.contains("0001"));
  EXPECT_TRUE(free.login.branches.contains("0002"));

  s.branch = "0002";
  auto bound = loginDirect(s, "loja01", "loja01");
  ASSERT_TRUE(bound.ok());
  EXPECT_EQ(bound.value().login.boundBranch, "0001");
  EXPECT_EQ(bound.value().branch, "0001") << "a bound operator works on its own branch";

  for (auto [op, password] : {std::pair{"demo", "errada"}, std::pair{"ninguem", "demo"}, std::pair{"demo", ""}}) {
    auto refused = loginDirect(s, op, password);
    ASSERT_TRUE(!refused.ok()) << op;
    EXPECT_FALSE(refused.error().isEmpty());
    EXPECT_FALSE(refused.error().contains(password) && QString(password).size() > 0);
  }

  auto unreachable = loginDirect(settingsFor(closedPort()), "demo", "demo");
  ASSERT_TRUE(!unreachable.ok());
  EXPECT_TRUE(unreachable.error().startsWith(hostkit::serverSilentText())) << unreachable.error().toStdString();
}

TEST(Login, TheDialogSaysWhatFailedAndLetsTheOperatorTryAgain) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  HostSettings s = settingsFor(server.port());
  LoginDialog dialog(s);
  dialog.show();
  dialog.edtOperador->setText("demo");
  dialog.edtSenha->setText("errada");
  auto login = [&] {
    auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    ok->click();
  };
  login();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(dialog.lblMensagem->text().isEmpty());
  EXPECT_FALSE(dialog.outcome());

  dialog.edtSenha->setText("demo");
  login();  // several branches: the operator picks one, then confirms
  ASSERT_TRUE(dialog.cbbFilial->isEnabled());
  dialog.cbbFilial->setCurrentIndex(dialog.cbbFilial->findData("0002"));
  login();
  ASSERT_TRUE(dialog.outcome());
  EXPECT_EQ(dialog.outcome()->branch, "0002");
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

// What the dialog says shows whole, however many lines it takes: an
// unreachable server, and a password file the unattended start refused.
TEST(Login, TheDialogsMessagesShowWhole) {
  const auto whole = [](const LoginDialog& dialog) {
    QApplication::processEvents();
    const QLabel* label = dialog.lblMensagem;
    return !label->text().isEmpty() && label->height() >= label->heightForWidth(label->width()) &&
           label->mapTo(&dialog, QPoint(0, label->height())).y() <= dialog.height();
  };
  HostSettings s = settingsFor(closedPort());
  s.operatorCode = "demo";
  LoginDialog unreachable(s);
  unreachable.show();
  unreachable.edtSenha->setText("demo");
  unreachable.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_TRUE(unreachable.lblMensagem->text().startsWith(hostkit::serverSilentText()));
  EXPECT_TRUE(whole(unreachable)) << unreachable.lblMensagem->text().toStdString();

  s.passwordRefusal =
      "O arquivo de senha /tmp/senha pode ser lido por outros usuários: deixe-o só para o dono "
      "(chmod 600).";
  LoginDialog refused(s);
  refused.show();
  EXPECT_EQ(refused.lblMensagem->text(), s.passwordRefusal)
      << "said where the operator sees it, not only on a terminal";
  EXPECT_TRUE(whole(refused));
}

// The session belongs to whoever's password was checked last: a name or
// password changed at the branch step goes back to the credentials.
TEST(Login, ChangingTheOperatorAfterTheFirstStepChecksTheNewOne) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  HostSettings s = settingsFor(server.port());
  LoginDialog dialog(s);
  dialog.show();
  auto login = [&] { dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click(); };
  dialog.edtOperador->setText("demo");
  dialog.edtSenha->setText("demo");
  login();
  ASSERT_TRUE(dialog.cbbFilial->isEnabled()) << "demo works on several branches";

  dialog.edtOperador->setText("loja01");
  dialog.edtSenha->setText("errada");
  EXPECT_FALSE(dialog.cbbFilial->isEnabled());
  login();
  EXPECT_FALSE(dialog.outcome()) << "refused, not logged in as demo";
  EXPECT_FALSE(dialog.lblMensagem->text().isEmpty());

  dialog.edtSenha->setText("loja01");
  login();
  ASSERT_TRUE(dialog.outcome());
  EXPECT_EQ(dialog.outcome()->login.operatorCode, "loja01");
  EXPECT_EQ(dialog.outcome()->branch, "0001");
}

// A list of servers: the first that answers takes the login, the dialog
// shows and reads the list (one it cannot read is said and changes nothing),
// and the main window's status bar names them.
TEST(Login, TheFirstServerOfTheListThatAnswersTakesTheLogin) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  const int closed = closedPort();
  HostSettings s = settingsFor(closed);
  s.server.alternates = {{"127.0.0.1", server.port()}};
  auto logged = loginDirect(s, "demo", "demo");
  EXPECT_TRUE(logged.ok()) << (!logged.ok() ? logged.error().toStdString() : "");

  const QString list = QStringLiteral("127.0.0.1:%1, 127.0.0.1:%2").arg(closed).arg(server.port());
  HostSettings nobody = settingsFor(closed);
  nobody.server.alternates = {{"127.0.0.1", closedPort()}};
  auto unreachable = loginDirect(nobody, "demo", "demo");
  ASSERT_TRUE(!unreachable.ok());
  EXPECT_TRUE(unreachable.error().startsWith(hostkit::serverSilentText()));
  EXPECT_TRUE(unreachable.error().contains(hostkit::serverListText(nobody.server.servers())))
      << unreachable.error().toStdString();

  HostSettings dialogSettings = settingsFor(server.port());
  LoginDialog dialog(dialogSettings);
  dialog.show();
  EXPECT_EQ(dialog.edtServidor->text(), QStringLiteral("127.0.0.1:%1").arg(server.port()));
  dialog.edtOperador->setText("demo");
  dialog.edtSenha->setText("demo");
  auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
  dialog.edtServidor->setText(list + ",");
  ok->click();
  EXPECT_TRUE(dialog.lblMensagem->text().contains("host:porta")) << dialog.lblMensagem->text().toStdString();
  EXPECT_EQ(dialogSettings.server.servers().size(), 1) << "a list that cannot be read changes nothing";
  EXPECT_FALSE(dialog.cbbFilial->isEnabled());

  dialog.edtServidor->setText(list);
  ok->click();
  ASSERT_TRUE(dialog.cbbFilial->isEnabled()) << dialog.lblMensagem->text().toStdString();
  EXPECT_EQ(hostkit::serverListText(dialogSettings.server.servers()), list);

  ModuleLoader module;
  hostkit::HostSession session;
  session.server = dialogSettings.server;
  MainWindow window(module, session);
  EXPECT_EQ(window.findChild<QLabel*>("lblServidor")->text(), "Servidores: " + list);
}

namespace {
// A server that answers its health check but has lost its database: it
// refuses the login as the real one does then (UNAVAILABLE).
class DatabaseLostServer final : public qfx::rpc::ApplicationServer::Service {
 public:
  DatabaseLostServer() {
    grpc::EnableDefaultHealthCheckService(true);
    grpc::ServerBuilder builder;
    builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port_);
    builder.RegisterService(this);
    server_ = builder.BuildAndStart();
    server_->GetHealthCheckService()->SetServingStatus(true);
  }
  ~DatabaseLostServer() override { server_->Shutdown(std::chrono::system_clock::now()); }
  grpc::Status Login(grpc::ServerContext*, const qfx::rpc::LoginRequest*, qfx::rpc::LoginReply*) override {
    ++logins;
    return {grpc::StatusCode::UNAVAILABLE, "não foi possível abrir o banco"};
  }
  int port() const { return port_; }
  std::atomic<int> logins{0};

 private:
  std::unique_ptr<grpc::Server> server_;
  int port_ = 0;
};

int sessionsIn(const QString& databasePath) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(databasePath.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  int n = -1;
  if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM SESSAO", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    n = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}
}  // namespace

// A server of the list that cannot serve passes the login on to the next;
// quitting ends the session on the server.
TEST(Login, AServerWithoutItsDatabasePassesTheLoginOnAndQuittingEndsTheSession) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  DatabaseLostServer lost;
  HostSettings s = settingsFor(lost.port());
  s.server.alternates = {{"127.0.0.1", server.port()}};
  const int before = sessionsIn(server.databasePath());
  auto logged = loginDirect(s, "demo", "demo");
  ASSERT_TRUE(logged.ok()) << (!logged.ok() ? logged.error().toStdString() : "");
  EXPECT_EQ(lost.logins, 1) << "the first server was asked";
  EXPECT_EQ(sessionsIn(server.databasePath()), before + 1);

  EXPECT_TRUE(endSession(s, logged.value().login.token));
  EXPECT_EQ(sessionsIn(server.databasePath()), before) << "the session is gone from the database";
}

// A call of its own stream goes to the first server of the list that answers;
// when none does (or the list is empty) it is not made, and the failure says
// what each server said.
TEST(Login, CallOnServersGoesToAServerThatAnswersOrSaysWhyNone) {
  DatabaseLostServer answering;  // its health check says it serves
  const hostkit::ServerEndpoint dead{"127.0.0.1", 1}, live{"127.0.0.1", answering.port()};
  QStringList calledAt;
  const auto call = [&](const std::shared_ptr<grpc::Channel>&, const QString& at) {
    calledAt << at;
    return true;
  };
  EXPECT_TRUE(hostkit::CallOnServers({dead, live}, false, {}, call).ok());
  EXPECT_EQ(calledAt, QStringList{hostkit::serverListText({live})});

  calledAt.clear();
  const auto none = hostkit::CallOnServers({dead}, false, {}, call);
  ASSERT_FALSE(none.ok());
  EXPECT_TRUE(none.error().startsWith(hostkit::serverListText({dead}))) << none.error().toStdString();
  EXPECT_FALSE(hostkit::CallOnServers({}, false, {}, call).ok());
  EXPECT_TRUE(calledAt.isEmpty());
}

TEST(Login, TlsServerAcceptsOnlyTlsClientsThatTrustItsCertificate) {
  LiveServer server(true);
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  HostSettings s = settingsFor(server.port());
  s.server.tls = true;
  s.server.caFile = server.caFile();
  auto secure = loginDirect(s, "demo", "demo");
  EXPECT_TRUE(secure.ok()) << (!secure.ok() ? secure.error().toStdString() : "");

  // each TLS problem in its own words, with what to do about it
  const auto refusal = [](const HostSettings& settings) {
    const auto reply = loginDirect(settings, "demo", "demo");
    return !reply.ok() ? reply.error() : QString();
  };
  const QString otherAuthority = qfxtest::sourcePath("tests/appserver/data/test-server.crt");
  s.server.caFile = otherAuthority;
  const QString wrongAuthority = refusal(s);
  EXPECT_TRUE(wrongAuthority.contains("não é reconhecido") && wrongAuthority.contains(otherAuthority))
      << wrongAuthority.toStdString();
  s.server.caFile.clear();
  EXPECT_TRUE(refusal(s).contains("Nenhuma autoridade")) << refusal(s).toStdString();
  // the certificate names localhost and 127.0.0.1 only: the machine's own
  // name, where it leads to 127.0.0.1, is another name for the same server
  const QString machine = QHostInfo::localHostName();
  if (QHostInfo::fromName(machine).addresses().contains(QHostAddress(QHostAddress::LocalHost))) {
    HostSettings byName = s;
    byName.server.caFile = server.caFile();
    byName.server.host = machine;
    EXPECT_TRUE(refusal(byName).contains("não consta do certificado")) << refusal(byName).toStdString();
  }

  LiveServer plainServer(false);
  ASSERT_TRUE(plainServer.started()) << plainServer.failure().toStdString();
  HostSettings toPlain = settingsFor(plainServer.port());
  toPlain.server.tls = true;
  toPlain.server.caFile = server.caFile();
  EXPECT_TRUE(refusal(toPlain).contains("não usa TLS")) << refusal(toPlain).toStdString();

  s.server.tls = false;
  s.branch.clear();
  EXPECT_TRUE(refusal(s).contains("usa TLS e esta estação não")) << refusal(s).toStdString();
}

// The real qfxserver and qfxhost, as a machine's other users and its logs see
// them: the database's password (an owner-only file given to the server) and
// the operator's (QFX_PASSWORD given to the host, which logs in and tours the
// screens) are in neither command line, nor in the server's log at its most
// talkative, nor in the host's settings file. On PostgreSQL when the tests
// have one (the password then goes to libpq), else on SQLite.
TEST(Login, SecretsStayOutOfCommandLinesLogsAndSettings) {
  using qfx::test::Backend;
  qfx::test::TestDatabase database(qfx::test::postgresAvailable() ? Backend::PostgreSQL : Backend::SQLite);
  const QString url = QString::fromStdString(database.url());
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray dbSecret = "Banco-Sigilo-4f9c21", operatorSecret = "Operador-Sigilo-7be310";
  const QString passwordFile = dir.filePath("senha-banco");
  {
    QFile file(passwordFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(dbSecret + "\n");
  }
  QFile::setPermissions(passwordFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  const auto runToEnd = [](const QString& program, const QStringList& args, const QByteArray& input = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(qfxtest::binPath(program), args);
    p.write(input);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(120000) && p.exitCode() == 0)
        << program.toStdString() << ": " << p.readAll().toStdString();
  };
  runToEnd("qfxdemo", {"--db", url, "--scale", "1", "--seed", "42"});
  const QStringList onTheDatabase{"--db", url, "--db-password-file", passwordFile};
  runToEnd("qfxserver", onTheDatabase + QStringList{"--set-operator", "sigilo", "--operator-name", "Operador"},
           operatorSecret + "\n");

  QProcess server;
  server.setStandardOutputFile(dir.filePath("server.out"));
  server.setStandardErrorFile(dir.filePath("server.log"));
  server.start(qfxtest::binPath("qfxserver"),
               onTheDatabase +
                   QStringList{"--listen", "127.0.0.1:0", "--port-file", dir.filePath("port"), "--log-level", "debug"});
  int port = 0;
  const QDeadlineTimer deadline(30000);
  while (port == 0 && !deadline.hasExpired() && server.state() != QProcess::NotRunning) {
    QThread::msleep(50);
    port = qfxtest::fileContents(dir.filePath("port")).trimmed().toInt();
  }
  ASSERT_GT(port, 0) << qfxtest::fileContents(dir.filePath("server.log")).toStdString();

  QProcess hostProcess;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QFX_PASSWORD", QString::fromUtf8(operatorSecret));
  env.insert("HOME", dir.filePath("home"));
  env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  hostProcess.setProcessEnvironment(env);
  hostProcess.setProcessChannelMode(QProcess::MergedChannels);
  hostProcess.start(qfxtest::binPath("qfxhost"),
                    {"--server", QStringLiteral("127.0.0.1:%1").arg(port), "--db", url, "--operator", "sigilo",
                     "--branch", "0001", "--screenshots", dir.filePath("capturas")});
  ASSERT_TRUE(hostProcess.waitForStarted(10000));
  for (qint64 pid : {server.processId(), hostProcess.processId()}) {
    // the kernel sets the new command line a moment after QProcess sees the exec
    QByteArray cmdline;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return !(cmdline = qfxtest::fileContents(QStringLiteral("/proc/%1/cmdline").arg(pid))).isEmpty(); },
        5000));
    EXPECT_TRUE(cmdline.contains("--db")) << cmdline.toStdString();
    EXPECT_FALSE(cmdline.contains(dbSecret)) << cmdline.toStdString();
    EXPECT_FALSE(cmdline.contains(operatorSecret)) << cmdline.toStdString();
  }
  EXPECT_TRUE(hostProcess.waitForFinished(120000));
  const QByteArray hostOutput = hostProcess.readAll();
  server.terminate();
  server.waitForFinished(10000);

  const QByteArray settings = qfxtest::fileContents(dir.filePath("config/Qfx/ConsolidacaoVendas.conf"));
  EXPECT_TRUE(settings.contains(QStringLiteral("127.0.0.1:%1").arg(port).toUtf8()))
      << "written after the login: " << hostOutput.toStdString();
  const QByteArray log = qfxtest::fileContents(dir.filePath("server.log"));
  EXPECT_TRUE(log.contains("operator=sigilo")) << log.toStdString();
  for (const QByteArray& text : {settings, log, hostOutput}) {
    EXPECT_FALSE(text.contains(dbSecret)) << text.toStdString();
    EXPECT_FALSE(text.contains(operatorSecret)) << text.toStdString();
  }
}
