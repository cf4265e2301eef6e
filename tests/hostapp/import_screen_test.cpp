// "Importar dados" in the host against a real application server on the demo
// database, behind a server of the host's list that is gone: a dry run that
// writes nothing, an import that writes, problems listed and copied for a
// spreadsheet, F1, and a call cut by "Cancelar" and by closing the window,
// both at once while the server does not read.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPointer>
#include <QProgressBar>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include "live_server.h"
#include "scriptedhostservices.h"
#include <hostapp/importdialog.h>
#include <hostapp/logindialog.h>
#include <hostapp/mainwindow.h>
#include <hostapp/moduleloader.h>
#include <hostkit/core/query.h>

using namespace qfxhost;
using qfxtest::hostCount;
using qfxtest::LiveServer;

namespace {

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& text) {
  const QString path = dir.filePath(name);
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) return {};
  return path;
}

// Runs one call from its button and waits for its end.
bool runBy(ImportDialog* dialog, const char* buttonName) {
  QSignalSpy ended(dialog, &ImportDialog::runEnded);
  dialog->findChild<QAbstractButton*>(buttonName)->click();
  return ended.wait(60000);
}

// The server stopped (SIGSTOP) for as long as it lives.
struct PausedServer {
  explicit PausedServer(qint64 pid) : pid_(pid) { ::kill(pid_t(pid_), SIGSTOP); }
  ~PausedServer() { ::kill(pid_t(pid_), SIGCONT); }
  qint64 pid_;
};

const QString kCustomer = QStringLiteral("SELECT COUNT(*) FROM CLIENTE WHERE CDCLIENTE = 'IMP901'");

}  // namespace

TEST(ImportScreen, TestsImportsListsProblemsAndCutsACallMidway) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  ASSERT_TRUE(hostkit::openHostDatabase({server.databaseUrl()}).ok());
  HostSettings settings;
  settings.server.host = "127.0.0.1";
  settings.server.port = server.port();
  auto logged = loginDirect(settings, "demo", "demo");
  ASSERT_TRUE(logged.ok());
  auto host = hostkit::ScriptedHostServices::install();

  ModuleLoader module;
  hostkit::HostSession session;
  session.operador = "demo";
  session.token = logged.value().login.token;
  session.server = settings.server;
  // the first server of the host's list is gone: the import goes to the next, as every call
  QTcpServer gone;
  ASSERT_TRUE(gone.listen(QHostAddress::LocalHost));
  const int gonePort = gone.serverPort();
  gone.close();
  session.server.setServers({{QStringLiteral("127.0.0.1"), gonePort}, {QStringLiteral("127.0.0.1"), server.port()}});
  MainWindow window(module, session);
  window.show();
  window.findChild<QAction*>("mnuImportarDados")->trigger();
  auto* dialog = window.findChild<ImportDialog*>("frmImportaDados");
  ASSERT_TRUE(dialog && dialog->isVisible());
  EXPECT_EQ(window.openImportacao(), dialog) << "one window, brought to the front";
  auto* counts = dialog->findChild<QTableWidget*>("grdResumo");
  auto* problems = dialog->findChild<QTableWidget*>("grdProblemas");
  ASSERT_TRUE(counts && problems);

  QTemporaryDir dir;
  dialog->setPaths({write(dir, "CLIENTE-novos.csv", "CDCLIENTE;NMRAZSOCCLIE\r\nIMP901;Cliente da Importação\r\n")});
  ASSERT_TRUE(runBy(dialog, "btnTestar"));
  ASSERT_EQ(counts->rowCount(), 1);
  EXPECT_EQ(counts->item(0, 0)->text(), "CLIENTE");
  EXPECT_EQ(counts->item(0, 1)->text(), "1") << "one customer to insert";
  EXPECT_EQ(problems->rowCount(), 0);
  EXPECT_EQ(hostCount(kCustomer), 0) << "the dry run wrote nothing";

  ASSERT_TRUE(runBy(dialog, "btnImportar"));
  EXPECT_EQ(hostCount(kCustomer), 1);
  ASSERT_TRUE(runBy(dialog, "btnImportar"));
  EXPECT_EQ(counts->item(0, 3)->text(), "1") << "imported again, the row is unchanged";

  // two bad lines: both listed, by file and line, and copied tab-separated
  const QByteArray sales =
      "CDFILIAL;NRSEQVENDA;CDLOJA;CDCAIXA;DTVENDA;NRSEQUITVEND;CDPRODUTO;QTPRODVEND;VRUNITVEND\n"
      "9999;0000000901;01;001;08/12/2026;001;000001;1;2,50\n"
      "0001;0000000902;01;001;31/02/2026;001;000001;x;2,50\n";
  dialog->setPaths({write(dir, "VENDA-ruim.csv", sales)});
  ASSERT_TRUE(runBy(dialog, "btnImportar"));
  ASSERT_GE(problems->rowCount(), 2);
  EXPECT_EQ(problems->item(0, 0)->text(), "VENDA-ruim.csv");
  EXPECT_EQ(problems->item(0, 1)->text(), "2");
  EXPECT_EQ(hostCount("SELECT COUNT(*) FROM VENDA WHERE NRSEQVENDA IN ('0000000901', '0000000902')"), 0);
  problems->setFocus();
  problems->clearSelection();
  QTest::keySequence(problems, QKeySequence::Copy);
  const QString copied = QApplication::clipboard()->text();
  EXPECT_EQ(copied, dialog->problemsText());
  EXPECT_EQ(copied.count('\n'), problems->rowCount() + 1) << "a header and one line per problem";
  EXPECT_TRUE(copied.contains("VENDA-ruim.csv\t2\t"));

  QTest::keyClick(dialog, Qt::Key_F1);
  EXPECT_EQ(host->helpContexts, QList<int>{ImportDialog::kHelpContext});

  // a file of several pieces against a server that does not read: Cancelar
  // returns at once, and so does closing the window, which goes; the call
  // cut ends once the server reads again, writing nothing
  QByteArray big = "CDFILIAL;NRSEQVENDA;CDLOJA;CDCAIXA;DTVENDA;NRSEQUITVEND;CDPRODUTO;QTPRODVEND;VRUNITVEND\n";
  while (big.size() < 6 * 1024 * 1024) big += "0001;0000000903;01;001;08/12/2026;001;000001;1;2,50\n";
  const QString bigFile = write(dir, "VENDA-grande.csv", big);
  dialog->setPaths({bigFile});
  QPointer<ImportDialog> alive(dialog);
  {
    // the server stops reading once pieces are on their way
    QSignalSpy ended(dialog, &ImportDialog::runEnded);
    auto* progress = dialog->findChild<QProgressBar*>("pbrProgresso");
    dialog->findChild<QAbstractButton*>("btnImportar")->click();
    EXPECT_TRUE(dialog->running());
    for (int i = 0; i < 400 && progress->value() == 0; ++i) QTest::qWait(25);
    ASSERT_GT(progress->value(), 0);
    PausedServer paused(server.processId());
    QTest::qWait(300);
    dialog->findChild<QAbstractButton*>("btnCancelar")->click();
    EXPECT_EQ(ended.count(), 1) << "Cancelar returns while the server still reads nothing";
    EXPECT_FALSE(dialog->running());
    EXPECT_TRUE(dialog->findChild<QAbstractButton*>("btnImportar")->isEnabled());
    EXPECT_EQ(counts->rowCount(), 0) << "no reply: the call was cut";

    // a call to the stopped server (its health check unanswered): closing the window does not wait either
    dialog->findChild<QAbstractButton*>("btnImportar")->click();
    ASSERT_TRUE(dialog->running());
    QTest::qWait(200);
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull()) << "the closed window goes at once";
  }
  // the server reads again: an import after the cut ones goes through (on
  // SQLite it waits for their transactions), and they wrote nothing
  auto* again = window.openImportacao();
  again->setPaths({write(dir, "CLIENTE-novos.csv", "CDCLIENTE;NMRAZSOCCLIE\r\nIMP901;Cliente da Importação\r\n")});
  ASSERT_TRUE(runBy(again, "btnImportar"));
  EXPECT_EQ(again->findChild<QTableWidget*>("grdResumo")->item(0, 3)->text(), "1");
  EXPECT_EQ(hostCount("SELECT COUNT(*) FROM VENDA WHERE NRSEQVENDA = '0000000903'"), 0);
}
