// Meaning of the twelve read and check methods on the fixture database, on
// SQLite and on PostgreSQL, through a real server on loopback.
#include <gtest/gtest.h>

#include <QSqlQuery>

#include "harness.h"

using namespace qfx;
using namespace qfx::test;

namespace {

const QDate kMar05(2024, 3, 5);
const QDate kMar10(2024, 3, 10);
const QDate kMar11(2024, 3, 11);

std::string sale(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%010d", n);
  return buf;
}

struct FieldSpec {
  const char* name;
  packet::FieldType type;
  int size;
};

void expectFields(const packet::Packet& p, const std::vector<FieldSpec>& expected) {
  for (const auto& f : expected) {
    const int i = p.fieldIndex(f.name);
    ASSERT_GE(i, 0) << "campo ausente: " << f.name;
    EXPECT_EQ(p.fields[size_t(i)].type, f.type) << f.name;
    if (f.type == packet::FieldType::Text) {
      EXPECT_EQ(p.fields[size_t(i)].size, f.size) << f.name;
    }
  }
}

using FT = packet::FieldType;

}  // namespace

class ReadMethodsTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    QFX_REQUIRE_BACKEND(GetParam());
    harness_ = std::make_unique<ServerHarness>(GetParam());
    client_ = harness_->loggedIn();
  }
  std::vector<std::string> principalSales(const PrincipalFilter& f) {
    auto reply = client_->invoke("GetPrincipal", f.args());
    EXPECT_TRUE(reply.ok()) << reply.status.error_message() << reply.packetError;
    return columnTexts(reply.packet(), "NRSEQVENDA");
  }
  std::unique_ptr<ServerHarness> harness_;
  std::unique_ptr<TestClient> client_;
};

TEST_P(ReadMethodsTest, BranchAndSalesParametersComeWithTheirNames) {
  auto filial = client_->invoke("GetParamFilial", {text("0001")});
  ASSERT_TRUE(filial.ok()) << filial.status.error_message();
  const auto& pf = filial.packet();
  expectFields(pf, {{"IDUTILALMOX", FT::Text, 1},
                    {"IDUTILLCESTQ", FT::Text, 1},
                    {"IDCTRLESTQ", FT::Text, 1},
                    {"IDPERMESTNEG", FT::Text, 1},
                    {"IDMENSESTNEG", FT::Text, 1}});
  ASSERT_EQ(pf.rowCount(), 1u);
  EXPECT_EQ(cellText(pf, "IDCTRLESTQ", 0), "S");
  EXPECT_EQ(cellText(pf, "IDPERMESTNEG", 0), "N");
  EXPECT_EQ(cellText(pf, "IDMENSESTNEG", 0), "S");
  EXPECT_EQ(client_->invoke("GetParamFilial", {text("9999")}).packet().rowCount(), 0u);

  auto vend = client_->invoke("GetParamVend", {text("0001")});
  ASSERT_TRUE(vend.ok()) << vend.status.error_message();
  const auto& pv = vend.packet();
  expectFields(pv, {{"IDCONSUMIOBR", FT::Text, 1},
                    {"DTINITESCONS", FT::DateTime, 0},
                    {"CDLOJA", FT::Text, 10},
                    {"NMLOJA", FT::Text, 50},
                    {"IDATUEST", FT::Text, 1},
                    {"IDGERANFVENPROD", FT::Text, 1},
                    {"IDBLOQCONSOLIDA", FT::Text, 1},
                    {"CDTIPORETI", FT::Text, 2},
                    {"NMTIPORETI", FT::Text, 40},
                    {"IDPERCONVESTNEG", FT::Text, 1},
                    {"CDSETOR", FT::Text, 4},
                    {"NMSETOR", FT::Text, 30},
                    {"CONSOIMPAJUS", FT::Text, 1},
                    {"IDUTILESTCENT", FT::Text, 1},
                    {"CDFILIESTCENT", FT::Text, 4},
                    {"CDALMOXESTCENT", FT::Text, 6},
                    {"CDLOCALESTCENT", FT::Text, 6}});
  ASSERT_EQ(pv.rowCount(), 1u);
  EXPECT_EQ(cellText(pv, "NMLOJA", 0), "Loja Centro");
  EXPECT_EQ(cellText(pv, "NMTIPORETI", 0), "Venda balcão");
  EXPECT_EQ(cellText(pv, "NMSETOR", 0), "Salão");
  EXPECT_EQ(cellText(pv, "IDCONSUMIOBR", 0), "1");
  EXPECT_EQ(cellNumber(pv, "DTINITESCONS", 0), qfxtest::dia(QDate(2024, 2, 1)));
  EXPECT_TRUE(cellIsNull(pv, "CDFILIESTCENT", 0));

  auto central = client_->invoke("GetParamVend", {text("0002")});
  ASSERT_EQ(central.packet().rowCount(), 1u);
  EXPECT_EQ(cellText(central.packet(), "IDUTILESTCENT", 0), "S");
  EXPECT_EQ(cellText(central.packet(), "CDFILIESTCENT", 0), "0001");
  EXPECT_EQ(cellText(central.packet(), "CDALMOXESTCENT", 0), "000009");
  EXPECT_TRUE(cellIsNull(central.packet(), "DTINITESCONS", 0));
  EXPECT_EQ(client_->invoke("GetParamVend", {text("0003")}).packet().rowCount(), 0u);
}

TEST_P(ReadMethodsTest, WithdrawalTypesAndSectorsByCodeOrAll) {
  auto one = client_->invoke("getTipoReti", {text("01"), text("")});
  ASSERT_TRUE(one.ok());
  expectFields(one.packet(), {{"CDTIPORETI", FT::Text, 2}, {"NMTIPORETI", FT::Text, 40}});
  EXPECT_EQ(columnTexts(one.packet(), "NMTIPORETI"), std::vector<std::string>{"Venda balcão"});
  EXPECT_EQ(columnTexts(client_->invoke("getTipoReti", {text(""), text("T")}).packet(), "CDTIPORETI"),
            (std::vector<std::string>{"01", "02"}));
  EXPECT_EQ(client_->invoke("getTipoReti", {text("99"), text("")}).packet().rowCount(), 0u);
  EXPECT_EQ(client_->invoke("getTipoReti", {text("' OR '1'='1"), text("")}).packet().rowCount(), 0u);

  auto sector = client_->invoke("getSetor", {text("0002"), text("")});
  ASSERT_TRUE(sector.ok());
  expectFields(sector.packet(), {{"CDSETOR", FT::Text, 4}, {"SGSETOR", FT::Text, 10}, {"NMSETOR", FT::Text, 30}});
  ASSERT_EQ(sector.packet().rowCount(), 1u);
  EXPECT_EQ(cellText(sector.packet(), "SGSETOR", 0), "COZ");
  EXPECT_EQ(cellText(sector.packet(), "NMSETOR", 0), "Cozinha");
  EXPECT_EQ(columnTexts(client_->invoke("getSetor", {text(""), text("T")}).packet(), "CDSETOR"),
            (std::vector<std::string>{"0001", "0002"}));
  // the method name is matched as late binding does, ignoring case
  EXPECT_TRUE(client_->invoke("GETSETOR", {text(""), text("T")}).ok());
}

TEST_P(ReadMethodsTest, SalesListCarriesEveryFieldOfTheGridInRegisterAndTimeOrder) {
  PrincipalFilter f;
  auto reply = client_->invoke("GetPrincipal", f.args());
  ASSERT_TRUE(reply.ok()) << reply.status.error_message();
  const auto& p = reply.packet();
  expectFields(p, {{"CDFILIALEST", FT::Text, 4},   {"CDFILIAL", FT::Text, 4},      {"NRSEQVENDA", FT::Text, 10},
                   {"CDCLIENTE", FT::Text, 21},    {"CDCAIXA", FT::Text, 3},       {"DTENTRVENDA", FT::DateTime, 0},
                   {"IDTIPOIMPV", FT::Text, 1},    {"NRLANCESTQ", FT::Text, 10},   {"CDPRODUTO", FT::Text, 10},
                   {"NMPRODUTO", FT::Text, 50},    {"QTPRODVEND", FT::Float, 0},   {"VRUNITVEND", FT::Float, 0},
                   {"TOTITEM", FT::Float, 0},      {"NRSEQUITVEND", FT::Text, 3},  {"VRDESITVEND", FT::Float, 0},
                   {"CDPRODESTO", FT::Text, 10},   {"NMRAZSOCCLIE", FT::Text, 50}, {"NRLANCTONF", FT::Text, 10},
                   {"CDLOJA", FT::Text, 10},       {"NRCUPOMFIS", FT::Text, 10},   {"CDFILIALNF", FT::Text, 4},
                   {"NMCONSUMIDOR", FT::Text, 50}, {"CDARVPROD", FT::Text, 20},    {"IDSITUVENDA", FT::Text, 1},
                   {"IDTPFORPGVEN", FT::Text, 1}});
  // register 001 by moment (V1 then V3 next day), then register 002; the posted V7 is left out
  EXPECT_EQ(columnTexts(p, "NRSEQVENDA"),
            (std::vector<std::string>{sale(1), sale(1), sale(3), sale(3), sale(2), sale(2), sale(6)}));
  EXPECT_EQ(columnTexts(p, "NRSEQUITVEND"),
            (std::vector<std::string>{"001", "002", "001", "002", "001", "002", "001"}));

  // V1 item 002: 1 x 7.25 less 0.25
  EXPECT_EQ(cellText(p, "CDPRODUTO", 1), "P2");
  EXPECT_EQ(cellText(p, "NMPRODUTO", 1), "Feijão");
  EXPECT_DOUBLE_EQ(cellNumber(p, "QTPRODVEND", 1), 1.0);
  EXPECT_DOUBLE_EQ(cellNumber(p, "VRUNITVEND", 1), 7.25);
  EXPECT_DOUBLE_EQ(cellNumber(p, "VRDESITVEND", 1), 0.25);
  EXPECT_DOUBLE_EQ(cellNumber(p, "TOTITEM", 1), 7.0);
  EXPECT_EQ(cellText(p, "CDCLIENTE", 1), "C1");
  EXPECT_EQ(cellText(p, "NMRAZSOCCLIE", 1), "ACME LTDA");
  EXPECT_EQ(cellText(p, "NRCUPOMFIS", 1), "100");
  EXPECT_EQ(cellText(p, "CDARVPROD", 1), "01.002");
  EXPECT_EQ(cellText(p, "IDTPFORPGVEN", 1), "D");
  EXPECT_EQ(cellText(p, "IDTIPOIMPV", 1), "F");
  EXPECT_DOUBLE_EQ(cellNumber(p, "DTENTRVENDA", 1), qfxtest::dia(kMar10) + 9.0 / 24.0);
  for (const char* pending : {"CDFILIALEST", "NRLANCESTQ", "CDFILIALNF", "NRLANCTONF"})
    EXPECT_TRUE(cellIsNull(p, pending, 1)) << pending;
  EXPECT_EQ(cellText(p, "CDPRODESTO", 3), "P1");  // the combo moves rice stock
  EXPECT_EQ(cellText(p, "NMCONSUMIDOR", 4), "João");
  EXPECT_EQ(cellText(p, "CDCLIENTE", 4), "<null>");
  EXPECT_EQ(cellText(p, "IDSITUVENDA", 6), "D");
  EXPECT_EQ(cellText(p, "NMRAZSOCCLIE", 6), "O'Brien'); DROP TABLE VENDA;--");

  // by-reference arguments come back as sent
  ASSERT_EQ(reply.arguments.size(), 21u);
  for (size_t i = 0; i < reply.arguments.size(); ++i)
    EXPECT_EQ(reply.arguments[i].SerializeAsString(), f.args()[i].SerializeAsString()) << "argumento " << i + 1;

  f.includePosted = true;
  auto all = client_->invoke("GetPrincipal", f.args());
  ASSERT_EQ(all.packet().rowCount(), 8u);
  EXPECT_EQ(cellText(all.packet(), "NRSEQVENDA", 0), sale(7));
  EXPECT_EQ(cellText(all.packet(), "NRLANCESTQ", 0), "0000000001");
  EXPECT_EQ(cellText(all.packet(), "CDFILIALEST", 0), "0001");
  EXPECT_EQ(cellText(all.packet(), "NRLANCTONF", 0), "0000000001");
  EXPECT_EQ(cellText(all.packet(), "CDFILIALNF", 0), "0001");
}

TEST_P(ReadMethodsTest, SalesListHonoursEachListWhoseAllFlagIsOff) {
  using V = std::vector<std::string>;
  PrincipalFilter registers;
  registers.allRegisters = false;
  registers.registers = "_0001002_";
  EXPECT_EQ(principalSales(registers), (V{sale(2), sale(2), sale(6)}));
  registers.allRegisters = true;  // the flag wins over a stale list
  EXPECT_EQ(principalSales(registers).size(), 7u);

  PrincipalFilter types;
  types.allConsumptionTypes = false;
  types.consumptionTypes = "_02_";
  EXPECT_EQ(principalSales(types), (V{sale(2), sale(2), sale(6)}));

  PrincipalFilter customers;
  customers.allCustomers = false;
  customers.customers = "_C2_";
  EXPECT_EQ(principalSales(customers), (V{sale(3), sale(3)}));

  PrincipalFilter interval;
  interval.allCustomers = false;
  interval.interval = true;
  interval.customers = "_C2_";  // ignored in interval mode
  interval.nameFrom = "acme";
  interval.nameTo = "ACME LTDA";
  EXPECT_EQ(principalSales(interval), (V{sale(1), sale(1)}));
  interval.nameFrom = "m";
  interval.nameTo = "z";
  EXPECT_EQ(principalSales(interval), (V{sale(3), sale(3), sale(6)}));

  PrincipalFilter centres;
  centres.allCostCentres = false;
  centres.costCentres = "_C1CC1_";
  EXPECT_EQ(principalSales(centres), (V{sale(1), sale(1)}));

  PrincipalFilter products;
  products.allProducts = false;
  products.products = "_P2_";
  EXPECT_EQ(principalSales(products), (V{sale(1), sale(3), sale(6)}));

  PrincipalFilter sales;
  sales.sales = "_00010000000003__00010000000006_";
  EXPECT_EQ(principalSales(sales), (V{sale(3), sale(3), sale(6)}));

  PrincipalFilter combined;
  combined.allRegisters = false;
  combined.registers = "_0001001_";
  combined.allProducts = false;
  combined.products = "_P1_";
  EXPECT_EQ(principalSales(combined), (V{sale(1)}));
  combined.includePosted = true;
  EXPECT_EQ(principalSales(combined), (V{sale(7), sale(1)}));

  PrincipalFilter oneDay;
  oneDay.first = oneDay.last = kMar11;
  EXPECT_EQ(principalSales(oneDay), (V{sale(3), sale(3), sale(6)}));
  PrincipalFilter otherStore;
  otherStore.store = "02";
  EXPECT_EQ(principalSales(otherStore), (V{sale(4)}));
  PrincipalFilter noStore;
  noStore.store = "";
  EXPECT_TRUE(principalSales(noStore).empty());
  PrincipalFilter emptyList;  // a list choice with nothing chosen selects nothing
  emptyList.allProducts = false;
  EXPECT_TRUE(principalSales(emptyList).empty());
}

TEST_P(ReadMethodsTest, AccountingPeriodMustCoverEveryDay) {
  auto ok = [&](const std::string& branch, QDate first, QDate last) {
    auto reply = client_->invoke("getPeriodoCTBOK", {text(branch), date(first, true), date(last, true)});
    EXPECT_TRUE(reply.ok()) << reply.status.error_message();
    EXPECT_TRUE(reply.result.has_boolean());
    return reply.result.boolean();
  };
  EXPECT_TRUE(ok("0001", QDate(2024, 3, 1), QDate(2024, 3, 31)));
  EXPECT_TRUE(ok("0001", QDate(2024, 2, 15), kMar10));              // two open periods back to back
  EXPECT_FALSE(ok("0001", QDate(2024, 1, 31), QDate(2024, 2, 2)));  // 31 January is closed
  EXPECT_FALSE(ok("0001", QDate(2024, 3, 31), QDate(2024, 4, 1)));  // April has no period
  EXPECT_TRUE(ok("0002", QDate(2024, 3, 1), QDate(2024, 3, 15)));
  EXPECT_FALSE(ok("0002", kMar10, QDate(2024, 3, 16)));
  EXPECT_FALSE(ok("0003", kMar10, kMar10));  // no periods at all
  EXPECT_FALSE(ok("0001", kMar11, kMar10));  // an inverted period is no period
}

TEST_P(ReadMethodsTest, EarlierPendingSalesRefuseWithVendaConsol) {
  auto check = [&](QDate start, const std::string& useWarehouse, const std::string& useLocation,
                   const std::string& warehouse, const std::string& location, QDate periodStart = kMar10) {
    using A = contract::Verifica_Venda_Anterior;
    return client_->invoke("Verifica_Venda_Anterior", Args<A>{{A::Filial, text("0001")},
                                                              {A::Inicio, date(periodStart, true)},
                                                              {A::Fim, date(kMar11, true)},
                                                              {A::InicioConsolidacao, date(start, true)},
                                                              {A::IdUtilAlmox, text(useWarehouse)},
                                                              {A::IdUtilLcEstq, text(useLocation)},
                                                              {A::CdAlmoxarife, text(warehouse)},
                                                              {A::CdLocalEstoque, text(location)}}
                                                          .values());
  };
  auto refused = check(QDate(2024, 2, 1), "S", "S", "000001", "000001");  // V5 on 5 March is pending
  EXPECT_EQ(refused.status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
  EXPECT_EQ(refused.status.error_message(), "VENDA_CONSOL");
  EXPECT_EQ(refused.details, "Primeiro dia com vendas ainda não consolidadas: 05/03/2024.");

  // only V9 (7 March) is left after the 6th, and its product does not control stock
  EXPECT_TRUE(check(QDate(2024, 3, 6), "S", "S", "000001", "000001").ok());
  // the quiosk's warehouse has no earlier pending sale...
  EXPECT_TRUE(check(QDate(1899, 1, 1), "S", "N", "000002", "000002").ok());
  // ...but a branch without warehouses looks at all of them
  EXPECT_EQ(check(QDate(1899, 1, 1), "N", "N", "000002", "000002").status.error_message(), "VENDA_CONSOL");
  EXPECT_EQ(check(QDate(1899, 1, 1), "N", "S", "000002", "000001").status.error_message(), "VENDA_CONSOL");
  // nothing lies before a period that starts with the first sale
  EXPECT_TRUE(check(QDate(1899, 1, 1), "N", "N", "", "", kMar05).ok());
  // a sale cancelled at the register is no work for any run
  QSqlDatabase db = harness_->sql();
  exec(db, "UPDATE VENDA SET IDSITUVENDA = 'C' WHERE CDFILIAL = '0001' AND NRSEQVENDA = '0000000005'");
  EXPECT_TRUE(check(QDate(1899, 1, 1), "N", "N", "000002", "000002").ok());
}

TEST_P(ReadMethodsTest, ZReductionCheckFiguresPerRegisterAndDay) {
  auto verif = [&](QDate first, const std::string& nf, bool allRegisters, const std::string& registers, bool allTypes,
                   const std::string& types) {
    PrincipalFilter f;
    f.first = first;
    f.includePosted = nf == "S";
    f.allRegisters = allRegisters;
    f.registers = registers;
    f.allConsumptionTypes = allTypes;
    f.consumptionTypes = types;
    return client_->invoke("GetVerifVenda", f.verificationArgs());
  };
  auto all = verif(kMar10, "N", true, "", true, "");
  ASSERT_TRUE(all.ok()) << all.status.error_message();
  const auto& v = all.packet();
  expectFields(v, {{"CDFILIAL", FT::Text, 4}, {"CDCAIXA", FT::Text, 3}, {"DTENTRVENDA", FT::DateTime, 0}});
  EXPECT_EQ(columnTexts(v, "CDCAIXA"), (std::vector<std::string>{"001", "001", "002", "002"}));
  ASSERT_EQ(v.rowCount(), 4u);
  EXPECT_EQ(cellNumber(v, "DTENTRVENDA", 0), qfxtest::dia(kMar10));
  EXPECT_EQ(cellNumber(v, "DTENTRVENDA", 1), qfxtest::dia(kMar11));
  EXPECT_EQ(cellText(v, "CDFILIAL", 2), "0001");
  EXPECT_EQ(columnTexts(verif(kMar10, "N", true, "", false, "_02_").packet(), "CDCAIXA"),
            (std::vector<std::string>{"002", "002"}));
  EXPECT_EQ(columnTexts(verif(kMar10, "S", false, "_0001001_", true, "").packet(), "CDCAIXA"),
            (std::vector<std::string>{"001", "001"}));
  // only days a run still has work on: register 002's 7 March sold a fee
  // alone, and once 10 March's items of register 001 are posted that day is
  // done, whatever the flag of posted items says
  QSqlDatabase db = harness_->sql();
  exec(db, "UPDATE ITVENDA SET CDFILIALEST = '0001', NRLANCESTQ = '0000000009' WHERE NRSEQVENDA = '0000000001'");
  for (const std::string nf : {"N", "S"}) {
    const auto days = verif(kMar05.addDays(2), nf, true, "", true, "").packet();
    EXPECT_EQ(columnTexts(days, "CDCAIXA"), (std::vector<std::string>{"001", "002", "002"})) << nf;
    EXPECT_EQ(cellNumber(days, "DTENTRVENDA", 0), qfxtest::dia(kMar11)) << nf;
  }
  // a day is work again for one pending item of a sale, never for a sale
  // cancelled at the register
  const auto saleOnMar10 = [&](const char* number, const char* situation, const char* itemsPosting) {
    exec(db, QStringLiteral("INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, "
                            "CDTIPOCONS, IDSITUVENDA) VALUES ('0001', '%1', '01', '001', '2024-03-10', "
                            "'2024-03-10 18:00:00', '01', '%2')")
                 .arg(QLatin1String(number), QLatin1String(situation)));
    exec(db, QStringLiteral("INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, "
                            "VRUNITVEND, VRDESITVEND, CDFILIALEST, NRLANCESTQ) VALUES ('0001', '%1', '001', 'P1', 1, "
                            "1, 0, %2), ('0001', '%1', '002', 'P1', 1, 1, 0, NULL, NULL)")
                 .arg(QLatin1String(number), QLatin1String(itemsPosting)));
  };
  const auto registersFromMar10 = [&] {
    return columnTexts(verif(kMar10, "N", true, "", true, "").packet(), "CDCAIXA");
  };
  saleOnMar10("0000000021", "C", "NULL, NULL");
  EXPECT_EQ(registersFromMar10(), (std::vector<std::string>{"001", "002", "002"}));
  saleOnMar10("0000000022", "F", "'0001', '0000000009'");
  EXPECT_EQ(registersFromMar10(), (std::vector<std::string>{"001", "001", "002", "002"}));
  exec(db, "DELETE FROM ITVENDA WHERE NRSEQVENDA IN ('0000000021', '0000000022')");
  exec(db, "DELETE FROM VENDA WHERE NRSEQVENDA IN ('0000000021', '0000000022')");

  // the sum is the whole register-day as its Z reduction counts it: posted
  // or not, whatever the lists, a return taken back, a cancelled sale not at all
  auto soma = [&](const std::string& reg, QDate day, const std::string& nf = "N", const std::string& salesLetter = "S",
                  const std::string& sales = "", bool allTypes = true, const std::string& types = "") {
    using A = contract::GetSoma;
    return client_->invoke("GetSoma", Args<A>{{A::Filial, text("0001")},
                                              {A::Loja, text("01")},
                                              {A::Caixa, text(reg)},
                                              {A::Dia, date(day)},
                                              {A::TodasVendas, ref(salesLetter)},
                                              {A::StVendas, ref(sales)},
                                              {A::BoTodosTipoCons, boolean(allTypes)},
                                              {A::StTipoCons, ref(types)},
                                              {A::TodasNF, ref(nf)}}
                                          .values());
  };
  auto day = soma("001", kMar10);
  ASSERT_TRUE(day.ok()) << day.status.error_message();
  expectFields(
      day.packet(),
      {{"CDFILIAL", FT::Text, 4}, {"CDCAIXA", FT::Text, 3}, {"DTENTRVENDA", FT::DateTime, 0}, {"TOTAL", FT::Float, 0}});
  EXPECT_EQ(cellText(day.packet(), "CDCAIXA", 0), "001");
  EXPECT_EQ(cellNumber(day.packet(), "DTENTRVENDA", 0), qfxtest::dia(kMar10));
  const double wholeDay = 2 * 10.50 + (7.25 - 0.25) + 4 * 10.0;  // sale 1 and the posted sale 7
  EXPECT_DOUBLE_EQ(cellNumber(day.packet(), "TOTAL", 0), wholeDay);
  EXPECT_DOUBLE_EQ(cellNumber(soma("001", kMar10, "S", "N", "_00010000000007_", false, "_02_").packet(), "TOTAL", 0),
                   wholeDay);
  EXPECT_DOUBLE_EQ(cellNumber(soma("002", kMar10).packet(), "TOTAL", 0), 15.5);
  EXPECT_DOUBLE_EQ(cellNumber(soma("001", kMar11).packet(), "TOTAL", 0), 33.0);
  exec(db,
       "INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, CDTIPOCONS, IDSITUVENDA) "
       "VALUES ('0001', '0000000020', '01', '002', '2024-03-11', '2024-03-11 16:00:00', '01', 'C')");
  exec(db,
       "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
       "VALUES ('0001', '0000000020', '001', 'P1', 5, 10.5, 0)");
  EXPECT_DOUBLE_EQ(cellNumber(soma("002", kMar11).packet(), "TOTAL", 0), -7.0);  // sale 6 came back
  EXPECT_EQ(soma("003", kMar10).packet().rowCount(), 0u) << "another store's register";
  EXPECT_EQ(soma("001", kMar05.addDays(1)).packet().rowCount(), 0u) << "a day without sales";

  auto z = [&](const std::string& reg, QDate day) {
    return client_->invoke("GetReducaoZ", {text("0001"), text(reg), date(day)});
  };
  auto full = z("001", kMar10);
  ASSERT_TRUE(full.ok());
  expectFields(full.packet(), {{"VRVENLIQREDZ", FT::Float, 0}});
  // the whole day's sum and the Z value compare equal as doubles
  EXPECT_EQ(cellNumber(full.packet(), "VRVENLIQREDZ", 0), cellNumber(day.packet(), "TOTAL", 0));
  EXPECT_DOUBLE_EQ(cellNumber(z("002", kMar10).packet(), "VRVENLIQREDZ", 0), 10.4);
  EXPECT_EQ(z("001", kMar11).packet().rowCount(), 0u);
}

TEST_P(ReadMethodsTest, PickerListsOfSalesAndProducts) {
  auto vendas = [&](bool allRegisters, const std::string& registers) {
    using A = contract::GetVendas;
    return client_->invoke("GetVendas", Args<A>{{A::Filial, text("0001")},
                                                {A::Loja, text("01")},
                                                {A::Inicio, date(kMar10)},
                                                {A::Fim, date(kMar11)},
                                                {A::TodosCaixa, boolean(allRegisters)},
                                                {A::StCaixa, ref(registers)}}
                                            .values());
  };
  auto all = vendas(true, "");
  ASSERT_TRUE(all.ok()) << all.status.error_message();
  const auto& v = all.packet();
  expectFields(v, {{"IDMARCADO", FT::Text, 1},
                   {"CHAVE", FT::Text, 14},
                   {"CDCAIXA", FT::Text, 3},
                   {"NRSEQVENDA", FT::Text, 10},
                   {"NRCUPOMFIS", FT::Text, 10},
                   {"DTVENDA", FT::Text, 20},
                   {"NMRAZSOCCLIE", FT::Text, 50}});
  EXPECT_EQ(columnTexts(v, "CHAVE"), (std::vector<std::string>{"0001" + sale(7), "0001" + sale(1), "0001" + sale(3),
                                                               "0001" + sale(2), "0001" + sale(6)}));
  EXPECT_EQ(cellText(v, "DTVENDA", 0), "10/03/2024");  // the business day, not the moment of entry
  EXPECT_EQ(cellText(v, "NMRAZSOCCLIE", 0), "ACME LTDA");
  EXPECT_EQ(cellText(v, "NMRAZSOCCLIE", 3), "<null>");
  EXPECT_EQ(cellText(v, "NRCUPOMFIS", 3), "101");
  EXPECT_EQ(columnTexts(vendas(false, "_0001002_").packet(), "NRSEQVENDA"),
            (std::vector<std::string>{sale(2), sale(6)}));

  auto produtos = [&](const std::string& registers, const std::string& registerFlag, const std::string& sales,
                      const std::string& salesFlag) {
    using A = contract::GetProdutos;
    return client_->invoke("GetProdutos", Args<A>{{A::Filial, text("0001")},
                                                  {A::Loja, text("01")},
                                                  {A::Inicio, date(kMar10)},
                                                  {A::Fim, date(kMar11)},
                                                  {A::CaixaLista, ref(registers)},
                                                  {A::CaixaMarca, ref(registerFlag)},
                                                  {A::VendasLista, ref(sales)},
                                                  {A::VendasMarca, ref(salesFlag)}}
                                              .values());
  };
  auto every = produtos("", "T", "", "T");
  ASSERT_TRUE(every.ok()) << every.status.error_message();
  expectFields(every.packet(), {{"IDMARCADO", FT::Text, 1}, {"CDPRODUTO", FT::Text, 10}, {"NMPRODUTO", FT::Text, 50}});
  EXPECT_EQ(columnTexts(every.packet(), "CDPRODUTO"), (std::vector<std::string>{"P1", "P2", "P3", "P5"}));
  EXPECT_EQ(columnTexts(every.packet(), "NMPRODUTO"),
            (std::vector<std::string>{"Arroz", "Feijão", "Taxa de serviço", "Combo arroz"}));
  EXPECT_EQ(columnTexts(produtos("_0001002_", "", "", "T").packet(), "CDPRODUTO"),
            (std::vector<std::string>{"P1", "P2", "P3"}));
  EXPECT_EQ(columnTexts(produtos("", "T", "_00010000000003_", "").packet(), "CDPRODUTO"),
            (std::vector<std::string>{"P2", "P5"}));
  EXPECT_EQ(produtos("", "", "", "").packet().rowCount(), 0u);
}

// Streaming is the same on both databases; SQLite fills the big table fast.
// One worker: a client that leaves in the middle of the rows must free it.
TEST(LargeReplies, ListOfManyItemsStreamsInChunksUnderTheMessageLimit) {
  server::ServerOptions oneWorker;
  oneWorker.maxThreads = 1;
  ServerHarness harness(Backend::SQLite, true, oneWorker);
  QSqlDatabase db = harness.sql();
  constexpr int kSales = 12000, kItemsPerSale = 5;  // 60 000 items, well over 4 MiB of packet
  ASSERT_TRUE(db.transaction());
  QSqlQuery sales(db), items(db);
  sales.prepare(
      "INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, NMCONSUMIDOR, IDSITUVENDA) "
      "VALUES ('0003', ?, '01', '001', '2024-03-12', '2024-03-12 10:00:00', ?, 'F')");
  items.prepare(
      "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
      "VALUES ('0003', ?, ?, 'P1', ?, 1.5, 0)");
  exec(db, "INSERT INTO LOJA (CDFILIAL, CDLOJA, NMLOJA) VALUES ('0003', '01', 'Loja Sul')");
  const QString consumer = QString(48, QLatin1Char('x'));
  for (int s = 1; s <= kSales; ++s) {
    sales.addBindValue(QString::fromStdString(sale(s)));
    sales.addBindValue(consumer);
    ASSERT_TRUE(sales.exec());
    for (int i = 1; i <= kItemsPerSale; ++i) {
      items.addBindValue(QString::fromStdString(sale(s)));
      items.addBindValue(QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')));
      items.addBindValue(double(i));
      ASSERT_TRUE(items.exec());
    }
  }
  ASSERT_TRUE(db.commit());

  auto client = harness.loggedIn();
  PrincipalFilter f;
  f.branch = "0003";
  f.first = f.last = QDate(2024, 3, 12);
  auto reply = client->invoke("GetPrincipal", f.args());
  ASSERT_TRUE(reply.ok()) << reply.status.error_message() << reply.packetError;
  const auto& p = reply.packet();
  ASSERT_EQ(p.rowCount(), size_t(kSales * kItemsPerSale));
  EXPECT_GT(reply.messages, 4);  // streamed, not one message
  double total = 0;
  for (size_t r = 0; r < p.rowCount(); ++r) total += cellNumber(p, "TOTITEM", r);
  EXPECT_DOUBLE_EQ(total, kSales * 1.5 * (1 + 2 + 3 + 4 + 5));
  EXPECT_EQ(cellText(p, "NMCONSUMIDOR", p.rowCount() - 1), consumer.toStdString());

  // read the first message only (the list's fields, no count), then leave
  {
    grpc::ClientContext context;
    context.AddMetadata("x-qfx-session", client->token());
    rpc::InvokeRequest request;
    request.set_object("Qfx31700.rdmGeraNF");
    request.set_method("GetPrincipal");
    for (const auto& a : f.args()) *request.add_arguments() = a;
    auto stream = client->stub().Invoke(&context, request);
    rpc::InvokeReply first;
    ASSERT_TRUE(stream->Read(&first));
    ASSERT_TRUE(first.result().has_packet());
    EXPECT_EQ(first.result().packet().fields_size(), int(p.fields.size()));
    context.TryCancel();
    EXPECT_FALSE(stream->Finish().ok());
  }
  auto again = client->invoke("GetPrincipal", f.args());
  ASSERT_TRUE(again.ok()) << again.status.error_message() << again.packetError;
  EXPECT_EQ(again.packet().rowCount(), size_t(kSales * kItemsPerSale));
}

// On PostgreSQL a list this large leaves its query's result to be freed after
// the reply's last message: the whole list still arrives, and the next call
// on the same worker works.
TEST(LargeReplies, OnPostgreSQLTheWholeListArrivesAndTheWorkerGoesOn) {
  QFX_REQUIRE_BACKEND(Backend::PostgreSQL);
  server::ServerOptions oneWorker;
  oneWorker.maxThreads = 1;
  ServerHarness harness(Backend::PostgreSQL, true, oneWorker);
  QSqlDatabase db = harness.sql();
  constexpr int kSales = 2200, kItemsPerSale = 5;  // past the size whose result is freed late
  exec(db, "INSERT INTO LOJA (CDFILIAL, CDLOJA, NMLOJA) VALUES ('0003', '01', 'Loja Sul')");
  exec(db,
       "INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, IDSITUVENDA) "
       "SELECT '0003', lpad(s::text, 10, '0'), '01', '001', '2024-03-12', '2024-03-12 10:00:00', 'F' "
       "FROM generate_series(1, 2200) s");
  exec(db,
       "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND) "
       "SELECT '0003', lpad(s::text, 10, '0'), lpad(i::text, 3, '0'), 'P1', i, 1.5, 0 "
       "FROM generate_series(1, 2200) s, generate_series(1, 5) i");
  // as after any bulk load: without statistics the planner takes the tables for empty
  ASSERT_TRUE(QSqlQuery(db).exec("ANALYZE VENDA, ITVENDA"));
  auto client = harness.loggedIn();
  PrincipalFilter f;
  f.branch = "0003";
  f.first = f.last = QDate(2024, 3, 12);
  for (int call = 0; call < 2; ++call) {
    auto reply = client->invoke("GetPrincipal", f.args());
    ASSERT_TRUE(reply.ok()) << reply.status.error_message() << reply.packetError;
    const auto& p = reply.packet();
    ASSERT_EQ(p.rowCount(), size_t(kSales * kItemsPerSale));
    double total = 0;
    for (size_t r = 0; r < p.rowCount(); ++r) total += cellNumber(p, "TOTITEM", r);
    EXPECT_DOUBLE_EQ(total, kSales * 1.5 * (1 + 2 + 3 + 4 + 5));
  }
  EXPECT_TRUE(client->invoke("GetParamFilial", {text("0003")}).ok());
}

INSTANTIATE_TEST_SUITE_P(Backends, ReadMethodsTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
