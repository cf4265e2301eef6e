// The report data dialog, the base of the report screens: its list of
// definitions, the parameter hook and the screen's own checks, closing.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "modaldriver.h"
#include "reportfixture.h"
#include <reportkit/widgets/frmdadosgerrel.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;

namespace {

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class ReportDialog : public TfrmDadosGerRel {
 public:
  ReportDialog() : TfrmDadosGerRel(nullptr, "frmRelTeste") {
    lblCodTela->setText("QFX31702");
    lblCodRel->setText("Qfx317");
    createForm();
  }
  bool refuse = false;

 protected:
  void sbtPrintClick() override {
    if (refuse) MensErro("Filial deve ser informada.", true);
    TfrmDadosGerRel::sbtPrintClick();
  }
};

void writeDefinition(const QString& path, const char* title, const char* query) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QStringLiteral(R"({"title": "%1", "queries": {"generic": "%2"},
                            "columns": [{"field": "CDFILIAL", "title": "Filial"}]})")
              .arg(QString::fromUtf8(title), QString::fromUtf8(query))
              .toUtf8());
}

class ReportScreen : public ::testing::Test {
 protected:
  std::shared_ptr<ReportHost> host = ReportHost::install();
  void SetUp() override {
    ASSERT_TRUE(QDir(folder.path()).mkpath("Qfx317"));
    writeDefinition(folder.filePath("Qfx317/01-vendas.json"), "Vendas",
                    "SELECT CDFILIAL FROM VENDA WHERE CDFILIAL = :P_CDFILIAL AND DTVENDA >= :P_DATAINI");
    writeDefinition(folder.filePath("Qfx317/02-produtos.json"), "Produtos",
                    "SELECT CDFILIAL FROM PRODUTO WHERE CDLOJA = :P_CDLOJA");
    host->reports = folder.path();
  }
  QTemporaryDir folder;
};

TEST_F(ReportScreen, ListsTheDefinitionsOfItsReportCodeByTitle) {
  ReportDialog dialog;
  ASSERT_EQ(dialog.cbbReportNames->count(), 2);
  EXPECT_EQ(dialog.cbbReportNames->itemText(0), "Vendas");
  EXPECT_EQ(dialog.cbbReportNames->itemText(1), "Produtos");
  EXPECT_EQ(dialog.cbbReportNames->currentIndex(), 0);
  for (const char* name : {"grbDadosRel", "cbbReportNames", "sbtPreview", "sbtPrint", "sbtSalvarComo", "sbtReportEdit",
                           "lblCodTela", "lblCodRel"})
    EXPECT_NE(dialog.findChild<QWidget*>(name), nullptr) << name;
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST_F(ReportScreen, HookSeesTheQueryParametersOnlyWhileTheyArePrepared) {
  ReportDialog dialog;
  QStringList seen;
  dialog.BeforeGetQueryParams = [&](ReportParams& params, bool& proceed) {
    for (const char* name : {"P_CDFILIAL", "P_DATAINI", "P_CDLOJA"})
      if (dialog.ExistParam(name)) seen << name;
    params.ParamByName("P_CDFILIAL").SetAsString("_0001_");
    proceed = false;  // the screen's own checks refused: no report runs
  };
  QSignalSpy requested(&dialog, &TfrmDadosGerRel::reportRequested);
  QTest::mouseClick(dialog.sbtPreview, Qt::LeftButton);

  EXPECT_EQ(seen, QStringList({"P_CDFILIAL", "P_DATAINI"}));
  EXPECT_FALSE(dialog.ExistParam("P_CDFILIAL"));
  EXPECT_EQ(requested.count(), 0);
  EXPECT_FALSE(dialog.lastRun().has_value());
  EXPECT_TRUE(host->messages.isEmpty());

  seen.clear();
  dialog.cbbReportNames->setCurrentIndex(1);
  QTest::mouseClick(dialog.sbtSalvarComo, Qt::LeftButton);
  EXPECT_EQ(seen, QStringList({"P_CDLOJA"}));
}

TEST_F(ReportScreen, FailedCheckOfTheScreenStopsBeforeTheParameters) {
  ReportDialog dialog;
  int hookCalls = 0;
  dialog.BeforeGetQueryParams = [&](ReportParams&, bool& proceed) {
    ++hookCalls;
    proceed = false;
  };
  dialog.refuse = true;
  QTest::mouseClick(dialog.sbtPrint, Qt::LeftButton);
  EXPECT_EQ(hookCalls, 0);
  EXPECT_EQ(host->messageTexts(), QStringList({"Filial deve ser informada."}));

  dialog.refuse = false;
  QTest::mouseClick(dialog.sbtPrint, Qt::LeftButton);
  EXPECT_EQ(hookCalls, 1);
}

TEST_F(ReportScreen, ClosingReleasesTheDialog) {
  QPointer<ReportDialog> dialog = new ReportDialog;
  onNextModal([&](QWidget* shown) {
    EXPECT_EQ(shown, dialog.data());
    QTest::mouseClick(dialog->sbtFechar, Qt::LeftButton);
  });
  dialog->ShowModal();
  flushDeletes();
  EXPECT_TRUE(dialog.isNull());
}

}  // namespace
