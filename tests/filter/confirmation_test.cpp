// The checks on leaving a field and the confirmation's checks in their fixed
// order, with their messages and where the focus goes; what reaches Filtro
// and when.
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <QtTest/QTest>

#include "filterfixture.h"
#include "modaldriver.h"

using namespace qfx;
using namespace qfxtest;

namespace {

using ConfirmationTest = FilterTest;
using FieldChecksTest = FilterTest;
using FiltroWritesTest = FilterTest;

void setPeriod(TfrmFiltroGeraNF& d, const QString& inicio, const QString& fim) {
  d.depInicial->setText(inicio);
  d.depFinal->setText(fim);
}

}  // namespace

TEST_F(ConfirmationTest, EqualDatesPassAndAStartAfterTheEndIsRefusedWithFocusOnTheEndDate) {
  open();
  setPeriod(dlg(), "10/03/2024", "10/03/2024");
  EXPECT_TRUE(confirm());
  EXPECT_TRUE(host->messages.isEmpty());

  open();
  setPeriod(dlg(), "11/03/2024", "10/03/2024");
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Data final deve ser maior ou igual à data inicial."});
  EXPECT_EQ(focusName(), "depFinal");
  // each date passed its own check and went into Filtro; nothing else did
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 11));
  EXPECT_EQ(Filtro.dtFinal, dia(2024, 3, 10));
}

TEST_F(ConfirmationTest, EmptyDatesAreReportedOnlyAtConfirmationWithFocusOnTheirField) {
  open();
  dlg().depInicial->clear();
  moveFocus(dlg().depInicial, dlg().depFinal);
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 10));

  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Data inicial deve ser informada."});
  EXPECT_EQ(focusName(), "depInicial");

  host->clearRecords();
  setPeriod(dlg(), "10/03/2024", "");
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Data final deve ser informada."});
  EXPECT_EQ(focusName(), "depFinal");
}

TEST_F(ConfirmationTest, AnInvalidDateIsQuotedAsShownFollowedByOneBlank) {
  open();
  dlg().depInicial->setText("31/02/2024");
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"'31/02/2024' não é uma data válida."});
  EXPECT_EQ(focusName(), "depInicial");
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 10));
}

TEST_F(ConfirmationTest, ListaWithNothingPickedReportsOnlyTheFirstGroupInOrder) {
  open();
  dlg().rbtCaixa->click();
  dlg().rbtLista->click();
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Caixa deve ser informado."});
  EXPECT_EQ(focusName(), "rbtCaixa");

  host->clearRecords();
  host->listAnswers.push_back(QStringList{"0001001"});
  dlg().btpCaixa->click();
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Venda deve ser informada."});
  EXPECT_EQ(focusName(), "rbtLista");
}

TEST_F(ConfirmationTest, AConfirmedFilterNeverHasAListChoiceWithAnEmptyList) {
  open();
  for (QRadioButton* lista : {dlg().rbtCaixa, dlg().rbtListaCliente, dlg().rdtListaTipoCons, dlg().rbtListaCentroCusto,
                              dlg().rbtLista, dlg().rbtListaProdutos})
    lista->click();
  const TFiltro before = Filtro;
  // each refusal names the next list in order; the picker's answer is put straight into the working copy
  const struct {
    const char* message;
    QRadioButton* focus;
    QString TFiltro::*list;
  } steps[] = {
      {"Caixa deve ser informado.", dlg().rbtCaixa, &TFiltro::stCaixa},
      {"Cliente deve ser informado.", dlg().rbtListaCliente, &TFiltro::stCliente},
      {"Tipo de consumidor deve ser informado.", dlg().rdtListaTipoCons, &TFiltro::stTipoCons},
      {"Centro de custo deve ser informado.", dlg().rbtListaCentroCusto, &TFiltro::stCentroCusto},
      {"Venda deve ser informada.", dlg().rbtLista, &TFiltro::stVendas},
      {"Produto deve ser informado.", dlg().rbtListaProdutos, &TFiltro::stProdutos},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.message);
    host->clearRecords();
    EXPECT_FALSE(confirm());
    EXPECT_EQ(host->messageTexts(), QStringList{QString::fromUtf8(step.message)});
    EXPECT_EQ(focusName(), step.focus->objectName());
    EXPECT_EQ(Filtro, before);
    dlg().FiltroTmp.*step.list = "_K_";
  }
  host->clearRecords();
  EXPECT_TRUE(confirm());
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_FALSE(Filtro.boTodosCaixa || Filtro.boTodosCliente || Filtro.boIntervaloCli || Filtro.boTodosTipoCons ||
               Filtro.boTodosCentroCusto || Filtro.boTodasVendas || Filtro.boTodosProdutos);
  for (const auto& step : steps) EXPECT_EQ(Filtro.*step.list, "_K_");
}

TEST_F(ConfirmationTest, CustomerIntervalOrderComparesTheTypedTextsWhileExistenceIgnoresCase) {
  open();
  dlg().rbtIntervaloCli->click();
  dlg().medCliDe->setText("alfa ltda");
  dlg().medCliAte->setText("BETA SILVA");
  EXPECT_FALSE(confirm());
  // both names exist in another case; lower case sorts after capitals
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente inicial deve ser menor que Cliente Final."});
  EXPECT_EQ(focusName(), "medCliDe");

  host->clearRecords();
  dlg().medCliAte->setText("alfa ltda");  // equal names pass
  EXPECT_TRUE(confirm());
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_TRUE(Filtro.boIntervaloCli);
  EXPECT_FALSE(Filtro.boTodosCliente);
  EXPECT_EQ(Filtro.stCliDe, "alfa ltda");
  EXPECT_EQ(Filtro.stCliAte, "alfa ltda");
}

TEST_F(ConfirmationTest, CustomerIntervalNamesMustBeGivenAndKnown) {
  open();
  dlg().rbtIntervaloCli->click();
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente deve ser informado."});
  EXPECT_EQ(focusName(), "medCliDe");

  host->clearRecords();
  dlg().medCliDe->setText("Alfa Ltda");
  dlg().medCliAte->setText("ZETA");
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente não cadastrado."});
  EXPECT_EQ(focusName(), "medCliAte");
}

TEST_F(ConfirmationTest, OnlyTheFirstFailureIsReportedWhenTheConfirmationMovesTheFocus) {
  open();
  dlg().rbtIntervaloCli->click();
  dlg().medCliAte->setText("ZETA");
  moveFocus(dlg().depFinal, dlg().medCliAte);
  dlg().depInicial->clear();
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Data inicial deve ser informada."});
  EXPECT_EQ(focusName(), "depInicial");
}

TEST_F(ConfirmationTest, APassingConfirmationReplacesFiltroReloadsTheListAndSetsTheConsolidateButton) {
  replyPrincipalRows(2);
  open();
  setPeriod(dlg(), "01/03/2024", "15/03/2024");
  dlg().chkAgrupaNF->click();
  dlg().rbtCaixa->click();
  host->listAnswers.push_back(QStringList{"0001002"});
  dlg().btpCaixa->click();
  EXPECT_TRUE(confirm());
  EXPECT_EQ(dlg().result(), hostkit::mrOk);
  EXPECT_EQ(Filtro, dlg().FiltroTmp);
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 1));
  EXPECT_EQ(Filtro.dtFinal, dia(2024, 3, 15));
  EXPECT_FALSE(Filtro.boAgrupaNF);
  EXPECT_FALSE(Filtro.boTodosCaixa);
  EXPECT_EQ(Filtro.stCaixa, "_0001002_");
  const auto calls = server.callsOf("GetPrincipal");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg(contract::GetPrincipal::DtInicial).date(), dia(2024, 3, 1));
  EXPECT_EQ(calls[0].arg(contract::GetPrincipal::StCaixa).text(), "_0001002_");
  EXPECT_TRUE(tela().sbtGeraNF->isEnabled());
  EXPECT_EQ(tela().cdsPrincipal->RecordCount(), 2);

  replyPrincipalRows(0);
  open();
  EXPECT_TRUE(confirm());
  EXPECT_FALSE(tela().sbtGeraNF->isEnabled());
}

TEST_F(FieldChecksTest, LeavingADateChecksItAndStoresAValidOneInFiltroAtOnce) {
  open();
  dlg().depInicial->setText("12/0");
  moveFocus(dlg().depInicial, dlg().depFinal);
  EXPECT_EQ(host->messageTexts(), QStringList{"'12/0_/____' não é uma data válida."});
  EXPECT_EQ(focusName(), "depInicial");
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 10));

  host->clearRecords();
  dlg().depInicial->setText("05/03/2024");
  moveFocus(dlg().depInicial, dlg().depFinal);
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 5));
  EXPECT_EQ(dlg().FiltroTmp.dtInicial, dia(2024, 3, 10));  // the working copy follows at confirmation
  dlg().depFinal->setText("20/03/2024");
  moveFocus(dlg().depFinal, dlg().depInicial);
  EXPECT_EQ(Filtro.dtFinal, dia(2024, 3, 20));
}

TEST_F(FieldChecksTest, LeavingAnIntervalNameChecksItIgnoringCase) {
  open();
  dlg().rbtIntervaloCli->click();
  dlg().medCliDe->setText("gama sa");
  moveFocus(dlg().medCliDe, dlg().medCliAte);
  EXPECT_TRUE(host->messages.isEmpty());

  dlg().medCliAte->setText("OMEGA");
  moveFocus(dlg().medCliAte, dlg().medCliDe);
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente não cadastrado."});
  EXPECT_EQ(focusName(), "medCliAte");

  host->clearRecords();
  dlg().medCliAte->clear();
  moveFocus(dlg().medCliAte, dlg().medCliDe);
  EXPECT_TRUE(host->messages.isEmpty());  // an empty name waits for the confirmation
}

TEST_F(FiltroWritesTest, AStartDateLeftAndThenCancelledReachesFiltroAndTheReloadedList) {
  double duringDialog = 0;
  hostkit::onNextModal([&](QWidget* modal) {
    if (modal != dialog.data() || !QTest::qWaitForWindowActive(modal)) {
      ADD_FAILURE() << "the filter dialog did not open as the active window";
      modal->close();
      return;
    }
    dlg().depInicial->setText("05/03/2024");
    moveFocus(dlg().depInicial, dlg().depFinal);
    duringDialog = Filtro.dtInicial;
    dlg().rbtCaixa->click();
    dlg().chkVendaNF->click();
    dlg().sbtCancel->click();
  });
  tela().sbtFiltroClick();
  EXPECT_EQ(duringDialog, dia(2024, 3, 5));
  EXPECT_EQ(dlg().result(), hostkit::mrCancel);
  // only the date changed Filtro; the other edits stayed in the working copy
  TFiltro expected = defaultFilter();
  expected.dtInicial = dia(2024, 3, 5);
  EXPECT_EQ(Filtro, expected);
  EXPECT_FALSE(dlg().FiltroTmp.boTodosCaixa);
  const auto calls = server.callsOf("GetPrincipal");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg(contract::GetPrincipal::DtInicial).date(), dia(2024, 3, 5));
}

// Cancel keeps the dates already checked: with both moved past each other
// the period in force is inverted. The screen says so on its toolbar and over
// the empty list, and tells again once a good period is back; the next
// opening starts on the first field, not on the one left last.
TEST_F(FiltroWritesTest, AnInvertedPeriodLeftByACancelIsShownNotASilentEmptyList) {
  tela().sbtVerificarClick();
  EXPECT_FALSE(tela().lblPeriodoVigente->text().contains("invertido"))
      << tela().lblPeriodoVigente->text().toStdString();
  EXPECT_TRUE(tela().lblAvisoLista->isHidden()) << "an empty list of a good period needs no word";

  const auto editAndCancel = [&](const char* inicial, const char* final_) {
    hostkit::onNextModal([&, inicial, final_](QWidget* modal) {
      EXPECT_TRUE(QTest::qWaitForWindowActive(modal));
      EXPECT_EQ(focusName(), "depInicial") << "every opening starts on the start date";
      dlg().depInicial->setText(QString::fromLatin1(inicial));
      moveFocus(dlg().depInicial, dlg().depFinal);
      dlg().depFinal->setText(QString::fromLatin1(final_));
      moveFocus(dlg().depFinal, dlg().rbtTCaixa);
      dlg().sbtCancel->click();
    });
    tela().sbtFiltroClick();
  };
  editAndCancel("20/03/2024", "10/03/2024");
  EXPECT_GT(Filtro.dtInicial, Filtro.dtFinal);
  EXPECT_TRUE(tela().lblPeriodoVigente->text().contains("invertido")) << tela().lblPeriodoVigente->text().toStdString();
  EXPECT_TRUE(tela().lblPeriodoVigente->text().contains("20/03/2024 a 10/03/2024"));
  EXPECT_FALSE(tela().lblAvisoLista->isHidden()) << "the empty list says why it is empty";
  EXPECT_TRUE(tela().lblAvisoLista->text().contains("20/03/2024 a 10/03/2024"))
      << tela().lblAvisoLista->text().toStdString();

  editAndCancel("01/03/2024", "31/03/2024");
  EXPECT_TRUE(tela().lblPeriodoVigente->text().contains("01/03/2024 a 31/03/2024"));
  EXPECT_FALSE(tela().lblPeriodoVigente->text().contains("invertido"));
  EXPECT_TRUE(tela().lblAvisoLista->isHidden());
}

// The keyboard alone: Return in a date and Ctrl+Return anywhere confirm,
// Escape cancels, F2 on a chosen "Lista" opens its search.
TEST_F(ConfirmationTest, TheKeyboardConfirmsCancelsAndSearches) {
  open();
  setPeriod(dlg(), "10/03/2024", "10/03/2024");
  dlg().depFinal->setFocus();
  QTest::keyClick(dlg().depFinal, Qt::Key_Return);
  EXPECT_FALSE(dlg().isVisible());

  open();
  dlg().chkAgrupaNF->setFocus();
  QTest::keyClick(dlg().chkAgrupaNF, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_FALSE(dlg().isVisible());

  open();
  dlg().rbtCaixa->click();
  dlg().rbtCaixa->setFocus();
  host->listAnswers.push_back(std::nullopt);
  QTest::keyClick(dlg().rbtCaixa, Qt::Key_F2);
  EXPECT_EQ(host->pickerCalls.size(), 1) << "the cash register list";
  QTest::keyClick(dlg().rbtCaixa, Qt::Key_Escape);
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
}
