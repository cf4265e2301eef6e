// The report engine on a real SQLite database made from the product's
// schema: the shipped queries, bound parameters, the page layout and the PDF.
#include <QAbstractScrollArea>
#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QPageSize>
#include <QPainter>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "modaldriver.h"
#include "reportfixture.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/query.h>
#include <hostkit/core/routines.h>
#include <reportkit/widgets/reportpreviewdialog.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;

namespace {

class ReportEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    host = ReportHost::install();
    createSalesDatabase(dir.filePath(QStringLiteral("vendas.db")));
    first = readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  }
  void TearDown() override {
    closeHostDatabase();
    installHostServices(nullptr);
  }

  // The first report's parameters as the report screen sets them.
  ReportParams firstParams(const QString& branches, double from, double to) {
    ReportParams p = reportParamsOf(first, hostConnectionName());
    p.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(branches);
    p.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(branches.isEmpty() ? QStringLiteral("T") : QString());
    p.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(from);
    p.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(to);
    return p;
  }

  // `count` more pending items of beans (P2) in sale V1 of branch 0002, 02/03.
  static void addBeanItems(int count) {
    QStringList inserts;
    for (int i = 0; i < count; ++i)
      inserts << QStringLiteral(
                     "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, "
                     "VRUNITVEND) VALUES ('0002', 'V1', '%1', 'P2', 1, 1)")
                     .arg(100 + i);
    execAll(inserts);
  }

  // `count` more pending items of beans (P2) in sale V1 of branch 0002, 02/03,
  // in one statement.
  static void addManyBeanItems(int count) {
    execAll({QStringLiteral("WITH RECURSIVE N(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM N WHERE X < %1) "
                            "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, "
                            "VRUNITVEND) SELECT '0002', 'V1', printf('B%05d', X), 'P2', 1, 1 FROM N")
                 .arg(count)});
  }

  // Branch (from its group's header), sale and item of each row.
  static QStringList keys(const ReportTable& table) {
    QStringList out;
    QString branch;
    for (const ReportLine& line : table.lines) {
      if (line.kind == ReportLine::Kind::GroupHeader && line.level == 0) branch = line.text.section(u' ', 1, 1);
      if (line.kind != ReportLine::Kind::Details) continue;
      for (int r = line.firstRow; r < line.firstRow + line.rowCount; ++r)
        out << branch + u'/' + table.text(r, columnOf(table, QStringLiteral("NRSEQVENDA"))) + u'/' +
                   table.text(r, columnOf(table, QStringLiteral("NRSEQUITVEND")));
    }
    return out;
  }

  // The report's lines as text: headers, "n rows", footers with their figures.
  static QStringList outline(const ReportTable& table) {
    QStringList out;
    for (const ReportLine& line : table.lines) {
      if (line.kind == ReportLine::Kind::Details) {
        out << QStringLiteral("%1 rows").arg(line.rowCount);
        continue;
      }
      QStringList figures;
      for (const QString& cell : line.cells)
        if (!cell.isEmpty()) figures << cell;
      out << (line.text + u' ' + figures.join(u' ')).trimmed();
    }
    return out;
  }

  QTemporaryDir dir;
  std::shared_ptr<ReportHost> host;
  ReportTemplate first;
};

TEST_F(ReportEngine, FirstReportListsTheItemsNotPostedToStockInThePeriod) {
  const ReportTable table = runReportQuery(first, firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5)), onHostDatabase());
  // both ends of the period included; the posted item, the product without
  // stock control and the day after the period left out
  EXPECT_EQ(keys(table), QStringList({"0001/V1/001", "0001/V1/004", "0001/V2/001", "0002/V1/001", "0003/V9/001"}));
  const int product = columnOf(table, QStringLiteral("CDPRODUTO"));
  const int quantity = columnOf(table, QStringLiteral("QTPRODVEND"));
  const int total = columnOf(table, QStringLiteral("VRTOTITEM"));
  EXPECT_EQ(table.text(0, product), QStringLiteral("P1"));
  EXPECT_EQ(table.text(0, product + 1), QStringLiteral("Arroz 5kg"));
  EXPECT_EQ(table.text(0, quantity), QStringLiteral("2,000"));
  EXPECT_EQ(table.text(2, total), QStringLiteral("14,00"));  // 3 x 5,00 less 1,00
  ASSERT_TRUE(table.hasTotals);
  // grouped by branch and day, then by stock product (the soft drink sold as
  // P4 moves P5); quantities add up per stock product only, values everywhere
  EXPECT_EQ(outline(table).mid(0, 8),
            QStringList({"Filial 0001 - Matriz   Dia 01/03/2024", "Produto de estoque P1 - Arroz 5kg", "1 rows",
                         "Total do produto de estoque P1 (1 registro) 2,000 20,00",
                         "Produto de estoque P5 - Refrigerante estoque", "1 rows",
                         "Total do produto de estoque P5 (1 registro) 6,000 18,00",
                         "Total do dia 01/03/2024 na filial 0001 (2 registros) 38,00"}));
  EXPECT_EQ(outline(table).last(), QStringLiteral("Total geral 82,00"));
  EXPECT_EQ(table.totals[quantity], QString()) << "kilograms of rice are not added to cans";
  EXPECT_EQ(table.totals[total], QStringLiteral("82,00"));
  EXPECT_EQ(table.value(0, quantity), QVariant(2.0));
}

TEST_F(ReportEngine, BranchListSelectsItsBranchesByTheirUnderscoredCodes) {
  const ReportTable table =
      runReportQuery(first, firstParams("_0001__0003_", dia(2024, 3, 1), dia(2024, 3, 5)), onHostDatabase());
  EXPECT_EQ(keys(table), QStringList({"0001/V1/001", "0001/V1/004", "0001/V2/001", "0003/V9/001"}));
  // "_0001_" must not match branch "00010" or a part of a code
  EXPECT_TRUE(
      runReportQuery(first, firstParams("_000_", dia(2024, 3, 1), dia(2024, 3, 5)), onHostDatabase()).isEmpty());
}

TEST_F(ReportEngine, OneDayPeriodTakesThatDayOnly) {
  const ReportTable table = runReportQuery(first, firstParams({}, dia(2024, 3, 5), dia(2024, 3, 5)), onHostDatabase());
  EXPECT_EQ(keys(table), QStringList({"0001/V2/001"}));
}

TEST_F(ReportEngine, ParameterTextIsBoundNeverSpliced) {
  // spliced, the text would select every branch (or break the statement)
  const ReportTable table =
      runReportQuery(first, firstParams("_0001_') OR 1=1 OR ('", dia(2024, 3, 1), dia(2024, 3, 5)), onHostDatabase());
  EXPECT_EQ(keys(table), QStringList({"0001/V1/001", "0001/V1/004", "0001/V2/001"}));
}

TEST_F(ReportEngine, DatesReachTheDatabaseAsTheSchemaStoresThem) {
  ReportParam p;
  p.SetAsDate(dia(2024, 3, 5) + 0.75);  // a date drops the time
  EXPECT_EQ(reportSqlValue(p), QVariant(QStringLiteral("2024-03-05")));
  p.SetAsDateTime(dia(2024, 3, 5));
  EXPECT_EQ(reportSqlValue(p), QVariant(QStringLiteral("2024-03-05")));
  p.SetAsDateTime(dia(2024, 3, 5) + 0.5625);
  EXPECT_EQ(reportSqlValue(p), QVariant(QStringLiteral("2024-03-05 13:30:00")));
  p.Clear();
  EXPECT_FALSE(reportSqlValue(p).isValid());
}

TEST_F(ReportEngine, EmptyTextIsTheEmptyStringAndUnsetIsNull) {
  ReportTemplate probe = first;
  probe.groups.clear();
  probe.queries[DatabaseKind::Generic] = QStringLiteral(
      "SELECT CASE WHEN :P_VAZIO IS NULL THEN 'nulo' WHEN :P_VAZIO = '' THEN 'vazio' END AS A, "
      "CASE WHEN :P_NADA IS NULL THEN 'nulo' ELSE 'valor' END AS B");
  ReportColumn a, b;
  a.field = QStringLiteral("A");
  b.field = QStringLiteral("B");
  probe.columns = {a, b};
  ReportParams params = reportParamsOf(probe, hostConnectionName());
  params.ParamByName(QStringLiteral("P_VAZIO")).SetAsString(QString());
  const ReportTable table = runReportQuery(probe, params, onHostDatabase());
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.rowTexts(0), QStringList({"vazio", "nulo"}));
}

TEST_F(ReportEngine, ParametersInWordsForTheHeader) {
  EXPECT_EQ(describeParameters(first, firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5))),
            QStringList({"Filiais: Todas", "Data inicial: 01/03/2024", "Data final: 05/03/2024"}));
  EXPECT_EQ(describeParameters(first, firstParams("_0001__0003_", dia(2024, 3, 1), dia(2024, 3, 5))).first(),
            QStringLiteral("Filiais: 0001, 0003"));
}

TEST_F(ReportEngine, CompanyOfTheLoginBranch) {
  EXPECT_EQ(companyNameOf(QStringLiteral("0002"), hostConnectionName()), QStringLiteral("Comercial Demonstração Ltda"));
  EXPECT_EQ(companyNameOf(QStringLiteral("9999"), hostConnectionName()), QString());
}

TEST_F(ReportEngine, QueryFailureNamesTheReport) {
  ReportTemplate broken = first;
  broken.queries[DatabaseKind::Generic] = QStringLiteral("SELECT X FROM TABELA_QUE_NAO_EXISTE");
  try {
    runReportQuery(broken, ReportParams(), onHostDatabase());
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.message().startsWith(QStringLiteral("Erro ao executar a consulta do relatório 'Itens de venda")))
        << e.message().toStdString();
  }
  broken.queries[DatabaseKind::Generic] = QStringLiteral("SELECT CDFILIAL FROM FILIAL");
  try {
    runReportQuery(broken, ReportParams(), onHostDatabase());
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_TRUE(e.message().contains(QStringLiteral("'NMFILIAL'"))) << e.message().toStdString();
  }
}

TEST_F(ReportEngine, PdfHoldsHeaderRowsAndTotals) {
  host->filial = QStringLiteral("0001");
  const ReportDocument doc = buildReportDocument(
      first, firstParams("_0001__0003_", dia(2024, 3, 1), dia(2024, 3, 5)),
      hostContext(host->filial, host->operadorValue, QStringLiteral("QFX31702"), QStringLiteral("Qfx317")));
  EXPECT_EQ(doc.pageCount(), 1);
  const QString pdf = dir.filePath(QStringLiteral("r.pdf"));
  ASSERT_TRUE(doc.exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral("Comercial Demonstração Ltda"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Itens de venda não lançados no estoque")));
  EXPECT_TRUE(text.contains(QStringLiteral("Página 1 de 1")));
  EXPECT_TRUE(text.contains(QStringLiteral("Filiais: 0001, 0003; Data inicial: 01/03/2024; Data final: 05/03/2024")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("Emissão: ") + QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"))));
  EXPECT_TRUE(text.contains(QStringLiteral("Refrigerante lata")));
  EXPECT_TRUE(text.contains(QStringLiteral("Feijão 1kg")));
  EXPECT_FALSE(text.contains(QStringLiteral("Sacola")));
  EXPECT_TRUE(text.contains(QStringLiteral("Total do dia 01/03/2024 na filial 0001 (2 registros)")));
  EXPECT_TRUE(text.contains(QStringLiteral("72,00")));  // 20 + 18 + 14 + 20
  // the page footer: who printed it, from which screen and report
  EXPECT_TRUE(text.contains(QStringLiteral("Operador: OPER"))) << text.toStdString();
  EXPECT_TRUE(text.contains(QStringLiteral("QFX31702")));
  EXPECT_TRUE(text.contains(QStringLiteral("Qfx317")));
  EXPECT_TRUE(text.contains(QStringLiteral("Registros: 4")));
}

TEST_F(ReportEngine, LongReportRepeatsTheHeaderOnEveryPage) {
  addBeanItems(150);
  const ReportDocument doc =
      buildReportDocument(first, firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5)), hostContext());
  ASSERT_EQ(doc.table().rowCount(), 155);
  const int pages = doc.pageCount();
  EXPECT_GE(pages, 3);
  const QString pdf = dir.filePath(QStringLiteral("longo.pdf"));
  ASSERT_TRUE(doc.exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  EXPECT_EQ(text.count(QStringLiteral("Itens de venda não lançados no estoque")), pages);
  EXPECT_EQ(text.count(QStringLiteral("Descrição")), pages);  // column titles on every page
  for (int page = 1; page <= pages; ++page)
    EXPECT_TRUE(text.contains(QStringLiteral("Página %1 de %2").arg(page).arg(pages))) << page;
  // every row once, the header of each of the three days' groups of P2, and
  // on each page that goes on with the long group of 02/03 (all but the
  // first and the last) the headers of both its groups
  const qsizetype continued = text.count(QStringLiteral("Feijão 1kg (continuação)"));
  EXPECT_EQ(continued, pages - 2);
  EXPECT_EQ(text.count(QStringLiteral("Dia 02/03/2024 (continuação)")), continued);
  EXPECT_EQ(text.count(QStringLiteral("Feijão 1kg")), 152 + 3 + continued);
  EXPECT_EQ(text.count(QStringLiteral("Registros: 155")), 1);
  // portrait pages hold more rows than landscape ones
  QPageLayout portrait = doc.pageLayout();
  portrait.setOrientation(QPageLayout::Portrait);
  EXPECT_LT(doc.pageCount(portrait), pages);
}

// A day of many stock products: pages break on a product's header as well
// as inside one, and every page says which branch and day it goes on with.
TEST_F(ReportEngine, EveryPageStartingInsideADaySaysWhichDay) {
  QStringList inserts;
  for (int i = 0; i < 120; ++i)
    inserts << QStringLiteral(
                   "INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO, IDCTRLESTQ) VALUES ('Q%1', 'Produto %1', 'S')")
                   .arg(i, 3, 10, QChar(u'0'))
            << QStringLiteral(
                   "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND) "
                   "VALUES ('0002', 'V1', 'Q%1', 'Q%1', 1, 1)")
                   .arg(i, 3, 10, QChar(u'0'));
  execAll(inserts);
  const ReportDocument doc = buildReportDocument(
      first, firstParams(QStringLiteral("_0002_"), dia(2024, 3, 2), dia(2024, 3, 2)), hostContext());
  const QString pdf = dir.filePath(QStringLiteral("produtos.pdf"));
  ASSERT_TRUE(doc.exportPdf(pdf).ok());
  const QStringList pages = pdfText(pdf).split(u'\f', Qt::SkipEmptyParts);
  ASSERT_GE(pages.size(), 4);
  int onAProductsHeader = 0;
  for (int page = 1; page < pages.size(); ++page) {
    EXPECT_TRUE(pages[page].contains(QStringLiteral("Dia 02/03/2024 (continuação)"))) << "page " << page + 1;
    // the first group line below the column titles
    const QString afterDay = pages[page].section(QStringLiteral("Dia 02/03/2024 (continuação)"), 1);
    const QString firstGroup = afterDay.trimmed().section(u'\n', 0, 0).trimmed();
    onAProductsHeader += firstGroup.startsWith(QStringLiteral("Produto de estoque")) &&
                         !firstGroup.endsWith(QStringLiteral("(continuação)"));
  }
  EXPECT_GT(onAProductsHeader, 0) << "some page opens on a product's own header";
}

namespace {

// A page as the preview paints it, but for the page footer (the count of
// pages is not known while the document is filled).
QImage pageAboveFooter(const ReportDocument& doc, int page) {
  const QSizeF size = doc.pageLayout().paintRect(QPageLayout::Point).size();
  QImage image(size.toSize(), QImage::Format_RGB32);
  image.fill(Qt::white);
  {
    QPainter painter(&image);
    doc.paintPage(painter, page, size);
  }
  return image.copy(0, 0, image.width(), image.height() - 20);
}

// Holds the filling at its first count of rows read until let go.
class FillPause {
 public:
  bool hold() {
    std::unique_lock lock(mutex_);
    paused_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return released_; });
    return true;
  }
  // Held, or the reader gave up before.
  void waitUntilHeld() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return paused_; });
  }
  void readerEnded() {
    {
      const std::lock_guard lock(mutex_);
      paused_ = true;
    }
    changed_.notify_all();
  }
  void release() {
    {
      const std::lock_guard lock(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool paused_ = false;
  bool released_ = false;
};

}  // namespace

TEST_F(ReportEngine, DocumentShowsItsFirstPagesWhileTheRestIsRead) {
  addManyBeanItems(6000);
  const ReportParams params = firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5));
  const ReportDocument whole = buildReportDocument(first, params, hostContext());
  const int pages = whole.pageCount();
  const ReportDocument filling = ReportDocument::beingFilled(first, whole.header(), columnMasks(first));
  FillPause pause;
  const QString source = hostDatabase().connectionName();
  std::thread reader([&] {
    const QString connection = QStringLiteral("relatorio_em_partes");
    {
      QSqlDatabase db = QSqlDatabase::cloneDatabase(source, connection);
      EXPECT_TRUE(db.open() && registerSqliteFunctions(db));
      QueryOptions options;
      options.connection = connection;
      options.onRowsRead = [&pause](qint64) { return pause.hold(); };
      fillReportDocument(filling, first, params, options);
    }
    QSqlDatabase::removeDatabase(connection);
    pause.readerEnded();
  });
  pause.waitUntilHeld();  // 4 096 rows in, about 2 000 to come

  EXPECT_FALSE(filling.isComplete());
  const int ready = filling.pagesReady();
  EXPECT_GT(ready, 1);
  EXPECT_LT(ready, pages);
  EXPECT_EQ(pageAboveFooter(filling, ready - 1), pageAboveFooter(whole, ready - 1));
  {
    TReportPreview preview(filling);
    preview.show();
    auto* box = preview.findChild<QSpinBox*>(QStringLiteral("edtPagina"));
    QAction* print = preview.findChild<QAction*>(QStringLiteral("actImprimir"));
    ASSERT_TRUE(box && print);
    EXPECT_EQ(preview.pageCount(), ready);
    EXPECT_EQ(box->text(), QStringLiteral("Página 1 de …"));
    EXPECT_FALSE(print->isEnabled()) << "printed whole only";

    pause.release();
    reader.join();
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview.pageCount() == pages; }));
    EXPECT_EQ(box->text(), QStringLiteral("Página 1 de %1").arg(pages));
    EXPECT_TRUE(print->isEnabled());
  }
  EXPECT_EQ(filling.fillError(), std::nullopt);
  EXPECT_EQ(filling.table().texts(), whole.table().texts());
  EXPECT_EQ(outline(filling.table()), outline(whole.table()));
  EXPECT_EQ(pageAboveFooter(filling, pages - 1), pageAboveFooter(whole, pages - 1));
}

TEST_F(ReportEngine, PreviewPagesThroughTheDocumentFromTheKeyboard) {
  addBeanItems(150);
  const ReportDocument doc =
      buildReportDocument(first, firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5)), hostContext());
  const int pages = doc.pageCount();
  ASSERT_GE(pages, 3);
  QStringList seen;
  bool painted = false;
  onNextModal([&](QWidget* dialog) {
    auto* preview = qobject_cast<TReportPreview*>(dialog);
    auto* box = dialog->findChild<QSpinBox*>(QStringLiteral("edtPagina"));
    if (!preview || !box) return qobject_cast<QDialog*>(dialog)->reject();
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
    // page 1 in view, with its text: the only dark pixels over the grey
    if (auto* pages = dialog->findChild<QAbstractScrollArea*>(QStringLiteral("pnlPaginas"))) {
      const QImage shown = pages->viewport()->grab().toImage();
      painted = std::any_of(shown.constBits(), shown.constBits() + shown.sizeInBytes(), [](uchar c) { return c < 64; });
    }
    const auto press = [&](Qt::Key key) {
      QTest::keyClick(dialog, key);
      seen << box->text() + QStringLiteral(" @%1").arg(preview->currentPage());
    };
    seen << box->text();
    press(Qt::Key_PageDown);
    press(Qt::Key_End);
    press(Qt::Key_PageUp);
    press(Qt::Key_Home);
    QTest::keyClick(dialog, Qt::Key_Escape);
  });
  host->HostServices::previewReport(doc, nullptr);
  EXPECT_TRUE(painted);
  const QString of = QStringLiteral(" de %1").arg(pages);
  EXPECT_EQ(seen, QStringList({"Página 1" + of, "Página 2" + of + " @1",
                               "Página " + QString::number(pages) + of + QStringLiteral(" @%1").arg(pages - 1),
                               "Página " + QString::number(pages - 1) + of + QStringLiteral(" @%1").arg(pages - 2),
                               "Página 1" + of + " @0"}));
}

TEST_F(ReportEngine, EmptyResultSaysSo) {
  const ReportDocument doc =
      buildReportDocument(first, firstParams({}, dia(2023, 1, 1), dia(2023, 1, 2)), hostContext());
  EXPECT_EQ(doc.pageCount(), 1);
  const QString pdf = dir.filePath(QStringLiteral("vazio.pdf"));
  ASSERT_TRUE(doc.exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral("Nenhum registro encontrado.")));
  EXPECT_TRUE(text.contains(QStringLiteral("Registros: 0")));
}

TEST_F(ReportEngine, PdfThatCannotBeWrittenIsAnError) {
  const ReportDocument doc =
      buildReportDocument(first, firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5)), hostContext());
  const auto written = doc.exportPdf(dir.filePath(QStringLiteral("pasta-que-nao-existe/r.pdf")));
  ASSERT_FALSE(written.ok());
  EXPECT_TRUE(written.error().startsWith(QStringLiteral("Não foi possível gravar o arquivo PDF")));
}

TEST_F(ReportEngine, HostPreviewShowsThePagesAndExportsThemToPdf) {
  const ReportDocument doc =
      buildReportDocument(first, firstParams({}, dia(2024, 3, 1), dia(2024, 3, 5)), hostContext());
  const QString pdf = dir.filePath(QStringLiteral("exportado.pdf"));
  int pages = -1;
  onNextModal([&](QWidget* preview) {
    auto* widget = qobject_cast<TReportPreview*>(preview);
    pages = widget ? widget->pageCount() : -1;
    QAction* export_ = preview->findChild<QAction*>(QStringLiteral("actExportarPdf"));
    if (!export_) {
      ADD_FAILURE() << "no PDF export in the preview";
    } else {
      onNextModal([&pdf](QWidget* files) {
        auto* chooser = qobject_cast<QFileDialog*>(files);
        if (!chooser) return qobject_cast<QDialog*>(files)->reject();
        chooser->selectFile(pdf);
        static_cast<QDialog*>(chooser)->accept();
      });
      export_->trigger();
    }
    qobject_cast<QDialog*>(preview)->reject();
  });
  host->HostServices::previewReport(doc, nullptr);  // the host's own dialog, not the recording
  EXPECT_EQ(pages, doc.pageCount());
  EXPECT_TRUE(host->previews.isEmpty());
  EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Registros: 5")));
}

}  // namespace
