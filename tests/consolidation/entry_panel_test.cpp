// The operator in the entry panel of "Consolidação de Vendas": the first
// activation's defaults, the four codes and their normalisation, the checks
// when a field or the panel is left, and what entering and leaving the panel
// opens, closes, enables and loads.
#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTableView>
#include <QTest>

#include "consolidation_fixture.h"
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/navigation/modulestate.h>

using namespace qfx;
using namespace qfxtest;
using hostkit::Date;

namespace {

class EntryPanel : public ConsolidationTest {
 protected:
  // The operator replaces the text of a code field by typing.
  void type(hostkit::TMaskEdit* field, const QString& text) {
    focusTo(field);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
  }
};

TEST_F(EntryPanel, FirstActivationTakesTheDefaultsAndStartsInTheBranch) {
  Filtro.stFilial = "0002";
  Filtro.dtInicial = 100;
  Filtro.dtFinal = 200;
  Filtro.boTodasNF = true;
  Filtro.boAgrupaNF = false;
  Filtro.boTodasVendas = false;
  Filtro.stVendas = "_0001000001_";
  Filtro.boTodosCaixa = false;
  Filtro.stCaixa = "_0001001_";
  Filtro.boTodosTipoCons = false;
  Filtro.boTodosCliente = false;
  Filtro.stCliente = "_C1_";
  Filtro.boTodosCentroCusto = false;
  Filtro.boTodosProdutos = false;
  Filtro.stProdutos = "_P1_";

  TfrmGeraNF& tela = open();
  EXPECT_FALSE(boPrimVez);
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(Filtro.stFilial, "0001") << "the branch of the login";
  EXPECT_EQ(Filtro.dtInicial, Date());
  EXPECT_EQ(Filtro.dtFinal, Date());
  EXPECT_FALSE(Filtro.boTodasNF) << "pending items only";
  EXPECT_TRUE(Filtro.boAgrupaNF);
  EXPECT_TRUE(Filtro.boTodasVendas);
  EXPECT_TRUE(Filtro.stVendas.isEmpty());
  EXPECT_TRUE(Filtro.boTodosCaixa);
  EXPECT_TRUE(Filtro.boTodosTipoCons);
  EXPECT_TRUE(Filtro.boTodosCliente);
  EXPECT_TRUE(Filtro.boTodosCentroCusto);
  EXPECT_TRUE(Filtro.boTodosProdutos);
  EXPECT_EQ(Filtro.stCaixa, "_0001001_") << "lists the defaults do not touch keep their values";
  EXPECT_EQ(Filtro.stCliente, "_C1_");
  EXPECT_EQ(Filtro.stProdutos, "_P1_");

  EXPECT_EQ(tela.medFilial->text(), "0001");
  EXPECT_EQ(tela.edtFilial->text(), "Filial Centro");
  EXPECT_EQ(tela.medCdLoja->text(), "01");
  EXPECT_EQ(tela.edtNmLoja->text(), "Loja Central");
  EXPECT_EQ(tela.medTipoReti->text(), "01");
  EXPECT_EQ(tela.edtTipoReti->text(), "Venda balcão");
  EXPECT_EQ(tela.medSetor->text(), "0001");
  EXPECT_EQ(tela.edtSetor->text(), "Vendas");
  EXPECT_EQ(tela.cdsPrincipal->FieldByName("CDARVPROD")->EditMask(), host->productTreePicture);

  EXPECT_TRUE(tela.medFilial->isEnabled());
  EXPECT_TRUE(tela.btpPesqFilial->isEnabled());
  EXPECT_EQ(focused(), tela.medFilial);
  EXPECT_FALSE(tela.cdsPrincipal->Active());
  EXPECT_FALSE(tela.sbtFiltro->isEnabled());
  EXPECT_FALSE(tela.mnuFiltrar->isEnabled());
  EXPECT_FALSE(tela.sbtGeraNF->isEnabled());
  EXPECT_FALSE(tela.mnuGeraNota->isEnabled());
  EXPECT_EQ(callsOf("GetParamVend"), 1u) << "the defaults come from the sales parameters";
  EXPECT_EQ(callsOf("GetParamFilial"), 0u);
  EXPECT_EQ(callsOf("getTipoReti") + callsOf("getSetor"), 0u) << "default codes are checked only when left";

  // no list before a valid exit of the panel: verify and search do nothing, F5 included
  for (QAction* a : {tela.mnuVerificar, tela.mnuProcurar})
    EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
  EXPECT_FALSE(tela.sbtVerificar->isEnabled());
  EXPECT_FALSE(tela.sbtProcurar->isEnabled());
  QTest::keyClick(tela.medFilial, Qt::Key_F5);
  QTest::keyClick(tela.medFilial, Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(callsOf("GetPrincipal"), 0u);
  EXPECT_TRUE(host->procuraCalls.isEmpty());
}

TEST_F(EntryPanel, OperatorBoundToTheBranchHasItLockedAndStartsInTheStore) {
  host->moduFiliValue = true;
  TfrmGeraNF& tela = open();
  EXPECT_FALSE(tela.lblFilial->isEnabled());
  EXPECT_FALSE(tela.medFilial->isEnabled());
  EXPECT_FALSE(tela.btpPesqFilial->isEnabled());
  EXPECT_EQ(tela.edtFilial->text(), "Filial Centro");
  EXPECT_EQ(focused(), tela.medCdLoja);
  EXPECT_FALSE(tela.sbtFiltro->isEnabled());

  // a refused store puts the focus back in the store; the branch stays locked
  tela.medCdLoja->setText("77");
  leavePanelRefused();
  EXPECT_EQ(host->messageTexts(), QStringList{"Loja não cadastrada."});
  EXPECT_EQ(focused(), tela.medCdLoja);
}

TEST_F(EntryPanel, ClosingAndReopeningTakesTheDefaultsAgainAndKeepsUntouchedLists) {
  open();
  Filtro.dtInicial = 10;
  Filtro.boTodosTipoCons = false;
  Filtro.stTipoCons = "_02_";
  Filtro.stCentroCusto = "_C1CC1_";
  ASSERT_TRUE(screen->Close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_FALSE(boIdCriado);

  TfrmGeraNF& tela = open();
  EXPECT_FALSE(boPrimVez);
  EXPECT_EQ(Filtro.dtInicial, Date());
  EXPECT_TRUE(Filtro.boTodosTipoCons);
  EXPECT_EQ(Filtro.stTipoCons, "_02_");
  EXPECT_EQ(Filtro.stCentroCusto, "_C1CC1_");
  EXPECT_EQ(tela.medCdLoja->text(), "01");
  EXPECT_EQ(callsOf("GetParamVend"), 2u);
}

TEST_F(EntryPanel, SalesParametersWithoutARowLeaveTheEntriesAsTheyWere) {
  fixture.server.on("GetParamVend", [](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(rowPacket(qfx::contract::fields::salesParameters, {}));
    return grpc::Status::OK;
  });
  TfrmGeraNF& tela = open();
  EXPECT_FALSE(boPrimVez);
  EXPECT_TRUE(host->messages.isEmpty());
  EXPECT_EQ(tela.medFilial->text(), "0001");
  EXPECT_TRUE(tela.medCdLoja->text().isEmpty());
  EXPECT_TRUE(tela.medTipoReti->text().isEmpty());
  EXPECT_TRUE(tela.medSetor->text().isEmpty());
}

TEST_F(EntryPanel, LeavingWithAnEmptyStoreKeepsTheFilterDisabled) {
  TfrmGeraNF& tela = open();
  focusTo(tela.medCdLoja);
  tela.medCdLoja->clear();
  EXPECT_TRUE(tela.edtNmLoja->text().isEmpty()) << "a new code clears its name";
  leavePanelRefused();
  EXPECT_EQ(host->messageTexts(), QStringList{"Loja deve ser informada."});
  EXPECT_EQ(host->messages.value(0).kind, hostkit::ShownMessage::Error);
  EXPECT_EQ(focused(), tela.medCdLoja);
  EXPECT_FALSE(tela.sbtFiltro->isEnabled());
  EXPECT_FALSE(tela.mnuFiltrar->isEnabled());
  EXPECT_EQ(callsOf("GetParamFilial"), 0u) << "no parameters are loaded";
  EXPECT_EQ(filterDialogs, 0);
}

TEST_F(EntryPanel, LeavingWithAnEmptySectorFindsTheFilterAlreadyEnabled) {
  TfrmGeraNF& tela = open();
  focusTo(tela.medSetor);
  tela.medSetor->clear();
  std::optional<bool> filtroNaMensagem;
  host->onMessage = [&] { filtroNaMensagem = tela.sbtFiltro->isEnabled(); };
  leavePanelRefused();
  host->onMessage = nullptr;
  ASSERT_TRUE(filtroNaMensagem.has_value());
  EXPECT_TRUE(*filtroNaMensagem) << "the branch and store checks passed before the sector's";
  EXPECT_EQ(host->messageTexts(), QStringList{"Setor deve ser informado."});
  EXPECT_EQ(focused(), tela.medSetor);
  EXPECT_TRUE(tela.sbtFiltro->isEnabled()) << "a failure after the store check leaves the filter enabled";
  EXPECT_TRUE(tela.mnuFiltrar->isEnabled());
  EXPECT_EQ(callsOf("GetParamFilial"), 0u);
  EXPECT_EQ(filterDialogs, 0);
}

TEST_F(EntryPanel, LeavingWithAnUnregisteredBranchPutsTheFocusBackAndKeepsTheFilterBranch) {
  TfrmGeraNF& tela = open();
  focusTo(tela.medFilial);
  tela.medFilial->setText("9999");
  EXPECT_TRUE(tela.medCdLoja->text().isEmpty()) << "a new branch clears the store";
  leavePanelRefused();
  EXPECT_EQ(host->messageTexts(), QStringList{"Filial não cadastrada."});
  EXPECT_EQ(focused(), tela.medFilial);
  EXPECT_EQ(tela.medFilial->text(), "9999");
  EXPECT_TRUE(tela.edtFilial->text().isEmpty());
  EXPECT_EQ(Filtro.stFilial, "0001");
  EXPECT_FALSE(tela.sbtFiltro->isEnabled());
  EXPECT_EQ(filterDialogs, 0);
}

TEST_F(EntryPanel, EveryExitWithValidEntriesReloadsTheParametersAndOpensTheFilter) {
  TfrmGeraNF& tela = open();
  ASSERT_TRUE(leavePanel(false));
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(callsOf("GetParamFilial"), 1u);
  EXPECT_EQ(callsOf("GetParamVend"), 2u);
  EXPECT_EQ(fixture.server.callsOf("GetParamFilial").back().arg(contract::GetParamFilial::Filial).text(), "0001");
  EXPECT_EQ(tela.cdsParamFilial->FieldByName("IDCTRLESTQ")->AsString(), "S");
  EXPECT_TRUE(tela.sbtFiltro->isEnabled());
  EXPECT_TRUE(tela.mnuFiltrar->isEnabled());
  EXPECT_FALSE(tela.cdsPrincipal->Active()) << "a cancelled filter leaves the list closed";
  EXPECT_EQ(callsOf("GetPrincipal"), 0u);
  EXPECT_FALSE(tela.sbtGeraNF->isEnabled());

  // back into the panel and out again without changing anything
  fixture.paramFilial.at("IDCTRLESTQ") = "N";
  focusTo(tela.medCdLoja);
  EXPECT_FALSE(tela.sbtFiltro->isEnabled());
  ASSERT_TRUE(leavePanel(true));
  EXPECT_EQ(filterDialogs, 2);
  EXPECT_EQ(callsOf("GetParamFilial"), 2u);
  EXPECT_EQ(callsOf("GetParamVend"), 3u);
  EXPECT_EQ(tela.cdsParamFilial->FieldByName("IDCTRLESTQ")->AsString(), "N") << "parameters reloaded";
  EXPECT_EQ(callsOf("GetPrincipal"), 1u) << "the confirmed filter loads the list";
  EXPECT_TRUE(tela.cdsPrincipal->Active());
  EXPECT_TRUE(tela.sbtGeraNF->isEnabled());
  EXPECT_TRUE(tela.mnuGeraNota->isEnabled());
}

TEST_F(EntryPanel, EnteringThePanelClosesTheListAndDisablesConsolidation) {
  TfrmGeraNF& tela = listed({SaleItem{}, SaleItem{}});
  ASSERT_EQ(tela.dbgPadrao->model()->rowCount(), 2);
  ASSERT_TRUE(tela.sbtGeraNF->isEnabled());
  ASSERT_TRUE(tela.mnuGeraNota->isEnabled());
  ASSERT_TRUE(tela.sbtVerificar->isEnabled());

  focusTo(tela.medTipoReti);
  EXPECT_FALSE(tela.cdsPrincipal->Active());
  EXPECT_EQ(tela.dbgPadrao->model()->rowCount(), 0);
  EXPECT_FALSE(tela.sbtGeraNF->isEnabled());
  EXPECT_FALSE(tela.mnuGeraNota->isEnabled());
  EXPECT_FALSE(tela.sbtFiltro->isEnabled());
  EXPECT_FALSE(tela.mnuFiltrar->isEnabled());
  EXPECT_FALSE(tela.sbtVerificar->isEnabled()) << "the verify button follows the list";
  EXPECT_FALSE(tela.sbtProcurar->isEnabled());
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST_F(EntryPanel, MessagesComeOnlyInTheOrderOfTheChecks) {
  TfrmGeraNF& tela = open();
  // The operator types into `field` and leaves the panel; the check that
  // refuses puts the focus back on `refused`.
  const auto leaveWith = [&](hostkit::TMaskEdit* field, const QString& text, hostkit::TMaskEdit* refused) {
    focusTo(field);
    field->setText(text);
    host->messages.clear();
    leavePanelRefused();
    EXPECT_EQ(focused(), refused) << text.toStdString();
    return host->messageTexts();
  };
  EXPECT_EQ(leaveWith(tela.medFilial, "", tela.medFilial), QStringList{"Filial deve deve ser informada."});
  EXPECT_EQ(leaveWith(tela.medFilial, "0001", tela.medCdLoja), QStringList{"Loja deve ser informada."})
      << "the branch change emptied the store";
  EXPECT_EQ(leaveWith(tela.medCdLoja, "99", tela.medCdLoja), QStringList{"Loja não cadastrada."});
  tela.medCdLoja->setText("02");
  EXPECT_EQ(leaveWith(tela.medTipoReti, "", tela.medTipoReti), QStringList{"Tipo Retirada deve ser informado."});
  EXPECT_EQ(leaveWith(tela.medTipoReti, "09", tela.medTipoReti), QStringList{"Tipo Retirada não cadastrado."});
  tela.medTipoReti->setText("02");
  EXPECT_EQ(leaveWith(tela.medSetor, "", tela.medSetor), QStringList{"Setor deve ser informado."});
  EXPECT_EQ(leaveWith(tela.medSetor, "9", tela.medSetor), QStringList{"Setor não cadastrado."});
  EXPECT_EQ(tela.medSetor->text(), "0009") << "the refused code stays, normalised";
  EXPECT_EQ(filterDialogs, 0);

  focusTo(tela.medSetor);
  tela.medSetor->setText("2");
  host->messages.clear();
  ASSERT_TRUE(leavePanel(false));
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(" / ").toStdString();
  EXPECT_EQ(tela.edtNmLoja->text(), "Loja Shopping");
  EXPECT_EQ(tela.edtTipoReti->text(), "Consumo interno");
  EXPECT_EQ(tela.edtSetor->text(), "Cozinha");
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(EntryPanel, BranchTypedShortIsWidenedAndClearsTheStore) {
  TfrmGeraNF& tela = open();
  type(tela.medFilial, "1");
  EXPECT_EQ(tela.medFilial->text(), "1");
  focusTo(tela.medCdLoja);
  EXPECT_EQ(tela.medFilial->text(), "0001") << "written back as the host widens it";
  EXPECT_EQ(tela.edtFilial->text(), "Filial Centro");
  EXPECT_TRUE(tela.medCdLoja->text().isEmpty());
  EXPECT_TRUE(tela.edtNmLoja->text().isEmpty());
  EXPECT_EQ(tela.medTipoReti->text(), "01") << "a branch change leaves withdrawal type and sector";
  EXPECT_EQ(tela.medSetor->text(), "0001");
  EXPECT_TRUE(host->messages.isEmpty());

  type(tela.medFilial, "a1b2c");
  EXPECT_EQ(tela.medFilial->text(), "A1B2") << "four letters or digits, upper case";
  focusTo(tela.medCdLoja);
  EXPECT_EQ(tela.edtFilial->text(), "Filial Letras");
  EXPECT_EQ(Filtro.stFilial, "A1B2");
}

TEST_F(EntryPanel, WithdrawalTypeIsPaddedBeforeItsLookup) {
  TfrmGeraNF& tela = open();
  type(tela.medTipoReti, "x2");
  EXPECT_EQ(tela.medTipoReti->text(), "2") << "digits only";
  EXPECT_TRUE(tela.edtTipoReti->text().isEmpty());
  fixture.server.clearCalls();
  focusTo(tela.medSetor);
  const auto calls = fixture.server.callsOf("getTipoReti");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg(contract::getTipoReti::Codigo).text(), "02");
  EXPECT_EQ(calls[0].arg(contract::getTipoReti::Todos).text(), "");
  EXPECT_EQ(tela.medTipoReti->text(), "02");
  EXPECT_EQ(tela.edtTipoReti->text(), "Consumo interno");
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_EQ(host->busyOpened, 1);
}

TEST_F(EntryPanel, SectorLookupWithSeveralRowsShowsTheFirstName) {
  fixture.server.on("getSetor", [](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(
        contractPacket(contract::fields::sectors, {{"0003", "DEP", "Depósito"}, {"0003", "OUT", "Outro depósito"}}));
    return grpc::Status::OK;
  });
  TfrmGeraNF& tela = open();
  type(tela.medSetor, "3");
  focusTo(tela.medCdLoja);
  EXPECT_EQ(tela.medSetor->text(), "0003");
  EXPECT_EQ(tela.edtSetor->text(), "Depósito");
  const auto calls = fixture.server.callsOf("getSetor");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg(contract::getSetor::Codigo).text(), "0003");
}

TEST_F(EntryPanel, FailedRemoteLookupPutsTheFocusBackAndClosesTheAnimation) {
  fixture.server.on("getTipoReti", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::INTERNAL, "Tabela de tipos de retirada indisponível.");
  });
  TfrmGeraNF& tela = open();
  type(tela.medTipoReti, "1");
  focusTo(tela.medCdLoja);
  EXPECT_EQ(host->messageTexts(), QStringList{"Tabela de tipos de retirada indisponível."});
  EXPECT_EQ(host->messages.value(0).kind, hostkit::ShownMessage::Exception);
  EXPECT_EQ(focused(), tela.medTipoReti);
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(EntryPanel, SearchButtonsWriteTheCodeAndThenTheName) {
  TfrmGeraNF& tela = open();
  host->recordAnswers = {1};
  ASSERT_TRUE(tela.btpPesqFilial->Click());
  ASSERT_EQ(host->pickerCalls.size(), 1);
  EXPECT_EQ(host->pickerCalls[0].title, "Filial");
  EXPECT_EQ(host->pickerCalls[0].rows, 3) << "all branches";
  EXPECT_EQ(tela.medFilial->text(), "0002");
  EXPECT_EQ(tela.edtFilial->text(), "Filial Norte");
  EXPECT_TRUE(tela.medCdLoja->text().isEmpty()) << "picking a branch clears the store";

  host->recordAnswers = {0};
  ASSERT_TRUE(tela.btpLoja->Click());
  EXPECT_EQ(host->pickerCalls[1].rows, 1) << "the stores of the branch in the field";
  EXPECT_EQ(tela.medCdLoja->text(), "01");
  EXPECT_EQ(tela.edtNmLoja->text(), "Loja Norte");

  fixture.server.clearCalls();
  host->recordAnswers = {1};
  ASSERT_TRUE(tela.btnTipoReti->Click());
  const auto calls = fixture.server.callsOf("getTipoReti");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg(contract::getTipoReti::Codigo).text(), "");
  EXPECT_EQ(calls[0].arg(contract::getTipoReti::Todos).text(), "T");
  EXPECT_EQ(host->pickerCalls[2].title, "Tipo de Retirada");
  EXPECT_EQ(tela.medTipoReti->text(), "02");
  EXPECT_EQ(tela.edtTipoReti->text(), "Consumo interno");
  EXPECT_TRUE(host->busyBalanced());
}

// The keyboard's way out of the panel: Tab from the last field opens the
// filter, and the confirmed list stays with the focus out of the panel.
TEST_F(EntryPanel, TabOutOfThePanelListsAndLeavesTheFocusOutside) {
  replyItems({SaleItem{}});
  open();
  focusTo(screen->medSetor);
  hostkit::ModalAnswer answer([](QWidget* dialog) {
    if (auto* filtro = qobject_cast<TfrmFiltroGeraNF*>(dialog)) filtro->sbtConfirma->click();
  });
  QTest::keyClick(screen->medSetor, Qt::Key_Tab);
  activate();
  QApplication::processEvents();
  EXPECT_EQ(answer.opened(), 1);
  EXPECT_TRUE(screen->cdsPrincipal->Active());
  EXPECT_EQ(screen->cdsPrincipal->RecordCount(), 1);
  EXPECT_EQ(focused(), screen->dbgPadrao) << "straight to the grid, not to the page tabs";
}

}  // namespace
