// The report designer: what it shows of a definition, what it saves back, and
// the trial run of its query.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest/QTest>

#include "reportfixture.h"
#include <hostkit/core/abort.h>
#include <reportkit/widgets/reportdesigner.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;

namespace {

class ReportDesigner : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    host = ReportHost::install();
    copyShippedReports(dir.path());
    path = QDir(dir.path()).filePath(QStringLiteral("Qfx317/01-itens-nao-lancados.json"));
    designer.Load(path);
  }
  void TearDown() override {
    closeHostDatabase();
    installHostServices(nullptr);
  }

  void setCell(int row, int col, const QString& text) { designer.grdColunas->item(row, col)->setText(text); }
  QString cell(int row, int col) const { return designer.grdColunas->item(row, col)->text(); }
  void openSales() { createSalesDatabase(QDir(dir.path()).filePath(QStringLiteral("vendas.db"))); }
  void testQuery(const QString& sql) {
    designer.memConsultaGenerica->setPlainText(sql);
    designer.sbtTestarConsulta->click();
  }
  QStringList listedFields() const {
    QStringList fields;
    for (int i = 0; i < designer.lstCampos->count(); ++i) fields << designer.lstCampos->item(i)->text();
    return fields;
  }

  QTemporaryDir dir;
  std::shared_ptr<ReportHost> host;
  QString path;
  TReportDesigner designer{hostConnectionName()};
};

TEST_F(ReportDesigner, ShowsTheWholeDefinition) {
  const ReportTemplate file = readReportTemplate(path);
  EXPECT_EQ(designer.objectName(), QStringLiteral("rpddPadrao"));
  EXPECT_EQ(designer.edtTitulo->text(), file.title);
  EXPECT_EQ(designer.memConsultaGenerica->toPlainText(), file.queries.value(DatabaseKind::Generic));
  EXPECT_EQ(designer.grdColunas->rowCount(), file.columns.size());
  EXPECT_EQ(designer.grdColunas->item(10, TReportDesigner::ColTitulo)->text(),
            QStringLiteral("Descrição do produto vendido"));
  EXPECT_EQ(designer.grdColunas->item(0, TReportDesigner::ColImpressa)->checkState(), Qt::Unchecked);  // the branch
  EXPECT_EQ(designer.grdGrupos->rowCount(), file.groups.size());
  EXPECT_EQ(designer.grdParametros->rowCount(), file.parameters.size());
  EXPECT_EQ(designer.Template(), file);  // nothing lost between file and controls
}

TEST_F(ReportDesigner, SaveWritesTheChangesBackToTheFile) {
  designer.edtTitulo->clear();
  QTest::keyClicks(designer.edtTitulo, QStringLiteral("Itens pendentes de estoque"));
  designer.cbbOrientacao->setCurrentIndex(designer.cbbOrientacao->findText(QStringLiteral("Retrato")));
  const QString query = designer.memConsultaGenerica->toPlainText().replace(
      QStringLiteral("ORDER BY"), QStringLiteral("  AND V.CDLOJA <> 'XX'\nORDER BY"));
  designer.memConsultaGenerica->setPlainText(query);
  designer.memConsultaSqlServer->setPlainText(QStringLiteral("SELECT 1 AS CDFILIAL"));

  designer.sbtIncluirColuna->click();
  const int added = designer.grdColunas->rowCount() - 1;
  setCell(added, TReportDesigner::ColCampo, QStringLiteral("vrdesitvend"));
  setCell(added, TReportDesigner::ColTitulo, QStringLiteral("Desconto"));
  setCell(added, TReportDesigner::ColLargura, QStringLiteral("7"));
  setCell(added, TReportDesigner::ColFormato, QStringLiteral("#,##0.00"));
  qobject_cast<QComboBox*>(designer.grdColunas->cellWidget(added, TReportDesigner::ColTipo))
      ->setCurrentText(QStringLiteral("Número"));
  qobject_cast<QComboBox*>(designer.grdColunas->cellWidget(added, TReportDesigner::ColAlinhamento))
      ->setCurrentText(QStringLiteral("Direita"));
  designer.grdColunas->item(added, TReportDesigner::ColTotal)->setCheckState(Qt::Checked);
  designer.sbtSubirColuna->click();  // the new column goes before "Valor total"
  designer.grdColunas->setCurrentCell(5, 0);
  designer.sbtExcluirColuna->click();  // "Loja" goes

  designer.sbtSalvar->click();
  EXPECT_EQ(designer.result(), QDialog::Accepted);
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();

  const ReportTemplate saved = readReportTemplate(path);
  EXPECT_EQ(saved.title, QStringLiteral("Itens pendentes de estoque"));
  EXPECT_EQ(saved.orientation, QPageLayout::Portrait);
  EXPECT_EQ(saved.queries.value(DatabaseKind::Generic), query);
  EXPECT_EQ(saved.queries.value(DatabaseKind::SQLServer), QStringLiteral("SELECT 1 AS CDFILIAL"));
  ASSERT_EQ(saved.columns.size(), 15);
  EXPECT_EQ(saved.columns[5].field, QStringLiteral("CDCAIXA"));
  const ReportColumn discount = saved.columns[13];
  EXPECT_EQ(discount, (ReportColumn{QStringLiteral("VRDESITVEND"),
                                    QStringLiteral("Desconto"),
                                    7,
                                    Qt::AlignRight,
                                    ReportColumn::Type::Number,
                                    QStringLiteral("#,##0.00"),
                                    true,
                                    {}}));
  EXPECT_EQ(saved.columns[14].field, QStringLiteral("VRTOTITEM"));
  const ReportTemplate shipped =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  EXPECT_EQ(saved.parameters, shipped.parameters);
  EXPECT_EQ(saved.groups, shipped.groups);
  EXPECT_EQ(saved, designer.Template());
}

TEST_F(ReportDesigner, ParameterWordsRoundTrip) {
  designer.sbtIncluirParametro->click();
  const int row = designer.grdParametros->rowCount() - 1;
  designer.grdParametros->item(row, TReportDesigner::ParNome)->setText(QStringLiteral("p_tcdfilial"));
  designer.grdParametros->item(row, TReportDesigner::ParDescricao)->setText(QStringLiteral("Abrangência"));
  designer.grdParametros->item(row, TReportDesigner::ParValores)->setText(QStringLiteral("T=todas; N=lista"));
  ASSERT_TRUE(designer.Save());
  const ReportParamText saved = readReportTemplate(path).parameters.last();
  EXPECT_EQ(saved.name, QStringLiteral("P_TCDFILIAL"));
  EXPECT_EQ(saved.label, QStringLiteral("Abrangência"));
  EXPECT_EQ(saved.values, (QMap<QString, QString>{{"T", "todas"}, {"N", "lista"}}));
}

TEST_F(ReportDesigner, IncompleteDefinitionIsRefusedAndTheFileStays) {
  const QByteArray before = fileContents(path);
  ASSERT_FALSE(before.isEmpty());
  designer.edtTitulo->clear();
  designer.sbtSalvar->click();
  EXPECT_NE(designer.result(), QDialog::Accepted);
  EXPECT_EQ(host->messageTexts(), QStringList{"A definição do relatório está incompleta: falta o título."});

  designer.edtTitulo->setText(QStringLiteral("Outro"));
  setCell(0, TReportDesigner::ColLargura, QStringLiteral("largo"));
  EXPECT_FALSE(designer.Save());
  EXPECT_EQ(host->messageTexts().last(),
            QStringLiteral("Largura inválida na coluna 1: informe um número inteiro maior que zero."));
  EXPECT_EQ(fileContents(path), before);
}

// A query that would change data is not saved: the message names the report
// and says why, the file stays, and the corrected text saves.
TEST_F(ReportDesigner, QueryThatWritesIsRefusedAndTheFileStays) {
  const QByteArray before = fileContents(path);
  ASSERT_FALSE(before.isEmpty());
  designer.edtTitulo->setText(QStringLiteral("Limpeza"));
  designer.memConsultaGenerica->setPlainText(QStringLiteral("SELECT CDFILIAL FROM FILIAL;\nDELETE FROM ITVENDA"));
  designer.sbtSalvar->click();
  EXPECT_NE(designer.result(), QDialog::Accepted);
  EXPECT_EQ(host->messageTexts(),
            QStringList{"A consulta genérica do relatório 'Limpeza' foi recusada: tem mais de um comando (há outro "
                        "depois do ';'). Um relatório só lê dados: escreva uma única consulta SELECT (ou WITH ... "
                        "SELECT)."});
  // a write in an Oracle text is refused as well
  designer.memConsultaGenerica->setPlainText(QStringLiteral("SELECT CDFILIAL FROM FILIAL -- sem DELETE; nenhum"));
  designer.memConsultaOracle->setPlainText(QStringLiteral("SELECT CDFILIAL FROM FILIAL FOR UPDATE"));
  EXPECT_FALSE(designer.Save());
  EXPECT_TRUE(host->messageTexts().last().startsWith(QStringLiteral("A consulta Oracle do relatório 'Limpeza'")))
      << host->messageTexts().last().toStdString();
  EXPECT_EQ(fileContents(path), before);

  designer.memConsultaOracle->clear();
  EXPECT_TRUE(designer.Save());
  EXPECT_EQ(readReportTemplate(path).queries.value(DatabaseKind::Generic),
            QStringLiteral("SELECT CDFILIAL FROM FILIAL -- sem DELETE; nenhum"));
}

TEST_F(ReportDesigner, DamagedFileIsAnErrorAndNotLoaded) {
  const QString damaged = QDir(dir.path()).filePath(QStringLiteral("Qfx317/09-danificado.json"));
  QFile f(damaged);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("{\"title\": \"Meio arquivo\", \"queries\": {\"gen");
  f.close();
  EXPECT_THROW(designer.Load(damaged), EHostError);
  EXPECT_EQ(designer.FileName(), path);  // still on the good one
  EXPECT_EQ(designer.Template(), readReportTemplate(path));
}

TEST_F(ReportDesigner, SaveRefusesFieldsTheQueryDoesNotReturn) {
  createSalesDatabase(QDir(dir.path()).filePath(QStringLiteral("vendas.db")));
  const QByteArray before = fileContents(path);
  ASSERT_FALSE(before.isEmpty());
  setCell(0, TReportDesigner::ColCampo, QStringLiteral("NAOEXISTE"));
  EXPECT_FALSE(designer.Save());
  ASSERT_EQ(host->messages.size(), 1);
  EXPECT_TRUE(host->messages.first().text.contains(QStringLiteral("NAOEXISTE")))
      << host->messageTexts().join(u'\n').toStdString();
  // a group's placeholder is a field too
  setCell(0, TReportDesigner::ColCampo, QStringLiteral("CDLOJA"));
  designer.grdGrupos->item(1, TReportDesigner::GrpCabecalho)->setText(QStringLiteral("Produto {CDPRODESTOQUE}"));
  EXPECT_FALSE(designer.Save());
  EXPECT_TRUE(host->messages.last().text.contains(QStringLiteral("CDPRODESTOQUE")));
  EXPECT_EQ(fileContents(path), before) << "nothing written";
  designer.grdGrupos->item(1, TReportDesigner::GrpCabecalho)->setText(QStringLiteral("Produto {CDPRODESTO}"));
  EXPECT_TRUE(designer.Save()) << host->messageTexts().join(u'\n').toStdString();
  closeHostDatabase();
}

// ---- Testar consulta ------------------------------------------------------------------

TEST_F(ReportDesigner, TestRunListsTheFieldsAndTheFirstRows) {
  openSales();
  testQuery(
      QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL\n"
                     "WHERE CDFILIAL = :P_CDFILIAL OR :P_CDFILIAL IS NULL ORDER BY CDFILIAL"));
  EXPECT_EQ(designer.pgcConsultas->currentWidget(), designer.tabTeste);
  EXPECT_TRUE(designer.lblErroTeste->isHidden());
  EXPECT_EQ(listedFields(), QStringList({"CDFILIAL", "NMFILIAL"}));
  ASSERT_EQ(designer.grdAmostra->rowCount(), 3) << "the parameter is unset";
  EXPECT_EQ(designer.grdAmostra->horizontalHeaderItem(1)->text(), QStringLiteral("NMFILIAL"));
  EXPECT_EQ(designer.grdAmostra->item(2, 1)->text(), QStringLiteral("Norte"));
  EXPECT_EQ(designer.lblLinhasTeste->text(), QStringLiteral("3 linhas."));

  testQuery(QStringLiteral(
      "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 1500) SELECT I AS NUMERO FROM N"));
  EXPECT_EQ(listedFields(), QStringList{"NUMERO"});
  EXPECT_EQ(designer.grdAmostra->rowCount(), 20);
  EXPECT_EQ(designer.lblLinhasTeste->text(), QStringLiteral("1.500 linhas; as 20 primeiras abaixo."));
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
}

TEST_F(ReportDesigner, TestRunShowsItsErrorInTheTabNotInAMessage) {
  testQuery(QStringLiteral("SELECT CDFILIAL FROM FILIAL"));
  EXPECT_EQ(designer.lblErroTeste->text(),
            QStringLiteral("Nenhum banco de dados conectado: a consulta não pode ser testada."));

  openSales();
  testQuery(QStringLiteral("SELECT CDFILIAL FROM FILIAL"));
  ASSERT_EQ(listedFields(), QStringList{"CDFILIAL"});
  testQuery(QStringLiteral("SELECT NAOEXISTE FROM FILIAL"));
  EXPECT_FALSE(designer.lblErroTeste->isHidden());
  EXPECT_TRUE(designer.lblErroTeste->text().startsWith(QStringLiteral("A consulta não pôde ser executada: ")));
  EXPECT_TRUE(designer.lblErroTeste->text().contains(QStringLiteral("NAOEXISTE")))
      << designer.lblErroTeste->text().toStdString();
  EXPECT_TRUE(listedFields().isEmpty()) << "the last good run is not shown as this one's";
  EXPECT_EQ(designer.grdAmostra->columnCount(), 0);
  EXPECT_TRUE(designer.lblLinhasTeste->text().isEmpty());

  testQuery(QStringLiteral("DELETE FROM ITVENDA"));
  EXPECT_TRUE(designer.lblErroTeste->text().startsWith(
      QStringLiteral("A consulta genérica do relatório 'Itens de venda não lançados no estoque' foi recusada")))
      << designer.lblErroTeste->text().toStdString();
  EXPECT_TRUE(host->messages.isEmpty()) << host->messageTexts().join(u'\n').toStdString();
}

TEST_F(ReportDesigner, DoubleClickOnAFieldAddsItsColumn) {
  openSales();
  designer.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&designer));
  testQuery(QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL"));
  QCoreApplication::processEvents();  // the result tab laid out
  const int added = designer.grdColunas->rowCount();
  const QRect field = designer.lstCampos->visualItemRect(designer.lstCampos->item(1));
  // through the window, as the platform delivers a double click
  QTest::mouseDClick(designer.windowHandle(), Qt::LeftButton, {},
                     designer.lstCampos->viewport()->mapTo(&designer, field.center()));
  ASSERT_EQ(designer.grdColunas->rowCount(), added + 1);
  EXPECT_EQ(designer.grdColunas->item(added, TReportDesigner::ColCampo)->text(), QStringLiteral("NMFILIAL"));
  EXPECT_EQ(designer.grdColunas->item(added, TReportDesigner::ColTitulo)->text(), QStringLiteral("NMFILIAL"));
  EXPECT_EQ(designer.grdColunas->currentRow(), added);
}

TEST_F(ReportDesigner, AddedColumnTakesItsKindFromTheQueryAndDatesStayBrazilian) {
  openSales();
  const QString shippedQuery = designer.memConsultaGenerica->toPlainText();
  // with the parameters unset the shipped query returns no rows: the kinds
  // come from the field alone; a sample of rows says it too
  for (const QString& sql : {shippedQuery, QStringLiteral("SELECT DTVENDA, CDLOJA, 2.5 AS PESO FROM VENDA")}) {
    testQuery(sql);
    const auto kindOf = [this](const QString& field) {
      const QList<QListWidgetItem*> items = designer.lstCampos->findItems(field, Qt::MatchExactly);
      if (items.isEmpty()) return QString();
      emit designer.lstCampos->itemDoubleClicked(items.first());
      const int row = designer.grdColunas->rowCount() - 1;
      return qobject_cast<QComboBox*>(designer.grdColunas->cellWidget(row, TReportDesigner::ColTipo))->currentText();
    };
    EXPECT_EQ(kindOf(QStringLiteral("DTVENDA")), QStringLiteral("Data")) << sql.toStdString();
    EXPECT_EQ(kindOf(QStringLiteral("CDLOJA")), QStringLiteral("Texto"));
    if (sql == shippedQuery) {
      EXPECT_EQ(kindOf(QStringLiteral("VRTOTITEM")), QStringLiteral("Número"));
      EXPECT_EQ(cell(designer.grdColunas->rowCount() - 1, TReportDesigner::ColFormato), QStringLiteral("#,##0.00"));
    } else {
      EXPECT_EQ(kindOf(QStringLiteral("PESO")), QStringLiteral("Número"));
    }
  }

  // a day typed as text by hand still prints Brazilian in the group's header
  designer.Load(path);
  ReportTemplate report = designer.Template();
  for (ReportColumn& column : report.columns)
    if (column.field == QStringLiteral("DTVENDA")) column.type = ReportColumn::Type::Text;
  ReportParams params = reportParamsOf(report, hostConnectionName());
  params.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
  params.ParamByName(QStringLiteral("P_DATAINI")).SetAsDate(dia(2024, 3, 1));
  params.ParamByName(QStringLiteral("P_DATAFIN")).SetAsDate(dia(2024, 3, 1));
  const QStringList headers = groupHeaders(runReportQuery(report, params, onHostDatabase()), 0);
  ASSERT_FALSE(headers.isEmpty());
  EXPECT_TRUE(headers.first().endsWith(QStringLiteral("Dia 01/03/2024"))) << headers.first().toStdString();
}

}  // namespace
