// What a screen of the module needs around it in a test: the scripted host
// services, a shared SQLite database with branches and stores, and a scripted
// application server answering the parameter and lookup methods.
#pragma once

#include <QTemporaryDir>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "scripted_server.h"
#include "scriptedhostservices.h"

namespace qfxtest {

// One row's values by field name.
using FieldValues = std::map<std::string, std::string>;

class ModuleFixture {
 public:
  ModuleFixture();
  ~ModuleFixture();

  std::shared_ptr<hostkit::ScriptedHostServices> host;
  ScriptedServer server;

  // Sales parameters GetParamVend answers with (one row), by field name.
  FieldValues paramVend = {{"IDCONSUMIOBR", "1"},      {"DTINITESCONS", ""},   {"CDLOJA", "01"},
                           {"NMLOJA", "Loja Central"}, {"IDATUEST", "S"},      {"IDGERANFVENPROD", "S"},
                           {"IDBLOQCONSOLIDA", "N"},   {"CDTIPORETI", "01"},   {"NMTIPORETI", "Venda balcão"},
                           {"IDPERCONVESTNEG", "S"},   {"CDSETOR", "0001"},    {"NMSETOR", "Vendas"},
                           {"CONSOIMPAJUS", "N"},      {"IDUTILESTCENT", "N"}, {"CDFILIESTCENT", ""},
                           {"CDALMOXESTCENT", ""},     {"CDLOCALESTCENT", ""}};
  // Branch parameters GetParamFilial answers with (one row), by field name.
  FieldValues paramFilial = {{"IDUTILALMOX", "N"},  {"IDUTILLCESTQ", "N"}, {"IDCTRLESTQ", "S"},
                             {"IDPERMESTNEG", "N"}, {"IDMENSESTNEG", "S"}, {"CDFILIAL", "0001"}};
  QString databasePath() const { return dir_.filePath(QStringLiteral("host.db")); }

 private:
  void createDatabase();
  void scriptLookups();
  QTemporaryDir dir_;
};

// A packet of the contract's fields with one row of these values (every
// field must have one; a date as days, or empty), or none when there are no
// values.
qfx::packet::Packet rowPacket(std::span<const qfx::contract::Field> fields, const FieldValues& row);

}  // namespace qfxtest
