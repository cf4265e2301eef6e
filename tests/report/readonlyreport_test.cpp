// Report queries only read. The check of a query text on its own (comments
// and quoted text do not count), then definitions that try to write, run on
// a real database through the host's connection: on SQLite always, on
// PostgreSQL when QFX_TEST_PG_URL names a server. Each is refused by name,
// cannot be saved, and even run past the check changes nothing.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

#include "backend.h"
#include "fixture.h"
#include "reportfixture.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/query.h>
#include <reportkit/model/readonlysql.h>
#include <reportkit/model/reportrun.h>
#include <reportkit/widgets/reportprogress.h>

using namespace hostkit;
using namespace reportkit;
using namespace qfxtest;
using qfx::test::Backend;

namespace {

// ---- the check on its own -----------------------------------------------------------

TEST(ReadOnlySql, QueriesThatOnlyReadPassWhateverTheirTextsAndCommentsSay) {
  const QStringList reading = {
      "select a from t",
      "SELECT A FROM T;",
      "SELECT A FROM T ;  -- fim\n ; ",
      "(SELECT A FROM T) UNION (SELECT B FROM U)",
      "WITH X AS (SELECT A FROM T) SELECT * FROM X",
      "WITH RECURSIVE N(I) AS (SELECT 1 UNION ALL SELECT I + 1 FROM N WHERE I < 3) SELECT I FROM N",
      "SELECT 'a; DELETE FROM T' AS TEXTO FROM T",
      "SELECT 'it''s; DROP TABLE T' FROM T",
      "SELECT A FROM T -- ; DELETE FROM T\nWHERE B = 1",
      "SELECT A /* ; UPDATE T SET A = 1; */ FROM T",
      "SELECT \"DELETE\", \"a;b\" FROM T",
      "SELECT [INSERT], `DROP;` FROM T",
      "SELECT E'linha\\nDELETE;' FROM T",
      "SELECT A::text, NVL(:P_CDFILIAL, A) FROM T WHERE B = $1",
      "SELECT UPDATED_AT, DELETED, CREATED_BY, REPLACE(NOME, 'a', 'b') FROM T",
      "SELECT FORMA, INTOCADO, SETOR FROM T WHERE B = ANY (SELECT C FROM U) ORDER BY 1",
  };
  for (const QString& sql : reading) EXPECT_TRUE(checkReadOnlySql(sql).ok()) << sql.toStdString();

  // the shipped definitions, every text of them
  const QDir shipped(sourcePath(QStringLiteral("reports/Qfx317")));
  const QStringList files = shipped.entryList({QStringLiteral("*.json")}, QDir::Files);
  ASSERT_FALSE(files.isEmpty());
  for (const QString& file : files)
    EXPECT_TRUE(checkReportQuery(readReportTemplate(shipped.filePath(file))).ok()) << file.toStdString();
}

TEST(ReadOnlySql, EveryOtherTextIsRefusedWithItsReason) {
  const QList<QPair<QString, QString>> refused = {
      {"", "está vazia"},
      {" ; -- nada", "está vazia"},
      {"DELETE FROM T", "não começa com SELECT nem com WITH (começa com DELETE)"},
      {"explain analyze delete from t", "não começa com SELECT nem com WITH (começa com EXPLAIN)"},
      {"SELECT A FROM T; DELETE FROM T", "mais de um comando"},
      {"SELECT A FROM T; -- só um comentário\nSELECT B FROM U", "mais de um comando"},
      {"SELECT ';' FROM T; SELECT 1", "mais de um comando"},
      {"WITH D AS (DELETE FROM T RETURNING *) SELECT * FROM D", "usa DELETE, que altera dados"},
      {"WITH U AS (update t set a = 1 returning a) SELECT a FROM U", "usa UPDATE, que altera dados"},
      {"WITH X AS (SELECT 1) INSERT INTO T SELECT * FROM X", "usa INSERT, que altera dados"},
      {"WITH X AS (SELECT 1) REPLACE INTO T SELECT * FROM X", "usa INTO"},
      {"WITH X AS (SELECT 1) MERGE INTO T USING X ON TRUE WHEN MATCHED THEN DELETE", "usa MERGE"},
      {"SELECT A INTO COPIA FROM T", "usa INTO"},
      {"SELECT A FROM T FOR UPDATE", "trava linhas"},
      {"SELECT A FROM T FOR NO KEY UPDATE", "trava linhas"},
      {"SELECT A FROM T FOR SHARE", "trava linhas"},
      {"SELECT SET_CONFIG('default_transaction_read_only', 'off', false)", "usa SET_CONFIG"},
      {"SELECT NEXTVAL('seq')", "usa NEXTVAL"},
      {"ATTACH DATABASE 'x.db' AS X", "começa com ATTACH"},
      {"PRAGMA user_version = 5", "começa com PRAGMA"},
      {"SELECT 'sem fim FROM T", "texto entre aspas que não termina"},
      {"SELECT A FROM T /* sem fim", "comentário /* que não termina"},
      {"SELECT /* a /* b */ ; DELETE FROM T; */ 1", "comentário dentro de outro"},
      {"SELECT $$; DELETE FROM T; $$", "$...$"},
      {"SELECT $x$ a $x$", "$...$"},
      {"SELECT E'\\'; DELETE FROM T; --' FROM T", "E'...'"},
      {"SELECT A['x]'] ; DELETE FROM T; --'", "aspas dentro de [...]"},
  };
  for (const auto& [sql, reason] : refused) {
    const auto checked = checkReadOnlySql(sql);
    ASSERT_FALSE(checked.ok()) << sql.toStdString();
    EXPECT_TRUE(checked.error().contains(reason)) << sql.toStdString() << " -> " << checked.error().toStdString();
  }
}

// ---- definitions that write, on a real database ------------------------------------------

class ReadOnlyReports : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::PostgreSQL && !qfx::test::postgresAvailable())
      GTEST_SKIP() << "QFX_TEST_PG_URL não definida: variante PostgreSQL pulada";
    ASSERT_TRUE(dir.isValid());
    testDb = std::make_unique<qfx::test::TestDatabase>(GetParam());
    database = testDb->open();
    auto connection = database->connection();
    ASSERT_TRUE(connection.ok());
    writer = *connection;  // the test's own connection, which may write
    qfx::test::loadFixture(writer);
    // the host connects with the same login as the test: only the host's
    // read-only connection and transaction stand between a report and the data
    const auto opened = openHostDatabase({QString::fromStdString(testDb->url()), {}});
    ASSERT_TRUE(opened.ok()) << opened.error().toStdString();
  }
  void TearDown() override {
    closeHostDatabase();
    writer = QSqlDatabase();
    database.reset();
    testDb.reset();
  }

  static ReportTemplate definition(const QString& title, const QString& sql) {
    ReportTemplate report;
    report.title = title;
    report.queries.insert(DatabaseKind::Generic, sql);
    for (const char* field : {"CDFILIAL", "ITENS"}) {
      ReportColumn column;
      column.field = column.title = QString::fromLatin1(field);
      report.columns << column;
    }
    return report;
  }

  // Every table, every row of each, and SQLite's user version: anything a
  // statement could change.
  std::vector<std::string> state() {
    std::vector<std::string> all = qfx::test::snapshot(writer, true);
    QStringList tables = writer.tables();
    tables.sort(Qt::CaseInsensitive);
    all.push_back("tabelas: " + tables.join(u',').toUpper().toStdString());
    if (GetParam() == Backend::SQLite)
      all.push_back("user_version " + qfx::test::scalar(writer, "PRAGMA user_version"));
    return all;
  }
  int saleItems() { return std::stoi(qfx::test::scalar(writer, "SELECT COUNT(*) FROM ITVENDA")); }

  QTemporaryDir dir;
  std::unique_ptr<qfx::test::TestDatabase> testDb;
  std::unique_ptr<qfx::server::Database> database;
  QSqlDatabase writer;
};

TEST_P(ReadOnlyReports, DefinitionsThatWriteAreRefusedByNameAndChangeNothing) {
  const QString attached = dir.filePath(QStringLiteral("intrusa.db"));
  const QStringList writing = {
      "DELETE FROM ITVENDA",
      "UPDATE ITVENDA SET QTPRODVEND = 0",
      "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA) VALUES ('0099', 'Intrusa', '01')",
      "DROP TABLE ITVENDA",
      "ATTACH DATABASE '" + attached + "' AS INTRUSA",
      "PRAGMA user_version = 5",
      "SELECT CDFILIAL, 1 AS ITENS FROM FILIAL; DELETE FROM ITVENDA",
      "WITH APAGADOS AS (DELETE FROM ITVENDA RETURNING CDFILIAL) SELECT CDFILIAL, 1 AS ITENS FROM APAGADOS",
      "SELECT CDFILIAL, 1 AS ITENS INTO FILIAL_COPIA FROM FILIAL",
      "SELECT CDFILIAL, 1 AS ITENS FROM FILIAL FOR UPDATE",
  };
  ASSERT_GT(saleItems(), 0);
  const std::vector<std::string> before = state();
  {
    QSqlQuery plain(hostDatabase());
    EXPECT_FALSE(plain.exec(QStringLiteral("DELETE FROM ITVENDA")));
    static const QRegularExpression readOnly(QStringLiteral("read-?only"));
    EXPECT_TRUE(plain.lastError().text().contains(readOnly)) << plain.lastError().text().toStdString();
  }
  for (qsizetype i = 0; i < writing.size(); ++i) {
    const QString& sql = writing[i];
    SCOPED_TRACE(sql.toStdString());
    const ReportTemplate report = definition(QStringLiteral("Relatório intruso %1").arg(i + 1), sql);

    // preview and print run the engine: refused, naming the report
    try {
      runReportQuery(report, reportParamsOf(report, hostConnectionName()), onHostDatabase());
      ADD_FAILURE() << "the query ran";
    } catch (const EDatabaseError& e) {
      EXPECT_TRUE(e.message().startsWith(
          QStringLiteral("A consulta genérica do relatório '%1' foi recusada: ").arg(report.title)))
          << e.message().toStdString();
    }
    // the designer and "save as" write through here: refused, no file
    const QString file = dir.filePath(QStringLiteral("intruso-%1.json").arg(i + 1));
    EXPECT_THROW(writeReportTemplate(file, report), EHostError);
    EXPECT_FALSE(QFile::exists(file));

    // past the check, on the host's connection as the engine runs it: the
    // database itself refuses
    TADOIBQuery direct(nullptr, QStringLiteral("qryDireta"));
    direct.SetReadOnlyTransaction(true);
    direct.SetSQL({sql});
    EXPECT_FALSE(direct.tryOpen().ok());
    // and so does the connection without the engine's transaction
    QSqlQuery(hostDatabase()).exec(sql);

    EXPECT_EQ(state(), before);
  }
  EXPECT_FALSE(QFile::exists(attached));
}

// Reading definitions run as before, comments and texts that mention
// writes included, and read what the test's own connection reads.
TEST_P(ReadOnlyReports, DefinitionsThatOnlyReadStillRun) {
  const QList<QPair<QString, QString>> reading = {
      {"Itens por filial",
       "SELECT CDFILIAL, COUNT(*) AS ITENS FROM ITVENDA -- nada de DELETE; aqui\n"
       "WHERE CDFILIAL <> ';' GROUP BY CDFILIAL ORDER BY CDFILIAL;"},
      {"Itens por filial (WITH)",
       "WITH POR_FILIAL AS (SELECT CDFILIAL, COUNT(*) AS ITENS FROM ITVENDA GROUP BY CDFILIAL)\n"
       "/* DROP TABLE ITVENDA; */ SELECT CDFILIAL, ITENS FROM POR_FILIAL ORDER BY CDFILIAL"},
  };
  QList<QStringList> expected;
  QSqlQuery q(writer);
  ASSERT_TRUE(q.exec("SELECT CDFILIAL, COUNT(*) FROM ITVENDA GROUP BY CDFILIAL ORDER BY CDFILIAL"));
  while (q.next()) expected << QStringList{q.value(0).toString(), q.value(1).toString()};
  ASSERT_FALSE(expected.isEmpty());
  const std::vector<std::string> before = state();

  for (const auto& [title, sql] : reading) {
    SCOPED_TRACE(title.toStdString());
    const ReportTemplate report = definition(title, sql);
    EXPECT_TRUE(checkReportQuery(report).ok());
    EXPECT_EQ(runReportQuery(report, reportParamsOf(report, hostConnectionName()), onHostDatabase()).texts(), expected);
    const QString file = dir.filePath(title + QStringLiteral(".json"));
    EXPECT_NO_THROW(writeReportTemplate(file, report));
    EXPECT_EQ(readReportTemplate(file), report);
  }
  EXPECT_EQ(state(), before);
}

// A report whose query would run for hours: Cancel stops the database's
// own work (the query returns no row before it ends), the run says it was
// cancelled, and the next report runs as usual.
TEST_P(ReadOnlyReports, CancelStopsTheDatabaseWorkOfALongReport) {
  const QString endless =
      GetParam() == Backend::SQLite
          ? QStringLiteral(
                "WITH RECURSIVE N(X) AS (SELECT 1 UNION ALL SELECT X + 1 FROM N WHERE X < 1000000000000) "
                "SELECT 'T' AS CDFILIAL, COUNT(*) AS ITENS FROM N")
          : QStringLiteral("SELECT 'T' AS CDFILIAL, COUNT(*) AS ITENS FROM pg_sleep(3600), generate_series(1, 10)");
  ReportRun run(definition(QStringLiteral("Sem fim"), endless), ReportParams(), hostConnectionName());
  QSignalSpy finished(&run, &ReportRun::finished);
  run.start();
  ASSERT_FALSE(finished.wait(300)) << run.error().toStdString();  // still running
  run.cancel();
  ASSERT_TRUE(finished.wait(20000)) << "the database went on after Cancel";
  EXPECT_TRUE(run.cancelled());
  EXPECT_EQ(run.table(), nullptr);
  EXPECT_TRUE(run.error().isEmpty());

  // the screen's way: the window shows while the query runs, its Cancel stops it
  bool clicked = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&clicked] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == QLatin1String("frmProgressoRelatorio") && w->isVisible() && !clicked) {
        clicked = true;
        w->findChild<QPushButton*>(QStringLiteral("sbtCancelar"))->click();
      }
  });
  poll.start(50);
  EXPECT_FALSE(runReportWithProgress(definition(QStringLiteral("Sem fim"), endless), ReportParams(),
                                     hostConnectionName(), nullptr));
  EXPECT_TRUE(clicked);
  poll.stop();

  // the preview's way: the document handed out goes on filling after its
  // run, and its last copy stops the database's work and waits for it
  std::optional<ReportDocument> handedOut;
  {
    ReportRun preview(definition(QStringLiteral("Sem fim"), endless), ReportParams(), hostConnectionName());
    preview.start();
    handedOut = preview.document();
  }
  EXPECT_FALSE(handedOut->isComplete()) << "the run took its document's query down with it";
  handedOut.reset();

  const ReportTemplate report = definition(
      QStringLiteral("Itens"), "SELECT CDFILIAL, COUNT(*) AS ITENS FROM ITVENDA GROUP BY CDFILIAL ORDER BY CDFILIAL");
  ReportRun next(report, ReportParams(), hostConnectionName());
  QSignalSpy done(&next, &ReportRun::finished);
  next.start();
  ASSERT_TRUE(done.wait(20000));
  ASSERT_NE(next.table(), nullptr) << next.error().toStdString();
  EXPECT_EQ(next.table()->texts(), runReportQuery(report, ReportParams(), onHostDatabase()).texts());
}

INSTANTIATE_TEST_SUITE_P(Databases, ReadOnlyReports, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         qfx::test::BackendName());

}  // namespace
