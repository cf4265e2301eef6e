#include "reportfixture.h"

#include <reportkit/widgets/reportpreview.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include "testsql.h"
#include <hostkit/core/query.h>

using namespace hostkit;
using namespace reportkit;

namespace qfxtest {

std::shared_ptr<ReportHost> ReportHost::install() {
  auto host = std::make_shared<ReportHost>();
  qputenv("XDG_DATA_HOME", host->dataHome.path().toUtf8());
  installHostServices(host);
  reportkit::installReportDialogs();  // what the host's own preview and print show
  return host;
}

QueryOptions onHostDatabase() {
  QueryOptions options;
  options.connection = hostConnectionName();
  return options;
}

ReportContext hostContext(const QString& branch, const QString& operatorName, const QString& screenCode,
                          const QString& reportCode) {
  ReportContext context;
  context.connection = hostConnectionName();
  context.branch = branch;
  context.operatorName = operatorName;
  context.screenCode = screenCode;
  context.reportCode = reportCode;
  return context;
}

int columnOf(const ReportTable& table, const QString& field) {
  for (qsizetype c = 0; c < table.columns.size(); ++c)
    if (table.columns[c].field == field) return int(c);
  return -1;
}

QString zipEntry(const QString& zip, const QString& entry) {
  QProcess unzip;
  unzip.start(QStringLiteral("unzip"), {QStringLiteral("-p"), zip, entry});
  if (!unzip.waitForFinished(60000) || unzip.exitCode() != 0) {
    ADD_FAILURE() << "unzip -p " << entry.toStdString() << ": " << unzip.readAllStandardError().toStdString();
    return {};
  }
  return QString::fromUtf8(unzip.readAllStandardOutput());
}

SheetCell cellAt(const QString& sheet, const QString& reference) {
  const QRegularExpression element(
      QStringLiteral("<c r=\"%1\"([^>]*?)(?:/>|>(?:<v>([^<]*)</v>|<is>.*?</is>)?</c>)").arg(reference));
  const auto match = element.match(sheet);
  if (!match.hasMatch()) return {};
  return SheetCell{true, match.captured(1), match.captured(2)};
}

QStringList groupHeaders(const reportkit::ReportTable& table, int level) {
  QStringList out;
  for (const reportkit::ReportLine& line : table.lines)
    if (line.kind == reportkit::ReportLine::Kind::GroupHeader && line.level == level) out << line.text;
  return out;
}

void ReportHost::showError(const QString& text) {
  ScriptedHostServices::showError(text);
  if (!showErrorBoxes) return;
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), text, QMessageBox::Ok, QApplication::activeWindow());
  box.exec();
}

bool ReportHost::inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget*) {
  inputCalls << InputCall{caption, prompt, value};
  if (inputAnswers.empty() || !inputAnswers.front()) {
    if (!inputAnswers.empty()) inputAnswers.pop_front();
    return false;
  }
  value = *inputAnswers.front();
  inputAnswers.pop_front();
  return true;
}

// The host's connection only reads: the tests write through one of their own.
void execAll(const QStringList& statements) {
  const QString file = hostDatabase().databaseName();
  ASSERT_FALSE(file.isEmpty()) << "the host's database is not open";
  if (const auto done = writeSqliteFile(file, statements); !done.ok()) FAIL() << done.error().toStdString();
}

// The base schema with SQLite's types, as the server's migration makes it.
static QStringList schemaStatements() {
  const QString path = sourcePath(QStringLiteral("schema/migrations/0001_base.sql"));
  QString script = QString::fromUtf8(fileContents(path));
  EXPECT_FALSE(script.isEmpty()) << path.toStdString();
  script.replace(QStringLiteral("${DATE}"), QStringLiteral("VARCHAR(10)"));
  script.replace(QStringLiteral("${TIMESTAMP}"), QStringLiteral("VARCHAR(19)"));
  script.replace(QStringLiteral("${FLOAT}"), QStringLiteral("REAL"));
  script.replace(QStringLiteral("${BIGINT}"), QStringLiteral("INTEGER"));
  script.remove(QRegularExpression(QStringLiteral("--[^\n]*")));
  QStringList statements;
  for (const QString& s : script.split(u';'))
    if (!s.trimmed().isEmpty()) statements << s.trimmed();
  return statements;
}

// Three branches of one company. In 01-05/03/2024 these items are not
// posted to stock: 0001 V1/001 (P1, 2 x 10,00), 0001 V1/004 (P4, 6 x 3,00),
// 0001 V2/001 (P2, 3 x 5,00 less 1,00), 0002 V1/001 (P1, 1 x 10,00), 0003
// V9/001 (P2, 4 x 5,00): 16 units, 82,00. Left out: 0001 V1/002 (posted),
// 0001 V1/003 (a product without stock control), 0001 V3/001 (06/03).
// Withdrawal type 01 moves P1 and P5 only, and P4 moves the stock of P5: of
// branch 0001's pending items only P2 is not related to it.
void createSalesDatabase(const QString& file) {
  if (const auto done = writeSqliteFile(file, schemaStatements()); !done.ok()) FAIL() << done.error().toStdString();
  if (const auto done = openHostDatabase({QStringLiteral("sqlite:") + file, {}}); !done.ok())
    FAIL() << done.error().toStdString();
  execAll({
      "INSERT INTO EMPRESA (CDEMPRESA, NMEMPRESA) VALUES ('01', 'Comercial Demonstração Ltda')",
      "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0001', 'Matriz', '01'), "
      "('0002', 'Centro', '01'), ('0003', 'Norte', '01')",
      "INSERT INTO LOJA (CDFILIAL, CDLOJA, NMLOJA) VALUES ('0001', '01', 'Loja Matriz'), "
      "('0002', '01', 'Loja Centro'), ('0003', '01', 'Loja Norte')",
      "INSERT INTO PRODUTO (CDPRODUTO, NMPRODUTO, CDPRODESTO, IDCTRLESTQ) VALUES "
      "('P1', 'Arroz 5kg', NULL, 'S'), ('P2', 'Feijão 1kg', NULL, 'S'), ('P3', 'Sacola', NULL, 'N'), "
      "('P4', 'Refrigerante lata', 'P5', 'S'), ('P5', 'Refrigerante estoque', NULL, 'S')",
      "INSERT INTO TIPORETI VALUES ('01', 'Venda balcão'), ('02', 'Sem restrição')",
      "INSERT INTO PRODTIPORETI VALUES ('01', 'P1'), ('01', 'P5')",
      "INSERT INTO CLIENTE (CDCLIENTE, NMRAZSOCCLIE) VALUES ('C1', 'ALFA LTDA'), ('C2', 'BETA SA')",
      "INSERT INTO VENDA (CDFILIAL, NRSEQVENDA, CDLOJA, CDCAIXA, DTVENDA, DTENTRVENDA, CDCLIENTE, CDTIPOCONS) "
      "VALUES ('0001', 'V1', '01', '001', '2024-03-01', '2024-03-01 09:00:00', 'C1', '01'), "
      "('0001', 'V2', '01', '002', '2024-03-05', '2024-03-05 18:00:00', 'C2', '02'), "
      "('0001', 'V3', '01', '001', '2024-03-06', '2024-03-06 08:00:00', NULL, '01'), "
      "('0002', 'V1', '01', '001', '2024-03-02', '2024-03-02 10:00:00', NULL, '01'), "
      "('0003', 'V9', '01', '001', '2024-03-03', '2024-03-03 11:00:00', NULL, '01')",
      "INSERT INTO ITVENDA (CDFILIAL, NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND, "
      "CDFILIALEST, NRLANCESTQ) VALUES "
      "('0001', 'V1', '001', 'P1', 2, 10, 0, NULL, NULL), "
      "('0001', 'V1', '002', 'P2', 1, 5, 0, '0001', '77'), "
      "('0001', 'V1', '003', 'P3', 1, 0.5, 0, NULL, NULL), "
      "('0001', 'V1', '004', 'P4', 6, 3, 0, NULL, NULL), "
      "('0001', 'V2', '001', 'P2', 3, 5, 1, NULL, NULL), "
      "('0001', 'V3', '001', 'P1', 1, 10, 0, NULL, NULL), "
      "('0002', 'V1', '001', 'P1', 1, 10, 0, NULL, NULL), "
      "('0003', 'V9', '001', 'P2', 4, 5, 0, NULL, NULL)",
  });
}

void copyShippedReports(const QString& folder) {
  const QDir shipped(sourcePath(QStringLiteral("reports/Qfx317")));
  ASSERT_TRUE(QDir(folder).mkpath(QStringLiteral("Qfx317")));
  const QStringList files = shipped.entryList({QStringLiteral("*.json")}, QDir::Files);
  ASSERT_EQ(files.size(), 2);
  for (const QString& name : files)
    ASSERT_TRUE(QFile::copy(shipped.filePath(name), QDir(folder).filePath(QStringLiteral("Qfx317/") + name)));
}

QString pdfText(const QString& pdf) {
  QProcess p;
  p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) {
    ADD_FAILURE() << "pdftotext failed: " << p.readAllStandardError().toStdString();
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace qfxtest
