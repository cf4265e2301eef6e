// The module as the host sees it: the real library loaded with QLibrary, its
// plain entries, and how each screen is created, shown, kept and released.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLibrary>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <QTest>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextTable>
#include <QTimer>
#include <QToolButton>
#include "modaldriver.h"
#include "testhelpers.h"
#include "testsql.h"
#include <hostkit/core/query.h>
#include <hostkit/widgets/helpviewer.h>

#include "demo/demo_tour.h"
#include "module_fixture.h"
#include <qfx31700/consolidation/frmgeranf.h>
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/module/package.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/report/frmrelprodevol.h>

using namespace qfx;

namespace {

// The module's entries. The screens are driven through the module's code the
// test links, whose state the test can see; the library the host loads
// exports these four alone (ModuleLibrary below).
struct Entries {
  void (*iniProc)() = &IniProc;
  void (*initialize)() = &Initialize;
  void (*finalize)() = &Finalize;
};

void closeEverything() {
  if (frmGeraNF) frmGeraNF->Close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Opens the screen through the entry and waits until it is the active window,
// which runs its activation.
TfrmGeraNF* openScreen(void (*iniProc)()) {
  iniProc();
  if (!frmGeraNF) return nullptr;
  QWidget* window = frmGeraNF->frameWindow();
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
  QApplication::processEvents();
  return frmGeraNF;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override { entries.initialize(); }
  void TearDown() override {
    closeEverything();
    entries.finalize();
  }
  qfxtest::ModuleFixture fixture;
  Entries entries;
};

// The library as the host binds it: the four entries by name, and nothing
// else of the module.
TEST(ModuleLibrary, ExportsItsEntriesAloneAndDescribesItsUnitsAndRequirements) {
  QLibrary library{qfxtest::binPath(QStringLiteral("libqfx31700.so"))};
  ASSERT_TRUE(library.load()) << library.errorString().toStdString();
  for (const char* entry : {"IniProc", "Initialize", "Finalize"}) EXPECT_TRUE(library.resolve(entry)) << entry;
  EXPECT_FALSE(library.resolve("_ZN3qfx10CriaGeraNFEv")) << "the screens' creators stay inside";
  const auto table = reinterpret_cast<const QfxPackageInfoTable* (*)()>(library.resolve("GetPackageInfoTable"));
  ASSERT_TRUE(table);
  const QfxPackageInfoTable* t = table();
  ASSERT_EQ(t->unitCount, 3);
  EXPECT_STREQ(t->units[0].name, "Cli_qfx31701");
  EXPECT_STREQ(t->units[2].name, "Cli_qfx31700");
  ASSERT_EQ(t->requiresCount, 8);
  EXPECT_STREQ(t->requiredPackages[0], "_zlk");
  EXPECT_STREQ(t->requiredPackages[7], "_vcl");
}

TEST_F(Lifecycle, IniProcTwiceShowsOneScreenAndRestoresAMinimizedOne) {
  TfrmGeraNF* first = openScreen(entries.iniProc);
  ASSERT_TRUE(first);
  EXPECT_TRUE(boIdCriado);
  EXPECT_EQ(first->windowTitle(), "Consolidação de Vendas");
  EXPECT_EQ(first->lblCodTela->text(), "Qfx31700");
  EXPECT_EQ(first->HelpContext, 13031700);
  EXPECT_FALSE(boPrimVez) << "the first activation ran; messages: "
                          << fixture.host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(first->medCdLoja->text(), "01") << "default store from the sales parameters";

  first->frameWindow()->showMinimized();
  QApplication::processEvents();
  EXPECT_TRUE(first->IsMinimized());
  entries.iniProc();
  EXPECT_EQ(frmGeraNF.data(), first);
  EXPECT_FALSE(first->IsMinimized());
  int screens = 0;
  for (QWidget* w : QApplication::topLevelWidgets())
    screens += w->findChildren<TfrmGeraNF*>().size() + (qobject_cast<TfrmGeraNF*>(w) ? 1 : 0);
  EXPECT_EQ(screens, 1);
}

TEST_F(Lifecycle, ClosingAndReopeningCreatesANewScreenWithTheDefaultsAgain) {
  TfrmGeraNF* first = openScreen(entries.iniProc);
  ASSERT_TRUE(first);
  Filtro.dtInicial = 100;
  Filtro.boTodosCaixa = false;
  Filtro.stCaixa = "_0001001_";
  ASSERT_TRUE(first->Close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(boIdCriado);
  EXPECT_FALSE(frmGeraNF);

  ASSERT_TRUE(openScreen(entries.iniProc));
  EXPECT_TRUE(boIdCriado);
  EXPECT_EQ(Filtro.dtInicial, hostkit::Date()) << "first activation ran again";
  EXPECT_TRUE(Filtro.boTodosCaixa);
  EXPECT_EQ(Filtro.stCaixa, "_0001001_") << "lists the defaults do not touch keep their values";
}

TEST_F(Lifecycle, FilterDialogIsOneInstanceHiddenOnCloseAndReportIsNewEachTime) {
  entries.iniProc();
  hostkit::closeNextModal();
  CriaFiltroGeraNF();
  TfrmFiltroGeraNF* dialog = frmFiltroGeraNF;
  ASSERT_TRUE(dialog);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->windowTitle(), "Filtro Consolidação de Vendas");
  EXPECT_EQ(dialog->lblCodTela->text(), "Qfx31701");
  hostkit::closeNextModal();
  CriaFiltroGeraNF();
  EXPECT_EQ(frmFiltroGeraNF.data(), dialog);

  hostkit::closeNextModal();
  CriaRelProdEvol();
  QPointer<TfrmRelProdEvol> firstReport = frmRelProdEvol;
  ASSERT_TRUE(firstReport);
  EXPECT_EQ(firstReport->windowTitle(), "Produtos não Evoluídos em Estoque");
  EXPECT_EQ(firstReport->lblCodRel->text(), "Qfx317");
  hostkit::closeNextModal();
  CriaRelProdEvol();
  EXPECT_NE(frmRelProdEvol.data(), firstReport.data());
}

TEST_F(Lifecycle, FinalizeThenInitializeStartsFromZero) {
  entries.iniProc();
  closeEverything();
  Filtro.stCaixa = "_X_";
  Filtro.boTodosCaixa = true;
  boIdCriado = true;  // as if a screen were still registered
  entries.finalize();
  entries.initialize();
  EXPECT_FALSE(boIdCriado);
  EXPECT_EQ(Filtro, TFiltro());
  EXPECT_FALSE(frmFiltroGeraNF);
  // initializing twice and finalizing once keeps the units initialized
  entries.initialize();
  entries.finalize();
  Filtro.stVendas = "_V_";
  EXPECT_EQ(Filtro.stVendas, "_V_");
}

TEST_F(Lifecycle, FirstActivationWithAnUnknownBranchRunsAgainNextTime) {
  fixture.host->filial = QStringLiteral("9999");
  ASSERT_TRUE(openScreen(entries.iniProc));
  EXPECT_TRUE(boPrimVez) << "a failed branch check keeps the first activation pending";
  EXPECT_EQ(fixture.host->messageTexts(), QStringList{"Filial não cadastrada."});
  EXPECT_EQ(frmGeraNF->medFilial->text(), "9999");

  // the branch becomes known: the next activation completes the first one
  ASSERT_TRUE(
      hostkit::writeSqliteFile(fixture.databasePath(), {"INSERT INTO FILIAL VALUES ('9999','Nova','01','','1','')"})
          .ok());
  frmGeraNF->frameWindow()->hide();
  ASSERT_TRUE(openScreen(entries.iniProc));
  EXPECT_FALSE(boPrimVez);
  EXPECT_EQ(frmGeraNF->edtFilial->text(), "Nova");
}

// F1 on each screen opens the one help viewer at that screen's page of the
// manual the build generated; a manual that is missing or unreadable is
// reported with the place it was looked for, and help keeps working.
TEST_F(Lifecycle, HelpOfEachScreenOpensTheManualAtItsPage) {
  using hostkit::HelpViewer;
  QStandardPaths::setTestModeEnabled(true);  // the viewer's working copy goes to a throwaway cache
  fixture.host->openHelpViewer = true;
  TfrmGeraNF* screen = openScreen(entries.iniProc);
  ASSERT_TRUE(screen);

  QTest::keyClick(screen, Qt::Key_F1);
  QPointer<HelpViewer> viewer = HelpViewer::current();
  ASSERT_TRUE(viewer) << fixture.host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(viewer->objectName(), "frmAjuda");
  EXPECT_TRUE(viewer->isVisible());
  EXPECT_EQ(viewer->currentUrl().scheme(), "qthelp");
  EXPECT_EQ(viewer->currentTitle(), screen->windowTitle());

  struct Seen {
    QString screenTitle, pageTitle;
    QUrl page, afterHome;
    HelpViewer* viewer = nullptr;
  };
  // F1 in a modal dialog; the viewer must take clicks while the dialog is open
  auto helpInNextDialog = [](Seen& seen) {
    hostkit::onNextModal([&seen](QWidget* dialog) {
      EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
      QTest::keyClick(dialog, Qt::Key_F1);
      seen.screenTitle = dialog->windowTitle();
      if ((seen.viewer = HelpViewer::current())) {
        seen.pageTitle = seen.viewer->currentTitle();
        seen.page = seen.viewer->currentUrl();
        // through the window system, where a window blocked by a modal one gets no clicks
        QToolButton* home = seen.viewer->btnInicio;
        QTest::mouseClick(seen.viewer->windowHandle(), Qt::LeftButton, {},
                          home->mapTo(seen.viewer, home->rect().center()));
        seen.afterHome = seen.viewer->currentUrl();
      }
      dialog->close();
    });
  };
  Seen filter, report;
  helpInNextDialog(filter);
  CriaFiltroGeraNF();
  helpInNextDialog(report);
  CriaRelProdEvol();
  for (const Seen* seen : {&filter, &report}) {
    EXPECT_EQ(seen->viewer, viewer.data()) << "one viewer, reused";
    EXPECT_EQ(seen->pageTitle, seen->screenTitle);
    EXPECT_NE(seen->afterHome, seen->page) << "the viewer is blocked by the modal dialog";
  }
  EXPECT_NE(filter.page, report.page);
  EXPECT_EQ(fixture.host->helpContexts, (QList<int>{13031700, 13031701, 13031702}));
  EXPECT_TRUE(fixture.host->messages.isEmpty()) << fixture.host->messageTexts().join(" / ").toStdString();

  // a missing and a damaged manual: each named in an error, the open viewer untouched
  QTemporaryDir dir;
  const QString damaged = dir.filePath("danificado.qhc");
  QFile file(damaged);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("isto não é uma coleção de ajuda");
  file.close();
  const QUrl shown = viewer->currentUrl();
  for (const QString& manual : {dir.filePath("sem-manual.qhc"), damaged}) {
    fixture.host->clearRecords();
    fixture.host->help = manual;
    QTest::mouseClick(screen->sbtAjuda, Qt::LeftButton);
    ASSERT_EQ(fixture.host->messages.size(), 1);
    EXPECT_EQ(fixture.host->messages[0].kind, hostkit::ShownMessage::Error);
    EXPECT_TRUE(fixture.host->messages[0].text.contains(manual)) << fixture.host->messages[0].text.toStdString();
    EXPECT_EQ(HelpViewer::current(), viewer.data());
    EXPECT_EQ(viewer->currentUrl(), shown);
  }

  // the screen's help still works with the manual back in place
  fixture.host->clearRecords();
  fixture.host->help.clear();
  QTest::mouseClick(screen->sbtAjuda, Qt::LeftButton);
  EXPECT_TRUE(fixture.host->messages.isEmpty());
  EXPECT_EQ(viewer->currentTitle(), screen->windowTitle());

  // the demo's tour is a page the build writes from the tour's table: one row per stop
  viewer->showPage(viewer->homePage().resolved(QUrl(QStringLiteral("roteiro.html"))));
  QTextTable* stops = nullptr;
  for (auto it = viewer->txtPagina->document()->rootFrame()->begin(); !stops && !it.atEnd(); ++it)
    stops = qobject_cast<QTextTable*>(it.currentFrame());
  ASSERT_TRUE(stops) << viewer->currentUrl().toString().toStdString();
  EXPECT_EQ(stops->rows(), int(qfx::server::demo::tour(QDate::currentDate()).size()) + 1);

  // a link of the manual, clicked, opens its page at its place
  const QUrl tourPage = viewer->currentUrl();
  QTextCursor link = stops->cellAt(1, 1).firstCursorPosition();
  link.movePosition(QTextCursor::NextCharacter);
  ASSERT_TRUE(link.charFormat().isAnchor());
  const QUrl target = tourPage.resolved(QUrl(link.charFormat().anchorHref()));
  const QPoint onLink = viewer->txtPagina->cursorRect(link).center();
  QTest::mouseClick(viewer->txtPagina->viewport(), Qt::LeftButton, {}, onLink);
  EXPECT_EQ(viewer->currentUrl().toString().toStdString(), target.toString().toStdString());
  EXPECT_NE(viewer->currentUrl().adjusted(QUrl::RemoveFragment), tourPage);

  viewer->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(HelpViewer::current());
  QStandardPaths::setTestModeEnabled(false);
}

}  // namespace
