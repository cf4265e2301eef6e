// Numbers and dates come out, and are read, in Brazilian form whatever the
// machine's locale: ctest runs this test again with LC_ALL set to C and to
// en_US.UTF-8, and the test itself makes the machine's locale Qt's default,
// as a tool that does not go through the host would have it.
#include <QTemporaryDir>

#include "reportfixture.h"
#include <qfx31700/consolidation/frmgeranf.h>
#include <qfx31700/remote/replydatasets.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;

namespace {

class ProductLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    QLocale::setDefault(QLocale::system());
    ASSERT_TRUE(dir.isValid());
    host = ReportHost::install();
  }
  void TearDown() override {
    closeHostDatabase();
    installHostServices(nullptr);
  }

  QTemporaryDir dir;
  std::shared_ptr<ReportHost> host;
};

TEST_F(ProductLocale, GridDatasetAndReportShowTheSameBrazilianTexts) {
  // a sale item as the operator would type it
  TDataSet itens(nullptr, QStringLiteral("cdsPrincipal"));
  qfx::defineCdsPrincipal(itens);
  itens.Open();
  itens.Append();
  itens.FieldByName(QStringLiteral("QTPRODVEND"))->SetAsString(QStringLiteral("1.234,5"));
  itens.FieldByName(QStringLiteral("VRUNITVEND"))->SetAsString(QStringLiteral("1234,567"));
  itens.FieldByName(QStringLiteral("TOTITEM"))->SetAsFloat(1524072.96);
  itens.FieldByName(QStringLiteral("DTENTRVENDA"))->SetAsString(QStringLiteral("10/11/2026 14:30:00"));
  itens.Post();
  const auto grid = [&](const char* field) {
    return qfx::gridCellText(*itens.FieldByName(QString::fromLatin1(field)), 0, {}).text;
  };
  EXPECT_EQ(grid("QTPRODVEND"), "1234,500");
  EXPECT_EQ(grid("VRUNITVEND"), "1234,57");
  EXPECT_EQ(grid("TOTITEM"), "1524072,96");
  EXPECT_EQ(grid("DTENTRVENDA"), "10/11/2026 14:30:00");

  const TField* quantidade = itens.FieldByName(QStringLiteral("QTPRODVEND"));
  EXPECT_EQ(quantidade->DisplayText(), "1.234,50") << "the field's display format";
  EXPECT_EQ(quantidade->Text(), "1234,5") << "the edit text";
  EXPECT_DOUBLE_EQ(quantidade->AsFloat(), 1234.5);
  EXPECT_EQ(itens.FieldByName(QStringLiteral("TOTITEM"))->DisplayText(), "1.524.072,96");
  itens.Edit();
  EXPECT_THROW(itens.FieldByName(QStringLiteral("VRUNITVEND"))->SetAsString(QStringLiteral("doze")), EDatabaseError)
      << "a text that is no number";
  itens.Cancel();

  // the report of the items not posted, with an item in the thousands
  createSalesDatabase(dir.filePath(QStringLiteral("vendas.db")));
  execAll(
      {QStringLiteral("INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, "
                      "VRUNITVEND, VRDESITVEND) VALUES ('0001', 'V1', '099', 'P1', 1234.5, 10, 0.25)")});
  const ReportTemplate first =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  ReportParams params = reportParamsOf(first, hostConnectionName());
  params.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(dia(2024, 3, 1));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(dia(2024, 3, 5));
  const ReportDocument report = buildReportDocument(first, params, hostContext());
  const QString pdf = dir.filePath(QStringLiteral("itens.pdf"));
  ASSERT_TRUE(report.exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  for (const char* shown : {"1.234,500", "12.344,75", "1.236,500", "12.426,75", "01/03/2024", "Data final: 05/03/2024"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(shown))) << shown << " in\n" << text.toStdString();
}

}  // namespace
