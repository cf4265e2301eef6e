// What a screen of the module needs around it in a test: the scripted host
// services, a shared SQLite database with branches and stores, and a scripted
// application server answering the parameter and lookup methods.
#pragma once

#include <QTemporaryDir>
#include <memory>

#include "scripted_server.h"
#include "scriptedhostservices.h"

namespace qfxtest {

class ModuleFixture {
 public:
  ModuleFixture();
  ~ModuleFixture();

  std::shared_ptr<hostkit::ScriptedHostServices> host;
  ScriptedServer server;

  // Sales parameters GetParamVend answers with (one row).
  std::vector<std::string> paramVend = {
      "1", "", "01", "Loja Central", "S", "S", "N", "01", "Venda balcão", "S", "0001", "Vendas", "N", "N", "", "", ""};
  // Branch parameters GetParamFilial answers with (one row).
  std::vector<std::string> paramFilial = {"N", "N", "S", "N", "S"};
  QString databasePath() const { return dir_.filePath(QStringLiteral("host.db")); }

 private:
  void createDatabase();
  void scriptLookups();
  QTemporaryDir dir_;
};

// A GetParamVend packet of one row; DTINITESCONS (second) is a date as days, or empty.
qfx::packet::Packet paramVendPacket(const std::vector<std::string>& row);

// The fields of the parameter packets, in the order of the vectors above.
const std::vector<std::string>& paramVendFields();
const std::vector<std::string>& paramFilialFields();

}  // namespace qfxtest
