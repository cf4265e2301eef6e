// The demo data: deterministic for a seed, holding every case the screens
// and the posting run have to show, and usable with the demo operators.
#include <gtest/gtest.h>

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>

#include "auth/sessions.h"
#include "common/sale_money.h"
#include "db/batch_insert.h"
#include "demo/demo_export.h"
#include "demo/demo_generator.h"
#include "domain/posting_engine.h"
#include "domain/sale_lists.h"
#include "harness.h"
#include "methods/dispatcher.h"
#include "posting_support.h"
#include "rpc/server.h"
#include <qfximport/import_client.h>

using namespace qfx;
using namespace qfx::test;

namespace {

const QDate kToday(2024, 3, 20);

server::demo::Options demoOptions(uint64_t seed, int64_t items = 800) {
  server::demo::Options o;
  o.items = items;
  o.seed = seed;
  o.today = kToday;
  return o;
}

// The snapshot without the password hashes, which are salted afresh, and
// without the schema version's time of migration.
std::vector<std::string> contents(QSqlDatabase& db) {
  std::vector<std::string> rows;
  for (auto& row : snapshot(db))
    if (row.rfind("OPERADOR|", 0) != 0 && row.rfind("QFXVERSAOESQUEMA|", 0) != 0) rows.push_back(row);
  return rows;
}

std::string count(QSqlDatabase& db, const char* query) { return scalar(db, QString::fromLatin1(query)); }

}  // namespace

TEST(DemoData, SameSeedSameDataOtherSeedOtherData) {
  TestDatabase a(Backend::SQLite), b(Backend::SQLite), c(Backend::SQLite);
  auto da = a.open(), db = b.open(), dc = c.open();
  ASSERT_TRUE(server::demo::generate(*da, demoOptions(42)).ok());
  ASSERT_TRUE(server::demo::generate(*db, demoOptions(42)).ok());
  ASSERT_TRUE(server::demo::generate(*dc, demoOptions(43)).ok());
  QSqlDatabase sa = *da->connection(), sb = *db->connection(), sc = *dc->connection();
  EXPECT_EQ(contents(sa), contents(sb));
  EXPECT_NE(contents(sa), contents(sc));

  // a database with data is left alone
  auto again = server::demo::generate(*da, demoOptions(42));
  ASSERT_FALSE(again.ok());
  EXPECT_NE(again.error().message.find("vazio"), std::string::npos);
}

namespace {

// Every row of `table` whose branch is one of the demo's own four, as text.
std::vector<std::string> demoBranchRows(QSqlDatabase& db, const char* table) {
  QSqlQuery q(db);
  EXPECT_TRUE(q.exec(QStringLiteral("SELECT * FROM %1 WHERE CDFILIAL < '1000'").arg(QLatin1String(table))));
  std::vector<std::string> rows;
  while (q.next()) {
    std::string row;
    for (int c = 0; c < q.record().count(); ++c) row += q.value(c).toString().toStdString() + '|';
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

TEST(DemoData, TheRestOfAChainLeavesTheDemoBranchesAsTheyAre) {
  TestDatabase plain(Backend::SQLite), chained(Backend::SQLite);
  auto dp = plain.open(), dc = chained.open();
  ASSERT_TRUE(server::demo::generate(*dp, demoOptions(7)).ok());
  server::demo::Options chain = demoOptions(7);
  chain.chainBranches = 3;
  chain.chainItems = 900;
  auto summary = server::demo::generate(*dc, chain);
  ASSERT_TRUE(summary.ok()) << summary.error().message;
  QSqlDatabase sp = *dp->connection(), sc = *dc->connection();
  for (const char* table : {"VENDA", "ITVENDA", "REDUCAOZ", "LANCESTQ", "ITLANCESTQ", "SALDOESTQ", "CAIXA"})
    EXPECT_EQ(demoBranchRows(sp, table), demoBranchRows(sc, table)) << table;
  EXPECT_EQ(count(sc, "SELECT COUNT(DISTINCT CDFILIAL) FROM VENDA WHERE CDFILIAL >= '1001'"), "3");
  const int64_t chainItems = std::stoll(count(sc, "SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL >= '1001'"));
  EXPECT_GT(chainItems, 800);
  EXPECT_LT(chainItems, 1000);

  chain.chainBranches = 9000;
  TestDatabase tooMany(Backend::SQLite);
  auto dt = tooMany.open();
  EXPECT_FALSE(server::demo::generate(*dt, chain).ok());
}

namespace {

// The printout's wrapped lines as one line: a text of the table is found
// whatever line it was broken across.
std::string unwrapped(const std::string& text) {
  std::string out;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\n') {
      out += text[at];
      continue;
    }
    while (at + 1 < text.size() && text[at + 1] == ' ') ++at;
    out += ' ';
  }
  return out;
}

std::string manualPage(const std::string& name) {
  return qfxtest::fileContents(qfxtest::sourcePath(QStringLiteral("docs/manual/") + QString::fromStdString(name)))
      .toStdString();
}

}  // namespace

// The tour is one table: qfxdemo's printout (real dates) and the manual's
// page (days counted from D) tell the same stops, every day resolved, every
// link of the page leading to a place of the manual, and no key that only
// the program knows shown to the operator.
TEST(DemoData, TourPrintoutAndManualPageTellTheSameStops) {
  const auto stops = server::demo::tour(kToday);
  const std::string text = server::demo::tourText(kToday);
  const std::string printed = unwrapped(text);
  const std::string page = server::demo::tourPage();
  ASSERT_FALSE(stops.empty());
  EXPECT_EQ(text.rfind("roteiro", 0), 0u) << "scripts/run.sh keeps the tour from its first word on";
  const auto occurrences = [](const std::string& in, const std::string& what) {
    size_t n = 0;
    for (size_t at = in.find(what); at != std::string::npos; at = in.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(occurrences(page, "<tr><td>"), stops.size());
  for (const std::string& resolved : {printed, page}) EXPECT_EQ(resolved.find("{D"), std::string::npos);
  EXPECT_EQ(printed.find("D−"), std::string::npos) << "the printout gives dates";
  EXPECT_EQ(page.find("/20"), std::string::npos) << "the page counts from D, it gives no dates";

  const auto day = [](const QDate& d) { return d.toString(QStringLiteral("dd/MM/yyyy")).toStdString(); };
  for (size_t i = 0; i < stops.size(); ++i) {
    const auto& stop = stops[i];
    SCOPED_TRACE(stop.outcome);
    EXPECT_LE(stop.first, stop.last);
    const std::string entries = stop.branch + "/" + stop.store + "/" + stop.withdrawalType + "/" + stop.sector;
    EXPECT_NE(printed.find(std::to_string(i + 1) + ". " + entries + ", " + day(stop.first) + " a " + day(stop.last)),
              std::string::npos);
    EXPECT_NE(printed.find(stop.shown + ": " + stop.sees), std::string::npos);
    EXPECT_NE(page.find("<td>" + stop.period), std::string::npos);
    if (stop.shown != stop.outcome) {
      EXPECT_EQ(printed.find(stop.outcome), std::string::npos) << "a key the program alone knows";
    }
    const size_t hash = stop.page.find('#');
    ASSERT_NE(hash, std::string::npos);
    const std::string linked = manualPage(stop.page.substr(0, hash));
    ASSERT_FALSE(linked.empty()) << stop.page << " under $QFX_SOURCE_DIR/docs/manual";
    EXPECT_NE(linked.find("id=\"" + stop.page.substr(hash + 1) + "\""), std::string::npos) << stop.page;
  }
}

namespace {

// Every cell of two packets: same fields, rows, nulls, texts and numbers.
void expectSamePackets(const packet::Packet& fast, const packet::Packet& qt) {
  ASSERT_EQ(fast.fields.size(), qt.fields.size());
  ASSERT_EQ(fast.rowCount(), qt.rowCount());
  for (size_t f = 0; f < fast.fields.size(); ++f) {
    const packet::Column &a = fast.columns[f], &b = qt.columns[f];
    ASSERT_EQ(a.type(), b.type()) << fast.fields[f].name;
    ASSERT_EQ(a.rows(), b.rows()) << fast.fields[f].name;
    for (size_t row = 0; row < a.rows(); ++row) {
      ASSERT_EQ(a.isNull(row), b.isNull(row)) << fast.fields[f].name << " row " << row;
      if (a.type() == packet::FieldType::Text)
        ASSERT_EQ(a.text(row), b.text(row)) << fast.fields[f].name << " row " << row;
      else
        ASSERT_EQ(a.number(row), b.number(row)) << fast.fields[f].name << " row " << row;
    }
  }
}

bool anyNull(const packet::Column& c) {
  for (size_t row = 0; row < c.rows(); ++row)
    if (c.isNull(row)) return true;
  return false;
}

bool anyNonAscii(const packet::Column& c) {
  for (size_t row = 0; row < c.rows(); ++row)
    for (const char ch : c.text(row))
      if (static_cast<unsigned char>(ch) >= 0x80) return true;
  return false;
}

server::SaleFilter wholeMonth(const char* branch) {
  server::SaleFilter f;
  f.branch = QString::fromLatin1(branch);
  f.store = QStringLiteral("01");
  f.first = kToday.addDays(-40);
  f.last = kToday;
  f.pendingOnly = false;
  return f;
}

// What the posting run reads of each item, sorted: the posting read (fewer
// columns, no customer unless a filter names one, texts shared across items)
// must select and describe the items the full read does.
std::vector<std::string> postingView(QSqlDatabase& db, const server::SaleFilter& filter, server::ItemDetail detail) {
  std::vector<std::string> items;
  const auto done = server::forEachSaleRow(
      db, filter,
      [&](const server::SaleRow& r) {
        const server::SaleItem s = r.item();
        items.push_back(QStringList{s.branch, s.sale, s.item, s.day.toString(Qt::ISODate), s.entered.toString(),
                                    s.situation, s.product, s.productName.toString(),
                                    s.productName.isNull() ? QStringLiteral("null") : QString(), s.stockProduct,
                                    QString::number(s.quantity), QString::number(s.totalCents()),
                                    QString::number(s.productKnown) + QString::number(s.productActive) +
                                        QString::number(s.productControlsStock) + QString::number(s.productRegistered)}
                            .join(QLatin1Char('|'))
                            .toStdString());
      },
      detail);
  EXPECT_TRUE(done.ok()) << done.error().message;
  std::sort(items.begin(), items.end());
  return items;
}

}  // namespace

class DemoDataTest : public ::testing::TestWithParam<Backend> {};

// The lists read their rows with the database's C library (sqlite3, libpq);
// the packets must be the ones QSqlQuery's values give, cell by cell, with
// every restriction.
TEST_P(DemoDataTest, CellReaderGivesTheQtReadersPackets) {
  QFX_REQUIRE_BACKEND(GetParam());
  TestDatabase testDb(GetParam());
  auto database = testDb.open();
  ASSERT_TRUE(server::demo::generate(*database, demoOptions(7)).ok());
  QSqlDatabase db = *database->connection();
  using server::sql::RowReader;

  const auto compare = [&](const server::SaleFilter& filter, const char* what) -> packet::Packet {
    SCOPED_TRACE(what);
    auto fast = server::principalRows(db, filter, RowReader::Fastest);
    auto qt = server::principalRows(db, filter, RowReader::Qt);
    EXPECT_TRUE(fast.ok() && qt.ok());
    if (!fast.ok() || !qt.ok()) return {};
    expectSamePackets(*fast, *qt);
    EXPECT_EQ(postingView(db, filter, server::ItemDetail::Posting), postingView(db, filter, server::ItemDetail::Full));
    auto fastDays = server::verificationRows(db, filter, RowReader::Fastest);
    auto qtDays = server::verificationRows(db, filter, RowReader::Qt);
    EXPECT_TRUE(fastDays.ok() && qtDays.ok());
    if (fastDays.ok() && qtDays.ok()) expectSamePackets(*fastDays, *qtDays);
    EXPECT_EQ(fastDays.ok() && fast->rowCount() > 0, fastDays.ok() && fastDays->rowCount() > 0);
    return std::move(*fast);
  };

  const packet::Packet all = compare(wholeMonth("0001"), "whole month");
  ASSERT_GT(all.rowCount(), 100u);
  // the demo data holds what a faster reader could get wrong
  EXPECT_TRUE(anyNull(all.columns[all.fieldIndex("NMRAZSOCCLIE")]));
  EXPECT_TRUE(anyNull(all.columns[all.fieldIndex("NRCUPOMFIS")]) ||
              anyNull(all.columns[all.fieldIndex("NMCONSUMIDOR")]));
  EXPECT_TRUE(anyNonAscii(all.columns[all.fieldIndex("NMPRODUTO")]) ||
              anyNonAscii(all.columns[all.fieldIndex("NMRAZSOCCLIE")]));

  server::SaleFilter pending = wholeMonth("0001");
  pending.pendingOnly = true;
  compare(pending, "pending only");
  compare(wholeMonth("0002"), "other branch");

  // restrictions tested in memory, on the row's own texts
  server::SaleFilter some = wholeMonth("0001");
  const auto firstText = [&](const char* field) { return std::string(all.columns[all.fieldIndex(field)].text(0)); };
  some.cashRegisters = server::ListText("_0001" + firstText("CDCAIXA") + "_");
  some.products =
      server::ListText("_" + firstText("CDPRODUTO") + "__" +
                       std::string(all.columns[all.fieldIndex("CDPRODUTO")].text(all.rowCount() - 1)) + "_");
  const packet::Packet restricted = compare(some, "registers and products");
  EXPECT_GT(restricted.rowCount(), 0u);
  EXPECT_LT(restricted.rowCount(), all.rowCount());

  server::SaleFilter named = wholeMonth("0001");
  named.customerNames = std::make_pair(QStringLiteral("A"), QStringLiteral("M"));
  const packet::Packet byName = compare(named, "customer names");
  EXPECT_GT(byName.rowCount(), 0u);
  EXPECT_LT(byName.rowCount(), all.rowCount());

  server::SaleFilter oneRegister = wholeMonth("0001");
  oneRegister.cashRegister = QString::fromStdString(firstText("CDCAIXA"));
  oneRegister.sales = server::ListText("_0001" + firstText("NRSEQVENDA") + "_");
  EXPECT_GT(compare(oneRegister, "one register, one sale").rowCount(), 0u);
}

TEST_P(DemoDataTest, HoldsEveryCaseTheScreensAndThePostingRunShow) {
  QFX_REQUIRE_BACKEND(GetParam());
  TestDatabase testDb(GetParam());
  auto database = testDb.open();
  auto summary = server::demo::generate(*database, demoOptions(7));
  ASSERT_TRUE(summary.ok()) << summary.error().message;
  EXPECT_NEAR(double(summary->items), 800, 80);
  QSqlDatabase db = *database->connection();

  EXPECT_EQ(count(db, "SELECT COUNT(DISTINCT CDEMPRESA) FROM FILIAL"), "2");
  EXPECT_EQ(count(db, "SELECT COUNT(*) FROM FILIAL WHERE CDFILIAL IN ('0001', '0002', '0003', '0004')"), "4");
  EXPECT_EQ(count(db, "SELECT COUNT(*) FROM LOJA WHERE CDALMOXARIFE IS NULL OR CDLOCALESTOQ IS NULL"), "0");
  EXPECT_EQ(count(db, "SELECT MIN(CDCAIXA) FROM CAIXA WHERE CDFILIAL = '0001'"), "001");
  EXPECT_EQ(count(db, "SELECT COUNT(*) FROM TIPOCONS"), "4");
  EXPECT_EQ(count(db, "SELECT COUNT(DISTINCT IDTPIJURCLIE) FROM CLIENTE"), "2");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM CCUSCLIE"), "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM PRODUTO WHERE IDATIVO = 'N'"), "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM PRODUTO WHERE IDCTRLESTQ = 'N'"), "0");
  EXPECT_NE(count(db,
                  "SELECT COUNT(*) FROM PRODUTO P WHERE NOT EXISTS (SELECT 1 FROM PRODFILI F WHERE F.CDFILIAL = "
                  "'0004' AND F.CDPRODUTO = P.CDPRODUTO)"),
            "0");
  EXPECT_NE(count(db,
                  "SELECT COUNT(*) FROM PRODUTO P WHERE NOT EXISTS (SELECT 1 FROM PRODTIPORETI R WHERE "
                  "R.CDTIPORETI = '02' AND R.CDPRODUTO = P.CDPRODUTO)"),
            "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM PRODUTO WHERE CDPRODESTO IS NOT NULL"), "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM VENDA WHERE IDSITUVENDA = 'D'"), "0");
  EXPECT_EQ(count(db, "SELECT MAX(DTVENDA) FROM VENDA").substr(0, 10), "2024-03-20");
  EXPECT_EQ(count(db, "SELECT MIN(DTVENDA) FROM VENDA").substr(0, 10), "2024-02-20");
  EXPECT_EQ(count(db, "SELECT COUNT(*) FROM ITVENDA WHERE NRLANCESTQ IS NOT NULL"), "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM PERIODOCTB WHERE IDSITPERCTB = 'A'"), "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM PERIODOCTB WHERE IDSITPERCTB = 'F'"), "0");
  EXPECT_NE(count(db, "SELECT COUNT(*) FROM LANCESTQ WHERE IDTIPOLANC IN ('I', 'A')"), "0");
  EXPECT_EQ(count(db, "SELECT CDFILIAL FROM OPERADOR WHERE CDOPERADOR = 'loja01'"), "0001");
  EXPECT_EQ(count(db, "SELECT CDFILIAL FROM OPERADOR WHERE CDOPERADOR = 'demo'"), "<null>");

  // stock: every balance covers the month's sales but the seasonal product's,
  // which was never implanted
  QSqlQuery q(db);
  ASSERT_TRUE(
      q.exec("SELECT S.QTSALDOESTQ, (SELECT SUM(CASE WHEN V.IDSITUVENDA = 'D' THEN -I.QTPRODVEND ELSE "
             "I.QTPRODVEND END) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = "
             "I.NRSEQVENDA JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE I.CDFILIAL = '0001' AND V.CDLOJA "
             "= '01' AND COALESCE(P.CDPRODESTO, P.CDPRODUTO) = S.CDPRODUTO) FROM SALDOESTQ S WHERE "
             "S.CDFILIAL = '0001' AND S.CDALMOXARIFE = '000001'"));
  int covered = 0;
  while (q.next()) {
    EXPECT_GE(q.value(0).toDouble(), q.value(1).toDouble());
    ++covered;
  }
  EXPECT_GT(covered, 0);
  EXPECT_EQ(count(db,
                  "SELECT COUNT(*) FROM SALDOESTQ S JOIN PRODUTO P ON P.CDPRODUTO = S.CDPRODUTO "
                  "WHERE P.NMPRODUTO LIKE 'Panetone%'"),
            "0");

  // Z reductions: each register's net sales of the day (a return taken back),
  // but for the three differences planted on branch 0001
  ASSERT_TRUE(
      q.exec("SELECT V.CDFILIAL, V.CDCAIXA, V.DTVENDA, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND, V.IDSITUVENDA FROM "
             "VENDA V JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA"));
  std::map<std::string, qint64> cents;
  while (q.next()) {
    const std::string key =
        (q.value(0).toString() + q.value(1).toString() + q.value(2).toString().left(10)).toStdString();
    const qint64 item = std::llround((q.value(3).toDouble() * q.value(4).toDouble() - q.value(5).toDouble()) * 100.0);
    cents[key] += q.value(6).toString() == "D" ? -item : item;
  }
  ASSERT_TRUE(q.exec("SELECT CDFILIAL, CDCAIXA, DTREDUCAOZ, VRVENLIQREDZ FROM REDUCAOZ"));
  std::map<std::string, double> differences;
  while (q.next()) {
    const std::string key =
        (q.value(0).toString() + q.value(1).toString() + q.value(2).toString().left(10)).toStdString();
    ASSERT_TRUE(cents.count(key)) << key << ": a Z reduction without sales";
    if (double(cents[key]) / 100.0 != q.value(3).toDouble())
      differences[key] = std::round((q.value(3).toDouble() * 100.0 - double(cents[key])));
  }
  const std::map<std::string, double> planted = {{"00010022024-03-15", 1.0}, {"00010032024-03-18", -5000.0}};
  EXPECT_EQ(differences, planted);
  EXPECT_EQ(q.exec("SELECT COUNT(*) FROM REDUCAOZ") && q.next() ? q.value(0).toInt() : -1, int(cents.size()) - 1)
      << "one register-day has no Z reduction";
}

TEST_P(DemoDataTest, Branch0001IsUsableWithTheDemoOperators) {
  QFX_REQUIRE_BACKEND(GetParam());
  ServerHarness harness(GetParam(), false);
  server::demo::Options options = demoOptions(1, 600);
  options.today = QDate::currentDate();  // the screens start on today's sales
  ASSERT_TRUE(server::demo::generate(harness.database(), options).ok());

  auto demo = harness.loggedIn(server::demo::kDemoOperator, server::demo::kDemoPassword);
  auto clerk = harness.loggedIn(server::demo::kBranchOperator, server::demo::kBranchPassword);
  EXPECT_EQ(clerk->invoke("GetParamFilial", {text("0002")}).status.error_code(), grpc::StatusCode::PERMISSION_DENIED);

  auto filial = clerk->invoke("GetParamFilial", {text("0001")});
  ASSERT_EQ(filial.packet().rowCount(), 1u);
  EXPECT_EQ(cellText(filial.packet(), "IDCTRLESTQ", 0), "S");
  auto vend = clerk->invoke("GetParamVend", {text("0001")});
  ASSERT_EQ(vend.packet().rowCount(), 1u);
  const auto& pv = vend.packet();
  EXPECT_EQ(cellText(pv, "CDLOJA", 0), "01");
  EXPECT_NE(cellText(pv, "NMLOJA", 0), "<null>");
  EXPECT_NE(cellText(pv, "NMTIPORETI", 0), "<null>");
  EXPECT_NE(cellText(pv, "NMSETOR", 0), "<null>");

  const QDate today = QDate::currentDate();
  auto period = clerk->invoke("getPeriodoCTBOK", {text("0001"), date(today.addDays(-29), true), date(today, true)});
  EXPECT_TRUE(period.result.boolean());
  PrincipalFilter todaysSales;
  todaysSales.first = todaysSales.last = today;
  auto todays = demo->invoke("GetPrincipal", todaysSales.args());
  ASSERT_TRUE(todays.ok());
  EXPECT_GT(todays.packet().rowCount(), 0u);
}

// The bulk loader (COPY on PostgreSQL) writes texts holding tabs,
// backslashes, line breaks or the text \N as given, nulls as nulls and
// numbers to the last digit; a refused row comes back as an error naming the
// table, and what was there stays.
TEST_P(DemoDataTest, BulkLoadWritesEveryValueAsGiven) {
  QFX_REQUIRE_BACKEND(GetParam());
  TestDatabase base(GetParam());
  auto database = base.open();
  QSqlDatabase db = *database->connection();
  const QStringList names{"tab\tno meio", "barra\\invertida", "linha\nnova",   "retorno\rde carro",
                          "\\N",          "ação e preço",     "termina em \\", ""};
  const QVariant none(QMetaType::fromType<QString>());
  server::sql::BatchInsert clients(db, "CLIENTE", {"CDCLIENTE", "NRINSJURCLIE", "IDTPIJURCLIE", "NMRAZSOCCLIE"}, 3);
  for (int i = 0; i < names.size(); ++i)
    ASSERT_TRUE(clients.add({QStringLiteral("C%1").arg(i), i % 2 ? none : QVariant("123"), "F", names[i]}).ok());
  const std::vector<double> amounts{0.1, 2.675, 1234567.891, -0.000123, 1e15 + 0.5};
  server::sql::BatchInsert reductions(db, "REDUCAOZ", {"CDFILIAL", "CDCAIXA", "DTREDUCAOZ", "VRVENLIQREDZ"}, 2);
  for (size_t i = 0; i < amounts.size(); ++i)
    ASSERT_TRUE(
        reductions.add({"0001", QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0')), "2024-03-10", amounts[i]}).ok());
  ASSERT_TRUE(clients.flush().ok());
  ASSERT_TRUE(reductions.flush().ok());
  EXPECT_EQ(clients.written(), names.size());

  for (int i = 0; i < names.size(); ++i) {
    QSqlQuery q(db);
    q.prepare("SELECT NMRAZSOCCLIE, NRINSJURCLIE FROM CLIENTE WHERE CDCLIENTE = ?");
    q.addBindValue(QStringLiteral("C%1").arg(i));
    ASSERT_TRUE(q.exec() && q.next()) << i;
    EXPECT_EQ(q.value(0).toString(), names[i]) << i;
    EXPECT_EQ(q.value(1).isNull(), i % 2 == 1) << i;
  }
  for (size_t i = 0; i < amounts.size(); ++i)
    EXPECT_EQ(scalarNumber(db, "SELECT VRVENLIQREDZ FROM REDUCAOZ WHERE CDCAIXA = ?",
                           {QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'))}),
              amounts[i]);

  server::sql::BatchInsert duplicate(db, "CLIENTE", {"CDCLIENTE", "NMRAZSOCCLIE"});
  ASSERT_TRUE(duplicate.add({"C9", "novo"}).ok());
  ASSERT_TRUE(duplicate.add({"C0", "outro"}).ok());
  const auto refused = duplicate.flush();
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.error().message.find("CLIENTE"), std::string::npos) << refused.error().message;
  EXPECT_EQ(count(db, "SELECT COUNT(*) FROM CLIENTE"), std::to_string(names.size()));
  EXPECT_EQ(count(db, "SELECT NMRAZSOCCLIE FROM CLIENTE WHERE CDCLIENTE = 'C0'"), names[0].toStdString());
}

// Imports the files of the folders into `target` through a real server and
// `qfximport`'s client, as an administrator would; the problems, if any.
std::string importThroughServer(server::Database& target, const QStringList& folders) {
  QSqlDatabase db = *target.connection();
  EXPECT_TRUE(server::SessionStore::saveOperator(db, "importador", "Importador", "segredo", "").ok());
  EXPECT_TRUE(server::SessionStore::setImportRight(db, "importador", true).ok());
  server::ServerOptions serverOptions;
  serverOptions.listen = "127.0.0.1:0";
  auto running = server::AppServer::start(target, server::makeConsolidationObject(), serverOptions);
  if (!running.ok()) return running.error().message;
  auto connection =
      qfximport::login("127.0.0.1:" + std::to_string((*running)->port()), false, {}, "importador", "segredo");
  if (!connection.ok()) return connection.error().toStdString();
  auto files = qfximport::collectFiles(folders);
  if (!files.ok()) return files.error().toStdString();
  const auto outcome = qfximport::importFiles(*connection, *files, false);
  (*running)->shutdown();
  if (!outcome.ok) return outcome.error.toStdString();
  std::string problems;
  for (const auto& p : outcome.reply.problems())
    problems += p.file_name() + ":" + std::to_string(p.line()) + ": " + p.column() + " " + p.reason() + "\n";
  if (!outcome.reply.written() && problems.empty()) problems = "nada gravado";
  return problems;
}

// Every file of folder `a` is in folder `b`, byte for byte, and no other.
void expectSameFiles(const QString& a, const QString& b, const QStringList& patterns, qsizetype expected) {
  const QStringList names = QDir(a).entryList(patterns, QDir::Files, QDir::Name);
  EXPECT_EQ(names.size(), expected);
  EXPECT_EQ(QDir(b).entryList(patterns, QDir::Files, QDir::Name), names);
  for (const QString& name : names) {
    QFile one(a + "/" + name), other(b + "/" + name);
    ASSERT_TRUE(one.open(QIODevice::ReadOnly) && other.open(QIODevice::ReadOnly)) << name.toStdString();
    EXPECT_TRUE(one.readAll() == other.readAll()) << name.toStdString() << " differs";
  }
}

// The demo written as import files and imported into an empty database
// through the server gives the same registrations, sales and Z reductions:
// the second database written as files again gives the same files.
TEST_P(DemoDataTest, ItsImportFilesRebuildTheSameRows) {
  QFX_REQUIRE_BACKEND(GetParam());
  TestDatabase direct(GetParam()), imported(GetParam());
  auto source = direct.open();
  server::demo::Options options;
  options.today = QDate(2026, 12, 10);
  ASSERT_TRUE(server::demo::generate(*source, options).ok());
  QTemporaryDir folder;
  QSqlDatabase sourceDb = *source->connection();
  ASSERT_TRUE(server::demo::writeImportFiles(sourceDb, folder.filePath("direto")).ok());

  auto target = imported.open();
  ASSERT_EQ(importThroughServer(*target, {folder.filePath("direto")}), "");
  QSqlDatabase targetDb = *target->connection();
  ASSERT_TRUE(server::demo::writeImportFiles(targetDb, folder.filePath("importado")).ok());
  expectSameFiles(folder.filePath("direto"), folder.filePath("importado"), {"*.csv"}, 18);
  EXPECT_EQ(count(targetDb, "SELECT COUNT(*) FROM ITVENDA"), count(sourceDb, "SELECT COUNT(*) FROM ITVENDA"));
  EXPECT_NE(count(targetDb, "SELECT COUNT(*) FROM ITVENDA"), "0");
}

// A demo day's sales written as NFC-e and imported, with the registrations,
// into an empty database become the same sales: written as NFC-e again they
// are the same documents, and the register-days come to the same money.
TEST_P(DemoDataTest, ItsNfceFilesRebuildTheSameDocuments) {
  QFX_REQUIRE_BACKEND(GetParam());
  TestDatabase direct(GetParam()), imported(GetParam());
  auto source = direct.open();
  server::demo::Options options;
  options.today = QDate(2026, 12, 10);
  options.items = 6000;  // some sixty sales a day: customers, consumers, discounts, weighed items
  ASSERT_TRUE(server::demo::generate(*source, options).ok());
  QSqlDatabase sourceDb = *source->connection();
  QTemporaryDir folder;
  ASSERT_TRUE(server::demo::writeImportFiles(sourceDb, folder.filePath("cadastros")).ok());
  ASSERT_TRUE(QFile::remove(folder.filePath("cadastros/VENDA.csv")));
  const server::demo::NfceSelection day{QDate(2026, 12, 9), {}};
  auto written = server::demo::writeNfceFiles(sourceDb, folder.filePath("nfce"), day);
  ASSERT_TRUE(written.ok()) << written.error().message;
  const std::string daySales = "FROM VENDA WHERE DTVENDA = '2026-12-09' AND IDSITUVENDA = 'F'";
  EXPECT_EQ(std::to_string(written->documents), count(sourceDb, ("SELECT COUNT(*) " + daySales).c_str()));
  EXPECT_EQ(std::to_string(written->leftOut),
            count(sourceDb, "SELECT COUNT(*) FROM VENDA WHERE DTVENDA = '2026-12-09' AND IDSITUVENDA = 'D'"));

  auto target = imported.open();
  ASSERT_EQ(importThroughServer(*target, {folder.filePath("cadastros"), folder.filePath("nfce")}), "");
  QSqlDatabase targetDb = *target->connection();
  auto again = server::demo::writeNfceFiles(targetDb, folder.filePath("de-novo"), day);
  ASSERT_TRUE(again.ok()) << again.error().message;
  expectSameFiles(folder.filePath("nfce"), folder.filePath("de-novo"), {"*.xml"}, qsizetype(written->documents));
  // what the Z check adds up, register by register, in cents
  const auto perRegister = [](QSqlDatabase& db) {
    std::map<std::string, long long> cents;
    QSqlQuery q(db);
    EXPECT_TRUE(
        q.exec("SELECT V.CDFILIAL, V.CDCAIXA, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND FROM VENDA V "
               "JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA "
               "WHERE V.DTVENDA = '2026-12-09' AND V.IDSITUVENDA = 'F'"));
    while (q.next())
      cents[(q.value(0).toString() + q.value(1).toString()).toStdString()] +=
          server::salemoney::itemCents(q.value(2).toDouble(), q.value(3).toDouble(), q.value(4).toDouble());
    return cents;
  };
  const auto sold = perRegister(sourceDb);
  EXPECT_GT(sold.size(), 4u);
  EXPECT_EQ(perRegister(targetDb), sold);

  // and the day consolidates alike: the same items posted (the returned
  // sales, which no NFC-e carries, aside), the same message
  Consolidation run;
  run.first = run.last = day.day;
  run.operatorCode = "demo";
  auto ownSales = server::posting::consolidate(sourceDb, source->dialect(), run.request(), server::CallLimits());
  auto fromNfce = server::posting::consolidate(targetDb, target->dialect(), run.request(), server::CallLimits());
  ASSERT_TRUE(ownSales.ok()) << ownSales.error().message;
  ASSERT_TRUE(fromNfce.ok()) << fromNfce.error().message;
  EXPECT_GT(fromNfce->itemsPosted, 0);
  EXPECT_EQ(std::to_string(fromNfce->itemsPosted),
            count(sourceDb,
                  "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = "
                  "I.NRSEQVENDA WHERE V.IDSITUVENDA = 'F' AND I.NRLANCESTQ IS NOT NULL"));
  EXPECT_EQ(fromNfce->messageKey, ownSales->messageKey);
  EXPECT_EQ(fromNfce->blocked.rowCount(), ownSales->blocked.rowCount());
  EXPECT_EQ(fromNfce->errors.rowCount(), ownSales->errors.rowCount());
}

INSTANTIATE_TEST_SUITE_P(Backends, DemoDataTest, ::testing::Values(Backend::SQLite, Backend::PostgreSQL),
                         BackendName());
