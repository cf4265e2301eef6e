// SQL lookups on a real SQLite database: the generic text runs verbatim
// (NVL registered), null parameters select all, values are bound, never spliced.
#include <gtest/gtest.h>

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "testsql.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/query.h>

using namespace hostkit;

class Query : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    // the host's connection only reads: the rows go in through one of the test's own
    const auto written = writeSqliteFile(
        dir.filePath("host.db"),
        {"CREATE TABLE LOJA (CDFILIAL TEXT, CDLOJA TEXT, NMLOJA TEXT, CDALMOXARIFE TEXT, CDLOCALESTOQ TEXT, "
         "CDTIPOOPER TEXT)",
         "INSERT INTO LOJA VALUES ('0001','01','Loja Um','A1','L1','01'), "
         "('0001','02','Loja Dois','A2','L2','01'), ('0002','01','Outra','A3','L3','01')"});
    ASSERT_TRUE(written.ok()) << written.error().toStdString();
    ASSERT_TRUE(openHostDatabase({"sqlite:" + dir.filePath("host.db")}).ok());
  }
  void TearDown() override { closeHostDatabase(); }
  QTemporaryDir dir;
};

static void storeQuery(TADOIBQuery& q) {
  q.SetSQL(
      {"SELECT CDLOJA, NMLOJA, CDALMOXARIFE, CDLOCALESTOQ, CDTIPOOPER FROM LOJA WHERE (CDFILIAL = :P_CDFILIAL) "
       "AND (CDLOJA = NVL(:P_CDLOJA, CDLOJA)) ORDER BY CDLOJA"});
}

TEST_F(Query, NullParameterSelectsAllAndAValueSelectsOne) {
  TADOIBQuery q(nullptr, "qryLoja");
  storeQuery(q);
  EXPECT_EQ(q.paramNames(), QStringList({"P_CDFILIAL", "P_CDLOJA"}));
  q.ParamByName("P_CDFILIAL").SetAsString("0001");
  q.ParamByName("P_CDLOJA").Clear();
  q.Open();
  EXPECT_EQ(q.RecordCount(), 2);
  q.Close();
  q.ParamByName("P_CDLOJA").SetAsString("02");
  q.Open();
  ASSERT_EQ(q.RecordCount(), 1);
  EXPECT_EQ(q.FieldByName("NMLOJA")->AsString(), "Loja Dois");
  EXPECT_EQ(q.FieldByName("CDALMOXARIFE")->AsString(), "A2");
}

TEST_F(Query, HostileParameterTextIsOnlyData) {
  TADOIBQuery q(nullptr, "qryLoja");
  storeQuery(q);
  q.ParamByName("P_CDFILIAL").SetAsString("0001' OR '1'='1");
  q.ParamByName("P_CDLOJA").SetAsString("01'); DROP TABLE LOJA; --");
  q.Open();
  EXPECT_EQ(q.RecordCount(), 0);
  QSqlQuery check(hostDatabase());
  ASSERT_TRUE(check.exec("SELECT COUNT(*) FROM LOJA"));
  ASSERT_TRUE(check.next());
  EXPECT_EQ(check.value(0).toInt(), 3);
}

TEST_F(Query, BeforeOpenRunsFirstAndErrorsAreReadable) {
  TADOIBQuery q(nullptr, "qryLoja");
  storeQuery(q);
  q.BeforeOpen = [](TDataSet& ds) { static_cast<TADOIBQuery&>(ds).ParamByName("P_CDFILIAL").SetAsString("0002"); };
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);

  TADOIBQuery broken(nullptr, "qryQuebrada");
  broken.SetSQL({"SELECT * FROM TABELA_QUE_NAO_EXISTE"});
  const auto opened = broken.tryOpen();
  ASSERT_FALSE(opened.ok());
  EXPECT_TRUE(opened.error().startsWith("qryQuebrada"));
  EXPECT_THROW(broken.ParamByName("P_X"), EDatabaseError);
}

TEST(QueryText, NamedParametersBecomePositional) {
  const auto p = toPositional("SELECT ':P_NOT' , a::text FROM T WHERE X = :P_A AND Y = NVL(:p_b, :P_A)");
  EXPECT_EQ(p.sql, "SELECT ':P_NOT' , a::text FROM T WHERE X = ? AND Y = NVL(?, ?)");
  EXPECT_EQ(p.names, QStringList({"P_A", "P_B", "P_A"}));
}

TEST_F(Query, UpperFoldsAccentedLettersOnSqlite) {
  QSqlQuery q(hostDatabase());
  ASSERT_TRUE(q.exec("SELECT UPPER('joão ação'), UPPER(NULL), NVL(NULL, 'x')"));
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(0).toString(), "JOÃO AÇÃO");
  EXPECT_TRUE(q.value(1).isNull());
  EXPECT_EQ(q.value(2).toString(), "x");
}

// The host's SQLite connection only reads: its functions still run, every
// kind of write fails and leaves the file as it was.
TEST_F(Query, HostConnectionReadsWithItsFunctionsAndRefusesEveryWrite) {
  QSqlQuery q(hostDatabase());
  ASSERT_TRUE(
      q.exec("SELECT NVL(NULL, 'a'), NVLSTR(NULL, 'b'), NVL(CDLOJA, 'x'), UPPER('ação') FROM LOJA "
             "WHERE NMLOJA = 'Outra'"))
      << q.lastError().text().toStdString();
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(0).toString(), "a");
  EXPECT_EQ(q.value(1).toString(), "b");
  EXPECT_EQ(q.value(2).toString(), "01");
  EXPECT_EQ(q.value(3).toString(), "AÇÃO");

  for (const char* write :
       {"INSERT INTO LOJA VALUES ('0003','01','Nova','','','01')", "UPDATE LOJA SET NMLOJA = 'x'", "DELETE FROM LOJA",
        "DROP TABLE LOJA", "CREATE TABLE INTRUSA (A INTEGER)", "PRAGMA user_version = 5"}) {
    EXPECT_FALSE(q.exec(write)) << write;
    EXPECT_TRUE(q.lastError().text().contains("readonly")) << write << ": " << q.lastError().text().toStdString();
  }
  ASSERT_TRUE(q.exec("SELECT COUNT(*), GROUP_CONCAT(NMLOJA, '|') FROM LOJA"));
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(0).toInt(), 3);
  EXPECT_EQ(q.value(1).toString(), "Loja Um|Loja Dois|Outra");
  ASSERT_TRUE(q.exec("PRAGMA user_version"));
  ASSERT_TRUE(q.next());
  EXPECT_EQ(q.value(0).toInt(), 0);
}

TEST(HostDatabase, AMissingSqliteFileIsAnErrorAndIsNotCreated) {
  QTemporaryDir dir;
  const QString missing = dir.filePath("nao-existe.db");
  const auto opened = openHostDatabase({"sqlite:" + missing});
  ASSERT_FALSE(opened.ok());
  EXPECT_TRUE(opened.error().contains(missing)) << opened.error().toStdString();
  EXPECT_FALSE(QFile::exists(missing));
  closeHostDatabase();
}
