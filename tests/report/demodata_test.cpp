// Both shipped reports on the demo data, made by the server's own migration
// and demo generator: on SQLite always, on PostgreSQL when QFX_TEST_PG_URL
// names a server (the generic query texts run verbatim on both).
#include <QComboBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "backend.h"
#include "demo/demo_generator.h"
#include "module/modulestate.h"
#include "query.h"
#include "report/frmrelprodevol.h"
#include "reportfixture.h"

using namespace hostkit;
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
    database = std::make_unique<qfx::test::TestDatabase>(GetParam());
    server = database->open();
    qfx::server::demo::Options options;
    options.today = kToday;
    auto generated = qfx::server::demo::generate(*server, options);
    ASSERT_TRUE(generated.ok()) << generated.error().message;
    ASSERT_FALSE(openHostDatabase({QString::fromStdString(database->url())}));
    host = ReportHost::install();
    host->reports = dir.filePath(QStringLiteral("reports"));
    copyShippedReports(host->reports);
  }
  void TearDown() override {
    delete tela.data();
    closeHostDatabase();
    installHostServices(nullptr);
    server.reset();
    database.reset();
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
  std::unique_ptr<qfx::test::TestDatabase> database;
  std::unique_ptr<qfx::server::Database> server;
  std::shared_ptr<ReportHost> host;
  QPointer<qfx::TfrmRelProdEvol> tela;
};

}  // namespace

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
  EXPECT_EQ(doc.table().rows.size(), pending);

  const QString pdf = dir.filePath(QStringLiteral("demo.pdf"));
  ASSERT_FALSE(doc.exportPdf(pdf));
  const QString text = pdfText(pdf);
  const int pages = doc.pageCount();
  EXPECT_EQ(text.count(QStringLiteral("Itens de venda não lançados no estoque")), pages);
  EXPECT_TRUE(text.contains(QStringLiteral("Página %1 de %1").arg(pages)));
  EXPECT_TRUE(text.contains(QStringLiteral("Registros: %1").arg(pending)));
  EXPECT_TRUE(text.contains(doc.table().rows.first()[7]));  // a product name of the first row
}

TEST_P(DemoData, BranchListKeepsToItsBranch) {
  const int pending = count(
      "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA "
      "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
      "WHERE I.CDFILIAL = '0001' AND I.NRLANCESTQ IS NULL AND COALESCE(P.IDCTRLESTQ, 'S') <> 'N'");
  const ReportTemplate report =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  ReportParams params = reportParamsOf(report);
  params.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QStringLiteral("_0001_"));
  params.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QString());
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(toDateTime(kToday.addDays(-40)));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(toDateTime(kToday));
  const ReportTable table = runReportQuery(report, params);
  EXPECT_EQ(table.rows.size(), pending);
  for (const QStringList& row : table.rows) ASSERT_EQ(row.first(), QStringLiteral("0001"));
}

TEST_P(DemoData, SecondReportRunsOnTheConsolidationSelection) {
  const QString store = first("SELECT MIN(CDLOJA) FROM LOJA WHERE CDFILIAL = '0001'");
  const QString type = first("SELECT MIN(CDTIPORETI) FROM PRODTIPORETI");
  ASSERT_FALSE(type.isEmpty()) << "the demo relates products to a withdrawal type";
  const ReportTemplate report =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/02-produtos-sem-tipo-retirada.json")));
  ReportParams params = reportParamsOf(report);
  const auto text = [&params](const char* name, const QString& value) {
    params.ParamByName(QString::fromLatin1(name)).SetAsString(value);
  };
  text("P_CDFILIAL", QStringLiteral("0001"));
  params.ParamByName(QStringLiteral("P_DTVENDAINI")).SetAsDateTime(toDateTime(kToday.addDays(-40)));
  params.ParamByName(QStringLiteral("P_DTVENDAFIM")).SetAsDateTime(toDateTime(kToday));
  text("P_TODASNF2", QStringLiteral("S"));
  text("P_TODASVND", QStringLiteral("S"));
  text("P_LSTVENDAS", QString());
  text("P_CDLOJA", store);
  text("P_CDCAIXA", QString());
  text("P_TCDCAIXA", QStringLiteral("T"));
  text("P_CDTIPOCONS", QString());
  text("P_TCDTIPOCONS", QStringLiteral("S"));
  text("P_CDCLIENTE", QString());
  text("P_TCDCLIENTE", QStringLiteral("T"));
  text("P_NOMEINI", QString());
  text("P_NOMEFIN", QString());
  text("P_CDTIPORETI", type);
  const ReportTable table = runReportQuery(report, params);
  ASSERT_FALSE(table.rows.isEmpty());  // the demo's type moves drinks only
  // every product listed moves a stock product the type does not move
  for (const QStringList& row : table.rows)
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM PRODTIPORETI WHERE CDTIPORETI = '%1' AND CDPRODUTO = '%2'")
                        .arg(type, row.first())),
              0)
        << row.first().toStdString();

  // an interval of customer names runs too (no customer code parameters)
  text("P_TCDCLIENTE", QString());
  text("P_NOMEINI", QStringLiteral("A"));
  text("P_NOMEFIN", QStringLiteral("ZZZ"));
  EXPECT_NO_THROW(runReportQuery(report, params));
}

INSTANTIATE_TEST_SUITE_P(Databases, DemoData, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         qfx::test::BackendName());
