// Saved options: the six list texts of the working copy and the controls,
// per operator, kept across a restart of the host.
#include <QAction>
#include <QLabel>
#include <QRadioButton>

#include "filterfixture.h"

using namespace qfx;
using namespace qfxtest;

namespace {

using OptionsTest = FilterTest;

void fillLists(TFiltro& f) {
  f.stCaixa = "_0001001__0001002_";
  f.stVendas = "_0001000123_";
  f.stTipoCons = "_01_";
  f.stCliente = "_C1_";
  f.stCentroCusto = "_C1CC1_";
  f.stProdutos = "_P1__P2_";
}

}  // namespace

TEST_F(OptionsTest, SaveThenLoadRoundTripsTheSixListsAcrossARestart) {
  open();
  fillLists(dlg().FiltroTmp);
  const TFiltro saved = dlg().FiltroTmp;
  dlg().btfSaveOpc->trigger();
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_EQ(dlg().Opcoes.value("FiltroTmp.stProdutos"), "_P1__P2_");
  cancel();

  // a new dialog, as after the host was restarted, for the same operator
  delete dialog.data();
  dialog = new TfrmFiltroGeraNF();
  open();
  dlg().FiltroTmp.boTodosCaixa = true;
  dlg().FiltroTmp.dtInicial = dia(2024, 1, 1);
  dlg().btfLoadOpc->trigger();
  TFiltro expected = saved;
  expected.boTodosCaixa = true;  // flags and dates are not options
  expected.dtInicial = dia(2024, 1, 1);
  EXPECT_EQ(dlg().FiltroTmp, expected);
  EXPECT_TRUE(dlg().rbtTCaixa->isChecked());  // the controls come back as saved
  EXPECT_FALSE(dlg().lblOpcoes->text().contains("outra filial")) << "all of this branch: nothing left out";
  EXPECT_EQ(Filtro, defaultFilter());  // only a confirmation takes them further

  // another operator has options of his own: none yet, and the dialog says so and stays as it is
  host->operadorValue = "OUTRO";
  dlg().btfLoadOpc->trigger();
  EXPECT_EQ(dlg().FiltroTmp, expected);
  EXPECT_TRUE(dlg().lblOpcoes->text().startsWith("Não há opções salvas"));
}

TEST_F(OptionsTest, SavingAnEmptyListRemovesItsLineAndLoadingWithoutItEmptiesTheList) {
  open();
  fillLists(dlg().FiltroTmp);
  dlg().btfSaveOpc->trigger();
  ASSERT_TRUE(dlg().Opcoes.lines().contains("FiltroTmp.stVendas=_0001000123_"));

  dlg().FiltroTmp.stVendas.clear();
  dlg().btfSaveOpc->trigger();
  for (const QString& line : dlg().Opcoes.lines())
    EXPECT_FALSE(line.startsWith("FiltroTmp.stVendas=")) << line.toStdString();
  EXPECT_EQ(dlg().Opcoes.lines().filter("FiltroTmp.").size(), 5);

  dlg().FiltroTmp.stVendas = "_0001000999_";
  dlg().btfLoadOpc->trigger();
  EXPECT_EQ(dlg().FiltroTmp.stVendas, "");
  EXPECT_EQ(dlg().FiltroTmp.stCaixa, "_0001001__0001002_");
}

TEST_F(OptionsTest, OptionNamesAreTheWorkingCopysListsInOrder) {
  EXPECT_EQ(TfrmFiltroGeraNF::nomesOpcoes(),
            (QStringList{"FiltroTmp.stCaixa", "FiltroTmp.stVendas", "FiltroTmp.stTipoCons", "FiltroTmp.stCliente",
                         "FiltroTmp.stCentroCusto", "FiltroTmp.stProdutos"}));
}

// Registers and sales belong to a branch: a set saved while working on
// another one brings back only this branch's, and the dialog says how many
// it left out; the lists of the whole company come back whole.
TEST_F(OptionsTest, LoadingInAnotherBranchLeavesOutThatBranchsRegistersAndSales) {
  open();
  fillLists(dlg().FiltroTmp);
  dlg().FiltroTmp.stCaixa = "_0001001__0002001__0001002_";
  dlg().btfSaveOpc->trigger();
  cancel();

  struct Case {
    const char* branch;
    const char* caixa;
    const char* vendas;
    const char* note;  // what the dialog says beside "loaded"
  };
  for (const Case& c : {Case{"0002", "_0002001_", "", "2 caixas e 1 venda"}, Case{"0003", "", "", "3 caixas e 1 venda"},
                        Case{"0001", "_0001001__0001002_", "_0001000123_", "1 caixa"}}) {
    SCOPED_TRACE(c.branch);
    tela().medFilial->setText(c.branch);
    open();
    dlg().btfLoadOpc->trigger();
    EXPECT_EQ(dlg().FiltroTmp.stCaixa, c.caixa);
    EXPECT_EQ(dlg().FiltroTmp.stVendas, c.vendas);
    EXPECT_EQ(dlg().FiltroTmp.stProdutos, "_P1__P2_") << "products are the company's";
    EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "_C1CC1_");
    const QString said = dlg().lblOpcoes->text();
    EXPECT_TRUE(said.contains("carregadas")) << said.toStdString();
    EXPECT_TRUE(said.contains(c.note) && said.contains(c.branch)) << said.toStdString();
    cancel();
  }
}
