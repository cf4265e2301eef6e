// The whole system at once: the real application server on the demo
// database, the host's main window, the real module library, the screen, the
// filter dialog and a consolidation, checked in the grid and in the database.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSqlQuery>
#include <QTest>

#include "live_server.h"
#include "modaldriver.h"
#include "scriptedhostservices.h"
#include <hostapp/logindialog.h>
#include <hostapp/mainwindow.h>
#include <hostapp/moduleloader.h>
#include <hostkit/core/dataset.h>
#include <hostkit/core/query.h>

using namespace qfxhost;
using qfxtest::hostCount;
using qfxtest::LiveServer;

namespace {

double sum(const QString& sql) {
  QSqlQuery q(hostkit::hostDatabase());
  if (!q.exec(sql) || !q.next()) return -1;
  return q.value(0).toDouble();
}

const QString kPendentes = QStringLiteral(
    "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA "
    "JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
    "WHERE I.CDFILIAL = '0001' AND V.CDLOJA = '01' AND I.NRLANCESTQ IS NULL AND P.IDCTRLESTQ = 'S'");

}  // namespace

TEST(EndToEnd, OperatorConsolidatesTheDemoSalesFromTheHost) {
  LiveServer server;
  ASSERT_TRUE(server.started()) << server.failure().toStdString();
  ASSERT_TRUE(hostkit::openHostDatabase({server.databaseUrl()}).ok());

  HostSettings settings;
  settings.server.host = "127.0.0.1";
  settings.server.port = server.port();
  settings.branch = "0001";
  auto logged = loginDirect(settings, "demo", "demo");
  ASSERT_TRUE(logged.ok());
  const LoginOutcome& login = logged.value();

  auto host = hostkit::ScriptedHostServices::install();
  host->filial = login.branch;
  host->moduFiliValue = false;
  host->operadorValue = login.login.operatorCode;
  host->token = login.login.token;
  host->server = settings.server;
  host->defaultAnswer = hostkit::mrYes;  // the operator accepts every question

  ModuleLoader module;
  ASSERT_TRUE(module.load(qfxtest::binPath("libqfx31700.so")).ok());
  hostkit::HostSession session;
  session.filial = login.branch;
  session.operador = login.login.operatorCode;
  MainWindow window(module, session);
  host->mdi = window.mdiArea();
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  window.openConsolidacao();
  ASSERT_EQ(window.mdiArea()->subWindowList().size(), 1);
  QWidget* screen = window.mdiArea()->subWindowList().first()->widget();
  QTest::qWait(50);
  auto* loja = screen->findChild<QLineEdit*>("medCdLoja");
  auto* grid = screen->findChild<QWidget*>("dbgPadrao");
  auto* itens = screen->findChild<hostkit::TDataSet*>("cdsPrincipal");
  ASSERT_TRUE(loja && grid && itens);
  EXPECT_EQ(loja->text(), "01") << "default store of the branch";

  const int pendingBefore = hostCount(kPendentes);
  const QString kSaldo = QStringLiteral("SELECT SUM(QTSALDOESTQ) FROM SALDOESTQ WHERE CDFILIAL = '0001'");
  const double balanceBefore = sum(kSaldo);
  ASSERT_GT(pendingBefore, 0);

  // leave the panel; the filter opens: the last thirty days, confirmed
  loja->setFocus();
  QApplication::processEvents();
  hostkit::onNextModal([](QWidget* dialog) {
    dialog->findChild<QLineEdit*>("depInicial")->setText(QDate::currentDate().addDays(-29).toString("dd/MM/yyyy"));
    dialog->findChild<QAbstractButton*>("sbtConfirma")->click();
  });
  grid->setFocus();
  QApplication::processEvents();
  ASSERT_TRUE(itens->Active()) << host->messageTexts().join(" / ").toStdString();
  ASSERT_GT(itens->RecordCount(), 0);
  auto* consolidar = screen->findChild<QAbstractButton*>("sbtGeraNF");
  ASSERT_TRUE(consolidar->isEnabled());

  host->clearRecords();
  consolidar->click();
  QApplication::processEvents();
  const QStringList keys = host->messageKeys();
  EXPECT_TRUE(keys.contains("Conf")) << keys.join(",").toStdString();
  EXPECT_TRUE(host->busyBalanced());
  const int pendingAfter = hostCount(kPendentes);
  EXPECT_LT(pendingAfter, pendingBefore);
  EXPECT_LT(sum(kSaldo), balanceBefore) << "the stock balances moved by the items sold";
  EXPECT_GT(hostCount("SELECT COUNT(*) FROM LANCESTQ WHERE CDFILIAL = '0001' AND IDTIPOLANC = 'V'"), 0);
  // days whose last posting is an implantation or adjustment stay pending, and say so
  EXPECT_TRUE(pendingAfter == 0 ? keys.contains("GERACAO_OK") : keys.contains("ULT_LANC_DIA"))
      << host->messageTexts().join(" / ").toStdString();

  // the reloaded list holds only what is still pending in the period
  const QString periodStart = QDate::currentDate().addDays(-29).toString("yyyy-MM-dd");
  EXPECT_EQ(itens->RecordCount(),
            hostCount("SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND "
                      "V.NRSEQVENDA = I.NRSEQVENDA WHERE I.CDFILIAL = '0001' AND V.CDLOJA = '01' AND "
                      "I.NRLANCESTQ IS NULL AND V.DTVENDA >= '" +
                      periodStart + "'"));

  // with consolidated items shown too, the grid marks them consolidated
  hostkit::onNextModal([](QWidget* dialog) {
    dialog->findChild<QAbstractButton*>("chkVendaNF")->click();
    dialog->findChild<QAbstractButton*>("sbtConfirma")->click();
  });
  screen->findChild<QAbstractButton*>("sbtFiltro")->click();
  QApplication::processEvents();
  int consolidated = 0;
  for (itens->First(); !itens->Eof(); itens->Next()) consolidated += itens->FieldByName("IDNOTAFISCAL")->AsBoolean();
  EXPECT_EQ(consolidated, pendingBefore - pendingAfter);

  // nothing more can be posted: the second run says why
  host->clearRecords();
  consolidar->click();
  QApplication::processEvents();
  EXPECT_TRUE(host->messageKeys().contains(pendingAfter == 0 ? "NF_OK_ZERO" : "LANC_BLOQ_IMPL"))
      << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(hostCount(kPendentes), pendingAfter);

  window.closeScreens();
  module.unload();
  hostkit::closeHostDatabase();
}
