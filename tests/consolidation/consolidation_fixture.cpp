#include "consolidation_fixture.h"

#include <QApplication>
#include <QDateTime>
#include <QSettings>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <hostkit/core/messages.h>
#include <qfx31700/filter/frmfiltrogeranf.h>
#include <qfx31700/module/package.h>
#include <qfx31700/navigation/modulestate.h>

using namespace qfx;
using namespace hostkit;

namespace qfxtest {

namespace {

void appendText(packet::Column& column, const std::string& value) {
  if (value.empty())
    column.appendNull();
  else
    column.appendText(value);
}

void appendNumber(packet::Column& column, std::optional<double> value) {
  if (value)
    column.appendNumber(*value);
  else
    column.appendNull();
}

}  // namespace

packet::Packet principalPacket(const std::vector<SaleItem>& items) {
  packet::Packet p = contract::emptyPacket(contract::fields::principal);
  auto column = [&p](const char* name) -> packet::Column& { return qfxtest::column(p, name); };
  for (const SaleItem& item : items) {
    appendText(column("CDFILIALEST"), item.filialEstoque);
    appendText(column("CDFILIAL"), "0001");
    appendText(column("NRSEQVENDA"), item.venda);
    appendText(column("CDCLIENTE"), "C1");
    appendText(column("CDCAIXA"), item.caixa);
    appendNumber(column("DTENTRVENDA"), item.data != 0 ? item.data : dia(2024, 3, 10));
    appendText(column("IDTIPOIMPV"), "1");
    appendText(column("NRLANCESTQ"), item.lancamento);
    appendText(column("CDPRODUTO"), item.produto);
    appendText(column("NMPRODUTO"), item.nome);
    appendNumber(column("QTPRODVEND"), item.quantidade);
    appendNumber(column("VRUNITVEND"), item.unitario);
    appendNumber(column("TOTITEM"), item.quantidade && item.unitario
                                        ? std::optional<double>(*item.quantidade * *item.unitario - item.desconto)
                                        : std::nullopt);
    appendText(column("NRSEQUITVEND"), "001");
    appendNumber(column("VRDESITVEND"), item.desconto);
    appendText(column("CDPRODESTO"), item.produto);
    appendText(column("NMRAZSOCCLIE"), item.cliente);
    appendText(column("NRLANCTONF"), "");
    appendText(column("CDLOJA"), "01");
    appendText(column("NRCUPOMFIS"), item.cupom);
    appendText(column("CDFILIALNF"), "");
    appendText(column("NMCONSUMIDOR"), "");
    appendText(column("CDARVPROD"), item.arvore);
    appendText(column("IDSITUVENDA"), item.situacao);
    appendText(column("IDTPFORPGVEN"), "D");
  }
  return p;
}

packet::Packet erroPacket(const std::vector<ErroItem>& rows) {
  packet::Packet p = contract::emptyPacket(contract::fields::postingErrors);
  for (const ErroItem& row : rows) {
    column(p, "CDERRO").appendText(row.codigo);
    column(p, "CDOBJETO2").appendText(row.objeto2);
    column(p, "CDOBJETO3").appendText(row.objeto3);
    column(p, "CDOBJETO4").appendText(row.objeto4);
    column(p, "CDOBJETO5").appendNumber(row.objeto5);
    for (const auto& [field, value] : {std::pair{"QTLANCESTQ", row.baixa}, std::pair{"QTSALDOFINAL", row.saldoFinal}}) {
      if (value)
        column(p, field).appendNumber(*value);
      else
        column(p, field).appendNull();
    }
  }
  return p;
}

packet::Packet prodBloqPacket(const std::vector<ProdBloq>& rows) {
  return contractPacket(contract::fields::blockedProducts, rows);
}

SemGeraNFAnswer resposta(std::vector<ErroItem> erros, int64_t lancamento, std::vector<ProdBloq> bloqueados,
                         std::string chave) {
  SemGeraNFAnswer a;
  a.erros = std::move(erros);
  a.lancamento = lancamento;
  a.bloqueados = std::move(bloqueados);
  a.chave = std::move(chave);
  return a;
}

SemGeraNFAnswer recusa(std::string falha, std::string detalhes) {
  SemGeraNFAnswer a;
  a.falha = std::move(falha);
  a.detalhes = std::move(detalhes);
  return a;
}

// ---- journal ------------------------------------------------------------------------

void JournalHost::note(const QString& text) {
  const QString key = keyForText(text);
  journal << QStringLiteral("msg:") + (key.isEmpty() ? text : key);
  if (onMessage) onMessage();
}

int JournalHost::messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) {
  note(text);
  return ScriptedHostServices::messageDlg(text, type, buttons, helpContext);
}

void JournalHost::showError(const QString& text) {
  note(text);
  ScriptedHostServices::showError(text);
}

void JournalHost::showException(const QString& text, const QString& details) {
  note(text);
  ScriptedHostServices::showException(text, details);
}

void JournalHost::criaLancIrreg(const QString& postingNumber, QWidget* owner) {
  journal << QStringLiteral("screen:CriaLancIrreg");
  ScriptedHostServices::criaLancIrreg(postingNumber, owner);
}

void JournalHost::criaBloqConsolida(QWidget* owner) {
  journal << QStringLiteral("screen:CriaBloqConsolida");
  ScriptedHostServices::criaBloqConsolida(owner);
}

// ---- fixture -------------------------------------------------------------------------

void ConsolidationTest::SetUp() {
  static QTemporaryDir settings;  // saved filter options stay out of the user's settings
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  host = std::make_shared<JournalHost>();
  host->server = fixture.host->server;
  installHostServices(host);
  fixture.host = host;
  Initialize();
  Filtro = TFiltro();
  replyItems({SaleItem{}});
}

void ConsolidationTest::TearDown() {
  if (screen) screen->Close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  Finalize();
}

TfrmGeraNF& ConsolidationTest::open() {
  CriaGeraNF();
  screen = frmGeraNF;
  if (!screen) throw std::runtime_error("the screen was not created");
  activate();
  return *screen;
}

void ConsolidationTest::activate() {
  QWidget* window = screen->frameWindow();
  if (QApplication::activeWindow() == window) return;
  window->activateWindow();
  EXPECT_TRUE(QTest::qWaitForWindowActive(window));
  QApplication::processEvents();
}

void ConsolidationTest::focusTo(QWidget* target) {
  activate();
  target->setFocus();
  QApplication::processEvents();
  activate();
}

QWidget* ConsolidationTest::focused() const { return QApplication::focusWidget(); }

bool ConsolidationTest::leavePanel(bool confirmFilter) {
  const int before = filterDialogs;
  hostkit::ModalAnswer answer([this, confirmFilter](QWidget* dialog) {
    auto* filtro = qobject_cast<TfrmFiltroGeraNF*>(dialog);
    if (!filtro) {
      ADD_FAILURE() << "expected the filter dialog, got " << dialog->objectName().toStdString();
      dialog->close();
      return;
    }
    ++filterDialogs;
    (confirmFilter ? filtro->sbtConfirma : filtro->sbtCancel)->click();
  });
  focusTo(screen->dbgPadrao);
  EXPECT_EQ(answer.opened(), filterDialogs - before) << "every dialog that opened was answered";
  return filterDialogs > before;
}

void ConsolidationTest::leavePanelRefused() { focusTo(screen->dbgPadrao); }

TfrmGeraNF& ConsolidationTest::listed(const std::vector<SaleItem>& items) {
  replyItems(items);
  if (!screen) open();
  EXPECT_TRUE(leavePanel(true)) << host->messageTexts().join(QStringLiteral(" / ")).toStdString();
  return *screen;
}

void ConsolidationTest::relist() {
  focusTo(screen->medSetor);
  EXPECT_TRUE(leavePanel(true)) << host->messageTexts().join(QStringLiteral(" / ")).toStdString();
}

void ConsolidationTest::replyItems(const std::vector<SaleItem>& items) {
  fixture.server.on("GetPrincipal", [items](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(principalPacket(items));
    return grpc::Status::OK;
  });
}

void ConsolidationTest::failPrincipal(const std::string& message) {
  fixture.server.on("GetPrincipal", [message](const RecordedCall&, ScriptedReply&) {
    return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, message);
  });
}

void ConsolidationTest::checksPass() {
  fixture.server.on("getPeriodoCTBOK", [](const RecordedCall&, ScriptedReply& r) {
    r.result = booleanValue(true);
    return grpc::Status::OK;
  });
  fixture.server.on("GetVerifVenda", [](const RecordedCall&, ScriptedReply& r) {
    r.result = r.packet(contract::emptyPacket(contract::fields::registerDays));
    return grpc::Status::OK;
  });
  fixture.server.on("Verifica_Venda_Anterior", [](const RecordedCall&, ScriptedReply& r) {
    r.result = textValue("");
    return grpc::Status::OK;
  });
}

void ConsolidationTest::replySemGeraNF(std::vector<SemGeraNFAnswer> answers) {
  auto next = std::make_shared<size_t>(0);
  fixture.server.on("SemGeraNF", [answers, next](const RecordedCall&, ScriptedReply& r) {
    const SemGeraNFAnswer& a = answers[std::min(*next, answers.size() - 1)];
    ++*next;
    r.details = a.detalhes;
    if (!a.falha.empty()) return grpc::Status(grpc::StatusCode::FAILED_PRECONDITION, a.falha);
    r.result = listValue({r.packet(erroPacket(a.erros)), integerValue(a.lancamento),
                          r.packet(prodBloqPacket(a.bloqueados)), textValue(a.chave), integerValue(0)});
    return grpc::Status::OK;
  });
}

}  // namespace qfxtest
