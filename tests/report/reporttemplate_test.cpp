// Report definition files: reading, writing back, and the clear errors of a
// damaged file.
#include <QFile>
#include <QTemporaryDir>

#include "reportfixture.h"
#include <hostkit/core/abort.h>
#include <reportkit/model/reporttemplate.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;

namespace {

ReportTemplate sample() {
  ReportTemplate t;
  t.title = QStringLiteral("Vendas por produto");
  t.orientation = QPageLayout::Landscape;
  t.queries.insert(DatabaseKind::Generic, QStringLiteral("SELECT CDPRODUTO, QT FROM X\nWHERE CDFILIAL = :P_CDFILIAL"));
  t.queries.insert(DatabaseKind::SQLServer, QStringLiteral("SELECT CDPRODUTO, QT FROM X WHERE A = :P_OUTRO"));
  t.parameters << ReportParamText{QStringLiteral("P_CDFILIAL"),
                                  QStringLiteral("Filial"),
                                  QStringLiteral("Todas"),
                                  {{QStringLiteral("T"), QStringLiteral("todas")}},
                                  {}};
  t.columns << ReportColumn{QStringLiteral("CDPRODUTO"),
                            QStringLiteral("Produto"),
                            8,
                            Qt::AlignLeft,
                            ReportColumn::Type::Text,
                            QString(),
                            false,
                            {}};
  t.columns << ReportColumn{QStringLiteral("QT"),       QStringLiteral("Quantidade"), 5,    Qt::AlignRight,
                            ReportColumn::Type::Number, QStringLiteral("#,##0.000"),  true, {}};
  return t;
}

// The message of the error that reading `json` gives.
QString errorOf(const QByteArray& json) {
  try {
    parseReportTemplate(json, QStringLiteral("relatorio.json"));
  } catch (const EHostError& e) {
    return e.message();
  }
  return QStringLiteral("(no error)");
}

}  // namespace

TEST(ReportTemplate, WrittenDefinitionReadsBackTheSame) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("r.json"));
  writeReportTemplate(path, sample());
  EXPECT_EQ(readReportTemplate(path), sample());
}

TEST(ReportTemplate, QueryTextMayBeOneStringOrLines) {
  const QByteArray asLines = R"({"title":"T","queries":{"generic":["SELECT A","FROM B"]},"columns":[{"field":"a"}]})";
  const QByteArray asString = R"({"title":"T","queries":{"generic":"SELECT A\nFROM B"},"columns":[{"field":"a"}]})";
  const ReportTemplate a = parseReportTemplate(asLines, QStringLiteral("a"));
  EXPECT_EQ(a.queries.value(DatabaseKind::Generic), QStringLiteral("SELECT A\nFROM B"));
  EXPECT_EQ(a, parseReportTemplate(asString, QStringLiteral("b")));
  EXPECT_EQ(a.columns.first().field, QStringLiteral("A"));  // field names are upper case, as the query's
  EXPECT_EQ(a.columns.first().width, 10);
}

TEST(ReportTemplate, ADatabaseKindWithoutItsOwnTextRunsTheGenericOne) {
  const ReportTemplate t = sample();
  EXPECT_EQ(t.queryFor(DatabaseKind::Oracle), t.queries.value(DatabaseKind::Generic));
  EXPECT_EQ(t.paramNames(DatabaseKind::Generic), QStringList{"P_CDFILIAL"});
  EXPECT_EQ(t.paramNames(DatabaseKind::SQLServer), QStringList{"P_OUTRO"});
}

TEST(ReportTemplate, DamagedFilesSayWhichFileAndWhatIsWrong) {
  const QString start = QStringLiteral("O arquivo de definição do relatório 'relatorio.json' está danificado: ");
  EXPECT_TRUE(errorOf(R"({"title": "T", "queries": )").startsWith(start + "JSON inválido na posição"));
  EXPECT_EQ(errorOf("[1, 2]"), start + "o conteúdo não é um objeto JSON.");
  EXPECT_EQ(errorOf(R"({"queries":{"generic":"SELECT 1"},"columns":[{"field":"A"}]})"), start + "falta o título.");
  EXPECT_EQ(errorOf(R"({"title":"T","queries":{"oracle":"SELECT 1"},"columns":[{"field":"A"}]})"),
            start + "falta a consulta genérica.");
  EXPECT_EQ(errorOf(R"({"title":"T","queries":{"generic":"SELECT 1"}})"), start + "faltam as colunas.");
  EXPECT_EQ(errorOf(R"({"title":"T","queries":{"generic":["SELECT", 1]},"columns":[{"field":"A"}]})"),
            start + "a consulta \"generic\" tem uma linha que não é texto.");
  EXPECT_EQ(errorOf(R"({"title":"T","queries":{"generic":"S"},"columns":[{"field":"A","align":"meio"}]})"),
            start + "alinhamento \"meio\" desconhecido.");
  EXPECT_EQ(errorOf(R"({"title":"T","queries":{"generic":"S"},"columns":[{"title":"sem campo"}]})"),
            start + "a coluna 1 não tem campo.");
}

TEST(ReportTemplate, UnreadableFileIsAnErrorNamingIt) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("nao-existe.json"));
  try {
    readReportTemplate(path);
    FAIL() << "no error";
  } catch (const EHostError& e) {
    EXPECT_TRUE(e.message().contains(path)) << e.message().toStdString();
  }
}

TEST(ReportTemplate, IncompleteDefinitionIsNotWrittenAndTheOldFileStays) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("r.json"));
  writeReportTemplate(path, sample());
  ReportTemplate broken = sample();
  broken.columns.clear();
  EXPECT_THROW(writeReportTemplate(path, broken), EHostError);
  EXPECT_EQ(readReportTemplate(path), sample());
}

TEST(ShippedReports, FirstReportTakesTheBranchesAndThePeriod) {
  const ReportTemplate t = readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/01-itens-nao-lancados.json")));
  EXPECT_EQ(t.title, QStringLiteral("Itens de venda não lançados no estoque"));
  QStringList names = t.paramNames(DatabaseKind::Generic);
  names.sort();
  EXPECT_EQ(names, QStringList({"P_CDFILIAL", "P_DATAFIN", "P_DATAINI", "P_TCDFILIAL"}));
}

TEST(ShippedReports, SecondReportTakesTheConsolidationSelection) {
  const ReportTemplate t =
      readReportTemplate(sourcePath(QStringLiteral("reports/Qfx317/02-produtos-sem-tipo-retirada.json")));
  QStringList names = t.paramNames(DatabaseKind::Generic);
  names.sort();
  // the run's own selection: pending items whatever P_TODASNF2 says, and the
  // cost centres and products as well
  QStringList expected = {"P_CDFILIAL",   "P_DTVENDAINI",  "P_DTVENDAFIM", "P_TODASVND",   "P_LSTVENDAS",
                          "P_CDLOJA",     "P_CDCAIXA",     "P_TCDCAIXA",   "P_CDTIPOCONS", "P_TCDTIPOCONS",
                          "P_CDCLIENTE",  "P_TCDCLIENTE",  "P_NOMEINI",    "P_NOMEFIN",    "P_CDTIPORETI",
                          "P_CDCCUSCLIE", "P_TCDCCUSCLIE", "P_CDPRODUTO",  "P_TCDPRODUTO"};
  expected.sort();
  EXPECT_EQ(names, expected);
  EXPECT_EQ(t.answers, QStringLiteral("Prod_NRelacReti"));
}
