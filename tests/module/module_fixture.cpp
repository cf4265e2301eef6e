#include "module_fixture.h"

#include <gtest/gtest.h>

#include <QSqlQuery>

#include "query.h"
#include "testsql.h"

namespace qfxtest {

const std::vector<std::string>& paramVendFields() {
  static const std::vector<std::string> f = {
      "IDCONSUMIOBR",    "DTINITESCONS",  "CDLOJA",        "NMLOJA",          "IDATUEST",      "IDGERANFVENPROD",
      "IDBLOQCONSOLIDA", "CDTIPORETI",    "NMTIPORETI",    "IDPERCONVESTNEG", "CDSETOR",       "NMSETOR",
      "CONSOIMPAJUS",    "IDUTILESTCENT", "CDFILIESTCENT", "CDALMOXESTCENT",  "CDLOCALESTCENT"};
  return f;
}

const std::vector<std::string>& paramFilialFields() {
  static const std::vector<std::string> f = {"IDUTILALMOX", "IDUTILLCESTQ", "IDCTRLESTQ", "IDPERMESTNEG",
                                             "IDMENSESTNEG"};
  return f;
}

qfx::packet::Packet paramVendPacket(const std::vector<std::string>& row) {
  qfx::packet::Packet p = textPacket(paramVendFields(), {});
  p.fields[1].type = qfx::packet::FieldType::DateTime;  // DTINITESCONS
  p.columns[1] = qfx::packet::Column(qfx::packet::FieldType::DateTime);
  for (size_t i = 0; i < row.size(); ++i) {
    if (i != 1)
      p.columns[i].appendText(row[i]);
    else if (row[i].empty())
      p.columns[i].appendNull();
    else
      p.columns[i].appendNumber(std::stod(row[i]));
  }
  return p;
}

ModuleFixture::ModuleFixture() {
  host = hostkit::ScriptedHostServices::install();
  host->server.host = QStringLiteral("127.0.0.1");
  host->server.port = server.port();
  host->server.callTimeoutMs = 5000;
  createDatabase();
  scriptLookups();
}

ModuleFixture::~ModuleFixture() { hostkit::closeHostDatabase(); }

void ModuleFixture::createDatabase() {
  // the host's connection only reads: the rows go in through one of the test's own
  const auto written = hostkit::writeSqliteFile(
      databasePath(),
      {
          "CREATE TABLE EMPRESA (CDEMPRESA TEXT, NMEMPRESA TEXT, NMRAZSOCEMPR TEXT)",
          "CREATE TABLE FILIAL (CDFILIAL TEXT, NMFILIAL TEXT, CDEMPRESA TEXT, CDINSCESTA TEXT, CDSERIE TEXT, "
          "CDINSCMUNI TEXT)",
          "CREATE TABLE LOJA (CDFILIAL TEXT, CDLOJA TEXT, NMLOJA TEXT, CDALMOXARIFE TEXT, CDLOCALESTOQ TEXT, "
          "CDTIPOOPER TEXT)",
          "INSERT INTO EMPRESA VALUES ('01', 'Empresa Demo', 'Empresa Demo Ltda')",
          "INSERT INTO FILIAL VALUES ('0001', 'Filial Centro', '01', '', '1', ''), "
          "('0002', 'Filial Norte', '01', '', '1', ''), ('A1B2', 'Filial Letras', '01', '', '1', '')",
          "INSERT INTO LOJA VALUES ('0001', '01', 'Loja Central', '000001', '000002', '01'), "
          "('0001', '02', 'Loja Shopping', '000003', '000004', '01'), ('0002', '01', 'Loja Norte', '', '', '01')",
      });
  EXPECT_FALSE(written) << written->toStdString();
  EXPECT_FALSE(hostkit::openHostDatabase({QStringLiteral("sqlite:") + databasePath()}));
}

void ModuleFixture::scriptLookups() {
  server.on("GetParamVend", [this](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(paramVendPacket(paramVend));
    return grpc::Status::OK;
  });
  server.on("GetParamFilial", [this](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(textPacket(paramFilialFields(), {paramFilial}));
    return grpc::Status::OK;
  });
  server.on("getTipoReti", [](const RecordedCall& call, ScriptedReply& r) {
    std::vector<std::vector<std::string>> rows;
    for (auto [code, name] : {std::pair{"01", "Venda balcão"}, std::pair{"02", "Consumo interno"}})
      if (call.args[1].text() == "T" || call.args[0].text() == code) rows.push_back({code, name});
    r.result = r.packet(textPacket({"CDTIPORETI", "NMTIPORETI"}, rows));
    return grpc::Status::OK;
  });
  server.on("getSetor", [](const RecordedCall& call, ScriptedReply& r) {
    std::vector<std::vector<std::string>> rows;
    for (auto [code, name] : {std::pair{"0001", "Vendas"}, std::pair{"0002", "Cozinha"}})
      if (call.args[1].text() == "T" || call.args[0].text() == code) rows.push_back({code, "SG", name});
    r.result = r.packet(textPacket({"CDSETOR", "SGSETOR", "NMSETOR"}, rows));
    return grpc::Status::OK;
  });
}

}  // namespace qfxtest
