// What the consolidation screen's tests stand on: the module fixture (scripted
// host services, SQLite lookups, a scripted application server), the screen
// opened through its creator and activated on the offscreen platform, and the
// operator's moves through the entry panel and the filter dialog.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "modaldriver.h"
#include "module_fixture.h"
#include "testhelpers.h"
#include <qfx31700/consolidation/frmgeranf.h>

namespace qfxtest {

// One sale item as GetPrincipal sends it; an empty text travels as null.
struct SaleItem {
  std::string caixa = "001";
  double data = 0;  // DTENTRVENDA; 0: 10/03/2024
  std::string venda = "0000000001";
  std::string cupom = "000123";
  std::string produto = "P1";
  std::string arvore = "10102012";  // CDARVPROD, without the mask's literals
  std::string nome = "Arroz tipo 1";
  std::optional<double> quantidade = 2;
  std::optional<double> unitario = 5.5;
  double desconto = 0;         // VRDESITVEND
  std::string filialEstoque;   // CDFILIALEST
  std::string lancamento;      // NRLANCESTQ
  std::string situacao = "A";  // IDSITUVENDA
  std::string cliente = "Cliente Balcão";
};
qfx::packet::Packet principalPacket(const std::vector<SaleItem>& items);

// Error list of SemGeraNF (element 0).
struct ErroItem {
  std::string codigo;  // CDERRO
  std::string objeto2, objeto3, objeto4;
  double objeto5 = 0;
  std::optional<double> baixa = {}, saldoFinal = {};  // QTLANCESTQ, QTSALDOFINAL: null when not given
};
qfx::packet::Packet erroPacket(const std::vector<ErroItem>& rows);
// Blocked products of SemGeraNF (element 2): code, name and the reason letters.
using ProdBloq = std::vector<std::string>;
qfx::packet::Packet prodBloqPacket(const std::vector<ProdBloq>& rows);

// One reply of SemGeraNF.
struct SemGeraNFAnswer {
  std::vector<ErroItem> erros;
  int64_t lancamento = 0;
  std::vector<ProdBloq> bloqueados;
  std::string chave;
  std::string falha;     // not empty: the call fails with this message instead
  std::string detalhes;  // what the server says beside the key (trailing metadata)
};

SemGeraNFAnswer resposta(std::vector<ErroItem> erros, int64_t lancamento, std::vector<ProdBloq> bloqueados = {},
                         std::string chave = {});
// The call fails with this message (a refusal key or any other text).
SemGeraNFAnswer recusa(std::string falha, std::string detalhes = {});

// Host services that also keep one journal of messages and host screens in
// the order they appeared ("msg:<key or text>", "screen:<name>").
class JournalHost : public hostkit::ScriptedHostServices {
 public:
  QStringList journal;
  // Runs when a message is shown, for what a test must see at that moment.
  std::function<void()> onMessage;
  int messageDlg(const QString& text, hostkit::MsgDlgType type, hostkit::MsgDlgButtons buttons,
                 int helpContext) override;
  void showError(const QString& text) override;
  void showException(const QString& text, const QString& details) override;
  void criaLancIrreg(const QString& postingNumber, QWidget* owner) override;
  void criaBloqConsolida(QWidget* owner) override;

 private:
  void note(const QString& text);
};

class ConsolidationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the screen through its creator and waits for its activation.
  qfx::TfrmGeraNF& open();
  // Makes the screen's window the active one again (after a modal dialog).
  void activate();
  // The operator moves the focus to `target` (exit and enter events run).
  void focusTo(QWidget* target);
  QWidget* focused() const;

  // Leaves the entry panel for the grid when a filter dialog is expected:
  // it is confirmed or cancelled. Returns whether a filter dialog opened.
  bool leavePanel(bool confirmFilter = true);
  // Leaves the entry panel for the grid when a check must stop it (no dialog).
  void leavePanelRefused();
  // Opens the screen and lists `items`: leave the panel, confirm the filter.
  qfx::TfrmGeraNF& listed(const std::vector<SaleItem>& items = {SaleItem{}});
  // Back into the panel and out again: parameters reloaded, filter confirmed.
  void relist();

  // GetPrincipal answers with these items from now on.
  void replyItems(const std::vector<SaleItem>& items);
  // GetPrincipal fails with this message from now on.
  void failPrincipal(const std::string& message);
  // The checks before the run pass: open period, no verification rows.
  void checksPass();
  // SemGeraNF answers these, one per call; the last one repeats.
  void replySemGeraNF(std::vector<SemGeraNFAnswer> answers);

  size_t callsOf(const std::string& method) const { return fixture.server.callsOf(method).size(); }
  QStringList journal() const { return host->journal; }

  ModuleFixture fixture;
  std::shared_ptr<JournalHost> host;
  QPointer<qfx::TfrmGeraNF> screen;
  int filterDialogs = 0;
};

}  // namespace qfxtest
