// The checks "Consolidar Vendas" makes before it asks for confirmation: the
// accounting period, earlier sales still pending (when the branch asks for
// it) and, per cash register and day, the sales against the Z reduction.
#include <QApplication>
#include <QTabWidget>
#include <QTableView>
#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <tuple>

#include "consolidation_fixture.h"
#include <hostkit/core/routines.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/remote/replydatasets.h>

using namespace qfx;
using namespace qfxtest;
using hostkit::mrNo;
using hostkit::mrYes;

namespace {

// One cash register and day to verify, with its sum and Z reduction (nullopt: no row).
struct Verificacao {
  Verificacao() = default;
  Verificacao(std::string caixa, double dia, std::optional<double> soma, std::optional<double> reducao)
      : caixa(std::move(caixa)), dia(dia), soma(soma), reducao(reducao) {}

  std::string caixa;
  double dia = 0;
  std::optional<double> soma;
  std::optional<double> reducao;
  int somaAtrasadaMs = 0;      // the sum comes back this late
  std::string falhaDaReducao;  // not empty: GetReducaoZ fails with this message
};

using RegisterDayKey = std::pair<std::string, double>;

class Checks : public ConsolidationTest {
 protected:
  // The list is shown, every check passes; records start afresh.
  TfrmGeraNF& ready() {
    TfrmGeraNF& tela = listed({SaleItem{}});
    checksPass();
    host->clearRecords();
    host->journal.clear();
    fixture.server.clearCalls();
    return tela;
  }

  void verify(const std::vector<Verificacao>& rows) {
    fixture.server.on("GetVerifVenda", [rows](const RecordedCall&, ScriptedReply& r) {
      packet::Packet p = contract::emptyPacket(contract::fields::registerDays);
      for (const auto& row : rows) {
        column(p, "CDFILIAL").appendText("0001");
        column(p, "CDCAIXA").appendText(row.caixa);
        column(p, "DTENTRVENDA").appendNumber(row.dia);
      }
      r.result = r.packet(std::move(p));
      return grpc::Status::OK;
    });
    auto find = [rows](const std::string& caixa, double dia) {
      for (const auto& row : rows)
        if (row.caixa == caixa && row.dia == dia) return row;
      return Verificacao{};
    };
    fixture.server.on("GetSoma", [find](const RecordedCall& call, ScriptedReply& r) {
      const Verificacao row = find(call.arg(contract::GetSoma::Caixa).text(), call.arg(contract::GetSoma::Dia).date());
      std::this_thread::sleep_for(std::chrono::milliseconds(row.somaAtrasadaMs));
      packet::Packet p = contract::emptyPacket(contract::fields::registerDaySales);
      if (row.soma) {
        column(p, "CDFILIAL").appendText("0001");
        column(p, "CDCAIXA").appendText(row.caixa);
        column(p, "DTENTRVENDA").appendNumber(row.dia);
        column(p, "TOTAL").appendNumber(*row.soma);
      }
      r.result = r.packet(std::move(p));
      return grpc::Status::OK;
    });
    fixture.server.on("GetReducaoZ", [find](const RecordedCall& call, ScriptedReply& r) {
      const Verificacao row =
          find(call.arg(contract::GetReducaoZ::Caixa).text(), call.arg(contract::GetReducaoZ::Dia).date());
      if (!row.falhaDaReducao.empty()) return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, row.falhaDaReducao);
      packet::Packet p = contract::emptyPacket(contract::fields::zReduction);
      if (row.reducao) {
        column(p, "VRVENLIQREDZ").appendNumber(*row.reducao);
        column(p, "CDFILIAL").appendText("0001");
        column(p, "CDCAIXA").appendText(row.caixa);
        column(p, "DTREDUCAOZ").appendNumber(row.dia);
      }
      r.result = r.packet(std::move(p));
      return grpc::Status::OK;
    });
  }

  std::vector<std::string> methodsCalled() const {
    std::vector<std::string> methods;
    for (const auto& call : fixture.server.calls()) methods.push_back(call.method);
    return methods;
  }

  // The register-days a method was called for: register (argument `caixa`) and day (the next one).
  std::set<RegisterDayKey> registerDaysCalled(const std::string& method, size_t caixa) const {
    std::set<RegisterDayKey> days;
    for (const auto& call : fixture.server.callsOf(method))
      days.emplace(call.args.at(caixa).text(), call.args.at(caixa + 1).date());
    return days;
  }

  // Register-days 001 to 008 over consecutive days from 1 March 2024; the
  // ones in `differing` have a Z reduction that differs from their sum.
  static std::vector<Verificacao> registerDays(int count, const std::set<int>& differing) {
    std::vector<Verificacao> rows;
    for (int i = 0; i < count; ++i) {
      const double soma = 10.0 + i;
      rows.push_back(
          {"00" + std::to_string(1 + i % 8), dia(2024, 3, 1 + i / 8), soma, differing.count(i) ? soma + 0.01 : soma});
    }
    return rows;
  }

  static QString valorDif(const Verificacao& row) {
    return valorDif(QString::fromStdString(row.caixa), hostkit::DateTimeToStr(row.dia));
  }

  static QString valorDif(const QString& caixa, const QString& dia) {
    return "O somatório das vendas do caixa " + caixa + " no dia " + dia +
           " difere do valor da venda líquida da redução z. Confirma operação?";
  }
};

TEST_F(Checks, RunInTheirOrderBeforeTheConfirmation) {
  TfrmGeraNF& tela = ready();
  verify({{"001", dia(2024, 3, 10), 50.0, 50.0}});
  host->dialogAnswers = {mrNo};
  tela.sbtGeraNF->click();
  std::vector<std::string> methods = methodsCalled();
  ASSERT_EQ(methods.size(), 5u) << "no consolidation and no reload after No";
  // a register-day's two calls go out together: the server may take either first
  std::sort(methods.begin() + 3, methods.end());
  const std::vector<std::string> expected = {"getPeriodoCTBOK", "Verifica_Venda_Anterior", "GetVerifVenda",
                                             "GetReducaoZ", "GetSoma"};
  EXPECT_EQ(methods, expected);
  EXPECT_EQ(host->journal, QStringList{"msg:Conf"});
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages[0].text, "Confirma operação?");
  EXPECT_EQ(host->messages[0].type, hostkit::MsgDlgType::Confirmation);
  EXPECT_EQ(host->messages[0].buttons, unsigned(hostkit::mbYes | hostkit::mbNo));

  using Periodo = contract::getPeriodoCTBOK;
  const auto periodo = fixture.server.callsOf("getPeriodoCTBOK");
  ASSERT_EQ(periodo[0].args.size(), 3u);
  EXPECT_EQ(periodo[0].arg(Periodo::Filial).text(), "0001");
  EXPECT_EQ(periodo[0].arg(Periodo::DtInicial).date(), Filtro.dtInicial);
  EXPECT_TRUE(periodo[0].arg(Periodo::DtInicial).by_reference());
  EXPECT_EQ(periodo[0].arg(Periodo::DtFinal).date(), Filtro.dtFinal);
  using Soma = contract::GetSoma;
  const auto soma = fixture.server.callsOf("GetSoma");
  EXPECT_EQ(soma[0].arg(Soma::Filial).text(), "0001");
  EXPECT_EQ(soma[0].arg(Soma::Loja).text(), "01");
  EXPECT_EQ(soma[0].arg(Soma::Caixa).text(), "001");
  EXPECT_EQ(soma[0].arg(Soma::Dia).date(), dia(2024, 3, 10));
}

TEST_F(Checks, ClosedAccountingPeriodStopsTheRun) {
  TfrmGeraNF& tela = ready();
  fixture.server.on("getPeriodoCTBOK", [](const RecordedCall&, ScriptedReply& r) {
    r.result = booleanValue(false);
    return grpc::Status::OK;
  });
  tela.sbtGeraNF->click();
  EXPECT_EQ(host->messageTexts(),
            QStringList{"Operação Bloqueada! Existem lançamentos fora do período contábil permitido! Favor entrar em "
                        "contato com a Contabilidade."});
  EXPECT_EQ(host->messages.value(0).kind, hostkit::ShownMessage::Error);
  EXPECT_EQ(methodsCalled(), std::vector<std::string>{"getPeriodoCTBOK"}) << "nothing else, not even a reload";
}

TEST_F(Checks, EarlierSalesAreCheckedOnlyWhenTheBranchSaysExactlyOne) {
  for (const std::string value : {"S", ""}) {
    SCOPED_TRACE("IDCONSUMIOBR = '" + value + "'");
    fixture.paramVend.at("IDCONSUMIOBR") = value;
    if (screen)
      relist();  // the sales parameters are reloaded when the panel is left
    else
      listed({SaleItem{}});
    TfrmGeraNF& tela = *screen;
    checksPass();
    fixture.server.clearCalls();
    host->clearRecords();
    host->dialogAnswers = {mrNo};
    tela.sbtGeraNF->click();
    EXPECT_EQ(callsOf("Verifica_Venda_Anterior"), 0u);
    EXPECT_EQ(callsOf("GetVerifVenda"), 1u);
    EXPECT_EQ(host->messageTexts(), QStringList{"Confirma operação?"});
  }
}

TEST_F(Checks, EarlierSalesCheckSendsTheStartDateOrFirstJanuary1899) {
  TfrmGeraNF& tela = ready();
  host->dialogAnswers = {mrNo};
  tela.sbtGeraNF->click();
  auto calls = fixture.server.callsOf("Verifica_Venda_Anterior");
  ASSERT_EQ(calls.size(), 1u);
  using A = contract::Verifica_Venda_Anterior;
  const RecordedCall& call = calls[0];
  ASSERT_EQ(call.args.size(), 8u);
  EXPECT_EQ(call.arg(A::Filial).text(), "0001");
  EXPECT_EQ(call.arg(A::Inicio).date(), Filtro.dtInicial);
  EXPECT_EQ(call.arg(A::Fim).date(), Filtro.dtFinal);
  EXPECT_EQ(call.arg(A::InicioConsolidacao).date(), hostkit::toDateTime(QDate(1899, 1, 1)))
      << "no start date in the sales parameters";
  for (int position : {A::Inicio, A::Fim, A::InicioConsolidacao})
    EXPECT_TRUE(call.arg(position).by_reference()) << "argument " << position;
  EXPECT_EQ(call.arg(A::IdUtilAlmox).text(), "N") << "IDUTILALMOX";
  EXPECT_EQ(call.arg(A::IdUtilLcEstq).text(), "N") << "IDUTILLCESTQ";
  EXPECT_EQ(call.arg(A::CdAlmoxarife).text(), "000001") << "warehouse of store 01";
  EXPECT_EQ(call.arg(A::CdLocalEstoque).text(), "000002") << "stock location of store 01";

  fixture.paramVend.at("DTINITESCONS") = std::to_string(dia(2024, 1, 15));
  relist();
  checksPass();
  fixture.server.clearCalls();
  host->dialogAnswers = {mrNo};
  tela.sbtGeraNF->click();
  calls = fixture.server.callsOf("Verifica_Venda_Anterior");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].arg(A::InicioConsolidacao).date(), dia(2024, 1, 15));
}

TEST_F(Checks, EarlierPendingSalesRefuseWithTheFocusOnTheGrid) {
  TfrmGeraNF& tela = ready();
  fixture.server.on("Verifica_Venda_Anterior", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "VENDA_CONSOL");
  });
  fixture.server.on("Verifica_Venda_Anterior", [](const RecordedCall&, ScriptedReply& r) {
    r.details = "Primeiro dia com vendas ainda não consolidadas: 05/03/2024.";
    return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "VENDA_CONSOL");
  });
  focusTo(tela.pgcPadrao);
  ASSERT_NE(focused(), tela.dbgPadrao);
  tela.sbtGeraNF->click();
  EXPECT_EQ(host->messageTexts(),
            QStringList{"Operação bloqueada. Existem vendas com data anterior que ainda não foram consolidadas."});
  EXPECT_EQ(host->messages.value(0).informative, "Primeiro dia com vendas ainda não consolidadas: 05/03/2024.");
  EXPECT_EQ(host->messages.value(0).kind, hostkit::ShownMessage::Error);
  activate();
  EXPECT_EQ(focused(), tela.dbgPadrao);
  EXPECT_EQ(methodsCalled(), (std::vector<std::string>{"getPeriodoCTBOK", "Verifica_Venda_Anterior"}));
}

TEST_F(Checks, OtherErrorOfTheEarlierSalesCheckIsShownUnchanged) {
  TfrmGeraNF& tela = ready();
  fixture.server.on("Verifica_Venda_Anterior", [](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, "Data_Mai");
  });
  tela.sbtGeraNF->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Data_Mai"}) << "not turned into a catalogue text";
  EXPECT_EQ(host->messages.value(0).kind, hostkit::ShownMessage::Exception);
  EXPECT_EQ(callsOf("GetVerifVenda"), 0u);
  EXPECT_EQ(callsOf("GetPrincipal"), 0u);
}

TEST_F(Checks, AnyDifferenceFromTheZReductionIsAsked) {
  TfrmGeraNF& tela = ready();
  verify({{"001", dia(2024, 3, 10), 100.00, 100.001}, {"002", dia(2024, 3, 10), 100.00, 100.00}});
  host->dialogAnswers = {mrYes, mrNo};
  tela.sbtGeraNF->click();
  ASSERT_EQ(host->messageTexts(), (QStringList{valorDif("001", "10/03/2024"), "Confirma operação?"}));
  EXPECT_EQ(host->messages[0].key, "VALOR_DIF");
  EXPECT_EQ(host->messages[0].type, hostkit::MsgDlgType::Confirmation);
  EXPECT_EQ(host->messages[0].buttons, unsigned(hostkit::mbYes | hostkit::mbNo));
  EXPECT_EQ(callsOf("GetSoma"), 2u);
  EXPECT_EQ(callsOf("GetReducaoZ"), 2u);
}

TEST_F(Checks, MissingZReductionCountsAsZero) {
  TfrmGeraNF& tela = ready();
  verify({{"001", dia(2024, 3, 10), 0.0, std::nullopt},
          {"002", dia(2024, 3, 10), 5.0, std::nullopt},
          {"003", dia(2024, 3, 10), std::nullopt, 0.0}});
  host->dialogAnswers = {mrYes, mrNo};
  tela.sbtGeraNF->click();
  EXPECT_EQ(host->messageTexts(), (QStringList{valorDif("002", "10/03/2024"), "Confirma operação?"}))
      << "no sum and no reduction are both 0";
  EXPECT_EQ(host->messages.value(0).informative.split('\n'),
            (QStringList{"Vendas do caixa no dia: 5,00.", "Redução Z: não há redução Z deste caixa neste dia.",
                         "Diferença: 5,00."}));
}

TEST_F(Checks, EmptyVerificationListMakesNoFurtherCall) {
  TfrmGeraNF& tela = ready();
  verify({});
  host->dialogAnswers = {mrNo};
  tela.sbtGeraNF->click();
  EXPECT_EQ(callsOf("GetVerifVenda"), 1u);
  EXPECT_EQ(callsOf("GetSoma"), 0u);
  EXPECT_EQ(callsOf("GetReducaoZ"), 0u);
  EXPECT_EQ(host->messageTexts(), QStringList{"Confirma operação?"});
}

TEST_F(Checks, SeveralDifferencesAreAskedInOrderAndTheFirstNoStops) {
  TfrmGeraNF& tela = ready();
  verify({{"001", dia(2024, 3, 10), 10.0, 11.0},
          {"002", dia(2024, 3, 11, 14, 30), 20.0, 19.5},
          {"003", dia(2024, 3, 12), 30.0, 0.0}});
  host->dialogAnswers = {mrYes, mrNo};
  int busyWhileAsked = 0;
  host->onMessage = [&] {  // the screen shows it works, its animation gives way to each question
    busyWhileAsked += host->busyDepth;
    EXPECT_FALSE(tela.panMenu->isEnabled());
  };
  tela.sbtGeraNF->click();
  EXPECT_EQ(busyWhileAsked, 0);
  EXPECT_EQ(host->busyOpened, 2) << "up again after the first answer";
  EXPECT_TRUE(host->busyBalanced());
  EXPECT_TRUE(tela.panMenu->isEnabled());
  EXPECT_EQ(host->messageTexts(), (QStringList{valorDif("001", "10/03/2024"), valorDif("002", "11/03/2024 14:30:00")}))
      << "the day with its time only when it is not midnight";
  EXPECT_EQ(tela.cdsSoma->FieldByName("CDCAIXA")->AsString(), "002") << "the third register's sum is not looked at";
  EXPECT_EQ(callsOf("SemGeraNF"), 0u);
  EXPECT_EQ(callsOf("GetPrincipal"), 0u) << "a stop before the confirmation reloads nothing";
  EXPECT_EQ(tela.cdsVerifVenda->FieldByName("CDCAIXA")->AsString(), "002") << "the row that stopped stays current";
}

// More register-days than go out at once, the first sums coming back last:
// the questions follow the list all the same, and every register-day up to
// the "Não" had its own sum and Z reduction asked for.
TEST_F(Checks, ManyRegisterDaysAreAskedInTheListOrderUpToTheFirstNo) {
  TfrmGeraNF& tela = ready();
  std::vector<Verificacao> rows = registerDays(40, {2, 17, 30, 35});
  rows[0].somaAtrasadaMs = rows[2].somaAtrasadaMs = 100;
  verify(rows);
  host->dialogAnswers = {mrYes, mrYes, mrNo};
  tela.sbtGeraNF->click();
  EXPECT_EQ(host->messageTexts(), (QStringList{valorDif(rows[2]), valorDif(rows[17]), valorDif(rows[30])}));
  EXPECT_EQ(tela.cdsVerifVenda->RecNo(), 30) << "the row that stopped stays current";
  const auto somas = registerDaysCalled("GetSoma", 2), reducoes = registerDaysCalled("GetReducaoZ", 1);
  for (int i = 0; i <= 30; ++i) {
    const RegisterDayKey day{rows[size_t(i)].caixa, rows[size_t(i)].dia};
    EXPECT_EQ(somas.count(day), 1u) << "GetSoma of register-day " << i;
    EXPECT_EQ(reducoes.count(day), 1u) << "GetReducaoZ of register-day " << i;
  }
  EXPECT_EQ(callsOf("SemGeraNF"), 0u);
}

// A server error on a register-day in the middle is reported when the check
// reaches that register-day: after the question before it, though the failure
// came back before that question was asked, and with nothing asked after it.
TEST_F(Checks, AServerErrorOnAMiddleRegisterDayIsReportedAtItsPlace) {
  TfrmGeraNF& tela = ready();
  std::vector<Verificacao> rows = registerDays(20, {3, 15});
  rows[3].somaAtrasadaMs = 100;
  rows[9].falhaDaReducao = "GetReducaoZ: redução Z ilegível";
  verify(rows);
  host->dialogAnswers = {mrYes, mrYes};
  tela.sbtGeraNF->click();
  ASSERT_EQ(host->messageTexts(), (QStringList{valorDif(rows[3]), "GetReducaoZ: redução Z ilegível"}));
  EXPECT_EQ(host->messages[1].kind, hostkit::ShownMessage::Exception);
  EXPECT_EQ(tela.cdsVerifVenda->RecNo(), 9);
  EXPECT_EQ(callsOf("SemGeraNF"), 0u);
  EXPECT_TRUE(host->busyBalanced());
}

}  // namespace
