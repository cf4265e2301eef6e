// The six list pickers (their rows, titles and server arguments), the cost
// centres by customer choice, the interval name searches and the document
// number display.
#include <QRadioButton>
#include <QSqlQuery>

#include "filterfixture.h"
#include "testsql.h"
#include <hostkit/core/query.h>
#include <hostkit/widgets/datasetmodel.h>

using namespace qfx;
using namespace qfxtest;
using hostkit::PickerCall;
using hostkit::TDataSet;
using Kind = rpc::Argument::Kind;

namespace {

using PickersTest = FilterTest;
using DocumentDisplayTest = FilterTest;

// One argument as the server saw it: kind, by reference, value as text.
std::string shown(const rpc::Argument& a) {
  std::string s = a.by_reference() ? "&" : "";
  switch (a.kind()) {
    case rpc::Argument::DATE:
      return s + "D" + std::to_string(int(a.date()));
    case rpc::Argument::BOOLEAN:
      return s + (a.boolean() ? "true" : "false");
    default:
      return s + "'" + a.text() + "'";
  }
}

std::vector<std::string> argsOf(const RecordedCall& call) {
  std::vector<std::string> out;
  for (const auto& a : call.args) out.push_back(shown(a));
  return out;
}

std::string D(double day) { return "D" + std::to_string(int(day)); }

// The host only reads its database; the test changes it through its own connection.
void exec(const QString& sql) {
  const auto written = hostkit::writeSqliteFile(hostkit::hostDatabase().databaseName(), {sql});
  ASSERT_TRUE(written.ok()) << written.error().toStdString();
}

QStringList column(const TDataSet& ds, const char* field) {
  QStringList values;
  for (int r = 0; r < ds.RecordCount(); ++r) values << ds.FieldByName(field)->textAt(r);
  return values;
}

}  // namespace

TEST_F(PickersTest, CashRegistersAreThoseOfTheScreensBranchAndStore) {
  open();
  dlg().rbtCaixa->click();
  host->listAnswers.push_back(QStringList{"0001002"});
  EXPECT_TRUE(dlg().btpCaixa->Click());
  ASSERT_EQ(host->pickerCalls.size(), 1);
  const PickerCall& call = host->pickerCalls[0];
  EXPECT_EQ(call.dataset, "qryCaixa");
  EXPECT_EQ(call.keyField, "CODIGO");
  EXPECT_EQ(call.title, "Caixa");
  EXPECT_EQ(call.emptyText, "");
  EXPECT_EQ(call.rows, 2);
  EXPECT_EQ(dlg().FiltroTmp.stCaixa, "_0001002_");

  tela().medCdLoja->setText("02");
  host->listAnswers.push_back(std::nullopt);  // cancelled: the list stays
  EXPECT_TRUE(dlg().btpCaixa->Click());
  EXPECT_EQ(host->pickerCalls.last().rows, 1);
  EXPECT_EQ(column(*dlg().qryCaixa, "CODIGO"), QStringList{"0001003"});
  EXPECT_EQ(dlg().FiltroTmp.stCaixa, "_0001002_");
}

TEST_F(PickersTest, SalesPickerSendsTheRegisterChoiceAndThePossiblyOldList) {
  server.on("GetVendas", [](const RecordedCall& call, ScriptedReply& r) {
    using A = contract::GetVendas;
    if (!call.arg(A::TodosCaixa).boolean()) r.arg(A::StCaixa).set_text("_0001009_");  // the server may rewrite the list
    r.result = r.packet(contractPacket(contract::fields::salesOfPeriod,
                                       {{"N", "0001000123", "001", "123", "9", "01/03/2024", "ALFA"},
                                        {"N", "0001000124", "002", "124", "10", "02/03/2024", "BETA"}}));
    return grpc::Status::OK;
  });
  Filtro.stCaixa = "_0001002_";  // an old list, while all registers are chosen
  open();
  dlg().depInicial->setText("01/03/2024");
  dlg().depFinal->setText("05/03/2024");
  dlg().rbtLista->click();
  host->listAnswers.push_back(QStringList{"0001000124"});
  EXPECT_TRUE(dlg().btpVenda->Click());
  auto calls = server.callsOf("GetVendas");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(argsOf(calls[0]), (std::vector<std::string>{"'0001'", "'01'", D(dia(2024, 3, 1)), D(dia(2024, 3, 5)),
                                                        "true", "&'_0001002_'"}));
  ASSERT_EQ(host->pickerCalls.size(), 1);
  EXPECT_EQ(host->pickerCalls[0].dataset, "cdsVendas");
  EXPECT_EQ(host->pickerCalls[0].keyField, "CHAVE");
  EXPECT_EQ(host->pickerCalls[0].title, "Venda");
  EXPECT_EQ(host->pickerCalls[0].emptyText, "Não há vendas concluídas.");
  EXPECT_EQ(host->pickerCalls[0].rows, 2);
  EXPECT_EQ(dlg().FiltroTmp.stVendas, "_0001000124_");
  EXPECT_EQ(dlg().FiltroTmp.stCaixa, "_0001002_");

  dlg().rbtCaixa->click();
  host->listAnswers.push_back(QStringList{"0001000123"});
  EXPECT_TRUE(dlg().btpVenda->Click());
  calls = server.callsOf("GetVendas");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(shown(calls[1].arg(contract::GetVendas::TodosCaixa)), "false");
  EXPECT_EQ(shown(calls[1].arg(contract::GetVendas::StCaixa)), "&'_0001002_'");
  EXPECT_EQ(dlg().FiltroTmp.stCaixa, "_0001009_");  // what the server left in the list stays
  EXPECT_EQ(dlg().FiltroTmp.stVendas, "_0001000123_");
}

TEST_F(PickersTest, AServerErrorStopsTheSalesPickerAndKeepsTheList) {
  server.on("GetVendas", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::INTERNAL, "Falha ao ler as vendas.");
  });
  open();
  dlg().rbtLista->click();
  dlg().FiltroTmp.stVendas = "_0001000001_";
  EXPECT_FALSE(dlg().btpVenda->Click());
  EXPECT_TRUE(host->pickerCalls.isEmpty());
  EXPECT_EQ(dlg().FiltroTmp.stVendas, "_0001000001_");
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages[0].kind, hostkit::ShownMessage::Exception);
}

TEST_F(PickersTest, ProductsWithSalesOnListaAndNonePickedAreRefusedBeforeAnyServerCall) {
  open();
  dlg().rbtLista->click();
  dlg().rbtListaProdutos->click();
  EXPECT_FALSE(dlg().btnProdutos->Click());
  EXPECT_EQ(host->messageTexts(), QStringList{"Venda deve ser informada."});
  EXPECT_EQ(focusName(), "rbtLista");
  EXPECT_TRUE(server.callsOf("GetProdutos").empty());
  EXPECT_TRUE(host->pickerCalls.isEmpty());

  // a date typed just before keeps its value, as leaving its field would
  host->clearRecords();
  moveFocus(dlg().rbtLista, dlg().depInicial);
  dlg().depInicial->setText("05/03/2024");
  EXPECT_FALSE(dlg().btnProdutos->Click());
  EXPECT_EQ(host->messageTexts(), QStringList{"Venda deve ser informada."});
  EXPECT_EQ(Filtro.dtInicial, dia(2024, 3, 5));
}

TEST_F(PickersTest, ProductsSendListsAndMarkersAsCopiesThatNeverFlowBack) {
  server.on("GetProdutos", [](const RecordedCall&, ScriptedReply& r) {
    using A = contract::GetProdutos;
    for (int position : {A::CaixaLista, A::CaixaMarca, A::VendasLista, A::VendasMarca})
      r.arg(position).set_text("LIXO");
    r.result = r.packet(contractPacket(contract::fields::productsSold, {{"N", "P1", "Arroz"}, {"N", "P2", "Feijão"}}));
    return grpc::Status::OK;
  });
  Filtro.stCaixa = "_0001001_";  // old lists while everything is on all
  Filtro.stVendas = "";
  open();
  dlg().rbtListaProdutos->click();
  TFiltro expected = dlg().FiltroTmp;
  host->listAnswers.push_back(QStringList{"P2"});
  EXPECT_TRUE(dlg().btnProdutos->Click());
  auto calls = server.callsOf("GetProdutos");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(argsOf(calls[0]), (std::vector<std::string>{"'0001'", "'01'", D(dia(2024, 3, 10)), D(dia(2024, 3, 10)),
                                                        "&''", "&'T'", "&''", "&'T'"}));
  expected.stProdutos = "_P2_";
  EXPECT_EQ(dlg().FiltroTmp, expected);
  EXPECT_EQ(host->pickerCalls.last().title, "Produtos");
  EXPECT_EQ(host->pickerCalls.last().emptyText, "Não há vendas concluídas.");
  EXPECT_EQ(host->pickerCalls.last().keyField, "CDPRODUTO");

  dlg().rbtCaixa->click();
  dlg().rbtLista->click();
  dlg().FiltroTmp.stVendas = "_0001000123_";
  host->listAnswers.push_back(QStringList{"P1", "P2"});
  EXPECT_TRUE(dlg().btnProdutos->Click());
  calls = server.callsOf("GetProdutos");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(argsOf(calls[1]).at(4), "&'_0001001_'");
  EXPECT_EQ(argsOf(calls[1]).at(5), "&''");
  EXPECT_EQ(argsOf(calls[1]).at(6), "&'_0001000123_'");
  EXPECT_EQ(argsOf(calls[1]).at(7), "&''");
  EXPECT_EQ(dlg().FiltroTmp.stCaixa, "_0001001_");
  EXPECT_EQ(dlg().FiltroTmp.stVendas, "_0001000123_");
  EXPECT_EQ(dlg().FiltroTmp.stProdutos, "_P1__P2_");
}

TEST_F(PickersTest, CostCentresFollowTheCustomerChoice) {
  open();
  dlg().rbtListaCentroCusto->click();

  // all customers: every customer's cost centres, by document number then code
  host->listAnswers.push_back(QStringList{"C1CC2"});
  EXPECT_TRUE(dlg().btnCentroCusto->Click());
  EXPECT_EQ(host->pickerCalls.last().dataset, "qryCentroCusto");
  EXPECT_EQ(host->pickerCalls.last().keyField, "CHAVE");
  EXPECT_EQ(host->pickerCalls.last().title, "Centro de Custo");
  EXPECT_EQ(column(*dlg().qryCentroCusto, "CHAVE"), (QStringList{"C1CC1", "C1CC2", "C2CC1", "C3CC9"}));
  QStringList clientes;
  for (int r = 0; r < dlg().qryCentroCusto->RecordCount(); ++r)
    clientes << dlg().qryCentroCusto->FieldByName("NMRAZSOCCLIE")->displayTextAt(r);
  EXPECT_EQ(clientes, (QStringList{"ALFA LTDA", "ALFA LTDA", "BETA SILVA", "GAMA SA"}))
      << "each cost centre with its customer's name";
  EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "_C1CC2_");

  // a customer list: the cost centres of the customers in it
  dlg().rbtListaCliente->click();
  host->listAnswers.push_back(QStringList{"C1"});
  EXPECT_TRUE(dlg().btpCliente->Click());
  host->listAnswers.push_back(std::nullopt);
  EXPECT_TRUE(dlg().btnCentroCusto->Click());
  EXPECT_EQ(column(*dlg().qryCentroCusto, "CHAVE"), (QStringList{"C1CC1", "C1CC2"}));

  // an interval: the customers whose names lie between, ignoring case
  dlg().rbtIntervaloCli->click();
  dlg().medCliDe->setText("alfa ltda");
  dlg().medCliAte->setText("Beta Silva");
  host->listAnswers.push_back(std::nullopt);
  EXPECT_TRUE(dlg().btnCentroCusto->Click());
  EXPECT_EQ(column(*dlg().qryCentroCusto, "CHAVE"), (QStringList{"C1CC1", "C1CC2", "C2CC1"}));
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST_F(PickersTest, CostCentresNeedTheCustomersTheyDependOn) {
  open();
  dlg().rbtListaCentroCusto->click();
  dlg().rbtListaCliente->click();
  moveFocus(dlg().rbtListaCliente, dlg().depFinal);
  dlg().depFinal->setText("06/03/2024");
  EXPECT_FALSE(dlg().btnCentroCusto->Click());
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente deve ser informado."});
  EXPECT_EQ(focusName(), "rbtListaCliente");
  EXPECT_EQ(Filtro.dtFinal, dia(2024, 3, 6)) << "the date typed before is kept";

  host->clearRecords();
  dlg().rbtIntervaloCli->click();
  dlg().medCliDe->setText("ALFA LTDA");
  dlg().medCliAte->setText("OMEGA");
  EXPECT_FALSE(dlg().btnCentroCusto->Click());
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente não cadastrado."});
  EXPECT_EQ(focusName(), "medCliAte");
  EXPECT_TRUE(host->pickerCalls.isEmpty());
  EXPECT_EQ(dlg().FiltroTmp.stCentroCusto, "");
}

TEST_F(PickersTest, ConsumptionTypesAndCustomersAreOpenedByThePicker) {
  open();
  EXPECT_FALSE(dlg().qryTipoCons->Active());
  dlg().rdtListaTipoCons->click();
  host->listAnswers.push_back(QStringList{"02"});
  EXPECT_TRUE(dlg().btpTipoCons->Click());
  const PickerCall tipos = host->pickerCalls.last();
  EXPECT_EQ(tipos.dataset, "qryTipoCons");
  EXPECT_EQ(tipos.keyField, "CDTIPOCONS");
  EXPECT_EQ(tipos.title, "Tipo de Consumidor");
  EXPECT_EQ(tipos.emptyText, "Não há tipo de consumidor cadastrado.");
  EXPECT_EQ(tipos.rows, 2);
  EXPECT_EQ(dlg().FiltroTmp.stTipoCons, "_02_");

  dlg().rbtListaCliente->click();
  host->listAnswers.push_back(QStringList{"C3", "C1"});
  EXPECT_TRUE(dlg().btpCliente->Click());
  const PickerCall clientes = host->pickerCalls.last();
  EXPECT_EQ(clientes.dataset, "qryCliente");
  EXPECT_EQ(clientes.keyField, "CDCLIENTE");
  EXPECT_EQ(clientes.title, "Cliente");
  EXPECT_EQ(clientes.emptyText, "Cliente não cadastrado.");
  EXPECT_EQ(clientes.rows, 4);
  EXPECT_EQ(dlg().FiltroTmp.stCliente, "_C1__C3_");
}

TEST_F(PickersTest, AnEmptyLookupShowsItsEmptyTextAndKeepsTheList) {
  exec("DELETE FROM CLIENTE");
  open();
  dlg().rbtListaCliente->click();
  dlg().FiltroTmp.stCliente = "_C9_";
  dlg().btpCliente->Click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Cliente não cadastrado."});
  EXPECT_EQ(dlg().FiltroTmp.stCliente, "_C9_");
}

TEST_F(PickersTest, ACustomerChosenInTheIntervalSearchShowsItsCompanyName) {
  open();
  dlg().rbtIntervaloCli->click();
  host->recordAnswers.push_back(1);  // ordered by name: ALFA, BETA, DELTA, GAMA
  EXPECT_TRUE(dlg().btnPesqCliDe->Click());
  EXPECT_EQ(dlg().medCliDe->text(), "BETA SILVA");
  const PickerCall& search = host->pickerCalls.last();
  EXPECT_EQ(search.kind, PickerCall::Record);
  EXPECT_EQ(search.dataset, "qryPesqCli");
  EXPECT_EQ(search.title, "Cliente");
  EXPECT_EQ(search.emptyText, "Não há cliente cadastrado.");
  EXPECT_EQ(search.rows, 4);

  // each search reads the table again
  exec("INSERT INTO CLIENTE VALUES ('C5', '', 'F', 'AAA NOVO')");
  host->recordAnswers.push_back(0);
  EXPECT_TRUE(dlg().btnPesqCliAte->Click());
  EXPECT_EQ(dlg().medCliAte->text(), "AAA NOVO");
  EXPECT_EQ(host->pickerCalls.last().rows, 5);
  EXPECT_TRUE(host->messages.isEmpty());  // setting the name runs no check
}

TEST_F(DocumentDisplayTest, DocumentNumbersShowTheMaskOfTheirPersonTypeAndStayStoredAsTheyAre) {
  dlg().qryCliente->Open();
  const hostkit::TField& numero = *dlg().qryCliente->FieldByName("NRINSJURCLIE");
  ASSERT_EQ(column(*dlg().qryCliente, "CDCLIENTE"), (QStringList{"C1", "C2", "C3", "C4"}));
  EXPECT_EQ(numero.displayTextAt(0), "11.222.333/0001-81");
  EXPECT_EQ(numero.displayTextAt(1), "123.456.789-09");
  EXPECT_EQ(numero.displayTextAt(3), "777");  // a person type without a mask
  EXPECT_EQ(numero.textAt(0), "11222333000181");

  // the grids of the pickers show the formatted text
  hostkit::TDataSetModel model(dlg().qryCliente, nullptr);
  const int col = model.columnOfField("NRINSJURCLIE");
  ASSERT_GE(col, 0);
  EXPECT_EQ(model.data(model.index(1, col)).toString(), "123.456.789-09");

  dlg().qryPesqCli->Open();
  EXPECT_EQ(dlg().qryPesqCli->FieldByName("NRINSJURCLIE")->displayTextAt(0), "11.222.333/0001-81");  // ALFA LTDA
  hostkit::TADOIBQuery& cc = *dlg().qryCentroCusto;
  cc.ParamByName("P_TCDCLIENTE").SetAsString("T");
  cc.Open();
  EXPECT_EQ(cc.FieldByName("NRINSJURCLIE")->displayTextAt(2), "123.456.789-09");  // C2CC1
  EXPECT_EQ(cc.FieldByName("NRINSJURCLIE")->textAt(2), "12345678909");
}

TEST(FieldShownText, AGetTextHookReplacesOnlyTheShownText) {
  TDataSet ds(nullptr, "cdsTeste");
  hostkit::FieldSpec field;
  field.name = "NUMERO";
  field.editMask = "999-99;0;_";
  ds.AddField(field);
  ds.Open();
  ds.Append();
  ds.Fields(0)->SetAsString("12345");
  ds.Post();
  hostkit::TField& f = *ds.Fields(0);
  EXPECT_EQ(f.displayTextAt(0), "123-45");  // without a hook: the edit mask
  f.OnGetText = [&f](int row) { return "<" + f.textAt(row) + ">"; };
  EXPECT_EQ(f.displayTextAt(0), "<12345>");
  EXPECT_EQ(f.DisplayText(), "<12345>");
  EXPECT_EQ(f.AsString(), "12345");
  f.OnGetText = nullptr;
  EXPECT_EQ(f.displayTextAt(0), "123-45");
}
