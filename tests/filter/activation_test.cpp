// Each opening copies Filtro into the working copy and the controls; a choice
// handler runs only for a control that becomes selected; the choices and
// check boxes keep the working copy current.
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>

#include "filterfixture.h"

using namespace qfx;
using namespace qfxtest;

namespace {

using ActivationTest = FilterTest;
using ChoiceHandlersTest = FilterTest;

TFiltro listFilter() {
  TFiltro f = FilterTest::defaultFilter();
  f.dtInicial = dia(2024, 3, 1);
  f.dtFinal = dia(2024, 3, 31);
  f.boTodasNF = true;
  f.boAgrupaNF = false;
  f.boTodasVendas = false;
  f.stVendas = "_0001000123_";
  f.boTodosCaixa = false;
  f.stCaixa = "_0001001_";
  f.boTodosTipoCons = false;
  f.stTipoCons = "_01_";
  f.boTodosCliente = false;
  f.stCliente = "_C1_";
  f.boTodosCentroCusto = false;
  f.stCentroCusto = "_C1CC1_";
  f.boTodosProdutos = false;
  f.stProdutos = "_P1_";
  return f;
}

}  // namespace

TEST_F(ActivationTest, OpeningShowsFiltroInTheControlsAndTheWorkingCopy) {
  Filtro = listFilter();
  open();
  // the customer choice changed from the designed "Todos": its handler drops the cost centres
  TFiltro expected = Filtro;
  expected.stCentroCusto.clear();
  EXPECT_EQ(dlg().FiltroTmp, expected);
  EXPECT_TRUE(dlg().rbtLista->isChecked());
  EXPECT_TRUE(dlg().btpVenda->isEnabled());
  EXPECT_FALSE(dlg().chkVendaNF->isChecked());
  EXPECT_FALSE(dlg().chkAgrupaNF->isChecked());
  EXPECT_TRUE(dlg().rbtCaixa->isChecked());
  EXPECT_TRUE(dlg().btpCaixa->isEnabled());
  EXPECT_TRUE(dlg().rbtListaCliente->isChecked());
  EXPECT_TRUE(dlg().btpCliente->isEnabled());
  EXPECT_FALSE(dlg().medCliDe->isEnabled());
  EXPECT_TRUE(dlg().rdtListaTipoCons->isChecked());
  EXPECT_TRUE(dlg().btpTipoCons->isEnabled());
  EXPECT_TRUE(dlg().rbtListaCentroCusto->isChecked());
  EXPECT_TRUE(dlg().btnCentroCusto->isEnabled());
  EXPECT_TRUE(dlg().rbtListaProdutos->isChecked());
  EXPECT_TRUE(dlg().btnProdutos->isEnabled());
  EXPECT_EQ(dlg().depInicial->Text(), "01/03/2024");
  EXPECT_EQ(dlg().depFinal->Text(), "31/03/2024");
}

TEST_F(ActivationTest, DefaultsLeaveEverySearchOffAndTheIntervalEditsDisabled) {
  open();
  EXPECT_EQ(dlg().FiltroTmp, Filtro);
  EXPECT_TRUE(dlg().rbtTodos->isChecked());
  EXPECT_TRUE(dlg().rbtTCaixa->isChecked());
  EXPECT_TRUE(dlg().chkVendaNF->isChecked());
  EXPECT_TRUE(dlg().chkAgrupaNF->isChecked());
  for (QWidget* w : {static_cast<QWidget*>(dlg().btpVenda), static_cast<QWidget*>(dlg().btpCaixa),
                     static_cast<QWidget*>(dlg().btpCliente), static_cast<QWidget*>(dlg().btnPesqCliDe),
                     static_cast<QWidget*>(dlg().btnPesqCliAte), static_cast<QWidget*>(dlg().medCliDe),
                     static_cast<QWidget*>(dlg().medCliAte), static_cast<QWidget*>(dlg().btpTipoCons),
                     static_cast<QWidget*>(dlg().btnCentroCusto), static_cast<QWidget*>(dlg().btnProdutos)})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
}

TEST_F(ActivationTest, AHandlerRunsOnlyForAControlThatBecomesSelected) {
  // all products and all customers, with old lists: the "Todos" controls are
  // already selected as designed, so no handler empties anything
  Filtro.stProdutos = "_P1_";
  Filtro.stCentroCusto = "_C1CC1_";
  open();
  EXPECT_EQ(dlg().FiltroTmp.stProdutos, "_P1_");
  EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "_C1CC1_");

  // the operator leaves other choices showing; the next opening selects
  // "Todos" again and those handlers run
  dlg().rbtListaProdutos->click();
  dlg().rbtListaCliente->click();
  cancel();
  EXPECT_EQ(Filtro.stProdutos, "_P1_");
  open();
  EXPECT_TRUE(dlg().rbtTodosProdutos->isChecked());
  EXPECT_EQ(dlg().FiltroTmp.stProdutos, "");
  EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "");
  EXPECT_FALSE(dlg().btpCliente->isEnabled());
}

TEST_F(ActivationTest, AnIntervalCustomerChoiceEmptiesTheCostCentresAtEveryOpening) {
  Filtro.boTodosCliente = false;
  Filtro.boIntervaloCli = true;
  Filtro.stCliDe = "ALFA LTDA";
  Filtro.stCliAte = "GAMA SA";
  Filtro.boTodosCentroCusto = false;
  Filtro.stCentroCusto = "_C1CC1_";
  for (int opening = 0; opening < 2; ++opening) {
    SCOPED_TRACE(opening);
    open();
    EXPECT_TRUE(dlg().rbtIntervaloCli->isChecked());
    EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "");
    EXPECT_EQ(dlg().medCliDe->text(), "ALFA LTDA");
    EXPECT_EQ(dlg().medCliAte->text(), "GAMA SA");
    EXPECT_TRUE(dlg().medCliDe->isEnabled());
    EXPECT_TRUE(dlg().btnPesqCliAte->isEnabled());
    EXPECT_FALSE(dlg().btpCliente->isEnabled());
    cancel();
  }
  // the earlier interval survives a reset to all customers, and wins
  Filtro.boTodosCliente = true;
  open();
  EXPECT_TRUE(dlg().rbtIntervaloCli->isChecked());
  EXPECT_TRUE(dlg().medCliAte->isEnabled());
}

TEST_F(ActivationTest, CloseHidesTheDialogAndKeepsItForTheNextOpening) {
  open();
  dlg().rbtIntervaloCli->click();
  dlg().medCliDe->setText("ALFA LTDA");
  dlg().close();
  ASSERT_FALSE(dialog.isNull());
  EXPECT_FALSE(dlg().isVisible());
  EXPECT_EQ(dlg().medCliDe->text(), "ALFA LTDA");  // the controls keep their state while hidden
  EXPECT_EQ(frmFiltroGeraNF, dialog);
}

TEST_F(ChoiceHandlersTest, ProductsAreLockedToAllWhenTheBranchConsolidatesWithoutThem) {
  Filtro.boTodosProdutos = false;
  Filtro.stProdutos = "_P1_";
  setGeraNFVenProd("N");
  open();
  EXPECT_TRUE(dlg().rbtTodosProdutos->isChecked());
  EXPECT_FALSE(dlg().rbtTodosProdutos->isEnabled());
  EXPECT_FALSE(dlg().rbtListaProdutos->isEnabled());
  EXPECT_FALSE(dlg().btnProdutos->isEnabled());
  EXPECT_TRUE(dlg().FiltroTmp.boTodosProdutos);
  EXPECT_EQ(dlg().FiltroTmp.stProdutos, "");
  cancel();

  setGeraNFVenProd("S");
  Filtro.stProdutos = "_P1_";
  open();  // Filtro still asks for the list: the group opens up with it
  EXPECT_TRUE(dlg().rbtListaProdutos->isChecked());
  EXPECT_TRUE(dlg().rbtTodosProdutos->isEnabled());
  EXPECT_TRUE(dlg().btnProdutos->isEnabled());
  EXPECT_EQ(dlg().FiltroTmp.stProdutos, "_P1_");
}

TEST_F(ChoiceHandlersTest, SwitchingTheCustomerChoiceEmptiesTheCostCentresAndConfirmationAsksForThem) {
  Filtro.boTodosCentroCusto = false;
  Filtro.stCentroCusto = "_C1CC1_";
  open();
  EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "_C1CC1_");
  dlg().rbtListaCliente->click();
  EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "");
  EXPECT_FALSE(dlg().FiltroTmp.boTodosCliente);
  EXPECT_TRUE(dlg().btpCliente->isEnabled());

  host->listAnswers.push_back(QStringList{"C1"});
  dlg().btpCliente->click();
  EXPECT_EQ(dlg().FiltroTmp.stCliente, "_C1_");
  EXPECT_FALSE(confirm());
  EXPECT_EQ(host->messageTexts(), QStringList{"Centro de custo deve ser informado."});
  EXPECT_EQ(focusName(), "rbtListaCentroCusto");
  EXPECT_EQ(Filtro.stCentroCusto, "_C1CC1_");
}

TEST_F(ChoiceHandlersTest, CustomerChoicesSwitchTheSearchesAndTheIntervalEdits) {
  open();
  dlg().rbtIntervaloCli->click();
  EXPECT_TRUE(dlg().FiltroTmp.boIntervaloCli);
  EXPECT_TRUE(dlg().medCliDe->isEnabled());
  EXPECT_TRUE(dlg().medCliAte->isEnabled());
  EXPECT_TRUE(dlg().btnPesqCliDe->isEnabled());
  EXPECT_FALSE(dlg().btpCliente->isEnabled());
  dlg().medCliDe->setText("ALFA LTDA");

  dlg().rbtTodosCliente->click();
  EXPECT_TRUE(dlg().FiltroTmp.boTodosCliente);
  EXPECT_EQ(dlg().medCliDe->text(), "");
  EXPECT_FALSE(dlg().medCliDe->isEnabled());
  EXPECT_FALSE(dlg().btnPesqCliDe->isEnabled());
  EXPECT_TRUE(host->messages.isEmpty());  // an emptied edit has no name to check
}

TEST_F(ChoiceHandlersTest, TwoWayChoicesSetTheirFlagAndSearchAndEmptyOnlySalesAndProducts) {
  open();
  struct Pair {
    QRadioButton* todos;
    QRadioButton* lista;
    QWidget* botao;
    bool TFiltro::*flag;
    QString TFiltro::*list;
    bool emptiedByAll;
  };
  const Pair pairs[] = {
      {dlg().rbtTodos, dlg().rbtLista, dlg().btpVenda, &TFiltro::boTodasVendas, &TFiltro::stVendas, true},
      {dlg().rbtTCaixa, dlg().rbtCaixa, dlg().btpCaixa, &TFiltro::boTodosCaixa, &TFiltro::stCaixa, false},
      {dlg().rdtTodosTipoCons, dlg().rdtListaTipoCons, dlg().btpTipoCons, &TFiltro::boTodosTipoCons,
       &TFiltro::stTipoCons, false},
      {dlg().rbtTodosCentroCusto, dlg().rbtListaCentroCusto, dlg().btnCentroCusto, &TFiltro::boTodosCentroCusto,
       &TFiltro::stCentroCusto, false},
      {dlg().rbtTodosProdutos, dlg().rbtListaProdutos, dlg().btnProdutos, &TFiltro::boTodosProdutos,
       &TFiltro::stProdutos, true},
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.lista->parentWidget()->objectName().toStdString());
    p.lista->click();
    EXPECT_FALSE(dlg().FiltroTmp.*p.flag);
    EXPECT_TRUE(p.botao->isEnabled());
    EXPECT_FALSE(p.todos->isChecked());
    dlg().FiltroTmp.*p.list = "_X_";
    p.todos->click();
    EXPECT_TRUE(dlg().FiltroTmp.*p.flag);
    EXPECT_FALSE(p.botao->isEnabled());
    EXPECT_EQ(dlg().FiltroTmp.*p.list, p.emptiedByAll ? "" : "_X_");
    p.todos->click();  // already selected: nothing runs, nothing changes
    dlg().FiltroTmp.*p.list = "_Y_";
    p.todos->click();
    EXPECT_EQ(dlg().FiltroTmp.*p.list, "_Y_");
  }
}

TEST_F(ChoiceHandlersTest, CheckBoxesWriteTheirFlagsOnEveryChange) {
  open();
  dlg().chkVendaNF->setChecked(false);
  EXPECT_TRUE(dlg().FiltroTmp.boTodasNF);
  dlg().chkVendaNF->click();
  EXPECT_FALSE(dlg().FiltroTmp.boTodasNF);
  dlg().chkAgrupaNF->click();
  EXPECT_FALSE(dlg().FiltroTmp.boAgrupaNF);
  EXPECT_TRUE(Filtro.boAgrupaNF);  // only a confirmation reaches Filtro
}
