// "Consolidar Vendas" from the screen to the database: the real application
// server on loopback over a freshly generated demo database, the host's
// lookups on the same database, the operator's session through the screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QRadioButton>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <map>
#include <set>

#include "auth/sessions.h"
#include "backend.h"
#include "consolidation_fixture.h"
#include "db/database.h"
#include "db/migrations.h"
#include "demo/demo_export.h"
#include "demo/demo_generator.h"
#include "harness.h"
#include "rpc/server.h"
#include <hostkit/core/netconnection.h>
#include <hostkit/core/query.h>
#include <hostkit/core/routines.h>
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/module/package.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/report/frmrelprodevol.h>
#include <qfximport/import_client.h>
#include <reportkit/model/reportengine.h>

using namespace qfx;
using namespace qfxtest;
using namespace hostkit;
using namespace reportkit;

namespace {

// Records the report previews instead of opening a preview window.
class TourHost : public JournalHost {
 public:
  QList<ReportDocument> previews;
  void previewReport(const ReportDocument& document, QWidget*) override { previews << document; }
};

// Every row of `table` in `from` written into `to`, column by column.
void copyRows(QSqlDatabase& from, QSqlDatabase& to, const QString& table) {
  QSqlQuery read(from);
  ASSERT_TRUE(read.exec(QStringLiteral("SELECT * FROM ") + table)) << table.toStdString();
  QSqlQuery write(to);
  while (read.next()) {
    const QSqlRecord row = read.record();
    QStringList columns, marks;
    for (int i = 0; i < row.count(); ++i) columns << row.fieldName(i), marks << QStringLiteral("?");
    ASSERT_TRUE(write.prepare(
        QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, columns.join(", "), marks.join(", "))));
    for (int i = 0; i < row.count(); ++i) write.addBindValue(row.value(i));
    ASSERT_TRUE(write.exec()) << table.toStdString() << ": " << write.lastError().text().toStdString();
  }
}

// The demo in the fixture's database: written by the generator, or (imported)
// written by the generator into a database of its own, exported as import
// files and brought in by qfximport through the server. The stock's own
// postings are not import data (the implantation and the kiosk's inventory
// adjustment, and their numbering): they are copied as the stock module keeps them.
enum class DemoWay { Written, Imported };

class EndToEnd : public ::testing::TestWithParam<test::Backend> {
 protected:
  virtual DemoWay demoWay() const { return DemoWay::Written; }

  void SetUp() override {
    QFX_REQUIRE_BACKEND(GetParam());
    ASSERT_TRUE(folder.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
    testDb = std::make_unique<test::TestDatabase>(GetParam());
    database = testDb->open();
    ASSERT_TRUE(database);
    server::demo::Options demo;
    demo.items = 400;
    demo.seed = 7;
    demo.today = QDate::currentDate();  // the screen's filter starts today
    std::unique_ptr<test::TestDatabase> sourceDb;
    std::unique_ptr<server::Database> source;
    if (demoWay() == DemoWay::Imported) {
      sourceDb = std::make_unique<test::TestDatabase>(GetParam());
      source = sourceDb->open();
      ASSERT_TRUE(source);
    }
    auto generated = server::demo::generate(source ? *source : *database, demo);
    ASSERT_TRUE(generated) << generated.error().message;
    server::ServerOptions options;
    options.listen = "127.0.0.1:0";
    options.maxThreads = 4;
    auto started = server::AppServer::start(*database, server::makeConsolidationObject(), options);
    ASSERT_TRUE(started) << started.error().message;
    appServer = std::move(*started);
    if (source) importDemo(*source);

    host = std::make_shared<TourHost>();
    host->server.host = QStringLiteral("127.0.0.1");
    host->server.port = appServer->port();
    host->filial = QStringLiteral("0001");
    host->operadorValue = QString::fromLatin1(server::demo::kDemoOperator);
    host->reports = sourcePath(QStringLiteral("reports"));
    installHostServices(host);
    TNetConnection login;
    login.Host = host->server.host;
    login.Port = host->server.port;
    auto session = login.Login(host->operadorValue, QString::fromLatin1(server::demo::kDemoPassword));
    ASSERT_TRUE(session.ok()) << session.error().toStdString();
    host->token = session->token;
    const auto opened = openHostDatabase({QString::fromStdString(testDb->url())});
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
    Initialize();
    initialized = true;
  }

  void importDemo(server::Database& source) {
    QSqlDatabase from = *source.connection(), to = *database->connection();
    const QString files = folder.filePath(QStringLiteral("importacao"));
    ASSERT_TRUE(server::demo::writeImportFiles(from, files).ok());
    const char* demoOperator = server::demo::kDemoOperator;
    ASSERT_TRUE(
        server::SessionStore::saveOperator(to, demoOperator, "Demonstração", server::demo::kDemoPassword, "").ok());
    ASSERT_TRUE(server::SessionStore::setImportRight(to, demoOperator, true).ok());
    auto connection = qfximport::login("127.0.0.1:" + std::to_string(appServer->port()), false, {}, demoOperator,
                                       server::demo::kDemoPassword);
    ASSERT_TRUE(connection.ok()) << connection.error().toStdString();
    auto list = qfximport::collectFiles({files});
    ASSERT_TRUE(list.ok()) << list.error().toStdString();
    const auto outcome = qfximport::importFiles(*connection, *list, false);
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    ASSERT_TRUE(outcome.reply.written()) << (outcome.reply.problems_size() ? outcome.reply.problems(0).reason() : "");
    ASSERT_TRUE(to.transaction());
    for (const char* table : {"LANCESTQ", "ITLANCESTQ", "NUMERADOR"}) copyRows(from, to, QString::fromLatin1(table));
    ASSERT_TRUE(to.commit());
  }

  void TearDown() override {
    if (screen) screen->Close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (initialized) Finalize();
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
    hostkit::ModalAnswer filtro([&](QWidget* dialog) {
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

  void walkTour();

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
  std::unique_ptr<test::TestDatabase> testDb;
  std::unique_ptr<server::Database> database;
  std::unique_ptr<server::AppServer> appServer;
  std::shared_ptr<TourHost> host;
  QPointer<TfrmGeraNF> screen;
  bool initialized = false;
};

TEST_P(EndToEnd, RunConsolidatesThePendingItemsMovesTheStockAndASecondRunFindsNothing) {
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

namespace {

// One step of the demo's tour: the stop's entries and period, what the
// operator answers, the messages and host screens in order, and whether the
// run posted.
struct TourStep {
  std::string outcome;
  std::deque<int> answers;
  QStringList journal;
  bool posts = false;
  bool showPosted = false;  // the filter lists consolidated items too
};

const QStringList kConfirmed = {"msg:Conf"};

}  // namespace

// Walks the demo's tour through the real server and the real screen: every
// outcome of a consolidation, with its messages in order and what it posted.
TEST_P(EndToEnd, TourReachesEveryOutcome) { walkTour(); }

// The demo imported from its own files reaches every outcome of the tour as
// the demo written directly does: the same walk, the same checks.
class ImportedDemoEndToEnd : public EndToEnd {
 protected:
  DemoWay demoWay() const override { return DemoWay::Imported; }
};

TEST_P(ImportedDemoEndToEnd, TourReachesEveryOutcome) { walkTour(); }

void EndToEnd::walkTour() {
  const QDate today = QDate::currentDate();
  std::map<std::string, server::demo::TourStop> stops;
  for (const auto& stop : server::demo::tour(today)) stops[stop.outcome] = stop;
  const auto msgs = [](QStringList keys) {
    for (QString& k : keys) k = k.startsWith("screen:") ? k : "msg:" + k;
    return keys;
  };
  const std::vector<TourStep> steps = {
      {"Prod_NRelacReti", {}, msgs({"Conf", "Prod_NRelacReti"})},
      {"MOVIFORAPERIODOCTB", {}, msgs({"MOVIFORAPERIODOCTB"})},
      {"Data_Mai", {}, msgs({"Conf", "Data_Mai"})},
      {"Data_Men", {}, msgs({"Conf", "Data_Men"})},
      {"Data_M", {}, msgs({"Conf", "Data_M"})},
      {"GERACAO_OK", {}, msgs({"Conf", "GERACAO_OK"}), true},
      {"NF_OK_ZERO", {}, msgs({"Conf", "NF_OK_ZERO"})},
      // a planted difference is asked until its day is consolidated, then never again
      {"VALOR_DIF", {mrNo}, msgs({"VALOR_DIF"})},
      {"VALOR_DIF", {}, msgs({"VALOR_DIF", "VALOR_DIF", "VALOR_DIF", "Conf", "GERACAO_OK"}), true},
      {"VALOR_DIF", {}, msgs({"Conf", "NF_OK_ZERO"}), false, true},
      {"ULT_LANC_DIA", {}, msgs({"Conf", "ULT_LANC_DIA"}), true},
      {"Lanc_Bloq_Impl", {}, msgs({"Conf", "LANC_BLOQ_IMPL"})},
      {"LIB00200_3", {}, msgs({"Conf", "screen:CriaLancIrreg", "GERACAO_OK"}), true},
      {"VENDA_CONSOL", {}, msgs({"VENDA_CONSOL"})},
      {"Irreg_Prod_Est", {}, msgs({"Conf", "Irreg_Prod_Est", "GERACAO_OK"}), true},
      {"VENDA_CONSOL", {}, msgs({"Conf", "GERACAO_OK"}), true},  // the earlier days are consolidated now
      {"CONS_BLOQ", {}, msgs({"Conf", "screen:CriaBloqConsolida", "CONS_BLOQ"})},
      {"OPERA_BLOQ", {}, msgs({"Conf", "screen:CriaLancIrreg", "OPERA_BLOQ"})},
      {"N_CTRL_ESTOQ", {}, msgs({"Conf", "N_CTRL_ESTOQ"})},
  };
  std::set<std::string> walked;
  for (const auto& step : steps) walked.insert(step.outcome);
  EXPECT_EQ(walked.size(), stops.size()) << "every stop of the tour is walked";

  QString fee;
  {
    QSqlQuery q = sql(QStringLiteral("SELECT CDPRODUTO FROM PRODUTO WHERE NMPRODUTO = 'Taxa de serviço'"));
    ASSERT_TRUE(q.next());
    fee = q.value(0).toString();
  }  // an open read would keep SQLite's snapshot: later counts would not see the runs
  const auto postedItems = [&](const std::string& branch) {
    QSqlQuery q = sql(QStringLiteral("SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = ? AND NRLANCESTQ IS NOT NULL"),
                      {QString::fromStdString(branch)});
    const int count = q.next() ? q.value(0).toInt() : -1;
    q.finish();
    return count;
  };
  CriaGeraNF();
  screen = frmGeraNF;
  ASSERT_TRUE(screen);
  activate();
  const auto focusTo = [&](QWidget* w) {
    activate();
    w->setFocus();
    QApplication::processEvents();
    activate();
  };
  QString reportShown;
  QStringList reportProducts;
  hostkit::ModalAnswer dialogs([&](QWidget* dialog) {
    if (auto* report = qobject_cast<TfrmRelProdEvol*>(dialog)) {
      reportShown = report->cbbReportNames->currentText();
      report->sbtPreview->click();
      if (!host->previews.isEmpty())
        for (const QStringList& row : host->previews.last().table().texts()) reportProducts << row.first();
      report->reject();
    }
  });
  for (const TourStep& step : steps) {
    const server::demo::TourStop& stop = stops.at(step.outcome);
    SCOPED_TRACE(step.outcome + " " + stop.first.toString(Qt::ISODate).toStdString());
    // the entries, one field after the other, then out of the panel into the filter
    const std::pair<TMaskEdit*, std::string> entries[] = {{screen->medFilial, stop.branch},
                                                          {screen->medCdLoja, stop.store},
                                                          {screen->medTipoReti, stop.withdrawalType},
                                                          {screen->medSetor, stop.sector}};
    for (const auto& [field, value] : entries) {
      focusTo(field);
      field->setText(QString::fromStdString(value));
    }
    int filters = 0;
    {
      hostkit::ModalAnswer filtro([&](QWidget* dialog) {
        auto* f = qobject_cast<TfrmFiltroGeraNF*>(dialog);
        if (!f) return;
        ++filters;
        f->depInicial->SetDate(toDateTime(stop.first));
        f->depFinal->SetDate(toDateTime(stop.last));
        f->chkVendaNF->setChecked(!step.showPosted);
        f->rbtTodosProdutos->setChecked(true);
        if (step.outcome == "NF_OK_ZERO") {
          f->rbtListaProdutos->setChecked(true);
          host->listAnswers.push_back(QStringList{fee});
          f->btnProdutos->click();
        }
        f->sbtConfirma->click();
      });
      focusTo(screen->dbgPadrao);
    }
    ASSERT_EQ(filters, 1) << host->messageTexts().join(" / ").toStdString();
    ASSERT_TRUE(screen->sbtGeraNF->isEnabled()) << "the period lists items";
    const int before = postedItems(stop.branch);
    host->clearRecords();
    host->journal.clear();
    host->dialogAnswers = step.answers;
    screen->sbtGeraNF->click();
    activate();
    EXPECT_EQ(host->journal, step.journal) << host->messageTexts().join(" / ").toStdString();
    EXPECT_EQ(postedItems(stop.branch) > before, step.posts) << before;
    EXPECT_TRUE(host->busyBalanced());

    if (step.outcome == "VALOR_DIF" && step.posts) {
      const QStringList asked = host->messageTexts().mid(0, 3);
      const QString caixas[] = {"001", "002", "003"};
      const int daysBack[] = {7, 5, 2};
      for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(asked[i].contains("caixa " + caixas[i] + " no dia " +
                                      today.addDays(-daysBack[i]).toString(QStringLiteral("dd/MM/yyyy"))))
            << asked[i].toStdString();
    }
    if (step.outcome == "Prod_NRelacReti") {
      EXPECT_EQ(reportShown, QStringLiteral("Produtos não relacionados ao tipo de retirada"));
      EXPECT_FALSE(reportProducts.isEmpty());
      for (const QString& product : reportProducts) {
        QSqlQuery q =
            sql(QStringLiteral("SELECT 1 FROM PRODTIPORETI WHERE CDTIPORETI = '02' AND CDPRODUTO = ?"), {product});
        EXPECT_FALSE(q.next()) << product.toStdString() << " moves with the drinks";
      }
    }
    if (step.outcome == "OPERA_BLOQ" || step.outcome == "LIB00200_3") {
      ASSERT_FALSE(host->hostScreens.isEmpty());
      const HostScreenCall& irregular = host->hostScreens.first();
      ASSERT_FALSE(irregular.rows.isEmpty());
      const QStringList& row = irregular.rows.first();
      const auto cell = [&](const char* field) { return row.value(irregular.fields.indexOf(field)); };
      const auto number = [&](const char* field) { return productLocale().toDouble(cell(field)); };
      if (step.outcome == "OPERA_BLOQ") {
        EXPECT_EQ(cell("CdObjeto"), QStringLiteral("0001")) << "the central stock's branch";
      }
      EXPECT_TRUE(cell("CdObjeto2").contains("Panetone"));
      EXPECT_LT(number("QtSaldoFinal"), 0) << "irregular means negative";
      EXPECT_DOUBLE_EQ(number("CdObjeto5") - number("QtLancEstq"), number("QtSaldoFinal"));
      // what the screen names as the balance after is the database's, once posted; untouched otherwise
      QSqlQuery q = sql(QStringLiteral("SELECT QTSALDOESTQ FROM SALDOESTQ WHERE CDFILIAL = ? AND CDALMOXARIFE = ? AND "
                                       "CDLOCALESTOQ = ? AND CDPRODUTO = ?"),
                        {cell("CdObjeto"), cell("CdObjeto3"), cell("CdObjeto4"), cell("CdObjeto2").section(' ', 0, 0)});
      const double stored = q.next() ? q.value(0).toDouble() : 0.0;
      q.finish();
      EXPECT_DOUBLE_EQ(stored, number(step.posts ? "QtSaldoFinal" : "CdObjeto5"));
    }
    if (step.outcome == "CONS_BLOQ") {
      ASSERT_FALSE(host->hostScreens.isEmpty());
      const HostScreenCall& blocked = host->hostScreens.first();
      QStringList reasons;
      for (const QStringList& row : blocked.rows) reasons << row.value(blocked.fields.indexOf("IdMotivoBloq"));
      reasons.sort();
      EXPECT_EQ(reasons, (QStringList{"F", "I"})) << "a discontinued product and one not registered for the branch";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, EndToEnd, ::testing::Values(test::Backend::SQLite, test::Backend::PostgreSQL),
                         test::BackendName());
INSTANTIATE_TEST_SUITE_P(Backends, ImportedDemoEndToEnd,
                         ::testing::Values(test::Backend::SQLite, test::Backend::PostgreSQL), test::BackendName());

}  // namespace
