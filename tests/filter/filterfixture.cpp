#include "filterfixture.h"

#include <QApplication>
#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest/QTest>

#include "testsql.h"
#include <hostkit/core/query.h>

using namespace qfx;
using namespace hostkit;

namespace qfxtest {

void createLookupDatabase(const QString& file) {
  const QStringList statements = {
      "CREATE TABLE CAIXA (CDFILIAL VARCHAR(4), CDLOJA VARCHAR(10), CDCAIXA VARCHAR(3), NMCAIXA VARCHAR(30))",
      "CREATE TABLE TIPOCONS (CDTIPOCONS VARCHAR(2), NMTIPOCONS VARCHAR(30))",
      "CREATE TABLE CLIENTE (CDCLIENTE VARCHAR(21), NRINSJURCLIE VARCHAR(14), IDTPIJURCLIE VARCHAR(1), "
      "NMRAZSOCCLIE VARCHAR(50))",
      "CREATE TABLE CCUSCLIE (CDCLIENTE VARCHAR(21), CDCCUSCLIE VARCHAR(10), NMCCUSCLIE VARCHAR(40))",
      "INSERT INTO CAIXA VALUES ('0001', '01', '001', 'Caixa Um'), ('0001', '01', '002', 'Caixa Dois'), "
      "('0001', '02', '003', 'Caixa de outra loja'), ('0002', '01', '001', 'Caixa de outra filial')",
      "INSERT INTO TIPOCONS VALUES ('01', 'Balcão'), ('02', 'Mesa')",
      "INSERT INTO CLIENTE VALUES ('C1', '11222333000181', 'J', 'ALFA LTDA'), "
      "('C2', '12345678909', 'F', 'BETA SILVA'), ('C3', '99887766000155', 'J', 'GAMA SA'), "
      "('C4', '777', 'X', 'DELTA SEM TIPO')",
      "INSERT INTO CCUSCLIE VALUES ('C1', 'CC1', 'Alfa matriz'), ('C1', 'CC2', 'Alfa filial'), "
      "('C2', 'CC1', 'Beta casa'), ('C3', 'CC9', 'Gama obra')",
  };
  // the host's connection only reads: the rows go in through one of the test's own
  if (const auto done = writeSqliteFile(file, statements); !done.ok()) FAIL() << done.error().toStdString();
  if (const auto done = openHostDatabase({QStringLiteral("sqlite:") + file}); !done.ok())
    FAIL() << done.error().toStdString();
}

void FilterTest::SetUp() {
  ASSERT_TRUE(folder.isValid());
  // saved options go to a folder of the test's own
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder.path());
  host = ScriptedHostServices::install();
  host->server.port = server.port();
  host->server.callTimeoutMs = 10000;
  createLookupDatabase(folder.filePath(QStringLiteral("lookups.db")));
  replyPrincipalRows(0);

  Filtro = defaultFilter();
  screen = new TfrmGeraNF();
  frmGeraNF = screen;
  screen->medFilial->setText(QStringLiteral("0001"));
  screen->medCdLoja->setText(QStringLiteral("01"));
  setGeraNFVenProd(QStringLiteral("S"));
  dialog = new TfrmFiltroGeraNF();
  frmFiltroGeraNF = dialog;
}

void FilterTest::TearDown() {
  delete dialog.data();
  delete screen.data();
  Filtro = TFiltro();
  closeHostDatabase();
  installHostServices(nullptr);
}

TFiltro FilterTest::defaultFilter() {
  TFiltro f;
  f.stFilial = QStringLiteral("0001");
  f.dtInicial = dia(2024, 3, 10);
  f.dtFinal = dia(2024, 3, 10);
  f.boTodasNF = false;
  f.boAgrupaNF = true;
  f.boTodasVendas = true;
  f.boTodosCaixa = true;
  f.boTodosTipoCons = true;
  f.boTodosCliente = true;
  f.boTodosCentroCusto = true;
  f.boTodosProdutos = true;
  return f;
}

void FilterTest::setGeraNFVenProd(const QString& value) {
  TDataSet& param = *screen->cdsParamVend;
  param.Close();
  param.Open();
  param.Append();
  param.FieldByName(QStringLiteral("IDGERANFVENPROD"))->SetAsString(value);
  param.Post();
}

void FilterTest::open() {
  dialog->show();
  dialog->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
}

void FilterTest::cancel() { dialog->sbtCancel->click(); }

bool FilterTest::confirm() {
  dialog->sbtConfirma->click();
  return !dialog->isVisible();
}

void FilterTest::moveFocus(QWidget* from, QWidget* to) {
  from->setFocus();
  to->setFocus();
}

QString FilterTest::focusName() const {
  const QWidget* w = QApplication::focusWidget();
  return w ? w->objectName() : QString();
}

void FilterTest::replyPrincipalRows(int rows) {
  server.on("GetPrincipal", [rows](const RecordedCall&, ScriptedReply& reply) {
    packet::Packet p = contract::emptyPacket(contract::fields::principal);
    for (auto& column : p.columns)
      for (int r = 0; r < rows; ++r) column.appendNull();
    reply.result = reply.packet(std::move(p));
    return grpc::Status::OK;
  });
}

}  // namespace qfxtest
