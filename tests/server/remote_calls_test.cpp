// The arguments each remote method receives (count, order, kind, by
// reference, values), what flows back into the filter, and how replies and
// failures reach the caller; against a recording server on loopback.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "methods/dispatcher.h"
#include "scripted_server.h"
#include <hostkit/core/abort.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/remote/rdmgeranf.h>
#include <qfx31700/remote/replydatasets.h>

using namespace qfx;
using namespace qfxtest;
using hostkit::EServerError;
using hostkit::TDataSet;
using Kind = rpc::Argument::Kind;

namespace {

// Expected shape of one argument: kind, by reference, and its value as text.
struct Arg {
  Kind kind;
  bool byRef;
  std::string value;
};
Arg T(std::string v) { return {rpc::Argument::TEXT, false, std::move(v)}; }
Arg TR(std::string v) { return {rpc::Argument::TEXT, true, std::move(v)}; }
Arg D(double v) { return {rpc::Argument::DATE, false, std::to_string(v)}; }
Arg DR(double v) { return {rpc::Argument::DATE, true, std::to_string(v)}; }
Arg B(bool v) { return {rpc::Argument::BOOLEAN, false, v ? "true" : "false"}; }

std::string valueOf(const rpc::Argument& a) {
  switch (a.kind()) {
    case rpc::Argument::DATE:
      return std::to_string(a.date());
    case rpc::Argument::BOOLEAN:
      return a.boolean() ? "true" : "false";
    default:
      return a.text();
  }
}

// The server's method table, built from the same contract as the client's
// calls, takes the call as it came: the method, the count and every kind.
void expectAcceptedByTheServer(const RecordedCall& call) {
  static const server::Dispatcher object = server::makeConsolidationObject();
  const server::MethodEntry* method = object.find(call.method);
  ASSERT_NE(method, nullptr) << call.method;
  server::WireArguments wire;
  for (const auto& a : call.args) *wire.Add() = a;
  const auto checked = server::checkArguments(method->name, method->kinds, wire);
  EXPECT_TRUE(checked.ok()) << checked.error().message;
}

void expectArgs(const RecordedCall& call, const std::vector<Arg>& expected) {
  expectAcceptedByTheServer(call);
  ASSERT_EQ(call.args.size(), expected.size()) << call.method;
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(call.method + " argument " + std::to_string(i + 1));
    EXPECT_EQ(call.args[i].kind(), expected[i].kind);
    EXPECT_EQ(call.args[i].by_reference(), expected[i].byRef);
    EXPECT_EQ(valueOf(call.args[i]), expected[i].value);
  }
}

TFiltro sampleFilter() {
  TFiltro f;
  f.dtInicial = 46300;
  f.dtFinal = 46330;
  f.boTodasNF = false;
  f.boTodasVendas = true;
  f.stVendas = "_0001000123_";
  f.boTodosCaixa = false;
  f.stCaixa = "_0001001_";
  f.boTodosTipoCons = true;
  f.stTipoCons = "_01_";
  f.boTodosCliente = false;
  f.boIntervaloCli = true;
  f.stCliDe = "ALFA";
  f.stCliAte = "OMEGA";
  f.stCliente = "_C1_";
  f.stCentroCusto = "_C1CC1_";
  f.boTodosCentroCusto = false;
  f.stProdutos = "_P1_";
  f.boTodosProdutos = true;
  return f;
}

grpc::Status replyEmptyPacket(const RecordedCall&, ScriptedReply& r) {
  r.result = r.packet(textPacket({"X"}, {}));
  return grpc::Status::OK;
}

class RemoteCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    net.Port = server.port();
    net.CallTimeoutMs = 5000;
    net.SetConnected(true);
  }
  ScriptedServer server;
  hostkit::TNetConnection net;
  RdmGeraNF rdm{net};
  TDataSet any{nullptr, "cdsQualquer"};
};

TEST_F(RemoteCalls, ListAndLookupMethodsSendTheirArgumentsInOrder) {
  for (auto m : {"GetParamFilial", "GetParamVend", "getTipoReti", "getSetor", "GetVendas", "GetProdutos"})
    server.on(m, replyEmptyPacket);
  rdm.GetParamFilial("0001", any);
  rdm.GetParamVend("0002", any);
  rdm.getTipoReti("01", "", any);
  rdm.getTipoReti("", "T", any);
  rdm.getSetor("0003", "", any);
  QString stCaixa = "_0001001_";
  rdm.GetVendas("0001", "01", 46300, 46301, true, stCaixa, any);
  rdm.GetProdutos("0001", "01", 46300, 46301, {"", "T", "_V1_", ""}, any);

  auto calls = server.calls();
  ASSERT_EQ(calls.size(), 7u);
  for (auto& c : calls) EXPECT_EQ(c.object, "Qfx31700.rdmGeraNF");
  expectArgs(calls[0], {T("0001")});
  expectArgs(calls[1], {T("0002")});
  expectArgs(calls[2], {T("01"), T("")});
  expectArgs(calls[3], {T(""), T("T")});
  expectArgs(calls[4], {T("0003"), T("")});
  expectArgs(calls[5], {T("0001"), T("01"), D(46300), D(46301), B(true), TR("_0001001_")});
  expectArgs(calls[6], {T("0001"), T("01"), D(46300), D(46301), TR(""), TR("T"), TR("_V1_"), TR("")});
}

TEST_F(RemoteCalls, FilterMethodsSendTheFilterAndTheSameFlagTwice) {
  for (auto m : {"GetPrincipal", "GetVerifVenda", "GetSoma", "GetReducaoZ"}) server.on(m, replyEmptyPacket);
  server.on("getPeriodoCTBOK", [](const RecordedCall&, ScriptedReply& r) {
    r.result = booleanValue(true);
    return grpc::Status::OK;
  });
  server.on("Verifica_Venda_Anterior", [](const RecordedCall&, ScriptedReply&) { return grpc::Status::OK; });
  TFiltro f = sampleFilter();
  rdm.GetPrincipal("0001", "01", f, any);
  EXPECT_TRUE(rdm.getPeriodoCTBOK("0001", f));
  double ini = f.dtInicial, fim = f.dtFinal, cons = -363;
  rdm.Verifica_Venda_Anterior("0001", ini, fim, cons, "S", "N", "000001", "000002");
  rdm.GetVerifVenda("0001", "01", f, any);
  rdm.GetSoma("0001", "01", "001", 46301, f, any);
  rdm.GetReducaoZ("0001", "001", 46301, any);

  auto calls = server.calls();
  ASSERT_EQ(calls.size(), 6u);
  expectArgs(calls[0],
             {T("0001"),  DR(46300),   DR(46330),       TR("N"),       TR("N"),    TR("S"),    TR("_0001000123_"),
              T("01"),    B(false),    TR("_0001001_"), B(true),       TR("_01_"), B(false),   B(true),
              TR("ALFA"), TR("OMEGA"), TR("_C1_"),      TR("_C1CC1_"), B(false),   TR("_P1_"), B(true)});
  expectArgs(calls[1], {T("0001"), DR(46300), DR(46330)});
  expectArgs(calls[2], {T("0001"), DR(46300), DR(46330), DR(-363), T("S"), T("N"), T("000001"), T("000002")});
  expectArgs(calls[3], {T("0001"), DR(46300), DR(46330), TR("N"), TR("N"), TR("S"), TR("_0001000123_"), T("01"),
                        B(false), TR("_0001001_"), B(true), TR("_01_")});
  expectArgs(calls[4],
             {T("0001"), T("01"), T("001"), D(46301), TR("S"), TR("_0001000123_"), B(true), TR("_01_"), TR("N")});
  expectArgs(calls[5], {T("0001"), T("001"), D(46301)});
}

TEST_F(RemoteCalls, SemGeraNFSendsTwentyFourArgumentsAndSplitsTheReply) {
  server.on("SemGeraNF", [](const RecordedCall&, ScriptedReply& r) {
    r.result = listValue({r.packet(contractPacket(contract::fields::postingErrors, {{"LIB00200_3", "P1 Produto"}})),
                          integerValue(42), r.packet(contractPacket(contract::fields::blockedProducts, {})),
                          textValue("ULT_LANC_DIA"), rpc::Value()});
    r.details = "Dias não consolidados: 03/12/2026.";
    return grpc::Status::OK;
  });
  TFiltro f = sampleFilter();
  TDataSet erros(nullptr, "cdsErroConsolida"), bloq(nullptr, "cdsProdBloq");
  const SemGeraNFReply reply =
      rdm.SemGeraNF("0009", "0001", "01", f, "01", "0002", "OPER", true, "execucao-7", erros, bloq);
  EXPECT_EQ(reply.lancamento, 42);
  EXPECT_EQ(reply.chave, "ULT_LANC_DIA");
  EXPECT_EQ(reply.detalhes, "Dias não consolidados: 03/12/2026.");
  EXPECT_EQ(server.calls().at(0).runId, "execucao-7") << "in the metadata, beside the 24 arguments";
  EXPECT_EQ(erros.RecordCount(), 1);
  EXPECT_EQ(erros.FieldByName("CDERRO")->AsString(), "LIB00200_3");
  EXPECT_TRUE(bloq.Active());
  EXPECT_TRUE(bloq.IsEmpty());
  expectArgs(
      server.calls().at(0),
      {T("0009"), T("0001"),  T("01"),   TR("S"),       TR("_0001000123_"), DR(46300),   DR(46330),  TR("_0001001_"),
       B(false),  TR("_C1_"), B(false),  B(true),       TR("ALFA"),         TR("OMEGA"), TR("_01_"), B(true),
       T("01"),   T("0002"),  T("OPER"), TR("_C1CC1_"), B(false),           TR("_P1_"),  B(true),    B(true)});
}

TEST_F(RemoteCalls, TheRunsAndTheirReversalSendTheirArgumentsAndReadTheReplies) {
  server.on("GetConsolidacoes", [](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(contractPacket(contract::fields::consolidationRuns, {{"0001", "0000000002"}}));
    return grpc::Status::OK;
  });
  server.on("EstornaGeraNF", [](const RecordedCall&, ScriptedReply& r) {
    r.result = listValue({textValue("0000000009"), integerValue(3)});
    return grpc::Status::OK;
  });
  TDataSet runs(nullptr, "cdsConsolidacoes");
  defineCdsConsolidacoes(runs);
  rdm.GetConsolidacoes("0001", 46300, 46330, runs);
  EXPECT_EQ(runs.FieldByName("NRLANCESTQ")->AsString(), "0000000002");
  const EstornaGeraNFReply reply = rdm.EstornaGeraNF("0009", "0001", "0005", "0000000002", "Setor errado", "OPER");
  EXPECT_EQ(reply.lancamento, "0000000009");
  EXPECT_EQ(reply.itens, 3);
  const auto calls = server.calls();
  ASSERT_EQ(calls.size(), 2u);
  expectArgs(calls[0], {T("0001"), D(46300), D(46330)});
  expectArgs(calls[1], {T("0009"), T("0001"), T("0005"), T("0000000002"), T("Setor errado"), T("OPER")});

  // a reply of another shape is an error, not a reversal the screen reports
  server.on("EstornaGeraNF", [](const RecordedCall&, ScriptedReply& r) {
    r.result = integerValue(1);
    return grpc::Status::OK;
  });
  EXPECT_THROW(rdm.EstornaGeraNF("0009", "0001", "0005", "0000000002", "x", "OPER"), EServerError);
}

TEST_F(RemoteCalls, ByReferenceValuesFlowBackButNeverIntoTheFlagTable) {
  server.on("GetPrincipal", [](const RecordedCall&, ScriptedReply& r) {
    using A = contract::GetPrincipal;
    r.arg(A::DtInicial).set_date(46000);
    r.arg(A::TodasNF).set_text("X");  // flag letter of boTodasNF
    r.arg(A::TodasNF2).set_text("Y");
    r.arg(A::TodasVendas).set_text("Z");
    r.arg(A::StCaixa).set_text("_0001002_");
    r.arg(A::Loja).set_text("loja trocada");  // by value: must not flow back
    r.result = r.packet(textPacket({"X"}, {}));
    return grpc::Status::OK;
  });
  server.on("GetVendas", [](const RecordedCall&, ScriptedReply& r) {
    r.arg(contract::GetVendas::StCaixa).set_text("_MUDADO_");
    r.result = r.packet(textPacket({"X"}, {}));
    return grpc::Status::OK;
  });
  server.on("GetProdutos", [](const RecordedCall&, ScriptedReply& r) {
    using A = contract::GetProdutos;
    for (int position : {A::CaixaLista, A::CaixaMarca, A::VendasLista, A::VendasMarca})
      r.arg(position).set_text("LIXO");
    r.result = r.packet(textPacket({"X"}, {}));
    return grpc::Status::OK;
  });

  TFiltro f = sampleFilter();
  rdm.GetPrincipal("0001", "01", f, any);
  EXPECT_EQ(f.dtInicial, 46000);
  EXPECT_EQ(f.stCaixa, "_0001002_");
  EXPECT_EQ(stFilBool[0], "N");
  EXPECT_EQ(stFilBool[1], "S");

  QString stCaixa = "_A_";
  rdm.GetVendas("0001", "01", 1, 2, false, stCaixa, any);
  EXPECT_EQ(stCaixa, "_MUDADO_");

  ProdutosSelecao selecao{"_A_", "", "", "T"};
  const ProdutosSelecao before = selecao;
  rdm.GetProdutos("0001", "01", 1, 2, selecao, any);
  EXPECT_EQ(selecao.caixaLista, before.caixaLista);
  EXPECT_EQ(selecao.vendasMarca, before.vendasMarca);
}

TEST_F(RemoteCalls, RepliesLoadWithTheFixedFieldsOrFailClearly) {
  server.on("GetParamFilial", [](const RecordedCall&, ScriptedReply& r) {
    r.result =
        r.packet(textPacket({"IDUTILALMOX", "IDUTILLCESTQ", "IDCTRLESTQ", "IDPERMESTNEG", "IDMENSESTNEG", "A_MAIS"},
                            {{"S", "N", "S", "N", "S", "x"}}));
    return grpc::Status::OK;
  });
  server.on("GetParamVend", [](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(textPacket({"IDCONSUMIOBR"}, {{"1"}}));  // most fields missing
    return grpc::Status::OK;
  });
  server.on("getTipoReti", [](const RecordedCall&, ScriptedReply& r) {
    r.result = textValue("não é pacote");
    return grpc::Status::OK;
  });
  TDataSet params(nullptr, "cdsParamFilial");
  defineCdsParamFilial(params);
  rdm.GetParamFilial("0001", params);
  EXPECT_EQ(params.FieldByName("IDCTRLESTQ")->AsString(), "S");
  EXPECT_EQ(params.FindField("A_MAIS"), nullptr);

  TDataSet vend(nullptr, "cdsParamVend");
  defineCdsParamVend(vend);
  try {
    rdm.GetParamVend("0001", vend);
    FAIL() << "a packet without the fixed fields must be refused";
  } catch (const hostkit::EDatabaseError& e) {
    EXPECT_TRUE(e.message().contains("DTINITESCONS")) << e.message().toStdString();
  }
  EXPECT_THROW(rdm.getTipoReti("01", "", any), EServerError);
}

TEST_F(RemoteCalls, RefusalKeysAndOtherFailuresReachTheCaller) {
  server.on("Verifica_Venda_Anterior", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "VENDA_CONSOL");
  });
  server.on("GetSoma", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "GetSoma: argumento 3 deveria ser texto");
  });
  double a = 1, b = 2, c = 3;
  try {
    rdm.Verifica_Venda_Anterior("0001", a, b, c, "", "", "", "");
    FAIL();
  } catch (const EServerError& e) {
    EXPECT_EQ(e.message(), "VENDA_CONSOL");
  }
  TFiltro f;
  try {
    rdm.GetSoma("0001", "01", "001", 1, f, any);
    FAIL();
  } catch (const EServerError& e) {
    EXPECT_EQ(e.message(), "GetSoma: argumento 3 deveria ser texto");
  }
}

TEST_F(RemoteCalls, ADeadServerGivesAClearErrorWithinTheDeadline) {
  server.stop();
  net.CallTimeoutMs = 2000;
  QElapsedTimer clock;
  clock.start();
  try {
    rdm.GetParamFilial("0001", any);
    FAIL();
  } catch (const EServerError& e) {
    EXPECT_TRUE(e.message().contains("servidor de aplicação")) << e.message().toStdString();
  }
  EXPECT_LT(clock.elapsed(), 30000);
}

// Calls started together on one connection: each outcome is taken when the
// program asks for it, in the program's order whatever order the replies came
// in, with by-reference values copied back only then. A reply read in time is
// good however long it waits to be taken, past its call's deadline too; a
// failure is an error value like a synchronous call's.
TEST_F(RemoteCalls, CallsStartedTogetherAreTakenInTheProgramsOwnOrder) {
  server.on("GetReducaoZ", [](const RecordedCall& call, ScriptedReply& r) {
    const std::string& caixa = call.arg(contract::GetReducaoZ::Caixa).text();
    if (caixa == "001") std::this_thread::sleep_for(std::chrono::milliseconds(100));
    r.result = textValue("Z " + caixa);
    return grpc::Status::OK;
  });
  server.on("GetVendas", [](const RecordedCall&, ScriptedReply& r) {
    r.arg(contract::GetVendas::StCaixa).set_text("_VOLTOU_");
    r.result = textValue("vendas");
    return grpc::Status::OK;
  });
  server.on("GetSoma", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "GetSoma: caixa inexistente");
  });
  net.CallTimeoutMs = 1000;
  const auto dispatch = net.AppServer();
  using hostkit::RemoteArg;
  using Reducao = contract::GetReducaoZ;
  using Vendas = contract::GetVendas;
  std::vector<hostkit::PendingCall> reducoes;
  for (const char* caixa : {"001", "002", "003"})
    reducoes.push_back(dispatch.Start(
        "GetReducaoZ", contract::ArgumentList<Reducao, RemoteArg>{{Reducao::Filial, RemoteArg::Text("0001")},
                                                                  {Reducao::Caixa, RemoteArg::Text(caixa)},
                                                                  {Reducao::Dia, RemoteArg::Date(46301)}}
                           .values()));
  QString stCaixa = "_A_";
  hostkit::PendingCall vendas = dispatch.Start(
      "GetVendas", contract::ArgumentList<Vendas, RemoteArg>{{Vendas::Filial, RemoteArg::Text("0001")},
                                                             {Vendas::Loja, RemoteArg::Text("01")},
                                                             {Vendas::Inicio, RemoteArg::Date(1)},
                                                             {Vendas::Fim, RemoteArg::Date(2)},
                                                             {Vendas::TodosCaixa, RemoteArg::Boolean(false)},
                                                             {Vendas::StCaixa, RemoteArg::TextRef(stCaixa)}}
                       .values());
  hostkit::PendingCall soma = dispatch.Start("GetSoma", {RemoteArg::Text("0001")});
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past every call's deadline

  EXPECT_EQ(stCaixa, "_A_") << "nothing flows back before the outcome is taken";
  const hostkit::CallOutcome vendasOutcome = vendas.Take();
  ASSERT_TRUE(vendasOutcome.ok()) << vendasOutcome.error.toStdString();
  EXPECT_EQ(stCaixa, "_VOLTOU_");
  const hostkit::CallOutcome somaOutcome = soma.Take();
  EXPECT_FALSE(somaOutcome.ok());
  EXPECT_EQ(somaOutcome.error, "GetSoma: caixa inexistente");
  for (size_t i = 0; i < reducoes.size(); ++i) {
    const hostkit::CallOutcome outcome = reducoes[i].Take();
    ASSERT_TRUE(outcome.ok()) << "register " << i + 1 << ": " << outcome.error.toStdString();
    EXPECT_EQ(outcome.value->toText(), QStringLiteral("Z 00%1").arg(i + 1));
  }
  EXPECT_EQ(server.callsOf("GetReducaoZ").size(), 3u);
}

// While a call waits for its reply the screen's own events keep running (the
// server here answers only once a timer of the screen has fired), and what
// the user types meanwhile is swallowed, not replayed afterwards.
TEST_F(RemoteCalls, WhileACallWaitsTheScreenRunsItsEventsAndDropsInput) {
  std::atomic<bool> timerFired{false};
  server.on("GetParamFilial", [&](const RecordedCall& call, ScriptedReply& r) {
    for (int i = 0; i < 500 && !timerFired; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!timerFired) return grpc::Status(grpc::StatusCode::INTERNAL, "o temporizador da tela não rodou");
    return replyEmptyPacket(call, r);
  });
  QLineEdit field;
  field.show();
  QTimer::singleShot(0, [&] {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QCoreApplication::sendEvent(&field, &press);
    timerFired = true;
  });
  EXPECT_NO_THROW(rdm.GetParamFilial("0001", any));
  EXPECT_TRUE(timerFired);
  EXPECT_EQ(field.text(), QString()) << "a key typed during the call reached the field";
  // after the call, input reaches the screen again
  QKeyEvent press(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, QStringLiteral("b"));
  QCoreApplication::sendEvent(&field, &press);
  EXPECT_EQ(field.text(), QStringLiteral("b"));
}

// A month of a large branch: a million sale items travel as a stream of
// chunks and load into the grid's dataset with its fixed fields.
TEST_F(RemoteCalls, AMillionItemsLoadThroughTheChunkedStream) {
  constexpr int kRows = 1'000'000;
  server.on("GetPrincipal", [](const RecordedCall&, ScriptedReply& r) {
    using qfx::packet::FieldType;
    constexpr const auto& fields = contract::fields::principal;
    constexpr size_t kStockPosting = contract::indexOf(fields, "NRLANCESTQ");
    constexpr size_t kProductName = contract::indexOf(fields, "NMPRODUTO");
    qfx::packet::Packet p = contract::emptyPacket(fields);
    for (auto& c : p.columns) c.reserve(kRows);
    for (int row = 0; row < kRows; ++row) {
      for (size_t i = 0; i < fields.size(); ++i) {
        auto& c = p.columns[i];
        switch (c.type()) {
          case FieldType::DateTime:
            c.appendNumber(46300 + row % 30);
            break;
          case FieldType::Float:
            c.appendNumber(row % 100 * 0.5);
            break;
          default:
            if (i == kStockPosting && row % 2)
              c.appendNull();  // half pending
            else
              c.appendText(i == kProductName ? "PRODUTO DE TESTE " + std::to_string(row % 500)
                                             : std::to_string(row % 997));
        }
      }
    }
    r.result = r.packet(std::move(p));
    return grpc::Status::OK;
  });
  net.CallTimeoutMs = 120000;
  TDataSet itens(nullptr, "cdsPrincipal");
  defineCdsPrincipal(itens);
  itens.OnCalcFields = [](TDataSet& ds) {
    ds.FieldByName("IDNOTAFISCAL")->SetAsBoolean(!ds.FieldByName("NRLANCESTQ")->IsNull());
  };
  TFiltro f = sampleFilter();
  rdm.GetPrincipal("0001", "01", f, itens);
  ASSERT_EQ(itens.RecordCount(), kRows);
  itens.SetRecNo(kRows - 1);
  EXPECT_EQ(itens.FieldByName("NMPRODUTO")->AsString(), QString("PRODUTO DE TESTE %1").arg((kRows - 1) % 500));
  EXPECT_TRUE(itens.FieldByName("IDNOTAFISCAL")->AsBoolean() == false);
  itens.SetRecNo(kRows - 2);
  EXPECT_TRUE(itens.FieldByName("IDNOTAFISCAL")->AsBoolean());
}

}  // namespace
