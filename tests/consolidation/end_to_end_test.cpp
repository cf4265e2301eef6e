// "Consolidar Vendas" from the screen to the database: the real application
// server on loopback over a freshly generated demo database, the host's
// lookups on the same database, the operator's session through the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QSettings>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <set>

#include "consolidation_fixture.h"
#include "db/database.h"
#include "db/migrations.h"
#include "demo/demo_generator.h"
#include "filter/frmfiltrogeranf.h"
#include "module/modulestate.h"
#include "module/package.h"
#include "netconnection.h"
#include "query.h"
#include "rpc/server.h"

using namespace qfx;
using namespace qfxtest;
using namespace hostkit;

namespace {

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    path = folder.filePath("demo.db");
    auto config = server::DbConfig::parse(("sqlite:" + path).toStdString());
    ASSERT_TRUE(config) << config.error().message;
    database = std::make_unique<server::Database>(*config);
    auto migrated = server::migrations::migrate(*database);
    ASSERT_TRUE(migrated) << migrated.error().message;
    server::demo::Options demo;
    demo.items = 400;
    demo.seed = 7;
    demo.today = QDate::currentDate();  // the screen's filter starts today
    auto generated = server::demo::generate(*database, demo);
    ASSERT_TRUE(generated) << generated.error().message;
    server::ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.maxThreads = 4;
    auto started = server::AppServer::start(*database, options);
    ASSERT_TRUE(started) << started.error().message;
    appServer = std::move(*started);

    host = std::make_shared<JournalHost>();
    host->server.host = QStringLiteral("127.0.0.1");
    host->server.port = appServer->port();
    host->filial = QStringLiteral("0001");
    host->operadorValue = QString::fromLatin1(server::demo::kDemoOperator);
    installHostServices(host);
    TNetConnection login;
    login.Host = host->server.host;
    login.Port = host->server.port;
    auto session = login.Login(host->operadorValue, QString::fromLatin1(server::demo::kDemoPassword));
    ASSERT_TRUE(std::holds_alternative<LoginResult>(session)) << std::get<QString>(session).toStdString();
    host->token = std::get<LoginResult>(session).token;
    const auto opened = openHostDatabase({QStringLiteral("sqlite:") + path});
    ASSERT_FALSE(opened) << opened->toStdString();
    Initialize();
  }

  void TearDown() override {
    if (screen) screen->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Finalize();
    closeHostDatabase();
    if (appServer) appServer->shutdown(std::chrono::milliseconds(2000));
  }

  void activate() {
    QWidget* window = screen->frameWindow();
    if (QApplication::activeWindow() == window) return;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  }

  // Opens the screen, leaves the panel with the defaults and confirms the
  // filter for yesterday and today, consolidated items included.
  void listYesterdayAndToday() {
    CriaGeraNF();
    screen = frmGeraNF;
    ASSERT_TRUE(screen);
    activate();
    ASSERT_EQ(screen->medCdLoja->text(), "01") << host->messageTexts().join(" / ").toStdString();
    int dialogs = 0;
    ModalAnswer filtro([&](QWidget* dialog) {
      auto* f = qobject_cast<TfrmFiltroGeraNF*>(dialog);
      ASSERT_TRUE(f);
      ++dialogs;
      f->depInicial->SetDate(Date() - 1);
      f->depFinal->SetDate(Date());
      f->chkVendaNF->setChecked(false);  // consolidated items are listed too
      f->sbtConfirma->click();
    });
    screen->dbgPadrao->setFocus();
    QApplication::processEvents();
    activate();
    ASSERT_EQ(dialogs, 1) << host->messageTexts().join(" / ").toStdString();
  }

  QSqlQuery sql(const QString& text, const QVariantList& values = {}) {
    auto connection = database->connection();
    EXPECT_TRUE(connection);
    QSqlQuery q(*connection);
    q.prepare(text);
    for (const QVariant& v : values) q.addBindValue(v);
    EXPECT_TRUE(q.exec()) << text.toStdString();
    return q;
  }

  // Balances of the store's warehouse and place, by product.
  std::map<QString, double> balances() {
    std::map<QString, double> out;
    QSqlQuery q =
        sql(QStringLiteral("SELECT S.CDPRODUTO, S.QTSALDOESTQ FROM SALDOESTQ S, LOJA L WHERE "
                           "L.CDFILIAL = '0001' AND L.CDLOJA = '01' AND S.CDFILIAL = L.CDFILIAL AND "
                           "S.CDALMOXARIFE = L.CDALMOXARIFE AND S.CDLOCALESTOQ = L.CDLOCALESTOQ"));
    while (q.next()) out[q.value(0).toString()] = q.value(1).toDouble();
    return out;
  }

  QTemporaryDir folder;
  QString path;
  std::unique_ptr<server::Database> database;
  std::unique_ptr<server::AppServer> appServer;
  std::shared_ptr<JournalHost> host;
  QPointer<TfrmGeraNF> screen;
};

}  // namespace

TEST_F(EndToEnd, RunConsolidatesThePendingItemsMovesTheStockAndASecondRunFindsNothing) {
  listYesterdayAndToday();
  TDataSet& itens = *screen->cdsPrincipal;
  ASSERT_TRUE(itens.Active());
  ASSERT_GT(itens.RecordCount(), 0) << "the demo sells every day";
  ASSERT_TRUE(screen->sbtGeraNF->isEnabled());

  // What the run is expected to post: the pending items of products that
  // control stock (returns come back in); the others stay pending.
  std::set<QString> controlados;
  for (QSqlQuery q = sql(QStringLiteral("SELECT CDPRODUTO FROM PRODUTO WHERE IDCTRLESTQ = 'S'")); q.next();)
    controlados.insert(q.value(0).toString());
  const auto chave = [&itens](int r) {
    return itens.FieldByName("NRSEQVENDA")->textAt(r) + "/" + itens.FieldByName("NRSEQUITVEND")->textAt(r);
  };
  std::map<QString, double> saida;
  std::set<QString> postaveis, semControle;
  const TField* status = itens.FieldByName("IDNOTAFISCAL");
  for (int r = 0; r < itens.RecordCount(); ++r) {
    if (status->valueAt(r).toBool()) continue;
    if (!controlados.count(itens.FieldByName("CDPRODUTO")->textAt(r))) {
      semControle.insert(chave(r));
      continue;
    }
    postaveis.insert(chave(r));
    const double quantidade = itens.FieldByName("QTPRODVEND")->valueAt(r).toDouble();
    const bool devolucao = itens.FieldByName("IDSITUVENDA")->textAt(r) == QLatin1String("D");
    const QString estoque = itens.FieldByName("CDPRODESTO")->textAt(r);  // the product whose stock moves
    saida[estoque.isEmpty() ? itens.FieldByName("CDPRODUTO")->textAt(r) : estoque] +=
        devolucao ? -quantidade : quantidade;
  }
  ASSERT_FALSE(postaveis.empty());
  const std::map<QString, double> antes = balances();

  host->clearRecords();
  host->journal.clear();
  screen->sbtGeraNF->click();
  activate();
  ASSERT_FALSE(host->journal.isEmpty());
  EXPECT_EQ(host->journal.last(), "msg:GERACAO_OK") << host->journal.join(" / ").toStdString();
  EXPECT_TRUE(host->journal.contains("msg:Conf"));
  EXPECT_TRUE(host->hostScreens.isEmpty()) << "nothing blocked, no stock made irregular";
  EXPECT_TRUE(host->busyBalanced());

  // the grid was reloaded: the posted items show consolidated, the others still pending
  ASSERT_TRUE(itens.Active());
  int consolidados = 0;
  for (int r = 0; r < itens.RecordCount(); ++r) {
    const bool postado = status->valueAt(r).toBool();
    if (postaveis.count(chave(r))) {
      EXPECT_TRUE(postado) << chave(r).toStdString();
      EXPECT_FALSE(itens.FieldByName("NRLANCESTQ")->textAt(r).isEmpty()) << chave(r).toStdString();
      consolidados += postado;
    }
    if (semControle.count(chave(r))) {
      EXPECT_FALSE(postado) << chave(r).toStdString() << " controls no stock";
    }
  }
  EXPECT_EQ(consolidados, int(postaveis.size()));

  const std::map<QString, double> depois = balances();
  for (const auto& [produto, quantidade] : saida) {
    const double inicial = antes.count(produto) ? antes.at(produto) : 0.0;
    ASSERT_TRUE(depois.count(produto)) << produto.toStdString();
    EXPECT_NEAR(inicial - depois.at(produto), quantidade, 1e-6) << produto.toStdString();
  }
  for (const auto& [produto, saldo] : antes) {
    if (!saida.count(produto)) {
      EXPECT_EQ(depois.at(produto), saldo) << produto.toStdString() << " was not sold";
    }
  }

  // nothing is left to post
  host->clearRecords();
  host->journal.clear();
  screen->sbtGeraNF->click();
  activate();
  ASSERT_FALSE(host->journal.isEmpty());
  EXPECT_EQ(host->journal.last(), "msg:NF_OK_ZERO") << host->journal.join(" / ").toStdString();
  EXPECT_EQ(host->messages.last().text,
            "Não foi gerado nenhum lançamento, pois não existem itens pendentes, ou os itens pendentes não possuem "
            "controle de estoque.");
  EXPECT_EQ(balances(), depois) << "the second run moved nothing";
}
