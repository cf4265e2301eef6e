// Logging in on a real application server: the demo operators, wrong
// credentials, an unreachable server, a branch-bound operator, and TLS.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>

#include "live_server.h"
#include "logindialog.h"

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
  ASSERT_TRUE(std::holds_alternative<LoginOutcome>(demo)) << std::get<QString>(demo).toStdString();
  const auto& free = std::get<LoginOutcome>(demo);
  EXPECT_FALSE(free.login.token.isEmpty());
  EXPECT_TRUE(free.login.boundBranch.isEmpty());
  EXPECT_TRUE(free.login.branches.contains("0001"));
  EXPECT_TRUE(free.login.branches.contains("0002"));

  s.branch = "0002";
  auto bound = loginDirect(s, "loja01", "loja01");
  ASSERT_TRUE(std::holds_alternative<LoginOutcome>(bound));
  EXPECT_EQ(std::get<LoginOutcome>(bound).login.boundBranch, "0001");
  EXPECT_EQ(std::get<LoginOutcome>(bound).branch, "0001") << "a bound operator works on its own branch";

  for (auto [op, password] : {std::pair{"demo", "errada"}, std::pair{"ninguem", "demo"}, std::pair{"demo", ""}}) {
    auto refused = loginDirect(s, op, password);
    ASSERT_TRUE(std::holds_alternative<QString>(refused)) << op;
    EXPECT_FALSE(std::get<QString>(refused).isEmpty());
    EXPECT_FALSE(std::get<QString>(refused).contains(password) && QString(password).size() > 0);
  }

  auto unreachable = loginDirect(settingsFor(closedPort()), "demo", "demo");
  ASSERT_TRUE(std::holds_alternative<QString>(unreachable));
  EXPECT_TRUE(std::get<QString>(unreachable).startsWith(hostkit::serverSilentText()))
      << std::get<QString>(unreachable).toStdString();
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

TEST(Login, TlsServerAcceptsOnlyTlsClientsThatTrustItsCertificate) {
  LiveServer server(true);
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  HostSettings s = settingsFor(server.port());
  s.server.tls = true;
  s.server.caFile = server.caFile();
  auto secure = loginDirect(s, "demo", "demo");
  EXPECT_TRUE(std::holds_alternative<LoginOutcome>(secure))
      << (std::holds_alternative<QString>(secure) ? std::get<QString>(secure).toStdString() : "");

  s.server.tls = false;
  s.server.caFile.clear();
  s.branch.clear();
  EXPECT_TRUE(std::holds_alternative<QString>(loginDirect(s, "demo", "demo"))) << "plain text to a TLS server";
}
