// The scripted host services keep the real services' contract, so screen
// tests that use them check what the operator would get.
#include <QWidget>

#include "fixtures.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/messages.h>

using namespace hostkit;

namespace {

class Scripted : public ScriptedHostTest {
 protected:
  Scripted() {
    fillTextDataSet(sales, {{"CHAVE", "", false}, {"NRSEQVENDA", "Venda"}}, {{"K1", "1"}, {"K2", "2"}, {"K3", "3"}});
    source.SetDataSet(&sales);
  }
  TDataSet sales{nullptr, "cdsVendas"};
  TDataSource source{nullptr, "dtsVendas"};
};

TEST_F(Scripted, MessagesAreRecordedWithTheirCatalogueKeyAndAnsweredFromTheScript) {
  TMessages catalogue(nullptr, "msgPadrao");
  catalogue.setEntries({"Conf|Confirma operação?", "Loja_inf|Loja deve ser informada."});
  host->dialogAnswers = {mrNo};
  EXPECT_EQ(catalogue.ShowMsg("Conf", MsgDlgType::Confirmation, mbYes | mbNo, 0), mrNo);
  EXPECT_EQ(catalogue.ShowMsg("Conf", MsgDlgType::Confirmation, mbYes | mbNo, 0), mrYes);  // the default
  EXPECT_EQ(MessageDlg("Pronto.", MsgDlgType::Information, mbOK, 0), mrOk);  // default not offered: first button
  MensErro(catalogue.Msg("Loja_inf"), false);

  ASSERT_EQ(host->messages.size(), 4);
  EXPECT_EQ(host->messageKeys(), QStringList({"Conf", "Conf", "", "Loja_inf"}));
  EXPECT_EQ(host->messages[0].buttons, unsigned(mbYes | mbNo));
  EXPECT_EQ(host->messages[0].type, MsgDlgType::Confirmation);
  EXPECT_EQ(host->messages[3].kind, ShownMessage::Error);
}

TEST_F(Scripted, ListPickerWritesTheAnsweredKeysInListOrder) {
  host->listAnswers = {QStringList{"K3", "K1"}, std::nullopt};
  QString list = "_K2_";
  EXPECT_TRUE(PesquisaLista(&source, "CHAVE", "Venda|Não há vendas concluídas.", false, list));
  EXPECT_EQ(list, "_K1__K3_");
  EXPECT_FALSE(PesquisaLista(&source, "CHAVE", "Venda", false, list));
  EXPECT_EQ(list, "_K1__K3_");  // cancelled: kept

  ASSERT_EQ(host->pickerCalls.size(), 2);
  EXPECT_EQ(host->pickerCalls[0].title, "Venda");
  EXPECT_EQ(host->pickerCalls[0].emptyText, "Não há vendas concluídas.");
  EXPECT_EQ(host->pickerCalls[0].listBefore, "_K2_");
  EXPECT_EQ(host->pickerCalls[0].rows, 3);
  EXPECT_FALSE(host->pickerCalls[1].confirmed);
}

TEST_F(Scripted, ListPickerOpensAClosedListAndShowsTheEmptyText) {
  sales.Close();
  host->listAnswers = {QStringList{}};
  QString list = "_K1_";
  EXPECT_FALSE(PesquisaLista(&source, "CHAVE", "Venda|Não há vendas concluídas.", false, list));
  EXPECT_TRUE(sales.Active());
  EXPECT_EQ(list, "_K1_");
  EXPECT_EQ(host->messageTexts(), QStringList({"Não há vendas concluídas."}));
  EXPECT_EQ(host->listAnswers.size(), 1u);  // the answer is left for the next picker
}

TEST_F(Scripted, AnswerWithAKeyNotInTheListFailsLoudly) {
  host->listAnswers = {QStringList{"K9"}};
  QString list;
  EXPECT_FALSE(guarded([&] { PesquisaLista(&source, "CHAVE", "Venda", false, list); }));
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages[0].kind, ShownMessage::Exception);
}

TEST_F(Scripted, BusyAnimationBalanceAndHostScreenRowsAreRecorded) {
  {
    BusyAnimation outer(nullptr, 6, "Consolidando");
    BusyAnimation inner(nullptr, 6);
    EXPECT_FALSE(host->busyBalanced());
  }
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_EQ(host->busyMaxDepth, 2);
  DeactiveShowAvi();
  EXPECT_FALSE(host->busyBalanced());  // a close without an open is caught

  QWidget owner;
  owner.setObjectName("frmGeraNF");
  TDataSet blocked(&owner, "cdsBloqConsolida");
  fillTextDataSet(blocked, {{"CDPRODUTO"}, {"NMPRODUTO"}}, {{"10", "Arroz"}});
  CriaBloqConsolida(&owner);
  CriaLancIrreg("77", &owner);
  ASSERT_EQ(host->hostScreens.size(), 2);
  EXPECT_EQ(host->hostScreens[0].rows, QList<QStringList>({{"10", "Arroz"}}));
  EXPECT_EQ(host->hostScreens[0].fields, QStringList({"CDPRODUTO", "NMPRODUTO"}));
  EXPECT_FALSE(host->hostScreens[1].datasetFound);  // no cdsIrregEst on the owner
  EXPECT_EQ(host->hostScreens[1].postingNumber, "77");
}

}  // namespace
