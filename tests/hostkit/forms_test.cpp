// Base screens: control names, lifecycle hooks at the right moments, the
// filter dialog's saved options, and the report dialog's list and parameters.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <chrono>
#include <thread>

#include "fixtures.h"
#include "modaldriver.h"
#include <hostkit/core/messages.h>
#include <hostkit/core/netconnection.h>
#include <hostkit/widgets/frmfiltropadrao.h>
#include <hostkit/widgets/frmpadraogrid.h>
#include <hostkit/widgets/operations.h>
#include <hostkit/widgets/optionsets.h>

using namespace hostkit;

namespace {

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

class GridScreen : public TfrmPadraoGrid {
 public:
  explicit GridScreen(const QString& name = "frmTeste") : TfrmPadraoGrid(nullptr, name) {
    SetCaption("Tela de Teste");
    lblCodTela->setText("Tst00001");
    createForm();
  }
  QStringList events;
  std::function<void()> onActivate;
  std::function<void()> onVerify;

 protected:
  void FormCreate() override {
    TfrmPadraoGrid::FormCreate();
    events << "create";
  }
  void FormActivate() override {
    TfrmPadraoGrid::FormActivate();
    events << "activate";
    if (onActivate) onActivate();
  }
  void FormClose(CloseAction& action) override {
    TfrmPadraoGrid::FormClose(action);
    events << "close";
  }
  void sbtVerificarClick() override {
    TfrmPadraoGrid::sbtVerificarClick();
    events << "verificar";
    if (onVerify) onVerify();
  }
};

// ---- grid screen ------------------------------------------------------------------

class GridScreenTest : public ScriptedHostTest {};

TEST_F(GridScreenTest, EveryBaseControlCarriesItsName) {
  GridScreen screen;
  for (const char* name : {"panMenu", "sbtAjuda", "sbtImprimir", "sbtFechar", "sbtProcurar", "sbtVerificar",
                           "pgcPadrao", "tshPadrao", "dbgPadrao", "mnuManutencao", "lblCodTela"})
    EXPECT_NE(screen.findChild<QWidget*>(name), nullptr) << name;
  for (const char* name : {"mnuIncluir", "mnuAlterar", "mnuExcluir", "mnuCancelar", "mnuConfirmar"})
    EXPECT_NE(screen.findChild<QAction*>(name), nullptr) << name;
  EXPECT_EQ(screen.findChild<TMessages*>("msgPadrao"), screen.messages());
  EXPECT_EQ(screen.findChild<TMessages*>("msgMensagensPadroes"), screen.standardMessages());
  EXPECT_EQ(screen.sbtProcurar->toolTip(), "Procurar");
  EXPECT_EQ(screen.sbtFechar->toolTip(), "Fechar");
  EXPECT_TRUE(screen.dbgPadrao->verticalHeader()->isHidden());
  EXPECT_EQ(screen.events, QStringList({"create"}));
}

TEST_F(GridScreenTest, ToolbarButtonsRunTheScreenHandlers) {
  GridScreen screen;
  TDataSet sales(&screen, "cdsPrincipal");
  fillTextDataSet(sales, {{"CDCAIXA", "Caixa"}}, {{"001"}, {"002"}});
  TDataSource source(&screen, "dtsVenda");
  source.SetDataSet(&sales);
  screen.SetGridDataSource(&source);
  EXPECT_EQ(screen.dbgPadrao->model()->rowCount(), 2);

  QTest::mouseClick(screen.sbtVerificar, Qt::LeftButton);
  EXPECT_EQ(screen.events.last(), "verificar");
  QTest::mouseClick(screen.sbtProcurar, Qt::LeftButton);
  ASSERT_EQ(host->procuraCalls.size(), 1);
  EXPECT_EQ(host->procuraCalls[0].dataset, "cdsPrincipal");

  screen.HelpContext = 13031700;
  QTest::mouseClick(screen.sbtAjuda, Qt::LeftButton);
  EXPECT_EQ(host->helpContexts, QList<int>{13031700});
}

TEST_F(GridScreenTest, TopLevelScreenActivatesOnShowAndOnReturnFromAnotherWindowOnly) {
  QPointer<GridScreen> screen = new GridScreen;
  screen->Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(screen));
  EXPECT_EQ(screen->events, QStringList({"create", "activate"}));

  onNextModal([](QWidget* box) { clickButton(box, "OK"); });
  QMessageBox::information(screen, "Aviso", "Mensagem da própria tela");
  ASSERT_TRUE(reactivate(*screen));
  EXPECT_EQ(screen->events.count("activate"), 1);

  QWidget other;
  ASSERT_TRUE(showActive(other));
  ASSERT_TRUE(reactivate(*screen));
  EXPECT_EQ(screen->events.count("activate"), 2);

  QTest::mouseClick(screen->sbtFechar, Qt::LeftButton);
  EXPECT_EQ(screen->events.last(), "close");
  flushDeletes();
  EXPECT_TRUE(screen.isNull());  // the base close action ends the instance
}

TEST_F(GridScreenTest, HiddenScreenShownAgainIsActivatedAgain) {
  GridScreen screen;
  screen.Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&screen));
  EXPECT_EQ(screen.events.count("activate"), 1);
  screen.hide();
  screen.Show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&screen));
  QCoreApplication::processEvents();
  EXPECT_EQ(screen.events.count("activate"), 2);
}

TEST_F(GridScreenTest, FirstActivationThatShowsAMessageDoesNotRunAgainByItself) {
  GridScreen screen;
  int messages = 0;
  screen.onActivate = [&] {
    if (++messages > 3) return;  // a loop would keep showing it
    onNextModal([](QWidget* box) { clickButton(box, "OK"); });
    QMessageBox::critical(&screen, "Erro", "Filial não cadastrada.");
  };
  screen.Show();
  ASSERT_TRUE(QTest::qWaitFor([&] { return messages > 0; }));
  ASSERT_TRUE(reactivate(screen));  // back from its own message box
  QCoreApplication::processEvents();
  EXPECT_EQ(messages, 1);
}

TEST_F(GridScreenTest, MdiChildActivatesWhenItBecomesTheActiveChild) {
  QMainWindow main;
  auto* area = new QMdiArea(&main);
  main.setCentralWidget(area);
  main.resize(800, 600);
  ASSERT_TRUE(showActive(main));
  host->mdi = area;

  auto* first = new GridScreen("frmPrimeira");
  auto* second = new GridScreen("frmSegunda");
  first->Show();
  ASSERT_NE(first->mdiSubWindow(), nullptr);
  EXPECT_EQ(area->activeSubWindow(), first->mdiSubWindow());
  EXPECT_EQ(first->mdiSubWindow()->windowTitle(), "Tela de Teste");
  second->Show();
  EXPECT_EQ(area->subWindowList().size(), 2);
  EXPECT_EQ(first->events.count("activate"), 1);
  EXPECT_EQ(second->events.count("activate"), 1);

  first->BringToFront();
  EXPECT_EQ(first->events.count("activate"), 2);
  onNextModal([](QWidget* box) { clickButton(box, "OK"); });
  QMessageBox::information(&main, "Aviso", "Mensagem");
  ASSERT_TRUE(reactivate(main));
  EXPECT_EQ(first->events.count("activate"), 2);

  first->mdiSubWindow()->showMinimized();
  EXPECT_TRUE(first->IsMinimized());
  first->SetWindowStateNormal();
  EXPECT_FALSE(first->IsMinimized());

  QPointer<GridScreen> closed = first;
  EXPECT_TRUE(first->Close());
  flushDeletes();
  EXPECT_TRUE(closed.isNull());
  EXPECT_EQ(area->subWindowList().size(), 1);
}

// A screen's handler is under way: the screen, its MDI frame and the host's
// window are not closed under it, a second command does nothing, the screen
// shows it works; a dialog the handler opened closes as usual, unless a
// server call waits. Once the handler ends, the held-back closes are made.
TEST_F(GridScreenTest, ClosingWhileAHandlerRunsWaitsForItsEnd) {
  QMainWindow main;
  auto* area = new QMdiArea(&main);
  main.setCentralWidget(area);
  ASSERT_TRUE(showActive(main));
  host->mdi = area;
  QPointer<GridScreen> screen = new GridScreen;
  screen->Show();

  screen->onVerify = [&] {
    EXPECT_FALSE(screen->panMenu->isEnabled());
    EXPECT_EQ(screen->cursor().shape(), Qt::WaitCursor);
    screen->mnuVerificar->trigger();  // F5 again
    {
      CallScope waiting;
      EXPECT_FALSE(main.close());
    }
    QDialog question(screen);
    onNextModal([&](QWidget*) {  // from the question's own loop
      EXPECT_FALSE(screen->Close());
      EXPECT_FALSE(main.close());
      EXPECT_TRUE(question.close());
    });
    question.exec();
  };
  screen->sbtVerificar->click();
  ASSERT_TRUE(screen);
  EXPECT_EQ(screen->events.count("verificar"), 1);
  EXPECT_EQ(screen->events.count("close"), 0);
  EXPECT_TRUE(screen->panMenu->isEnabled());
  EXPECT_NE(screen->cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(main.isVisible());

  QTest::qWait(0);
  flushDeletes();
  EXPECT_TRUE(screen.isNull());
  EXPECT_FALSE(main.isVisible());
  EXPECT_EQ(heldBackCloses(), 0);
}

// The screen's own × (its subwindow's title bar, drawn by the program) is
// clicked while a call waits: the click is input, which the wait discards,
// but the close it asks for is held back and made once the call is over.
TEST_F(GridScreenTest, ItsOwnCloseButtonClickedDuringACallClosesItAfterwards) {
  QMainWindow main;
  auto* area = new QMdiArea(&main);
  main.setCentralWidget(area);
  ASSERT_TRUE(showActive(main));
  host->mdi = area;
  QPointer<GridScreen> screen = new GridScreen;
  screen->Show();
  QPointer<QMdiSubWindow> sub = qobject_cast<QMdiSubWindow*>(screen->frameWindow());
  ASSERT_TRUE(sub);
  QPoint closeButton;
  for (int x = sub->width() - 1; x > 0 && closeButton.isNull(); --x)
    for (int y = 1; y < 40 && closeButton.isNull(); ++y)
      if (onSubWindowCloseButton(*sub, {x, y})) closeButton = {x - 3, y + 3};
  ASSERT_FALSE(closeButton.isNull());

  bool heldDuringTheCall = false;
  QString tip;
  QTimer::singleShot(100, [&] {
    // through the main window, as a window system delivers it
    const QPoint inMain = sub->mapTo(&main, closeButton);
    QTest::mousePress(main.windowHandle(), Qt::LeftButton, {}, inMain);
    QTest::mouseRelease(main.windowHandle(), Qt::LeftButton, {}, inMain);
    heldDuringTheCall = heldBackCloses() == 1 && sub && sub->isVisible();
    tip = QToolTip::text();
  });
  runBlockingCall([&] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); });
  EXPECT_TRUE(heldDuringTheCall);
  EXPECT_EQ(tip, waitForOperationText());
  QTest::qWait(0);
  flushDeletes();
  EXPECT_TRUE(screen.isNull()) << "closed once the call was over";
  EXPECT_EQ(heldBackCloses(), 0);
}

// ---- filter dialog ------------------------------------------------------------------

TEST(OptionList, EmptyValueRemovesTheLineAndMissingNameGivesEmpty) {
  TOptionList options;
  options.setValue("FiltroTmp.stCaixa", "_001_");
  options.setValue("FiltroTmp.stVendas", "_9_");
  options.setValue("FiltroTmp.stCaixa", "_002_");
  EXPECT_EQ(options.lines(), QStringList({"FiltroTmp.stCaixa=_002_", "FiltroTmp.stVendas=_9_"}));
  options.setValue("FiltroTmp.stCaixa", "");
  EXPECT_EQ(options.lines(), QStringList({"FiltroTmp.stVendas=_9_"}));
  EXPECT_EQ(options.value("FiltroTmp.stCaixa"), "");
  EXPECT_EQ(options.value("FiltroTmp.stVendas"), "_9_");
  EXPECT_EQ(options.value("FiltroTmp.st"), "");  // a prefix of a name is no name
}

namespace {

class FilterDialog : public TfrmFiltroPadrao {
 public:
  FilterDialog() : TfrmFiltroPadrao(nullptr, "frmFiltroTeste") {
    lblCodTela->setText("Qfx31701");
    createForm();
  }
  QString stCaixa, stVendas;
  int activations = 0;
  int closes = 0;

 protected:
  void FormActivate() override { ++activations; }
  void FormClose(CloseAction& action) override {
    TfrmFiltroPadrao::FormClose(action);
    ++closes;
  }
  void btfSaveOpcClick() override {
    TfrmFiltroPadrao::btfSaveOpcClick();
    Opcoes.setValue("FiltroTmp.stCaixa", stCaixa);
    Opcoes.setValue("FiltroTmp.stVendas", stVendas);
  }
  void btfLoadOpcClick() override {
    TfrmFiltroPadrao::btfLoadOpcClick();
    stCaixa = Opcoes.value("FiltroTmp.stCaixa");
    stVendas = Opcoes.value("FiltroTmp.stVendas");
  }
};

class FilterOptions : public ScriptedHostTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(settingsDir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
  }
  QTemporaryDir settingsDir;
};

}  // namespace

TEST_F(FilterOptions, SavedListsComeBackInAFreshDialogAfterARestart) {
  {
    FilterDialog dialog;
    dialog.stCaixa = "_0001001__0001002_";
    dialog.stVendas = "_a,b=c_";
    dialog.btfSaveOpc->trigger();
  }
  EXPECT_TRUE(QDir(settingsDir.path()).exists("ConsolidacaoVendas/opcoes.ini"));
  FilterDialog restarted;
  restarted.btfLoadOpc->trigger();
  EXPECT_EQ(restarted.stCaixa, "_0001001__0001002_");
  EXPECT_EQ(restarted.stVendas, "_a,b=c_");
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST_F(FilterOptions, EmptyListIsNotSavedAndLoadsAsEmpty) {
  FilterDialog dialog;
  dialog.stCaixa = "_1_";
  dialog.stVendas = "_2_";
  dialog.btfSaveOpc->trigger();
  dialog.stVendas = "";
  dialog.btfSaveOpc->trigger();

  FilterDialog other;
  other.stVendas = "anterior";
  other.btfLoadOpc->trigger();
  EXPECT_EQ(other.stCaixa, "_1_");
  EXPECT_EQ(other.stVendas, "");
  EXPECT_EQ(other.Opcoes.lines(), QStringList({"FiltroTmp.stCaixa=_1_"}));
}

TEST_F(FilterOptions, OptionsBelongToTheOperatorAndTheScreen) {
  FilterDialog dialog;
  dialog.stCaixa = "_1_";
  dialog.btfSaveOpc->trigger();

  host->operadorValue = "OUTRO";
  FilterDialog otherOperator;
  otherOperator.btfLoadOpc->trigger();
  EXPECT_EQ(otherOperator.stCaixa, "");

  host->operadorValue = "OPER";
  FilterDialog otherScreen;
  otherScreen.lblCodTela->setText("Qfx99999");
  otherScreen.btfLoadOpc->trigger();
  EXPECT_EQ(otherScreen.stCaixa, "");
}

// The dialog comes back as it was saved, under the name the operator gave,
// the period only when asked for, with a word on what was done; the file
// holds nothing malformed.
TEST_F(FilterOptions, NamedSetsBringTheControlsBackAsSaved) {
  FilterDialog dialog;
  auto* todos = new QRadioButton("Todos", dialog.grbFiltroPadrao);
  todos->setObjectName("rbtTodos");
  auto* lista = new QRadioButton("Lista", dialog.grbFiltroPadrao);
  lista->setObjectName("rbtLista");
  auto* agrupa = new QCheckBox("Agrupa", dialog.grbFiltroPadrao);
  agrupa->setObjectName("chkAgrupa");
  auto* cliente = new QLineEdit(dialog.grbFiltroPadrao);
  cliente->setObjectName("medCliDe");
  auto* inicio = new TDateEditPlus(dialog.grbFiltroPadrao, "depInicial");
  const auto state = [&] {
    return QStringList{QString(lista->isChecked() ? "lista" : "todos"), QString(agrupa->isChecked() ? "agrupa" : "-"),
                       cliente->text(), inicio->text(), dialog.stCaixa};
  };
  const auto loadNamed = [&](const QString& name) {
    emit dialog.mnuConjuntos->aboutToShow();
    for (QAction* a : dialog.mnuConjuntos->actions())
      if (a->text() == name) a->trigger();
  };

  lista->setChecked(true);
  agrupa->setChecked(true);
  cliente->setText("ALFA; LTDA");
  inicio->setText("10/03/2024");
  dialog.stCaixa = "_001_";
  host->inputAnswers = {QString("Mensal")};
  dialog.btfSaveOpc->trigger();
  EXPECT_TRUE(dialog.lblOpcoes->text().contains("Mensal"));

  todos->setChecked(true);
  agrupa->setChecked(false);
  cliente->clear();
  inicio->setText("01/01/2025");
  dialog.stCaixa.clear();
  loadNamed("Mensal");
  EXPECT_EQ(state(), (QStringList{"lista", "agrupa", "ALFA; LTDA", "01/01/2025", "_001_"}))
      << "the period not asked for";
  EXPECT_TRUE(dialog.lblOpcoes->text().contains("carregadas"));

  dialog.btfSalvaPeriodo->setChecked(true);
  inicio->setText("10/03/2024");
  host->inputAnswers = {QString("Com período")};
  dialog.btfSaveOpc->trigger();
  host->inputAnswers = {std::nullopt};  // cancelled: nothing saved
  dialog.btfSaveOpc->trigger();
  inicio->setText("01/01/2025");
  FilterDialog restarted;  // the last set used comes back by default
  auto* restartedDate = new TDateEditPlus(restarted.grbFiltroPadrao, "depInicial");
  restarted.btfLoadOpc->trigger();
  EXPECT_EQ(restartedDate->text(), "10/03/2024");
  EXPECT_EQ(OptionSets(restarted.optionsGroup()).names(), (QStringList{"Com período", "Mensal"}));

  FilterDialog empty;
  host->inputAnswers = {QString("Vazio")};
  empty.btfSaveOpc->trigger();
  QFile file(settingsDir.filePath("ConsolidacaoVendas/opcoes.ini"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_FALSE(file.readAll().contains("@Invalid"));
}

TEST_F(FilterOptions, ActivationRunsOncePerOpeningAndCancelHidesForReuse) {
  FilterDialog dialog;
  int activationsInside = -1;
  onNextModal([&](QWidget* shown) {
    EXPECT_EQ(shown, &dialog);
    onNextModal([](QWidget* box) { clickButton(box, "OK"); });
    QMessageBox::warning(&dialog, "Aviso", "Caixa deve ser informado.");
    EXPECT_TRUE(reactivate(dialog));
    activationsInside = dialog.activations;
    QTest::mouseClick(dialog.sbtCancel, Qt::LeftButton);
  });
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  EXPECT_EQ(activationsInside, 1);  // the message box did not run it again
  EXPECT_EQ(dialog.closes, 1);
  EXPECT_FALSE(dialog.isVisible());

  onNextModal([](QWidget* shown) { QTest::keyClick(shown, Qt::Key_Escape); });
  EXPECT_EQ(dialog.ShowModal(), mrCancel);
  EXPECT_EQ(dialog.activations, 2);
  EXPECT_EQ(dialog.closes, 2);

  onNextModal([&](QWidget*) { QTest::mouseClick(dialog.sbtConfirma, Qt::LeftButton); });
  EXPECT_EQ(dialog.ShowModal(), mrOk);
  EXPECT_EQ(dialog.findChild<QMenu*>("ppmOpcoes"), dialog.ppmOpcoes);
  EXPECT_EQ(dialog.sbtConfirma->text().remove('&'), "Confirmar");
  EXPECT_EQ(dialog.sbtCancel->text().remove('&'), "Cancelar");
}

}  // namespace
