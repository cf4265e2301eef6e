// Both shipped reports on the demo data, made by the server's own migration
// and demo generator: on SQLite always, on PostgreSQL when QFX_TEST_PG_URL
// names a server (the generic query texts run verbatim on both).
#include <QComboBox>
#include <QFile>
#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <cmath>
#include <set>

#include "backend.h"
#include "common/sale_money.h"
#include "demo/demo_generator.h"
#include "harness.h"
#include "posting_support.h"
#include "reportfixture.h"
#include <hostkit/core/query.h>
#include <qfx31700/consolidation/frmgeranf.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/report/frmrelprodevol.h>
#include <reportkit/model/reportexport.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;
using qfx::test::Backend;

namespace {

const QDate kToday(2024, 3, 31);  // demo sales cover the 30 days up to it

class DemoData : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSQL && !qfx::test::postgresAvailable())
      GTEST_SKIP() << "QFX_TEST_PG_URL não definida: variante PostgreSQL pulada";
    ASSERT_TRUE(dir.isValid());
    harness = std::make_unique<qfx::test::ServerHarness>(GetParam(), false);
    qfx::server::demo::Options options;
    options.today = kToday;
    auto generated = qfx::server::demo::generate(harness->database(), options);
    ASSERT_TRUE(generated.ok()) << generated.error().message;
    ASSERT_TRUE(openHostDatabase({QString::fromStdString(harness->testDatabase().url()), {}}).ok());
    host = ReportHost::install();
    host->server.port = harness->port();
    host->reports = dir.filePath(QStringLiteral("reports"));
    copyShippedReports(host->reports);
  }
  void TearDown() override {
    delete tela.data();
    delete qfx::frmGeraNF.data();
    qfx::Filtro = qfx::TFiltro();
    closeHostDatabase();
    installHostServices(nullptr);
    harness.reset();
  }

  // A number from the host database, asked another way than the report asks.
  int count(const QString& sql) {
    QSqlQuery q(hostDatabase());
    EXPECT_TRUE(q.exec(sql) && q.next()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    return q.value(0).toInt();
  }
  QString first(const QString& sql) {
    QSqlQuery q(hostDatabase());
    EXPECT_TRUE(q.exec(sql) && q.next()) << sql.toStdString() << ": " << q.lastError().text().toStdString();
    return q.value(0).toString();
  }

  QTemporaryDir dir;
  std::unique_ptr<qfx::test::ServerHarness> harness;
  std::shared_ptr<ReportHost> host;
  QPointer<qfx::TfrmRelProdEvol> tela;
};

TEST_P(DemoData, FirstReportPreviewsEveryItemNotPostedToStock) {
  const int pending = count(
      "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA "
      "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE I.NRLANCESTQ IS NULL AND COALESCE(P.IDCTRLESTQ, 'S') <> "
      "'N'");
  ASSERT_GT(pending, 0);

  tela = new qfx::TfrmRelProdEvol();
  tela->show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(tela));
  tela->depDePeriodo->SetDate(toDateTime(kToday.addDays(-40)));
  tela->depAtePeriodo->SetDate(toDateTime(kToday));
  tela->sbtPreview->click();
  ASSERT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
  ASSERT_EQ(host->previews.size(), 1);
  const ReportDocument& doc = host->previews.first();
  EXPECT_EQ(doc.table().rowCount(), pending);

  const QString pdf = dir.filePath(QStringLiteral("demo.pdf"));
  ASSERT_TRUE(doc.exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  const int pages = doc.pageCount();
  EXPECT_EQ(text.count(QStringLiteral("Itens de venda não lançados no estoque")), pages);
  EXPECT_TRUE(text.contains(QStringLiteral("Página %1 de %1").arg(pages)));
  EXPECT_TRUE(text.contains(QStringLiteral("Registros: %1").arg(pending)));
  EXPECT_TRUE(text.contains(doc.table().text(0, columnOf(doc.table(), QStringLiteral("NMPRODUTO")))));
}

TEST_P(DemoData, BranchListKeepsToItsBranch) {
  const int pending = count(
      "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA "
      "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
      "WHERE I.CDFILIAL = '0001' AND I.NRLANCESTQ IS NULL AND COALESCE(P.IDCTRLESTQ, 'S') <> 'N'");
  const ReportTemplate report =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  ReportParams params = reportParamsOf(report, hostConnectionName());
  params.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QStringLiteral("_0001_"));
  params.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QString());
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(toDateTime(kToday.addDays(-40)));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(toDateTime(kToday));
  const ReportTable table = runReportQuery(report, params, onHostDatabase());
  EXPECT_EQ(table.rowCount(), pending);
  for (const QString& header : groupHeaders(table, 0)) ASSERT_TRUE(header.startsWith(QStringLiteral("Filial 0001 ")));
}

namespace {

// A number as the report prints it ("-1.234,56"), in units of its last
// decimal: cents for money, thousandths for quantities.
qint64 printedUnits(const QString& text, int decimals) {
  QString plain = text;
  plain.remove(u'.').replace(u',', u'.');
  bool ok = false;
  const double value = plain.toDouble(&ok);
  EXPECT_TRUE(ok) << text.toStdString();
  return std::llround(value * std::pow(10.0, decimals));
}

}  // namespace

// Every total of report 01 is the sum of the lines printed above it, each
// line the money of its item (quantity × price − discount to the cent, the
// rule of the Z reduction), a return taken back and marked; the exports
// carry each row's branch and day, and the spreadsheet holds what is shown.
TEST_P(DemoData, FirstReportTotalsAreTheSumsOfThePrintedLines) {
  const ReportTemplate report =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  ReportParams params = reportParamsOf(report, hostConnectionName());
  params.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(toDateTime(kToday.addDays(-30)));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(toDateTime(kToday));
  const ReportTable table = runReportQuery(report, params, onHostDatabase());
  ASSERT_GT(table.rowCount(), 100);
  const int branch = columnOf(table, QStringLiteral("CDFILIAL"));
  const int day = columnOf(table, QStringLiteral("DTVENDA"));
  const int sale = columnOf(table, QStringLiteral("NRSEQVENDA"));
  const int item = columnOf(table, QStringLiteral("NRSEQUITVEND"));
  const int mark = columnOf(table, QStringLiteral("DSSITUVENDA"));
  const int quantity = columnOf(table, QStringLiteral("QTPRODVEND"));
  const int value = columnOf(table, QStringLiteral("VRTOTITEM"));
  ASSERT_TRUE(branch >= 0 && day >= 0 && sale >= 0 && item >= 0 && mark >= 0 && quantity >= 0 && value >= 0);

  // each item as the database holds it, read apart from the report
  struct Stored {
    double quantity, price, discount;
    QString situation;
  };
  QHash<QString, Stored> stored;
  QSqlQuery q(hostDatabase());
  ASSERT_TRUE(
      q.exec("SELECT I.CDFILIAL, I.NRSEQVENDA, I.NRSEQUITVEND, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND, "
             "V.IDSITUVENDA FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND "
             "V.NRSEQVENDA = I.NRSEQVENDA"))
      << q.lastError().text().toStdString();
  while (q.next())
    stored.insert(q.value(0).toString() + u'/' + q.value(1).toString() + u'/' + q.value(2).toString(),
                  {q.value(3).toDouble(), q.value(4).toDouble(), q.value(5).toDouble(), q.value(6).toString()});

  namespace money = qfx::server::salemoney;
  std::vector<qint64> open;  // per group level, the cents of its lines so far
  qint64 all = 0, groupsOfDays = 0;
  int returns = 0, discounted = 0;
  for (const ReportLine& line : table.lines) {
    switch (line.kind) {
      case ReportLine::Kind::GroupHeader:
        open.resize(size_t(line.level));
        open.push_back(0);
        break;
      case ReportLine::Kind::Details:
        for (int r = line.firstRow; r < line.firstRow + line.rowCount; ++r) {
          const QString key = table.text(r, branch) + u'/' + table.text(r, sale) + u'/' + table.text(r, item);
          ASSERT_TRUE(stored.contains(key)) << key.toStdString();
          const Stored& s = stored[key];
          const qint64 cents =
              money::netSalesCents(s.situation.toStdString(), money::itemCents(s.quantity, s.price, s.discount));
          const qint64 shown = printedUnits(table.text(r, value), 2);
          EXPECT_EQ(shown, cents) << key.toStdString() << " " << table.text(r, value).toStdString();
          const bool returned = s.situation == QStringLiteral("D");
          EXPECT_EQ(table.text(r, mark), returned ? QStringLiteral("Devolução") : QString()) << key.toStdString();
          EXPECT_EQ(printedUnits(table.text(r, quantity), 3) < 0, returned) << key.toStdString();
          returns += returned;
          discounted += s.discount != 0;
          all += shown;
          for (qint64& group : open) group += shown;
        }
        break;
      case ReportLine::Kind::GroupFooter:
        EXPECT_EQ(printedUnits(line.cells[value], 2), open[size_t(line.level)]) << line.text.toStdString();
        if (line.level == 0) groupsOfDays += printedUnits(line.cells[value], 2);
        open.resize(size_t(line.level));
        break;
      case ReportLine::Kind::GrandTotal:
        EXPECT_EQ(printedUnits(line.cells[value], 2), all);
        EXPECT_EQ(printedUnits(line.cells[value], 2), groupsOfDays);
        break;
    }
  }
  EXPECT_GT(returns, 0) << "the demo has returned sales pending";
  EXPECT_GT(discounted, 0);

  // the CSV and the XLSX: each row with its branch and day, the values shown
  const QString csv = dir.filePath(QStringLiteral("itens.csv"));
  const QString xlsx = dir.filePath(QStringLiteral("itens.xlsx"));
  ASSERT_TRUE(exportCsv(table, csv).ok());
  ASSERT_TRUE(exportXlsx(table, report.title, xlsx).ok());
  const QStringList lines = QString::fromUtf8(fileContents(csv)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), table.rowCount() + 1);
  const QStringList titles = lines[0].split(u';');
  EXPECT_EQ(titles.value(branch), table.columns[branch].title);
  EXPECT_EQ(titles.value(day), table.columns[day].title);
  const QString sheet = zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet1.xml"));
  const auto reference = [](int column, int row) { return QString(QChar(u'A' + column)) + QString::number(row + 4); };
  for (int r = 0; r < table.rowCount(); r += 7) {
    const QStringList fields = lines[r + 1].split(u';');
    EXPECT_EQ(fields.value(branch), table.text(r, branch));
    EXPECT_EQ(fields.value(day), table.text(r, day));  // dd/MM/yyyy
    EXPECT_EQ(QString(fields.value(value)).replace(u',', u'.').toDouble(), table.value(r, value).toDouble());
    for (int c : {value, quantity}) {
      const SheetCell cell = cellAt(sheet, reference(c, r));
      const int decimals = c == value ? 2 : 3;
      EXPECT_EQ(cell.value.toDouble(), double(printedUnits(table.text(r, c), decimals)) / std::pow(10.0, decimals))
          << reference(c, r).toStdString() << " " << cell.value.toStdString() << " shown "
          << table.text(r, c).toStdString();
    }
  }
}

namespace {

// One selection of the consolidation screen, as Filtro holds it and as
// SemGeraNF takes it.
struct Selection {
  QDate first, last;
  std::string registers = {}, consumptionTypes = {}, products = {}, costCentres = {};
  std::string nameFrom = {}, nameTo = {};  // a customer interval when set

  void toFiltro() const {
    using qfx::Filtro;
    Filtro = qfx::TFiltro();
    Filtro.dtInicial = toDateTime(first);
    Filtro.dtFinal = toDateTime(last);
    Filtro.boTodasVendas = true;
    Filtro.boTodosCaixa = registers.empty();
    Filtro.stCaixa = QString::fromStdString(registers);
    Filtro.boTodosTipoCons = consumptionTypes.empty();
    Filtro.stTipoCons = QString::fromStdString(consumptionTypes);
    Filtro.boTodosCliente = nameFrom.empty();
    Filtro.boIntervaloCli = !nameFrom.empty();
    Filtro.stCliDe = QString::fromStdString(nameFrom);
    Filtro.stCliAte = QString::fromStdString(nameTo);
    Filtro.boTodosCentroCusto = costCentres.empty();
    Filtro.stCentroCusto = QString::fromStdString(costCentres);
    Filtro.boTodosProdutos = products.empty();
    Filtro.stProdutos = QString::fromStdString(products);
  }
  qfx::test::Consolidation run(const std::string& withdrawalType) const {
    qfx::test::Consolidation c;
    c.first = first;
    c.last = last;
    c.registers = registers;
    c.consumptionTypes = consumptionTypes;
    c.products = products;
    c.costCentres = costCentres;
    c.customerInterval = !nameFrom.empty();
    c.nameFrom = nameFrom;
    c.nameTo = nameTo;
    c.withdrawalType = withdrawalType;
    c.operatorCode = qfx::server::demo::kDemoOperator;
    return c;
  }
};

}  // namespace

// The report that follows the refusal "Prod_NRelacReti" names exactly the
// stock products the run refused on, through the screen's own parameters:
// relating every product it lists lets the run through, and leaving out any
// one of them brings the refusal back. Posted items and products outside the
// selection never appear.
TEST_P(DemoData, RefusalReportNamesExactlyTheProductsTheRunRefusedOn) {
  auto client = harness->loggedIn(qfx::server::demo::kDemoOperator, qfx::server::demo::kDemoPassword);
  QSqlDatabase db = harness->sql();
  const QString rice = QStringLiteral("000001"), beans = QStringLiteral("000002");
  const QDate first = kToday.addDays(-29), last = kToday.addDays(-8);
  // the rice of the period is posted beforehand (withdrawal type 01 moves anything)
  const Selection riceOnly{.first = first, .last = last, .products = "_000001_"};
  const auto posted = consolidate(*client, riceOnly.run("01"));
  ASSERT_TRUE(posted.call.ok()) << posted.call.status.error_message();
  ASSERT_GT(posted.lastPosting, 0);

  // every product but the beans, two registers, three consumption types;
  // then a customer interval and a list of cost centres
  std::string allButBeans;
  QSqlQuery q(db);
  ASSERT_TRUE(q.exec(QStringLiteral("SELECT CDPRODUTO FROM PRODUTO WHERE CDPRODUTO <> '000002'")));
  while (q.next()) allButBeans += "_" + q.value(0).toString().toStdString() + "_";
  const std::vector<Selection> selections = {
      {.first = first,
       .last = last,
       .registers = "_0001001__0001002_",
       .consumptionTypes = "_01__02__03_",
       .products = allButBeans},
      {.first = first,
       .last = last,
       .costCentres = "_00000101__00000201__00000301__00000401_",
       .nameFrom = "A",
       .nameTo = "FZZ"},
  };
  std::vector<std::set<QString>> refused;
  for (const Selection& selection : selections) {
    SCOPED_TRACE(selection.registers + selection.costCentres);
    selection.toFiltro();
    auto* screen = new qfx::TfrmGeraNF();
    qfx::frmGeraNF = screen;
    screen->medFilial->setText(QStringLiteral("0001"));
    screen->medCdLoja->setText(QStringLiteral("01"));
    screen->medTipoReti->setText(QStringLiteral("02"));  // drinks only
    tela = new qfx::TfrmRelProdEvol();
    ASSERT_TRUE(tela->SelectReportAnswering(QStringLiteral("Prod_NRelacReti")));
    host->previews.clear();
    tela->sbtPreview->click();
    ASSERT_EQ(host->previews.size(), 1) << host->messageTexts().join(u'\n').toStdString();
    std::set<QString> products;
    // the stock products head the report's groups: "Produto de estoque <code> - <name>"
    for (const QString& header : groupHeaders(host->previews.first().table(), 0))
      products.insert(header.section(u' ', 3, 3));
    delete tela.data();
    delete screen;
    ASSERT_FALSE(products.empty());
    EXPECT_FALSE(products.count(rice)) << "posted before";
    EXPECT_FALSE(products.count(beans)) << "outside the products chosen";
    EXPECT_EQ(consolidate(*client, selection.run("02")).call.status.error_message(), "Prod_NRelacReti");
    refused.push_back(products);
  }
  ASSERT_NE(refused[0], refused[1]) << "the lists narrow the selection";

  // the drinks stay related; the products of the report are added
  const auto relate = [&](const std::set<QString>& products) {
    qfx::test::exec(db,
                    "DELETE FROM PRODTIPORETI WHERE CDTIPORETI = '02' AND CDPRODUTO NOT IN (SELECT CDPRODUTO FROM "
                    "PRODUTO WHERE CDPRODUTO BETWEEN '000021' AND '000024')");
    for (const QString& p : products)
      qfx::test::exec(db, "INSERT INTO PRODTIPORETI (CDTIPORETI, CDPRODUTO) VALUES ('02', ?)", {p});
  };
  for (size_t i = 0; i < selections.size(); ++i) {
    for (const QString& left : refused[i]) {
      std::set<QString> others = refused[i];
      others.erase(left);
      relate(others);
      EXPECT_EQ(consolidate(*client, selections[i].run("02")).call.status.error_message(), "Prod_NRelacReti")
          << left.toStdString() << " alone must keep the refusal";
    }
  }
  for (size_t i = 0; i < selections.size(); ++i) {
    relate(refused[i]);
    const auto through = consolidate(*client, selections[i].run("02"));
    EXPECT_NE(through.call.status.error_message(), "Prod_NRelacReti") << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, DemoData, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         qfx::test::BackendName());

}  // namespace
