// "Consolidar Vendas" once the checks have passed: the confirmation, the
// stock-control refusal, the server's reply shapes as the branch parameters
// decide them (blocked products, irregular stock with and without negative
// stock permitted, the second call), the final message, the refusals the
// server raises, and the reload that ends every run inside the protected part.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "consolidation_fixture.h"
#include <hostkit/core/messages.h>
#include <hostkit/widgets/qthostservices.h>
#include <hostkit/widgets/runscreens.h>
#include <qfx31700/consolidation/consolidationrun.h>
#include <qfx31700/host/catalogues.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/remote/replydatasets.h>
#include <qfx31700/report/frmrelprodevol.h>
#include <qfx31700/reversal/frmconsolidacoes.h>

using namespace qfx;
using namespace qfxtest;
using hostkit::mrNo;
using hostkit::mrYes;

namespace {

const ErroItem kIrregular1{"LIB00200_3", "P1 Arroz tipo 1", "UN", "001", 1.5, 5, -3.5};
const ErroItem kIrregular2{"LIB00200_3", "P2 Feijão carioca", "KG", "002", -1.25, {}, {}};
const ErroItem kIrregular3{"LIB00200_3", "P3 Óleo de soja", "UN", "001", -2, {}, {}};
const ErroItem kAviso{"AVISO_ERRO", "Aviso do servidor", "", "", 0, {}, {}};
const ErroItem kLancamento{"NRLANCESTQ", "0000000099", "", "", 0, {}, {}};

class Run : public ConsolidationTest {
 protected:
  // Sets branch (IDPERMESTNEG, IDMENSESTNEG) and sales (IDPERCONVESTNEG) parameters
  // that the panel exit loads.
  void params(const std::string& permiteNegativo, const std::string& pergunta, const std::string& bloqueiaNegativo) {
    fixture.paramFilial.at("IDPERMESTNEG") = permiteNegativo;
    fixture.paramFilial.at("IDMENSESTNEG") = pergunta;
    fixture.paramVend.at("IDPERCONVESTNEG") = bloqueiaNegativo;
  }

  // The list is shown, every check passes, the records start afresh.
  TfrmGeraNF& ready() {
    if (screen)
      relist();
    else
      listed({SaleItem{}, SaleItem{}});
    checksPass();
    host->clearRecords();
    host->journal.clear();
    fixture.server.clearCalls();
    return *screen;
  }

  // Presses "Consolidar Vendas" and comes back to the screen.
  void consolidate() {
    screen->sbtGeraNF->click();
    activate();
  }

  size_t reloads() const { return callsOf("GetPrincipal"); }
  int consolidating() const { return int(host->busyCaptions.count("Consolidando as vendas...")); }
};

// A run's port with no screen behind it: its own window, connection,
// catalogue and datasets, the branch's parameters read from the server.
class PortWithoutScreen : public ConsolidationPort {
 public:
  PortWithoutScreen() {
    window_.setObjectName(QStringLiteral("portWindow"));
    net_.BeforeConnect = [](hostkit::TNetConnection& net) {
      net.Host = hostkit::WebURL();
      net.Port = hostkit::WebPort();
    };
    net_.SetConnected(true);
    messages_.setEntries(catalogoGeraNF());
    defineCdsParamFilial(paramFilial_);
    defineCdsParamVend(paramVend_);
    defineCdsVerifVenda(verifVenda_);
    defineCdsSoma(soma_);
    defineCdsReducaoZ(reducaoZ_);
    defineCdsIrregEst(irregEst_);
    defineCdsBloqConsolida(bloqConsolida_);
    rdm_.GetParamFilial(entry().filial, paramFilial_);
    rdm_.GetParamVend(entry().filial, paramVend_);
  }

  ConsolidationEntry entry() const override { return {"0001", "01", "01", "0001"}; }
  ConsolidationDataSets dataSets() override {
    return {&paramFilial_, &paramVend_, &loja_,       &verifVenda_,    &soma_,
            &reducaoZ_,    &erros_,     &bloqueados_, &bloqConsolida_, &irregEst_};
  }
  RdmGeraNF& rdm() override { return rdm_; }
  hostkit::TMessages& catalogue() override { return messages_; }
  QWidget* owner() override { return &window_; }
  void focusList() override { ++listFocused; }
  void reloadList() override { ++reloads; }
  void markListOutOfDate() override { ++outOfDate; }
  bool serverAnswersWithin(int) override { return true; }
  const ExecucaoIncerta* execucaoEmDuvida() const override { return emDuvida ? &*emDuvida : nullptr; }
  void lembraExecucaoIncerta(const ExecucaoIncerta& execucao) override { emDuvida = execucao; }
  void esqueceExecucaoIncerta() override { emDuvida.reset(); }

  int listFocused = 0, reloads = 0, outOfDate = 0;
  std::optional<ExecucaoIncerta> emDuvida;

 private:
  QWidget window_;

 public:
  // where the host's screen looks for it: among its owner's children
  hostkit::TDataSet bloqConsolida_{&window_, QStringLiteral("cdsBloqConsolida")};

 private:
  hostkit::TNetConnection net_;
  RdmGeraNF rdm_{net_};
  hostkit::TMessages messages_;
  hostkit::TDataSet paramFilial_, paramVend_, loja_, verifVenda_, soma_, reducaoZ_, irregEst_;
  hostkit::TDataSet erros_, bloqueados_;
};

TEST_F(Run, NoToTheConfirmationLeavesTheGridUntouched) {
  TfrmGeraNF& tela = ready();
  host->dialogAnswers = {mrNo};
  consolidate();
  EXPECT_EQ(host->journal, QStringList{"msg:Conf"});
  EXPECT_EQ(callsOf("SemGeraNF"), 0u);
  EXPECT_EQ(reloads(), 0u);
  EXPECT_EQ(consolidating(), 0);
  EXPECT_EQ(host->busyCaptions, QStringList{"Conferindo as vendas com as reduções Z..."}) << "the Z check only";
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_EQ(tela.cdsPrincipal->RecordCount(), 2);
}

TEST_F(Run, BranchWithoutStockControlIsRefusedBeforeTheServerIsAsked) {
  fixture.paramFilial.at("IDCTRLESTQ") = "N";
  ready();
  replySemGeraNF({resposta({}, 15)});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:N_CTRL_ESTOQ"}));
  EXPECT_EQ(host->messages.value(1).text, "Filial deve controlar estoque para realizar a consolidação das vendas.");
  EXPECT_EQ(host->messages.value(1).kind, hostkit::ShownMessage::Error);
  EXPECT_EQ(callsOf("SemGeraNF"), 0u);
  EXPECT_EQ(reloads(), 0u);
}

TEST_F(Run, SuccessSaysSoAndTheReloadedGridShowsTheNewState) {
  TfrmGeraNF& tela = ready();
  replySemGeraNF({resposta({}, 15)});
  SaleItem consolidado;
  consolidado.lancamento = "0000000015";
  replyItems({consolidado, consolidado});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:GERACAO_OK"}));
  const hostkit::ShownMessage& fim = host->messages.last();
  EXPECT_EQ(fim.text, "Consolidação de vendas realizada com sucesso.");
  EXPECT_EQ(fim.type, hostkit::MsgDlgType::Information);
  EXPECT_EQ(fim.buttons, unsigned(hostkit::mbOK));
  EXPECT_EQ(reloads(), 1u);
  EXPECT_TRUE(tela.cdsPrincipal->FieldByName("IDNOTAFISCAL")->valueAt(0).toBool());
  EXPECT_EQ(consolidating(), 1);
  EXPECT_TRUE(host->busyBalanced());

  const auto calls = fixture.server.callsOf("SemGeraNF");
  ASSERT_EQ(calls.size(), 1u);
  using A = contract::SemGeraNF;
  const RecordedCall& call = calls[0];
  ASSERT_EQ(call.args.size(), 24u);
  EXPECT_EQ(call.arg(A::FiliProc).text(), "0001") << "the login's branch";
  EXPECT_EQ(call.arg(A::Filial).text(), "0001");
  EXPECT_EQ(call.arg(A::Loja).text(), "01");
  EXPECT_EQ(call.arg(A::TodasVendas).text(), "S") << "all sales";
  EXPECT_TRUE(call.arg(A::TodasVendas).by_reference());
  EXPECT_EQ(call.arg(A::DtInicial).date(), Filtro.dtInicial);
  EXPECT_EQ(call.arg(A::DtFinal).date(), Filtro.dtFinal);
  EXPECT_TRUE(call.arg(A::BoTodosCaixa).boolean()) << "all cash registers";
  EXPECT_FALSE(call.arg(A::BoIntervaloCli).boolean()) << "no customer interval";
  EXPECT_EQ(call.arg(A::TipoReti).text(), "01") << "withdrawal type";
  EXPECT_EQ(call.arg(A::Setor).text(), "0001") << "sector";
  EXPECT_EQ(call.arg(A::Operador).text(), "OPER");
  EXPECT_TRUE(call.arg(A::VerificaEstoque).boolean()) << "stock check on";
}

TEST_F(Run, FinalMessageFollowsThePostingResultAndTheServersKey) {
  ready();
  SemGeraNFAnswer diasDeFora = resposta({}, 15, {}, "ULT_LANC_DIA");
  diasDeFora.detalhes = "Dias não consolidados: 11/03/2024.";
  replySemGeraNF({diasDeFora});
  consolidate();
  EXPECT_EQ(host->journal.last(), "msg:ULT_LANC_DIA");
  EXPECT_EQ(host->messages.last().informative, "Dias não consolidados: 11/03/2024.");
  EXPECT_EQ(host->messages.last().text,
            "Alguns dias não foram consolidados, pois existe Implantação ou Ajuste realizado como último lançamento "
            "do dia.");

  ready();
  replySemGeraNF({resposta({}, 0, {}, "ULT_LANC_DIA")});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:NF_OK_ZERO"})) << "nothing posted, whatever the key";
  EXPECT_EQ(reloads(), 1u);
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, BlockedProductsStopTheRunWithoutLookingAtTheErrors) {
  params("S", "S", "N");
  TfrmGeraNF& tela = ready();
  replySemGeraNF(
      {resposta({kIrregular1, kIrregular2}, 0, {{"P1", "Arroz tipo 1", "I"}, {"P2", "Feijão carioca", "NF"}})});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "screen:CriaBloqConsolida", "msg:CONS_BLOQ"}));
  ASSERT_EQ(host->hostScreens.size(), 1);
  const hostkit::HostScreenCall& bloqueados = host->hostScreens[0];
  EXPECT_TRUE(bloqueados.datasetFound);
  EXPECT_EQ(bloqueados.owner, tela.objectName());
  EXPECT_EQ(bloqueados.rows,
            (QList<QStringList>{{"0001", "P1 Arroz tipo 1", "I"}, {"0001", "P2 Feijão carioca", "NF"}}))
      << "each with why it blocks";
  EXPECT_EQ(host->messages.last().text,
            "Operação não permitida! Existem produtos inativos ou não cadastrados para a filial.");
  EXPECT_EQ(host->messages.last().kind, hostkit::ShownMessage::Error);
  EXPECT_EQ(callsOf("SemGeraNF"), 1u) << "no second call although negative stock is permitted";
  EXPECT_EQ(reloads(), 1u);
  EXPECT_TRUE(host->busyBalanced());

  // the next run's list replaces the last one
  ready();
  replySemGeraNF({resposta({}, 0, {{"P9", "Sal refinado"}})});
  consolidate();
  ASSERT_EQ(host->hostScreens.size(), 1);
  EXPECT_EQ(host->hostScreens[0].rows, (QList<QStringList>{{"0001", "P9 Sal refinado", ""}}))
      << "a reply without reasons leaves them empty";
}

TEST_F(Run, ARunNeedsItsPortOnlyNoScreen) {
  params("S", "S", "N");
  checksPass();
  PortWithoutScreen port;
  replySemGeraNF({resposta({kIrregular1}, 0, {{"P1", "Arroz tipo 1", "I"}})});
  host->dialogAnswers = {mrYes};
  EXPECT_THROW(ConsolidationRun(port).executar(), hostkit::EAbort);
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "screen:CriaBloqConsolida", "msg:CONS_BLOQ"}));
  ASSERT_EQ(host->hostScreens.size(), 1);
  EXPECT_EQ(host->hostScreens[0].owner, "portWindow");
  EXPECT_EQ(host->hostScreens[0].rows, (QList<QStringList>{{"0001", "P1 Arroz tipo 1", "I"}}));
  EXPECT_EQ(port.bloqConsolida_.RecordCount(), 1);
  EXPECT_EQ(port.reloads, 1) << "the list follows once the server was asked";
  EXPECT_EQ(port.listFocused, 0);
  EXPECT_EQ(port.outOfDate, 0);
  EXPECT_FALSE(port.emDuvida) << "the server answered: nothing is in doubt";
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_TRUE(screen.isNull()) << "no screen was ever opened";
}

TEST_F(Run, NegativeStockPermittedMakesExactlyOneSecondCall) {
  params("S", "S", "N");
  ready();
  replySemGeraNF({resposta({kAviso, kIrregular1, kIrregular2, kIrregular3}, 0), resposta({}, 21)});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:Irreg_Prod_Est", "msg:GERACAO_OK"}))
      << "the second reply decides the final message";
  const hostkit::ShownMessage& pergunta = host->messages.value(1);
  EXPECT_EQ(pergunta.type, hostkit::MsgDlgType::Information);
  EXPECT_EQ(pergunta.informative.split('\n'),
            (QStringList{"P1 Arroz tipo 1: saldo 1,500, sai 5,000, fica -3,500.", "P2 Feijão carioca: saldo -1,250.",
                         "P3 Óleo de soja: saldo -2,000."}))
      << "the products concerned, beside the question; AVISO_ERRO is none of them";
  EXPECT_EQ(pergunta.buttons, unsigned(hostkit::mbYes | hostkit::mbNo));
  const auto calls = fixture.server.callsOf("SemGeraNF");
  ASSERT_EQ(calls.size(), 2u) << "one second call, however many irregular items";
  using A = contract::SemGeraNF;
  EXPECT_TRUE(calls[0].arg(A::VerificaEstoque).boolean());
  EXPECT_FALSE(calls[1].arg(A::VerificaEstoque).boolean()) << "stock check off";
  for (int position = A::FiliProc; position < A::VerificaEstoque; ++position)
    EXPECT_EQ(calls[1].arg(position).SerializeAsString(), calls[0].arg(position).SerializeAsString())
        << "argument " << position;
  EXPECT_TRUE(host->hostScreens.isEmpty()) << "no irregular-stock screen on this path";
  EXPECT_EQ(consolidating(), 2);
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_EQ(reloads(), 1u);
}

TEST_F(Run, AfterTheSecondCallTheSecondReplyDecidesTheFinalMessage) {
  params("S", "N", "N");
  ready();
  replySemGeraNF({resposta({kIrregular1}, 0, {}, ""), resposta({}, 9, {}, "ULT_LANC_DIA")});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:ULT_LANC_DIA"})) << "not asked when the branch does not ask";
  EXPECT_EQ(callsOf("SemGeraNF"), 2u);

  ready();
  replySemGeraNF({resposta({kIrregular1}, 12, {}, ""), resposta({}, 0, {}, "")});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:NF_OK_ZERO"})) << "the second call posted nothing";
}

TEST_F(Run, NoToTheIrregularStockQuestionStillReloads) {
  params("S", "S", "N");
  TfrmGeraNF& tela = ready();
  replySemGeraNF({resposta({kIrregular1}, 0), resposta({}, 21)});
  replyItems({SaleItem{}});
  host->dialogAnswers = {mrYes, mrNo};
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:Irreg_Prod_Est"}));
  EXPECT_EQ(callsOf("SemGeraNF"), 1u);
  EXPECT_EQ(reloads(), 1u);
  EXPECT_EQ(tela.cdsPrincipal->RecordCount(), 1) << "the grid shows the reloaded list";
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, NotPermittedShowsTheIrregularItemsThenTheFinalMessage) {
  params("N", "S", "S");
  ready();
  replySemGeraNF({resposta({kIrregular1, kLancamento, kIrregular2}, 15)});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "screen:CriaLancIrreg", "msg:GERACAO_OK"}));
  ASSERT_EQ(host->hostScreens.size(), 1);
  const hostkit::HostScreenCall& irregulares = host->hostScreens[0];
  EXPECT_EQ(irregulares.postingNumber, "15");
  EXPECT_EQ(irregulares.fields, (QStringList{"CdErro", "CdObjeto", "CdObjeto2", "CdObjeto3", "CdObjeto4", "CdObjeto5",
                                             "QtLancEstq", "QtSaldoFinal"}));
  ASSERT_EQ(irregulares.rows.size(), 2) << "only the irregular-stock rows";
  EXPECT_EQ(irregulares.rows[0].mid(0, 5), (QStringList{"LIB00200_3", "0001", "P1 Arroz tipo 1", "UN", "001"}));
  EXPECT_EQ(irregulares.rows[0].mid(5), (QStringList{"1,5", "5", "-3,5"}))
      << "balance before, taken out and after, as edit texts in Brazilian form";
  EXPECT_EQ(irregulares.rows[1].mid(0, 5), (QStringList{"LIB00200_3", "0001", "P2 Feijão carioca", "KG", "002"}));
  EXPECT_EQ(irregulares.rows[1].mid(5), (QStringList{"-1,25", "", ""})) << "a reply without them leaves them empty";
  EXPECT_EQ(callsOf("SemGeraNF"), 1u) << "no second call when negative stock is not permitted";
  EXPECT_EQ(reloads(), 1u);
}

TEST_F(Run, NotPermittedAndRefusedByTheBranchEndsWithOperaBloq) {
  params("N", "S", "N");
  ready();
  replySemGeraNF({resposta({kIrregular3}, 0)});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "screen:CriaLancIrreg", "msg:OPERA_BLOQ"}));
  EXPECT_EQ(host->hostScreens.value(0).postingNumber, "0");
  EXPECT_EQ(host->messages.last().text,
            "Consolidação não permitida! Existem produtos que ficarão com saldo negativo no estoque.");
  EXPECT_EQ(host->messages.last().kind, hostkit::ShownMessage::Error);
  EXPECT_EQ(reloads(), 1u);
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, CentralStockNamesTheCentralBranchOnIrregularItemsOnly) {
  params("N", "S", "S");
  fixture.paramVend.at("IDUTILESTCENT") = "S";
  fixture.paramVend.at("CDFILIESTCENT") = "0009";
  ready();
  replySemGeraNF({resposta({kIrregular1}, 3)});
  consolidate();
  ASSERT_EQ(host->hostScreens.size(), 1);
  EXPECT_EQ(host->hostScreens[0].rows.value(0).value(1), "0009");

  ready();
  replySemGeraNF({resposta({}, 0, {{"P1", "Arroz tipo 1", "IF"}})});
  consolidate();
  ASSERT_EQ(host->hostScreens.size(), 1);
  EXPECT_EQ(host->hostScreens[0].screen, "CriaBloqConsolida");
  EXPECT_EQ(host->hostScreens[0].rows.value(0).value(0), "0001") << "blocked products name the entered branch";
}

TEST_F(Run, ProductsOutsideTheWithdrawalTypeOpenTheReportAfterTheError) {
  ready();
  replySemGeraNF({recusa("Prod_NRelacReti")});
  QStringList antesDoRelatorio;
  QString relatorio;
  hostkit::ModalAnswer fecha([&](QWidget* dialog) {
    antesDoRelatorio = host->journal;
    if (qobject_cast<TfrmRelProdEvol*>(dialog)) relatorio = dialog->windowTitle();
    dialog->close();
  });
  consolidate();
  EXPECT_EQ(relatorio, "Produtos não Evoluídos em Estoque");
  ASSERT_EQ(antesDoRelatorio.mid(0, 2), (QStringList{"msg:Conf", "msg:Prod_NRelacReti"}))
      << "the error dialog comes first";
  const hostkit::ShownMessage& erro = host->messages.value(1);
  EXPECT_EQ(erro.text, "Operação bloqueada! Existe(m) produto(s) não relacionado(s) ao tipo de retirada informado.");
  EXPECT_EQ(erro.type, hostkit::MsgDlgType::Error);
  EXPECT_EQ(erro.buttons, unsigned(hostkit::mbOK));
  EXPECT_EQ(erro.kind, hostkit::ShownMessage::Dialog);
  EXPECT_EQ(reloads(), 1u) << "reloaded after the report screen";
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, EveryRefusalKeyShowsTheScreensTextAndTheListIsReloaded) {
  const std::vector<std::pair<std::string, QString>> recusas = {
      {"Data_Mai", "Data da venda deve ser menor ou igual à data de processamento."},
      {"Data_Men", "Data da venda deve ser maior ou igual à data de processamento."},
      {"Data_M", "Data da venda fora do período permitido."},
      {"N_CTRL_ESTOQ", "Filial deve controlar estoque para realizar a consolidação das vendas."},
      {"Lanc_Bloq_Impl",
       "Operação bloqueada: Implantação ou Ajuste (último lançamento do dia) já realizada para a data informada."},
  };
  for (const auto& [chave, texto] : recusas) {
    SCOPED_TRACE(chave);
    ready();
    replySemGeraNF({recusa(chave, "Estoque fechado até 29/02/2024.")});
    consolidate();
    ASSERT_EQ(host->messages.size(), 2);
    EXPECT_EQ(host->messages[1].text, texto);
    EXPECT_EQ(host->messages[1].informative, "Estoque fechado até 29/02/2024.") << "beside the text, not in it";
    EXPECT_EQ(host->messages[1].kind, hostkit::ShownMessage::Error);
    EXPECT_EQ(reloads(), 1u);
    EXPECT_TRUE(host->busyBalanced());
  }

  ready();
  replySemGeraNF({recusa("Tabela ESTOQUE bloqueada por outro processo.")});
  consolidate();
  ASSERT_EQ(host->messages.size(), 2);
  EXPECT_EQ(host->messages[1].text, "Tabela ESTOQUE bloqueada por outro processo.") << "passed on unchanged";
  EXPECT_EQ(host->messages[1].kind, hostkit::ShownMessage::Exception);
  EXPECT_EQ(reloads(), 1u) << "reloaded before the error is passed on";
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, RefusalOfTheSecondCallIsHandledTheSameWay) {
  params("S", "S", "N");
  ready();
  replySemGeraNF({resposta({kIrregular1}, 0), recusa("Data_M")});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:Irreg_Prod_Est", "msg:Data_M"}));
  EXPECT_EQ(callsOf("SemGeraNF"), 2u);
  EXPECT_EQ(reloads(), 1u);
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, ErrorListWithoutIrregularItemsMakesNoSecondCall) {
  params("S", "S", "N");
  ready();
  replySemGeraNF({resposta({kAviso, kLancamento}, 4)});
  consolidate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:Irreg_Prod_Est", "msg:GERACAO_OK"}));
  EXPECT_EQ(callsOf("SemGeraNF"), 1u);
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(Run, MenuEntryRunsTheSameCommand) {
  TfrmGeraNF& tela = ready();
  replySemGeraNF({resposta({}, 15)});
  ASSERT_TRUE(tela.mnuGeraNota->isEnabled());
  EXPECT_EQ(tela.mnuGeraNota->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
  tela.mnuGeraNota->trigger();
  activate();
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf", "msg:GERACAO_OK"}));
  EXPECT_EQ(callsOf("SemGeraNF"), 1u);
  EXPECT_EQ(reloads(), 1u);
}

// The host's own screens over what the run left in the screen's datasets:
// modal grids titled by the fields' labels.
TEST_F(Run, HostScreensShowTheRunsListsWithTheFieldsLabels) {
  params("N", "S", "S");
  TfrmGeraNF& tela = ready();
  replySemGeraNF({resposta({kIrregular1, kIrregular2}, 15)});
  consolidate();
  ASSERT_EQ(host->hostScreens.size(), 1);
  ready();
  replySemGeraNF({resposta({}, 0, {{"P1", "Arroz tipo 1", "IF"}})});
  consolidate();
  ASSERT_EQ(host->hostScreens.size(), 1);

  struct Shown {
    QString name, heading;
    QStringList titles, firstRow;
    int rows = -1;
  };
  const auto show = [&](const std::function<void(hostkit::QtHostServices&)>& open) {
    Shown shown;
    hostkit::ModalAnswer read([&](QWidget* dialog) {
      const auto* grid = dialog->findChild<QTableView*>();
      shown.name = dialog->objectName();
      if (const auto* label = dialog->findChild<QLabel*>("lblTitulo")) shown.heading = label->text();
      if (grid) {
        shown.rows = grid->model()->rowCount();
        for (int c = 0; c < grid->model()->columnCount(); ++c) {
          shown.titles << grid->model()->headerData(c, Qt::Horizontal).toString();
          shown.firstRow << grid->model()->index(0, c).data().toString();
        }
      }
      dialog->close();
    });
    hostkit::QtHostServices real;
    open(real);
    EXPECT_EQ(read.opened(), 1) << "a modal dialog";
    return shown;
  };
  const Shown irregulares = show([&](hostkit::QtHostServices& real) { real.criaLancIrreg("15", &tela); });
  EXPECT_EQ(irregulares.name, "dlgLancIrreg");
  EXPECT_EQ(irregulares.heading, hostkit::irregularStockScreen("15").heading);
  EXPECT_EQ(irregulares.rows, 2);
  EXPECT_EQ(irregulares.titles.size(), 7) << irregulares.titles.join("|").toStdString();
  EXPECT_EQ(irregulares.firstRow.mid(4), (QStringList{"1,500", "5,000", "-3,500"}));

  const Shown bloqueados = show([&](hostkit::QtHostServices& real) { real.criaBloqConsolida(&tela); });
  EXPECT_EQ(bloqueados.name, "dlgBloqConsolida");
  EXPECT_EQ(bloqueados.rows, 1);
  EXPECT_EQ(bloqueados.titles.size(), 3);
  EXPECT_EQ(bloqueados.firstRow.last(), "inativo e não cadastrado para a filial");
}

// "Consolidações realizadas", opened from the screen's menu: the runs of the
// entered branch, the reason and the confirmation before a reversal, the
// refusals in the screen's words, and the consolidation's list loaded again
// after a reversal.
class RunsScreen : public Run {
 protected:
  TfrmConsolidacoes& openRuns() {
    ready();
    fixture.server.on("GetConsolidacoes", [](const RecordedCall&, ScriptedReply& r) {
      r.result = r.packet(contractPacket(
          contract::fields::consolidationRuns,
          {{"0001", "0000000002", "45361", "demo", "01", "01", "0001", "3", "38.5", "0001", "0000000002", "45361.8"},
           {"0001", "0000000003", "45362", "demo", "01", "01", "0001", "2", "20", "0001", "0000000003", "45362.8",
            "0000000004", "gerente", "45363.5", "Setor errado"}}));
      return grpc::Status::OK;
    });
    replyReversal("");
    screen->mnuConsolidacoes->trigger();
    runs = frmConsolidacoes;
    if (!runs) throw std::runtime_error("the runs screen was not created");
    QWidget* window = runs->frameWindow();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QApplication::processEvents();
    return *runs;
  }
  // EstornaGeraNF answers the reversing posting, or fails with `refusal`.
  void replyReversal(const std::string& refusal) {
    fixture.server.on("EstornaGeraNF", [refusal](const RecordedCall&, ScriptedReply& r) {
      if (!refusal.empty()) return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, refusal);
      r.result = listValue({textValue("0000000005"), integerValue(3)});
      return grpc::Status::OK;
    });
  }
  // Presses "Estornar..." and writes `reason` in its dialog (nothing: cancels).
  void reverse(const std::optional<QString>& reason) {
    hostkit::ModalAnswer answer([&](QWidget* dialog) {
      auto* motivo = qobject_cast<TfrmMotivoEstorno*>(dialog);
      if (!motivo) return;
      dialogLabel = motivo->lblLancamento->text();
      if (!reason) {
        motivo->btnCancelar->click();
        return;
      }
      EXPECT_FALSE(motivo->btnConfirmar->isEnabled()) << "no confirmation without a reason";
      motivo->memMotivo->setPlainText(*reason);
      motivo->btnConfirmar->click();
    });
    runs->sbtEstornar->click();
    QApplication::processEvents();
  }
  void TearDown() override {
    if (runs) runs->Close();
    Run::TearDown();
  }
  QPointer<TfrmConsolidacoes> runs;
  QString dialogLabel;
};

TEST_F(RunsScreen, ListsTheBranchRunsAndReversesOneAfterItsReasonAndConfirmation) {
  TfrmConsolidacoes& r = openRuns();
  EXPECT_EQ(r.windowTitle(), "Consolidações realizadas");
  EXPECT_EQ(r.edtFilial->text(), screen->medFilial->text());
  ASSERT_EQ(callsOf("GetConsolidacoes"), 1u);
  EXPECT_EQ(fixture.server.callsOf("GetConsolidacoes")[0].args[0].text(), screen->medFilial->text().toStdString());
  EXPECT_EQ(r.cdsConsolidacoes->RecordCount(), 2);
  EXPECT_TRUE(r.sbtEstornar->isEnabled());

  const size_t reloadsBefore = reloads();
  host->dialogAnswers = {mrYes};
  reverse(QStringLiteral("  Tipo de retirada errado "));
  EXPECT_TRUE(dialogLabel.contains("0000000002")) << dialogLabel.toStdString();
  EXPECT_TRUE(dialogLabel.contains("38,50")) << "the value in Brazilian form: " << dialogLabel.toStdString();
  ASSERT_EQ(callsOf("EstornaGeraNF"), 1u);
  const RecordedCall call = fixture.server.callsOf("EstornaGeraNF").at(0);
  using A = contract::EstornaGeraNF;
  EXPECT_EQ(call.arg(A::NrLancEstq).text(), "0000000002");
  EXPECT_EQ(call.arg(A::FilialEst).text(), "0001");
  EXPECT_EQ(call.arg(A::Motivo).text(), "Tipo de retirada errado");
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf_Estorno", "msg:Estorno_OK"}));
  EXPECT_EQ(callsOf("GetConsolidacoes"), 2u) << "the list shows the reversal";
  EXPECT_EQ(reloads(), reloadsBefore + 1) << "the consolidation's list shows the items pending";
  EXPECT_TRUE(host->busyBalanced());
}

TEST_F(RunsScreen, NoReversalWithoutReasonOrConfirmationAndRefusalsInTheScreensWords) {
  TfrmConsolidacoes& r = openRuns();
  reverse(std::nullopt);
  host->dialogAnswers = {mrNo};
  reverse(QStringLiteral("Setor errado"));
  EXPECT_EQ(callsOf("EstornaGeraNF"), 0u);

  replyReversal("Estorno_Impl_Ajuste");
  host->clearRecords();
  host->journal.clear();
  host->dialogAnswers = {mrYes};
  reverse(QStringLiteral("Setor errado"));
  EXPECT_EQ(callsOf("EstornaGeraNF"), 1u);
  EXPECT_EQ(host->journal, (QStringList{"msg:Conf_Estorno", "msg:Estorno_Impl_Ajuste"}));
  EXPECT_EQ(host->messages.value(1).text,
            "Operação bloqueada! Existe Implantação ou Ajuste de estoque posterior ao lançamento no mesmo "
            "almoxarifado.");

  // a reversed run says so without asking the server
  r.cdsConsolidacoes->Last();
  host->journal.clear();
  reverse(QStringLiteral("de novo"));
  EXPECT_EQ(callsOf("EstornaGeraNF"), 1u);
  EXPECT_EQ(host->journal, (QStringList{"msg:Estorno_Ja_Estornado"}));
}

}  // namespace
