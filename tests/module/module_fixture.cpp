#include "module_fixture.h"

#include <gtest/gtest.h>

#include <QSqlQuery>

#include "testsql.h"
#include <hostkit/core/query.h>

namespace qfxtest {

qfx::packet::Packet rowPacket(std::span<const qfx::contract::Field> fields, const FieldValues& row) {
  if (row.empty()) return contractPacket(fields, {});
  std::vector<std::string> values;
  for (const auto& f : fields) values.push_back(row.at(std::string(f.name)));
  return contractPacket(fields, {values});
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
  EXPECT_TRUE(written.ok()) << written.error().toStdString();
  EXPECT_TRUE(hostkit::openHostDatabase({QStringLiteral("sqlite:") + databasePath()}).ok());
}

void ModuleFixture::scriptLookups() {
  using namespace qfx::contract;
  server.on("GetParamVend", [this](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(rowPacket(fields::salesParameters, paramVend));
    return grpc::Status::OK;
  });
  server.on("GetParamFilial", [this](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(rowPacket(fields::branchParameters, paramFilial));
    return grpc::Status::OK;
  });
  server.on("getTipoReti", [](const RecordedCall& call, ScriptedReply& r) {
    std::vector<std::vector<std::string>> rows;
    for (auto [code, name] : {std::pair{"01", "Venda balcão"}, std::pair{"02", "Consumo interno"}})
      if (call.arg(getTipoReti::Todos).text() == "T" || call.arg(getTipoReti::Codigo).text() == code)
        rows.push_back({code, name});
    r.result = r.packet(contractPacket(fields::withdrawalTypes, rows));
    return grpc::Status::OK;
  });
  server.on("getSetor", [](const RecordedCall& call, ScriptedReply& r) {
    std::vector<std::vector<std::string>> rows;
    for (auto [code, name] : {std::pair{"0001", "Vendas"}, std::pair{"0002", "Cozinha"}})
      if (call.arg(getSetor::Todos).text() == "T" || call.arg(getSetor::Codigo).text() == code)
        rows.push_back({code, "SG", name});
    r.result = r.packet(contractPacket(fields::sectors, rows));
    return grpc::Status::OK;
  });
}

}  // namespace qfxtest
