// The spreadsheet exports on a real SQLite database: the CSV's bytes, the
// XLSX read back from its zip, and both from the preview's toolbar.
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include "modaldriver.h"
#include "reportfixture.h"
#include <reportkit/model/reportexport.h>
#include <reportkit/widgets/reportpreview.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;

namespace {

// The first item of each sale of branch 0001, grouped by sale: dates with
// and without a time, a NULL customer, numbers with and without a format.
const char* kSales = R"({
  "title": "Vendas [itens]: 0001/março",
  "queries": { "generic": [
    "SELECT V.NRSEQVENDA, V.DTVENDA, V.DTENTRVENDA, P.NMPRODUTO, C.NMRAZSOCCLIE, I.QTPRODVEND, I.VRUNITVEND,",
    "       I.QTPRODVEND * I.VRUNITVEND - I.VRDESITVEND AS VRTOTAL",
    "FROM VENDA V JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA",
    "JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO LEFT JOIN CLIENTE C ON C.CDCLIENTE = V.CDCLIENTE",
    "WHERE V.CDFILIAL = '0001' AND I.NRSEQUITVEND = '001' ORDER BY V.NRSEQVENDA"] },
  "groups": [ { "fields": ["NRSEQVENDA"], "header": "Venda {NRSEQVENDA}", "footer": "Total da venda" } ],
  "columns": [
    { "field": "NRSEQVENDA", "title": "Venda", "width": 5 },
    { "field": "DTVENDA", "title": "Dia", "width": 10, "type": "date" },
    { "field": "DTENTRVENDA", "title": "Entrada", "width": 16, "type": "date" },
    { "field": "NMPRODUTO", "title": "Produto", "width": 30 },
    { "field": "NMRAZSOCCLIE", "title": "Cliente", "width": 20 },
    { "field": "QTPRODVEND", "title": "Quantidade", "width": 9, "type": "number", "format": "#,##0.000" },
    { "field": "VRUNITVEND", "title": "Preço", "width": 9, "type": "number" },
    { "field": "VRTOTAL", "title": "Total", "width": 10, "type": "number", "format": "#,##0.00", "total": true } ]
})";

class ReportExport : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    host = ReportHost::install();
    createSalesDatabase(dir.filePath(QStringLiteral("vendas.db")));
    execAll({
        "UPDATE PRODUTO SET NMPRODUTO = 'Feijão; \"carioca\"' WHERE CDPRODUTO = 'P2'",
        "UPDATE ITVENDA SET VRUNITVEND = 8.25 WHERE CDFILIAL = '0001' AND NRSEQVENDA = 'V1' AND NRSEQUITVEND = '001'",
        "UPDATE ITVENDA SET QTPRODVEND = 1500 WHERE CDFILIAL = '0001' AND NRSEQVENDA = 'V3' AND NRSEQUITVEND = '001'",
    });
    sales = parseReportTemplate(kSales, QStringLiteral("vendas.json"));
    table = runReportQuery(sales, reportParamsOf(sales, hostConnectionName()), onHostDatabase());
  }
  void TearDown() override {
    closeHostDatabase();
    installHostServices(nullptr);
  }

  QTemporaryDir dir;
  std::shared_ptr<ReportHost> host;
  ReportTemplate sales;
  ReportTable table;
};

const QByteArray kExpectedCsv =
    "\xEF\xBB\xBF"
    "Venda;Dia;Entrada;Produto;Cliente;Quantidade;Pre\xC3\xA7o;Total\r\n"
    "V1;01/03/2024;01/03/2024 09:00;Arroz 5kg;ALFA LTDA;2,000;8,25;16,50\r\n"
    "V2;05/03/2024;05/03/2024 18:00;\"Feij\xC3\xA3o; \"\"carioca\"\"\";BETA SA;3,000;5;14,00\r\n"
    "V3;06/03/2024;06/03/2024 08:00;Arroz 5kg;;1500,000;10;15000,00\r\n";

TEST_F(ReportExport, CsvIsWhatABrazilianExcelReads) {
  const QString csv = dir.filePath(QStringLiteral("vendas.csv"));
  ASSERT_TRUE(exportCsv(table, csv).ok());
  // the detail rows only, whatever the groups print around them
  EXPECT_EQ(fileContents(csv), kExpectedCsv);
}

TEST_F(ReportExport, XlsxHoldsRealNumbersDatesAndTheTitle) {
  const QString xlsx = dir.filePath(QStringLiteral("vendas.xlsx"));
  ASSERT_TRUE(exportXlsx(table, sales.title, xlsx).ok());
  const QString sheet = zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet1.xml"));

  const SheetCell total = cellAt(sheet, QStringLiteral("H4"));
  EXPECT_EQ(total.value, QStringLiteral("16.5"));
  EXPECT_FALSE(total.attributes.contains(QStringLiteral(" t=")));  // numeric
  EXPECT_EQ(cellAt(sheet, QStringLiteral("F6")).value, QStringLiteral("1500"));
  const SheetCell day = cellAt(sheet, QStringLiteral("B5"));  // 05/03/2024
  EXPECT_EQ(day.value, QStringLiteral("45356"));
  EXPECT_FALSE(day.attributes.contains(QStringLiteral(" t=")));
  EXPECT_EQ(cellAt(sheet, QStringLiteral("C5")).value, QStringLiteral("45356.75"));  // at 18:00
  // text as text, written in its cell (the rows go to the file as they come)
  EXPECT_TRUE(cellAt(sheet, QStringLiteral("A4")).attributes.contains(QStringLiteral("t=\"inlineStr\"")));
  EXPECT_FALSE(cellAt(sheet, QStringLiteral("E6")).present);  // no customer: blank
  EXPECT_TRUE(sheet.contains(QStringLiteral("ySplit=\"3\"")));
  EXPECT_TRUE(sheet.contains(QStringLiteral("<autoFilter ref=\"A3:H6\"/>")));

  EXPECT_TRUE(sheet.contains(QStringLiteral("<t>Vendas [itens]: 0001/março</t>")));
  const QString styles = zipEntry(xlsx, QStringLiteral("xl/styles.xml"));
  EXPECT_TRUE(styles.contains(QStringLiteral("formatCode=\"#,##0.000\"")));
  EXPECT_TRUE(styles.contains(QStringLiteral("formatCode=\"dd/mm/yyyy\"")));
  EXPECT_TRUE(
      zipEntry(xlsx, QStringLiteral("xl/workbook.xml")).contains(QStringLiteral("name=\"Vendas itens 0001 março\"")));
}

TEST_F(ReportExport, SheetNameIsOneExcelAccepts) {
  EXPECT_EQ(sheetNameFor(QStringLiteral("Itens de venda não lançados no estoque / filial")),
            QStringLiteral("Itens de venda não lançados no"));
  EXPECT_EQ(sheetNameFor(QStringLiteral("'a*b?c'")), QStringLiteral("a b c"));
  EXPECT_EQ(sheetNameFor(QStringLiteral("[]:")), QStringLiteral("Relatório"));
}

TEST_F(ReportExport, UnwritablePathIsAnErrorAndLeavesNothingBehind) {
  const QString folder = dir.filePath(QStringLiteral("pasta-que-nao-existe"));
  const QString missing = folder + QStringLiteral("/vendas");
  EXPECT_EQ(
      exportCsv(table, missing + QStringLiteral(".csv")).error(),
      QStringLiteral("Não foi possível gravar o arquivo CSV '%1.csv': a pasta '%2' não existe").arg(missing, folder));
  EXPECT_EQ(
      exportXlsx(table, sales.title, missing + QStringLiteral(".xlsx")).error(),
      QStringLiteral("Não foi possível gravar a planilha '%1.xlsx': a pasta '%2' não existe").arg(missing, folder));

  // a folder of that name is not replaced, and no part of the file is left
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("pasta.xlsx")));
  EXPECT_FALSE(exportXlsx(table, sales.title, dir.filePath(QStringLiteral("pasta.xlsx"))).ok());
  EXPECT_FALSE(exportCsv(table, dir.filePath(QStringLiteral("pasta.xlsx"))).ok());
  EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("pasta.xlsx"))).isDir());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({"vendas.db"}));
}

TEST_F(ReportExport, PreviewExportsCsvAndXlsxNamedAfterTheReport) {
  // a home without a Documents folder: the dialogs open in the home folder
  const QTemporaryDir home;
  const QByteArray oldHome = qgetenv("HOME");
  const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", home.path().toUtf8());
  qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral(".config")).toUtf8());
  const auto restore = qScopeGuard([&] {
    qputenv("HOME", oldHome);
    if (oldConfig.isNull())
      qunsetenv("XDG_CONFIG_HOME");
    else
      qputenv("XDG_CONFIG_HOME", oldConfig);
  });
  QStringList folders;
  const ReportDocument doc(sales.title, QPageLayout::Portrait, {}, table);
  const QString csv = dir.filePath(QStringLiteral("exportado.csv"));
  const QString xlsx = dir.filePath(QStringLiteral("exportado.xlsx"));
  const QString lost = dir.filePath(QStringLiteral("pasta-que-nao-existe/exportado.csv"));
  QStringList suggested;
  auto exportTo = [&suggested, &folders](QWidget* preview, const char* action, const QString& file) {
    QAction* export_ = preview->findChild<QAction*>(QLatin1String(action));
    if (!export_) {
      ADD_FAILURE() << "no " << action << " in the preview";
      return;
    }
    onNextModal([&suggested, &folders, file](QWidget* files) {
      auto* chooser = qobject_cast<QFileDialog*>(files);
      if (!chooser) return qobject_cast<QDialog*>(files)->reject();
      folders << chooser->directory().absolutePath();
      suggested << QFileInfo(chooser->selectedFiles().value(0)).fileName();
      // typed into the name box, as the operator does
      auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (name)
        name->setText(file);
      else
        chooser->selectFile(file);
      static_cast<QDialog*>(chooser)->accept();
    });
    export_->trigger();
  };
  onNextModal([&](QWidget* preview) {
    exportTo(preview, "actExportarCsv", csv);
    exportTo(preview, "actExportarXlsx", dir.filePath(QStringLiteral("exportado")));  // the suffix is added
    exportTo(preview, "actExportarCsv", lost);
    qobject_cast<QDialog*>(preview)->reject();
  });
  previewDialog(doc, nullptr);
  EXPECT_EQ(suggested,
            QStringList({"Vendas-itens-0001marco.csv", "Vendas-itens-0001marco.xlsx", "Vendas-itens-0001marco.csv"}));
  EXPECT_EQ(folders, QStringList(3, QDir(home.path()).absolutePath()));
  EXPECT_EQ(fileContents(csv), kExpectedCsv);
  EXPECT_EQ(cellAt(zipEntry(xlsx, QStringLiteral("xl/worksheets/sheet1.xml")), QStringLiteral("H4")).value,
            QStringLiteral("16.5"));
  ASSERT_EQ(host->messages.size(), 1);  // the file that could not be written
  EXPECT_EQ(host->messages[0].kind, ShownMessage::Error);
  EXPECT_TRUE(host->messages[0].text.startsWith(QStringLiteral("Não foi possível gravar o arquivo CSV '%1'").arg(lost)))
      << host->messages[0].text.toStdString();
}

TEST_F(ReportExport, EveryRowCarriesTheFieldsOfItsGroups) {
  ReportTemplate byDay = sales;
  byDay.columns.removeAt(1);  // the day only in the group's header
  byDay.groups = {ReportGroup{{QStringLiteral("DTVENDA")}, QStringLiteral("Dia {DTVENDA}"), {}}};
  const ReportTable grouped = runReportQuery(byDay, reportParamsOf(byDay, hostConnectionName()), onHostDatabase());
  const QString csv = dir.filePath(QStringLiteral("dias.csv"));
  ASSERT_TRUE(exportCsv(grouped, csv).ok());
  const QStringList lines = QString::fromUtf8(fileContents(csv)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 4);
  EXPECT_TRUE(lines[0].endsWith(QStringLiteral(";Total;DTVENDA"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[2].endsWith(QStringLiteral(";14,00;2024-03-05"))) << lines[2].toStdString();
  // the page shows the day in the header, not as a column
  const QString pdf = dir.filePath(QStringLiteral("dias.pdf"));
  ASSERT_TRUE(ReportDocument(byDay.title, QPageLayout::Portrait, {}, grouped).exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral("Dia 05/03/2024")));
  EXPECT_FALSE(text.contains(QStringLiteral("DTVENDA")));
}

}  // namespace
