// The "Produtos não Evoluídos em Estoque" screen: its checks before each
// action, the parameters it hands to the report definitions, and what the
// base report screen does with them (preview, save as, edit, new and deleted,
// missing and damaged definitions). Real widgets offscreen, the real consolidation
// screen (not shown) for its entry fields, a SQLite database made from the
// product's schema.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "modaldriver.h"
#include "reportfixture.h"
#include "scripted_server.h"
#include <hostkit/core/query.h>
#include <hostkit/core/routines.h>
#include <qfx31700/consolidation/frmgeranf.h>
#include <qfx31700/navigation/modulestate.h>
#include <qfx31700/report/frmrelprodevol.h>
#include <reportkit/widgets/reportdesigner.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfx;
using namespace qfxtest;

namespace {

const QString kFirstTitle = QStringLiteral("Itens de venda não lançados no estoque");
const QString kSecondTitle = QStringLiteral("Produtos não relacionados ao tipo de retirada");

class RelProdEvol : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    host = ReportHost::install();
    host->server.port = server.port();
    host->server.callTimeoutMs = 10000;
    host->reports = dir.filePath(QStringLiteral("reports"));
    copyShippedReports(host->reports);
    createSalesDatabase(dir.filePath(QStringLiteral("vendas.db")));

    Filtro = TFiltro();
    Filtro.dtInicial = dia(2024, 3, 1);
    Filtro.dtFinal = dia(2024, 3, 5);
    Filtro.boTodasVendas = Filtro.boTodosCaixa = Filtro.boTodosTipoCons = Filtro.boTodosCliente = true;
    Filtro.boTodosCentroCusto = Filtro.boTodosProdutos = true;
    geraNF = new TfrmGeraNF();
    frmGeraNF = geraNF;
    geraNF->medFilial->setText(QStringLiteral("0001"));
    geraNF->medCdLoja->setText(QStringLiteral("01"));
    geraNF->medTipoReti->setText(QStringLiteral("01"));
  }
  void TearDown() override {
    delete tela.data();
    delete geraNF.data();
    Filtro = TFiltro();
    closeHostDatabase();
    installHostServices(nullptr);
  }

  // Opens the screen as CriaRelProdEvol does, without its modal loop.
  TfrmRelProdEvol& open() {
    tela = new TfrmRelProdEvol();
    frmRelProdEvol = tela;
    tela->show();
    tela->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(tela));
    return *tela;
  }
  void period(const QDate& from, const QDate& to) {
    tela->depDePeriodo->SetDate(toDateTime(from));
    tela->depAtePeriodo->SetDate(toDateTime(to));
  }
  // The operator types into a date edit and leaves it for `next`.
  void typeAndLeave(TDateEditPlus* edit, const QString& digits, QWidget* next) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, digits);
    next->setFocus();
  }
  QWidget* focused() const { return QApplication::focusWidget(); }
  // The value of a parameter of the last run; "(absent)" when the query has none.
  QString param(const char* name) const {
    const ReportParam* p = tela->lastRun()->params.find(QString::fromLatin1(name));
    return p ? p->value.toString() : QStringLiteral("(absent)");
  }
  QStringList paramNames() const {
    QStringList names;
    for (const ReportParam& p : tela->lastRun()->params.items()) names << p.name;
    names.sort();
    return names;
  }
  QString definitionPath(const QString& file) const {
    return QDir(host->reports).filePath(QStringLiteral("Qfx317/") + file);
  }
  void writeDefinition(const QString& file, const QByteArray& json) {
    QFile f(definitionPath(file));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(json);
  }

  QTemporaryDir dir;
  ScriptedServer server;
  std::shared_ptr<ReportHost> host;
  QPointer<TfrmGeraNF> geraNF;
  QPointer<TfrmRelProdEvol> tela;
};

// ---- design -------------------------------------------------------------------------

TEST_F(RelProdEvol, OpensWithTheShippedReportsTodosAndAnEmptyPeriod) {
  TfrmRelProdEvol& t = open();
  EXPECT_EQ(t.windowTitle(), QStringLiteral("Produtos não Evoluídos em Estoque"));
  EXPECT_EQ(t.lblCodTela->text(), QStringLiteral("QFX31702"));
  EXPECT_EQ(t.lblCodRel->text(), QStringLiteral("Qfx317"));
  ASSERT_EQ(t.cbbReportNames->count(), 2);
  EXPECT_EQ(t.cbbReportNames->itemText(0), kFirstTitle);
  EXPECT_EQ(t.cbbReportNames->itemText(1), kSecondTitle);
  EXPECT_EQ(t.cbbReportNames->currentIndex(), 0);
  EXPECT_TRUE(t.rbtTodos->isChecked());
  EXPECT_FALSE(t.btpFilial->isEnabled());
  EXPECT_TRUE(t.depDePeriodo->IsEmpty());
  EXPECT_TRUE(t.depAtePeriodo->IsEmpty());
  EXPECT_TRUE(t.stFiliais.isEmpty());
  EXPECT_EQ(t.qryPesqFilial->text(DatabaseKind::Generic),
            QStringLiteral("SELECT\n   CDFILIAL,\n   NMFILIAL\nFROM \n   FILIAL\nORDER BY\n  CDFILIAL"));
  EXPECT_EQ(t.btpFilial->Associate(), t.rbtLista);
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST_F(RelProdEvol, ListaEnablesTheBranchSearch) {
  TfrmRelProdEvol& t = open();
  t.rbtLista->click();
  EXPECT_TRUE(t.btpFilial->isEnabled());
  t.rbtTodos->click();
  EXPECT_FALSE(t.btpFilial->isEnabled());
}

TEST_F(RelProdEvol, BranchSearchFillsTheListAsThePickerWritesIt) {
  TfrmRelProdEvol& t = open();
  t.rbtLista->click();
  host->listAnswers.push_back(QStringList{"0001", "0003"});
  t.btpFilial->click();
  ASSERT_EQ(host->pickerCalls.size(), 1);
  const PickerCall& call = host->pickerCalls.first();
  EXPECT_EQ(call.dataset, QStringLiteral("qryPesqFilial"));
  EXPECT_EQ(call.keyField, QStringLiteral("CDFILIAL"));
  EXPECT_EQ(call.title, QStringLiteral("Filial"));
  EXPECT_EQ(call.emptyText, QStringLiteral("Não há filial cadastrada."));
  EXPECT_EQ(call.rows, 3);
  EXPECT_EQ(t.stFiliais, QStringLiteral("_0001__0003_"));
}

TEST_F(RelProdEvol, AnotherReportChecksTodosAndLocksBranchAndPeriod) {
  TfrmRelProdEvol& t = open();
  t.rbtLista->click();
  t.depDePeriodo->setText("01/02/2024");
  Filtro.dtInicial = dia(2024, 3, 10);
  Filtro.dtFinal = dia(2024, 3, 12);
  t.cbbReportNames->setCurrentIndex(1);
  EXPECT_TRUE(t.rbtTodos->isChecked());
  // what is on screen is what is printed: the run's period
  EXPECT_EQ(t.depDePeriodo->text(), "10/03/2024");
  EXPECT_EQ(t.depAtePeriodo->text(), "12/03/2024");
  for (QWidget* w : std::initializer_list<QWidget*>{t.grbFilial, t.rbtTodos, t.rbtLista, t.btpFilial, t.grbPeriodo,
                                                    t.depDePeriodo, t.depAtePeriodo})
    EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
  t.cbbReportNames->setCurrentIndex(0);
  for (QWidget* w : std::initializer_list<QWidget*>{t.grbFilial, t.rbtTodos, t.rbtLista, t.grbPeriodo, t.depDePeriodo,
                                                    t.depAtePeriodo})
    EXPECT_TRUE(w->isEnabled()) << w->objectName().toStdString();
  EXPECT_FALSE(t.btpFilial->isEnabled());  // "Todos" is checked
  EXPECT_EQ(t.depDePeriodo->text(), "01/02/2024") << "the first report's own period back";
  EXPECT_TRUE(t.depAtePeriodo->IsEmpty());
}

// ---- action checks ------------------------------------------------------------------

TEST_F(RelProdEvol, TodosWithAnEmptyPeriodIsRefusedAndNothingPreviewed) {
  TfrmRelProdEvol& t = open();
  t.sbtPreview->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Período inicial deve ser informado."});
  EXPECT_EQ(host->messages.first().kind, ShownMessage::Error);
  EXPECT_EQ(focused(), t.depDePeriodo);
  EXPECT_TRUE(host->previews.isEmpty());
  EXPECT_FALSE(t.lastRun());
}

TEST_F(RelProdEvol, ListaWithoutBranchesIsRefusedBeforeAnyDateCheck) {
  TfrmRelProdEvol& t = open();
  t.rbtLista->click();
  t.depAtePeriodo->setFocus();
  t.sbtPreview->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Filial deve ser informada."});
  EXPECT_EQ(focused(), t.rbtLista);
  EXPECT_TRUE(host->previews.isEmpty());
}

TEST_F(RelProdEvol, EmptyEndDateIsRefusedWithTheFocusOnIt) {
  TfrmRelProdEvol& t = open();
  t.depDePeriodo->SetDate(dia(2024, 3, 1));
  t.sbtPreview->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Período final deve ser informado."});
  EXPECT_EQ(focused(), t.depAtePeriodo);
  EXPECT_TRUE(host->previews.isEmpty());
}

TEST_F(RelProdEvol, EqualDatesPass) {
  TfrmRelProdEvol& t = open();
  period(QDate(2024, 3, 5), QDate(2024, 3, 5));
  t.sbtPreview->click();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
  ASSERT_EQ(host->previews.size(), 1);
  EXPECT_EQ(host->previews.first().table().rowCount(), 1);  // 0001 V2 of 05/03
}

TEST_F(RelProdEvol, EndBeforeStartIsRefusedWithTheFocusOnTheStart) {
  TfrmRelProdEvol& t = open();
  period(QDate(2024, 3, 5), QDate(2024, 3, 4));
  t.depAtePeriodo->setFocus();
  t.sbtPreview->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"Período inicial deve ser menor ou igual ao período final."});
  EXPECT_EQ(focused(), t.depDePeriodo);
  EXPECT_TRUE(host->previews.isEmpty());
}

TEST_F(RelProdEvol, InvalidDateAtAnActionIsReportedWithTwoBlanksBeforeNao) {
  TfrmRelProdEvol& t = open();
  t.depDePeriodo->SetDate(dia(2024, 3, 1));
  t.depAtePeriodo->setText(QStringLiteral("31/02/2024"));
  t.sbtPrint->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"'31/02/2024'  não é um período válido."});
  EXPECT_EQ(focused(), t.depAtePeriodo);
  EXPECT_TRUE(host->prints.isEmpty());
}

TEST_F(RelProdEvol, LeavingAnEmptyDateReportsNothing) {
  TfrmRelProdEvol& t = open();
  t.depDePeriodo->setFocus();
  t.depAtePeriodo->setFocus();
  t.depDePeriodo->setFocus();
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST_F(RelProdEvol, LeavingAnInvalidDateReportsItAndKeepsTheFocus) {
  TfrmRelProdEvol& t = open();
  typeAndLeave(t.depDePeriodo, QStringLiteral("31022024"), t.depAtePeriodo);
  EXPECT_EQ(host->messageTexts(), QStringList{"'31/02/2024'  não é um período válido."});
  EXPECT_EQ(focused(), t.depDePeriodo);
}

TEST_F(RelProdEvol, LeavingAnEndBeforeTheStartReportsTheOrderOnTheStart) {
  TfrmRelProdEvol& t = open();
  typeAndLeave(t.depDePeriodo, QStringLiteral("05032024"), t.depAtePeriodo);
  typeAndLeave(t.depAtePeriodo, QStringLiteral("01032024"), t.rbtTodos);
  EXPECT_EQ(host->messageTexts(), QStringList{"Período inicial deve ser menor ou igual ao período final."});
  EXPECT_EQ(focused(), t.depDePeriodo);
}

TEST_F(RelProdEvol, OtherReportsActWithoutThePeriod) {
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  t.sbtPrint->click();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
  ASSERT_EQ(host->prints.size(), 1);
  EXPECT_EQ(host->prints.first().title(), kSecondTitle);
  EXPECT_FALSE(t.grbPeriodo->isEnabled());  // Habilita_Desabilita after the action
}

TEST_F(RelProdEvol, SaveAsAndEditCheckThePeriodOfTheFirstReportToo) {
  TfrmRelProdEvol& t = open();
  t.sbtSalvarComo->click();
  t.sbtReportEdit->click();
  EXPECT_EQ(host->messageTexts(),
            QStringList({"Período inicial deve ser informado.", "Período inicial deve ser informado."}));
  EXPECT_TRUE(host->inputCalls.isEmpty());
}

// ---- parameters ---------------------------------------------------------------------

TEST_F(RelProdEvol, FirstReportSetsExactlyItsFourParameters) {
  TfrmRelProdEvol& t = open();
  period(QDate(2024, 3, 1), QDate(2024, 3, 5));
  t.sbtPreview->click();
  ASSERT_TRUE(t.lastRun());
  EXPECT_EQ(paramNames(), QStringList({"P_CDFILIAL", "P_DATAFIN", "P_DATAINI", "P_TCDFILIAL"}));
  EXPECT_EQ(param("P_CDFILIAL"), QString());
  EXPECT_EQ(param("P_TCDFILIAL"), QStringLiteral("T"));
  const ReportParam* ini = t.lastRun()->params.find(QStringLiteral("P_DATAINI"));
  EXPECT_EQ(ini->type, ReportParam::Type::Date);
  EXPECT_EQ(ini->value.toDouble(), dia(2024, 3, 1));
  EXPECT_EQ(t.lastRun()->params.find(QStringLiteral("P_DATAFIN"))->value.toDouble(), dia(2024, 3, 5));

  t.rbtLista->click();
  host->listAnswers.push_back(QStringList{"0002"});
  t.btpFilial->click();
  t.sbtPreview->click();
  EXPECT_EQ(param("P_CDFILIAL"), QStringLiteral("_0002_"));
  EXPECT_EQ(param("P_TCDFILIAL"), QString());
  ASSERT_EQ(host->previews.size(), 2);
  ASSERT_EQ(host->previews[1].table().rowCount(), 1);
  EXPECT_TRUE(host->previews[1].table().lines.first().text.startsWith(QStringLiteral("Filial 0002 ")));
}

TEST_F(RelProdEvol, OtherReportTakesTheConsolidationScreenAndFiltroEvenAfterABranchList) {
  TfrmRelProdEvol& t = open();
  t.rbtLista->click();
  host->listAnswers.push_back(QStringList{"0003"});
  t.btpFilial->click();
  t.cbbReportNames->setCurrentIndex(1);
  t.sbtPreview->click();
  ASSERT_TRUE(t.lastRun());
  EXPECT_EQ(param("P_CDFILIAL"), QStringLiteral("0001"));
  const ReportParam* ini = t.lastRun()->params.find(QStringLiteral("P_DTVENDAINI"));
  EXPECT_EQ(ini->type, ReportParam::Type::DateTime);
  EXPECT_EQ(ini->value.toDouble(), dia(2024, 3, 1));
  EXPECT_EQ(t.lastRun()->params.find(QStringLiteral("P_DTVENDAFIM"))->value.toDouble(), dia(2024, 3, 5));
  EXPECT_EQ(param("P_TODASVND"), QStringLiteral("S"));
  EXPECT_EQ(param("P_LSTVENDAS"), QString());
  EXPECT_EQ(param("P_CDLOJA"), QStringLiteral("01"));
  // all registers and customers "T", all consumption types "S"
  EXPECT_EQ(param("P_CDCAIXA"), QString());
  EXPECT_EQ(param("P_TCDCAIXA"), QStringLiteral("T"));
  EXPECT_EQ(param("P_CDTIPOCONS"), QString());
  EXPECT_EQ(param("P_TCDTIPOCONS"), QStringLiteral("S"));
  EXPECT_EQ(param("P_CDCLIENTE"), QString());
  EXPECT_EQ(param("P_TCDCLIENTE"), QStringLiteral("T"));
  EXPECT_EQ(param("P_NOMEINI"), QString());
  EXPECT_EQ(param("P_NOMEFIN"), QString());
  EXPECT_EQ(param("P_CDTIPORETI"), QStringLiteral("01"));
  EXPECT_EQ(param("P_TCDCCUSCLIE"), QStringLiteral("T"));
  EXPECT_EQ(param("P_TCDPRODUTO"), QStringLiteral("T"));
  // of branch 0001's pending items only P2 is outside withdrawal type 01
  // (the posted P2 of V1 is not counted)
  ASSERT_EQ(host->previews.size(), 1);
  const ReportTable& table = host->previews.first().table();
  ASSERT_EQ(table.rowCount(), 1);
  // the stock product heads its group, the sold products are listed under it
  EXPECT_TRUE(table.lines.first().text.startsWith(QStringLiteral("Produto de estoque P2 - ")))
      << table.lines.first().text.toStdString();
  EXPECT_EQ(table.text(0, 0), QStringLiteral("P2"));
  EXPECT_EQ(table.text(0, 3), QStringLiteral("1"));
  EXPECT_EQ(table.text(0, 4), QStringLiteral("3,000"));
}

TEST_F(RelProdEvol, ChosenListsTravelWithTheirNMarkers) {
  Filtro.boTodasNF = true;
  Filtro.boTodasVendas = false;
  Filtro.stVendas = QStringLiteral("_0001V1_");
  Filtro.boTodosCaixa = false;
  Filtro.stCaixa = QStringLiteral("_0001001_");
  Filtro.boTodosTipoCons = false;
  Filtro.stTipoCons = QStringLiteral("_01_");
  Filtro.boTodosCliente = false;
  Filtro.stCliente = QStringLiteral("_C1_");
  Filtro.stCliDe = QStringLiteral("velho");  // an old interval stays out
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  t.sbtPreview->click();
  EXPECT_EQ(param("P_TODASVND"), QStringLiteral("N"));
  EXPECT_EQ(param("P_LSTVENDAS"), QStringLiteral("_0001V1_"));
  EXPECT_EQ(param("P_CDCAIXA"), QStringLiteral("_0001001_"));
  EXPECT_EQ(param("P_TCDCAIXA"), QStringLiteral("N"));
  EXPECT_EQ(param("P_CDTIPOCONS"), QStringLiteral("_01_"));
  EXPECT_EQ(param("P_TCDTIPOCONS"), QStringLiteral("N"));
  EXPECT_EQ(param("P_CDCLIENTE"), QStringLiteral("_C1_"));
  EXPECT_EQ(param("P_TCDCLIENTE"), QStringLiteral("N"));
  EXPECT_EQ(param("P_NOMEINI"), QString());
  EXPECT_EQ(param("P_NOMEFIN"), QString());
  // sale 0001 V1 of C1: its P2 item is posted, so nothing is left that a run
  // would refuse on, whatever the flag of posted items says
  EXPECT_TRUE(host->previews.first().table().isEmpty());
}

TEST_F(RelProdEvol, CustomerIntervalGivesTheNamesAndEmptiesBothCustomerCodes) {
  Filtro.boTodosCliente = false;
  Filtro.boIntervaloCli = true;
  Filtro.stCliDe = QStringLiteral("BETA");
  Filtro.stCliAte = QStringLiteral("BETA ZZZ");
  Filtro.stCliente = QStringLiteral("_C1_");  // an old list stays out
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  t.sbtPreview->click();
  EXPECT_EQ(param("P_NOMEINI"), QStringLiteral("BETA"));
  EXPECT_EQ(param("P_NOMEFIN"), QStringLiteral("BETA ZZZ"));
  EXPECT_EQ(param("P_CDCLIENTE"), QString());
  EXPECT_EQ(param("P_TCDCLIENTE"), QString());
  // the sale of BETA SA: its pending P2 item
  const ReportTable& table = host->previews.first().table();
  ASSERT_EQ(table.rowCount(), 1);
  EXPECT_EQ(table.text(0, 4), QStringLiteral("3,000"));
}

TEST_F(RelProdEvol, AQueryWithoutAParameterDoesNotReceiveIt) {
  writeDefinition(QStringLiteral("03-poucos.json"),
                  R"({"title": "Poucos parâmetros",
                      "queries": {"generic": "SELECT CDFILIAL FROM FILIAL WHERE CDFILIAL = :P_CDFILIAL OR :P_TCDCAIXA = 'T' OR :P_TODASNF2 = 'X'"},
                      "columns": [{"field": "CDFILIAL", "title": "Filial"}]})");
  TfrmRelProdEvol& t = open();
  ASSERT_EQ(t.cbbReportNames->count(), 3);
  t.cbbReportNames->setCurrentIndex(2);
  t.sbtPreview->click();
  EXPECT_EQ(paramNames(), QStringList({"P_CDFILIAL", "P_TCDCAIXA", "P_TODASNF2"}));
  EXPECT_EQ(param("P_CDFILIAL"), QStringLiteral("0001"));
  EXPECT_EQ(param("P_TODASNF2"), QStringLiteral("N"));
  EXPECT_EQ(host->previews.first().table().rowCount(), 3);   // every branch: all registers
  EXPECT_FALSE(t.ExistParam(QStringLiteral("P_CDFILIAL")));  // only while parameters are prepared
}

TEST_F(RelProdEvol, BranchBoundOperatorIsLockedOnHisBranch) {
  host->moduFiliValue = true;
  host->filial = QStringLiteral("0002");
  TfrmRelProdEvol& t = open();
  EXPECT_TRUE(t.rbtLista->isChecked());
  EXPECT_FALSE(t.rbtTodos->isEnabled());
  EXPECT_FALSE(t.rbtLista->isEnabled());
  EXPECT_FALSE(t.btpFilial->isEnabled());
  EXPECT_EQ(t.stFiliais, QStringLiteral("_0002_"));

  // another report checks "Todos"; coming back keeps the lock
  t.cbbReportNames->setCurrentIndex(1);
  t.cbbReportNames->setCurrentIndex(0);
  EXPECT_TRUE(t.rbtLista->isChecked());
  EXPECT_FALSE(t.rbtTodos->isEnabled());
  EXPECT_FALSE(t.btpFilial->isEnabled());

  period(QDate(2024, 3, 1), QDate(2024, 3, 5));
  t.sbtPreview->click();
  EXPECT_EQ(param("P_CDFILIAL"), QStringLiteral("_0002_"));
  EXPECT_EQ(param("P_TCDFILIAL"), QString());
  ASSERT_EQ(host->previews.size(), 1);
  for (const QString& header : groupHeaders(host->previews.first().table(), 0))
    EXPECT_TRUE(header.startsWith(QStringLiteral("Filial 0002 "))) << header.toStdString();
  EXPECT_FALSE(t.rbtTodos->isEnabled());  // still locked after the action
}

// ---- output -------------------------------------------------------------------------

TEST_F(RelProdEvol, PreviewOfTheFirstReportGivesPagesWithTheItemsNotPosted) {
  host->filial = QStringLiteral("0001");
  TfrmRelProdEvol& t = open();
  period(QDate(2024, 3, 1), QDate(2024, 3, 5));
  t.sbtPreview->click();
  ASSERT_EQ(host->previews.size(), 1);
  const ReportDocument& doc = host->previews.first();
  EXPECT_EQ(doc.title(), kFirstTitle);
  EXPECT_EQ(doc.pageCount(), 1);
  const QString pdf = dir.filePath(QStringLiteral("previa.pdf"));
  ASSERT_TRUE(doc.exportPdf(pdf).ok());
  const QString text = pdfText(pdf);
  EXPECT_TRUE(text.contains(QStringLiteral("Comercial Demonstração Ltda"))) << text.toStdString();
  EXPECT_TRUE(text.contains(kFirstTitle));
  EXPECT_TRUE(text.contains(QStringLiteral("Página 1 de 1")));
  EXPECT_TRUE(text.contains(QStringLiteral("Filiais: Todas; Data inicial: 01/03/2024; Data final: 05/03/2024")));
  for (const char* product : {"Arroz 5kg", "Refrigerante lata", "Feijão 1kg"})
    EXPECT_TRUE(text.contains(QString::fromUtf8(product))) << product;
  EXPECT_FALSE(text.contains(QStringLiteral("Sacola")));      // no stock control
  EXPECT_FALSE(text.contains(QStringLiteral("06/03/2024")));  // after the period
  EXPECT_TRUE(text.contains(QStringLiteral("Total do produto de estoque P5 (1 registro)")));
  EXPECT_TRUE(text.contains(QStringLiteral("82,00")));
  EXPECT_TRUE(text.contains(QStringLiteral("Registros: 5")));
}

// ---- definitions --------------------------------------------------------------------

TEST_F(RelProdEvol, MissingReportsFolderIsReportedWithCodeAndFolder) {
  host->reports = dir.filePath(QStringLiteral("sem-relatorios"));
  TfrmRelProdEvol& t = open();
  const QString expected = QStringLiteral(
                               "O arquivo contendo a definição do relatório de código 'Qfx317' não foi encontrado no "
                               "diretório '%1'.")
                               .arg(QDir::toNativeSeparators(QDir(host->reports).filePath(QStringLiteral("Qfx317"))));
  EXPECT_EQ(host->messageTexts(), QStringList{expected});
  EXPECT_EQ(t.cbbReportNames->count(), 0);
  t.cbbReportNames->setCurrentIndex(-1);
  t.sbtPrint->click();  // no report: no period check, the same message
  EXPECT_EQ(host->messageTexts(), QStringList({expected, expected}));
  EXPECT_TRUE(host->prints.isEmpty());
}

TEST_F(RelProdEvol, DefinitionFileRemovedAfterListingIsReportedAsMissing) {
  TfrmRelProdEvol& t = open();
  ASSERT_TRUE(QFile::remove(definitionPath(QStringLiteral("02-produtos-sem-tipo-retirada.json"))));
  t.cbbReportNames->setCurrentIndex(1);
  t.sbtPreview->click();
  ASSERT_EQ(host->messageTexts().size(), 1);
  EXPECT_TRUE(host->messageTexts().first().startsWith(
      QStringLiteral("O arquivo contendo a definição do relatório de código 'Qfx317' não foi encontrado")));
  EXPECT_TRUE(host->previews.isEmpty());
}

TEST_F(RelProdEvol, DamagedDefinitionIsListedAndGivesAClearErrorNotACrash) {
  writeDefinition(QStringLiteral("03-danificado.json"), "{\"title\": \"Meio\", \"queries\": {\"gen");
  TfrmRelProdEvol& t = open();
  ASSERT_EQ(t.cbbReportNames->count(), 3);
  EXPECT_EQ(t.cbbReportNames->itemText(2), QStringLiteral("03-danificado"));
  t.cbbReportNames->setCurrentIndex(2);
  t.sbtPreview->click();
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_EQ(host->messages.first().kind, ShownMessage::Error);
  EXPECT_TRUE(host->messages.first().text.startsWith(
      QStringLiteral("O arquivo de definição do relatório '03-danificado.json' está danificado: JSON inválido")))
      << host->messages.first().text.toStdString();
  EXPECT_TRUE(host->previews.isEmpty());
  // the other reports still work
  t.cbbReportNames->setCurrentIndex(1);
  t.sbtPreview->click();
  EXPECT_EQ(host->previews.size(), 1);
}

TEST_F(RelProdEvol, SaveAsCopiesTheDefinitionUnderTheNewTitle) {
  TfrmRelProdEvol& t = open();
  period(QDate(2024, 3, 1), QDate(2024, 3, 5));
  host->inputAnswers.push_back(QStringLiteral("Cópia: itens pendentes"));
  t.sbtSalvarComo->click();
  ASSERT_EQ(host->inputCalls.size(), 1);
  EXPECT_EQ(host->inputCalls.first().caption, QStringLiteral("Título do relatório"));
  EXPECT_EQ(host->inputCalls.first().prompt, QStringLiteral("Informe o título do relatório:"));
  EXPECT_EQ(host->inputCalls.first().preset, kFirstTitle);
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();

  // the copy goes to the operator's own folder, the shipped ones stay as they are
  const QString copy = QDir(t.UserReportsDir()).filePath(QStringLiteral("03-copia-itens-pendentes.json"));
  ASSERT_TRUE(QFile::exists(copy));
  ReportTemplate expected = readReportTemplate(definitionPath(QStringLiteral("01-itens-nao-lancados.json")));
  expected.title = QStringLiteral("Cópia: itens pendentes");
  EXPECT_EQ(readReportTemplate(copy), expected);
  // listed after the shipped ones; the operator stays on the first report
  ASSERT_EQ(t.cbbReportNames->count(), 3);
  EXPECT_EQ(t.cbbReportNames->itemText(0), kFirstTitle);
  EXPECT_EQ(t.cbbReportNames->itemText(2), QStringLiteral("Cópia: itens pendentes"));
  EXPECT_EQ(t.cbbReportNames->currentIndex(), 0);
  // the copy of the first report still asks branches and period, though not first in the list
  t.cbbReportNames->setCurrentIndex(2);
  t.sbtPreview->click();
  ASSERT_TRUE(t.lastRun().has_value());
  EXPECT_EQ(t.lastRun()->params.find(QStringLiteral("P_DATAINI"))->value.toDouble(), dia(2024, 3, 1));
  EXPECT_EQ(host->previews.size(), 1);
}

// A definition edited by hand to delete: preview, print and save as refuse
// it by name before anything runs or is asked, and the sales stay.
TEST_F(RelProdEvol, DefinitionWhoseQueryWritesIsRefusedAndNothingChanges) {
  writeDefinition(QStringLiteral("03-limpeza.json"),
                  R"({"title": "Limpeza de itens", "queries": {"generic": "DELETE FROM ITVENDA"},
                      "columns": [{"field": "CDFILIAL", "title": "Filial"}]})");
  const auto saleItems = [] {
    QSqlQuery q(hostDatabase());
    return q.exec(QStringLiteral("SELECT COUNT(*) FROM ITVENDA")) && q.next() ? q.value(0).toInt() : -1;
  };
  const int before = saleItems();
  ASSERT_GT(before, 0);
  TfrmRelProdEvol& t = open();
  period(QDate(2024, 3, 1), QDate(2024, 3, 5));
  ASSERT_EQ(t.cbbReportNames->count(), 3);
  t.cbbReportNames->setCurrentIndex(2);
  t.sbtPreview->click();
  t.sbtPrint->click();
  host->inputAnswers.push_back(QStringLiteral("Outra limpeza"));
  t.sbtSalvarComo->click();

  const QString refusal = QStringLiteral(
      "A consulta genérica do relatório 'Limpeza de itens' foi recusada: não começa com SELECT nem com WITH "
      "(começa com DELETE). Um relatório só lê dados: escreva uma única consulta SELECT (ou WITH ... SELECT).");
  EXPECT_EQ(host->messageTexts(), QStringList({refusal, refusal, refusal}));
  // the engine's refusal reaches the standard error display; save as says it itself
  ASSERT_EQ(host->messages.size(), 3);
  EXPECT_EQ(host->messages[0].kind, ShownMessage::Exception);
  EXPECT_EQ(host->messages[1].kind, ShownMessage::Exception);
  EXPECT_EQ(host->messages[2].kind, ShownMessage::Error);
  EXPECT_TRUE(host->previews.isEmpty());
  EXPECT_TRUE(host->prints.isEmpty());
  EXPECT_TRUE(host->inputCalls.isEmpty()) << "no title is asked for a copy that would be refused";
  EXPECT_EQ(QDir(QDir(host->reports).filePath(QStringLiteral("Qfx317"))).entryList(QDir::Files).size(), 3);
  EXPECT_EQ(saleItems(), before);
}

TEST_F(RelProdEvol, SaveAsCancelledOrWithoutTitleWritesNothing) {
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  host->inputAnswers.push_back(std::nullopt);
  t.sbtSalvarComo->click();
  host->inputAnswers.push_back(QStringLiteral("   "));
  t.sbtSalvarComo->click();
  EXPECT_EQ(host->messageTexts(), QStringList{"O título do relatório deve ser informado."});
  EXPECT_EQ(QDir(QDir(host->reports).filePath(QStringLiteral("Qfx317"))).entryList(QDir::Files).size(), 2);
}

TEST_F(RelProdEvol, EditOpensTheDesignerAndTheSavedTitleIsListed) {
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  QString shownTitle;
  onNextModal([&shownTitle](QWidget* dialog) {
    auto* designer = qobject_cast<TReportDesigner*>(dialog);
    if (!designer) {
      ADD_FAILURE() << "not the designer: " << dialog->metaObject()->className();
      dialog->close();
      return;
    }
    shownTitle = designer->edtTitulo->text();
    designer->edtTitulo->setText(QStringLiteral("Produtos fora do tipo de retirada"));
    designer->sbtSalvar->click();
  });
  t.sbtReportEdit->click();
  EXPECT_EQ(shownTitle, kSecondTitle);
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
  // the operator's copy takes the shipped one's place; the shipped one is untouched
  EXPECT_EQ(
      readReportTemplate(QDir(t.UserReportsDir()).filePath(QStringLiteral("02-produtos-sem-tipo-retirada.json"))).title,
      QStringLiteral("Produtos fora do tipo de retirada"));
  EXPECT_EQ(readReportTemplate(definitionPath(QStringLiteral("02-produtos-sem-tipo-retirada.json"))).title,
            kSecondTitle);
  EXPECT_EQ(t.cbbReportNames->itemText(1), QStringLiteral("Produtos fora do tipo de retirada"));
  EXPECT_EQ(t.cbbReportNames->currentIndex(), 1);
}

// ---- new and deleted definitions ----------------------------------------------------------

TEST_F(RelProdEvol, NewReportIsWrittenOnlyWhenSavedThenListedSelectedAndDeletable) {
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  const QString file = QDir(t.UserReportsDir()).filePath(QStringLiteral("03-vendas-por-tipo.json"));
  host->inputAnswers.push_back(QStringLiteral("Vendas por tipo"));
  onNextModal([](QWidget* dialog) { clickButton(dialog, QStringLiteral("Cancelar")); });
  t.sbtNovoRelatorio->click();
  EXPECT_FALSE(QFile::exists(file));
  EXPECT_EQ(t.cbbReportNames->count(), 2);

  host->inputAnswers.push_back(QStringLiteral("Vendas por tipo"));
  onNextModal([](QWidget* dialog) { clickButton(dialog, QStringLiteral("Salvar")); });
  t.sbtNovoRelatorio->click();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
  ASSERT_TRUE(QFile::exists(file));
  // it starts from the selected report: its query, parameters and columns, not its groups
  const ReportTemplate from = readReportTemplate(definitionPath(QStringLiteral("02-produtos-sem-tipo-retirada.json")));
  const ReportTemplate saved = readReportTemplate(file);
  EXPECT_EQ(saved.title, QStringLiteral("Vendas por tipo"));
  EXPECT_EQ(saved.queries, from.queries);
  EXPECT_EQ(saved.parameters, from.parameters);
  EXPECT_EQ(saved.parameterSet, from.parameterSet);
  EXPECT_EQ(saved.columns, from.columns);
  EXPECT_TRUE(saved.groups.isEmpty());
  EXPECT_TRUE(saved.answers.isEmpty()) << "it explains no refusal of the server";
  ASSERT_EQ(t.cbbReportNames->count(), 3);
  EXPECT_EQ(t.cbbReportNames->currentText(), QStringLiteral("Vendas por tipo"));

  // his own report goes with its file
  ASSERT_TRUE(t.sbtExcluirRelatorio->isEnabled());
  host->dialogAnswers.push_back(mrYes);
  t.sbtExcluirRelatorio->click();
  EXPECT_EQ(host->messageTexts().last(),
            QStringLiteral("Excluir o relatório 'Vendas por tipo'? O arquivo da definição será apagado."));
  EXPECT_FALSE(QFile::exists(file));
  EXPECT_EQ(t.cbbReportNames->count(), 2);
}

TEST_F(RelProdEvol, DeletingTheOperatorsVersionBringsTheShippedOneBack) {
  TfrmRelProdEvol& t = open();
  EXPECT_FALSE(t.sbtExcluirRelatorio->isEnabled());
  ReportTemplate mine = readReportTemplate(definitionPath(QStringLiteral("02-produtos-sem-tipo-retirada.json")));
  mine.title = QStringLiteral("Minha versão");
  ASSERT_TRUE(QDir().mkpath(t.UserReportsDir()));
  const QString file = QDir(t.UserReportsDir()).filePath(QStringLiteral("02-produtos-sem-tipo-retirada.json"));
  writeReportTemplate(file, mine);
  t.LoadReportNames();
  t.cbbReportNames->setCurrentIndex(1);
  ASSERT_EQ(t.cbbReportNames->currentText(), QStringLiteral("Minha versão"));
  ASSERT_TRUE(t.sbtExcluirRelatorio->isEnabled());

  host->dialogAnswers = {mrNo, mrYes};
  t.sbtExcluirRelatorio->click();
  EXPECT_TRUE(QFile::exists(file)) << "Não keeps it";
  t.sbtExcluirRelatorio->click();
  const QString question = QStringLiteral(
      "Excluir o relatório 'Minha versão'? O relatório original do sistema volta para a lista no lugar dele.");
  EXPECT_EQ(host->messageTexts(), QStringList({question, question}));
  EXPECT_EQ(host->messages.first().type, MsgDlgType::Confirmation);
  EXPECT_EQ(host->messages.first().buttons, unsigned(mbYes | mbNo));
  EXPECT_FALSE(QFile::exists(file));
  EXPECT_EQ(t.cbbReportNames->currentIndex(), 1);
  EXPECT_EQ(t.cbbReportNames->currentText(), kSecondTitle);
  EXPECT_FALSE(t.sbtExcluirRelatorio->isEnabled());
}

TEST_F(RelProdEvol, AShippedReportCannotBeDeleted) {
  TfrmRelProdEvol& t = open();
  t.cbbReportNames->setCurrentIndex(1);
  EXPECT_FALSE(t.sbtExcluirRelatorio->isEnabled());
  t.sbtExcluirRelatorio->setEnabled(true);  // reached all the same
  t.sbtExcluirRelatorio->click();
  EXPECT_EQ(host->messageTexts(),
            QStringList{"O relatório 'Produtos não relacionados ao tipo de retirada' acompanha o sistema e não pode "
                        "ser excluído; só os relatórios do usuário (novos, cópias e editados) podem ser excluídos."});
  EXPECT_EQ(host->messages.first().kind, ShownMessage::Error);
  EXPECT_TRUE(QFile::exists(definitionPath(QStringLiteral("02-produtos-sem-tipo-retirada.json"))));
  EXPECT_EQ(t.cbbReportNames->count(), 2);
}

// ---- under a window manager --------------------------------------------------------

namespace {

// Run through scripts/with-window-manager.sh (ctest label window-manager):
// the keys go through the X server, each refusal is a real message box, and
// the window manager, not the test, hands the screen its activation back
// when the box closes. Offscreen the cases are skipped (the cases above hold
// them there).
class RelProdEvolUnderWindowManager : public RelProdEvol {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      GTEST_SKIP() << "só sob um gerenciador de janelas (scripts/with-window-manager.sh)";
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
      GTEST_FAIL() << "xdotool não instalado (scripts/install-deps.sh)";
    RelProdEvol::SetUp();
    host->showErrorBoxes = true;
  }

  // The operator reads the box and presses Enter.
  // Keys pressed through the X server (xdotool), reaching whichever window
  // the window manager has given the focus, as an operator's do.
  static void pressKeys(const QStringList& xdotoolArguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), xdotoolArguments);
    EXPECT_TRUE(QTest::qWaitFor([&xdotool] { return xdotool.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
    QTest::qWait(30);  // the last key's events in
  }
  // The operator reads the box, once the window manager has focused it, and
  // presses Enter.
  static void closeNextBoxWithEnter() {
    onNextModal([](QWidget* box) {
      EXPECT_TRUE(QTest::qWaitFor([box] { return box->isActiveWindow(); }, 5000));
      pressKeys({QStringLiteral("key"), QStringLiteral("Return")});
    });
  }
  // Types over the field that has the focus and leaves it with Tab.
  static void typeAndTab(const QString& digits) {
    pressKeys({QStringLiteral("key"), QStringLiteral("ctrl+a")});
    pressKeys({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), digits});
    pressKeys({QStringLiteral("key"), QStringLiteral("Tab")});
  }
  // Where the focus is once the screen is active again and stays so.
  QWidget* focusOnceBack() {
    EXPECT_TRUE(QTest::qWaitFor([this] { return tela->isActiveWindow(); }, 5000));
    QTest::qWait(150);  // anything the window manager still sends
    return QApplication::focusWidget();
  }
};

}  // namespace

TEST_F(RelProdEvolUnderWindowManager, EveryRefusedCheckLeavesTheFocusWhereItBelongs) {
  TfrmRelProdEvol& t = open();
  for (int run = 1; run <= 5; ++run) {
    SCOPED_TRACE(run);
    // leaving the end date before the start: the order goes to the start
    t.depAtePeriodo->setText(QString());
    t.depDePeriodo->setFocus();
    typeAndTab(QStringLiteral("05032024"));
    ASSERT_EQ(QApplication::focusWidget(), t.depAtePeriodo);
    closeNextBoxWithEnter();
    typeAndTab(QStringLiteral("01032024"));
    EXPECT_EQ(focusOnceBack(), t.depDePeriodo);

    // an invalid date keeps the focus on its own field
    t.depAtePeriodo->setText(QStringLiteral("10/03/2024"));
    t.depAtePeriodo->setFocus();
    closeNextBoxWithEnter();
    typeAndTab(QStringLiteral("31022024"));
    EXPECT_EQ(focusOnceBack(), t.depAtePeriodo);

    // the same order checked by an action
    t.depAtePeriodo->setText(QStringLiteral("01/03/2024"));
    closeNextBoxWithEnter();
    t.sbtPreview->click();
    EXPECT_EQ(focusOnceBack(), t.depDePeriodo);
  }
  EXPECT_EQ(host->messages.size(), 15);
  EXPECT_TRUE(host->previews.isEmpty());
}

}  // namespace
