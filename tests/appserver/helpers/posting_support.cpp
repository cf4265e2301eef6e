#include "posting_support.h"

#include <gtest/gtest.h>

#include <QSqlError>
#include <QSqlQuery>
#include <cmath>
#include <set>
#include <thread>

#include "db/batch_insert.h"
#include "fixture.h"

namespace qfx::test {

std::vector<rpc::Argument> Consolidation::args() const {
  using A = contract::SemGeraNF;
  return Args<A>{{A::FiliProc, text(workBranch)},
                 {A::Filial, text(branch)},
                 {A::Loja, text(store)},
                 {A::TodasVendas, ref(sales.empty() ? "S" : "N")},
                 {A::StVendas, ref(sales)},
                 {A::DtInicial, date(first, true)},
                 {A::DtFinal, date(last, true)},
                 {A::StCaixa, ref(registers)},
                 {A::BoTodosCaixa, boolean(registers.empty())},
                 {A::StCliente, ref(customers)},
                 {A::BoTodosCliente, boolean(customers.empty() && !customerInterval)},
                 {A::BoIntervaloCli, boolean(customerInterval)},
                 {A::StCliDe, ref(nameFrom)},
                 {A::StCliAte, ref(nameTo)},
                 {A::StTipoCons, ref(consumptionTypes)},
                 {A::BoTodosTipoCons, boolean(consumptionTypes.empty())},
                 {A::TipoReti, text(withdrawalType)},
                 {A::Setor, text(sector)},
                 {A::Operador, text(operatorCode)},
                 {A::StCentroCusto, ref(costCentres)},
                 {A::BoTodosCentroCusto, boolean(costCentres.empty())},
                 {A::StProdutos, ref(products)},
                 {A::BoTodosProdutos, boolean(products.empty())},
                 {A::VerificaEstoque, boolean(checkStock)}}
      .values();
}

server::posting::Request Consolidation::request() const {
  const auto list = [](const std::string& keys) {
    return keys.empty() ? server::Restriction() : server::Restriction(server::ListText(keys));
  };
  const auto q = [](const std::string& text) { return QString::fromStdString(text); };
  server::posting::Request r;
  r.branch = q(branch);
  r.store = q(store);
  server::SaleFilter& f = r.filter;
  f.branch = r.branch;
  f.store = r.store;
  f.first = first;
  f.last = last;
  f.sales = list(sales);
  f.cashRegisters = list(registers);
  server::restrictCustomers(f, customers.empty() && !customerInterval, customerInterval, q(nameFrom), q(nameTo),
                            customers);
  f.consumptionTypes = list(consumptionTypes);
  f.costCentres = list(costCentres);
  f.products = list(products);
  r.withdrawalType = q(withdrawalType);
  r.sector = q(sector);
  r.operatorCode = q(operatorCode);
  r.checkStock = checkStock;
  return r;
}

PostingReply consolidate(TestClient& client, const Consolidation& c, std::chrono::milliseconds deadline) {
  PostingReply out;
  out.call = client.invoke("SemGeraNF", c.args(), deadline);
  if (!out.call.ok()) return out;
  const auto& list = out.call.result.list();
  EXPECT_EQ(list.items_size(), 5);
  if (list.items_size() != 5) return out;
  EXPECT_TRUE(list.items(0).has_packet());
  EXPECT_TRUE(list.items(1).has_integer());
  EXPECT_TRUE(list.items(2).has_packet());
  EXPECT_TRUE(list.items(3).has_text());
  EXPECT_EQ(list.items(4).kind_case(), rpc::Value::KIND_NOT_SET);
  out.lastPosting = list.items(1).integer();
  out.messageKey = list.items(3).text();
  return out;
}

std::vector<rpc::Argument> Reversal::args() const {
  using A = contract::EstornaGeraNF;
  return Args<A>{{A::FiliProc, text(workBranch)}, {A::Filial, text(branch)}, {A::FilialEst, text(stockBranch)},
                 {A::NrLancEstq, text(posting)},  {A::Motivo, text(reason)}, {A::Operador, text(operatorCode)}}
      .values();
}

server::reversal::Request Reversal::request() const {
  const auto q = [](const std::string& text) { return QString::fromStdString(text); };
  return server::reversal::Request{q(branch), q(stockBranch), q(posting), q(reason), q(operatorCode)};
}

ReversalReply reverse(TestClient& client, const Reversal& r, std::chrono::milliseconds deadline) {
  ReversalReply out;
  out.call = client.invoke("EstornaGeraNF", r.args(), deadline);
  if (!out.call.ok()) return out;
  const auto& list = out.call.result.list();
  EXPECT_EQ(list.items_size(), 2);
  if (list.items_size() != 2) return out;
  out.reversal = list.items(0).text();
  out.items = list.items(1).integer();
  return out;
}

Books readBooks(QSqlDatabase& db) {
  Books books;
  QSqlQuery q(db);
  EXPECT_TRUE(q.exec("SELECT CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ FROM SALDOESTQ"));
  while (q.next())
    books.balances[(q.value(0).toString() + "|" + q.value(1).toString() + "|" + q.value(2).toString() + "|" +
                    q.value(3).toString())
                       .toStdString()] = q.value(4).toDouble();
  EXPECT_TRUE(q.exec("SELECT CDFILIAL, NRLANCESTQ FROM LANCESTQ WHERE IDTIPOLANC = 'V'"));
  while (q.next()) books.postings.push_back((q.value(0).toString() + "|" + q.value(1).toString()).toStdString());
  return books;
}

namespace {

bool near(double a, double b) { return std::fabs(a - b) < 1e-6; }

std::string describe(const std::string& what, const std::string& key, double expected, double found) {
  return what + " " + key + ": esperado " + std::to_string(expected) + ", encontrado " + std::to_string(found);
}

}  // namespace

std::string checkBooks(QSqlDatabase& db, const Books& before) {
  QSqlQuery q(db);
  // stamped items per posting and stock product, returns counted back in
  if (!q.exec("SELECT I.CDFILIALEST, I.NRLANCESTQ, COALESCE(P.CDPRODESTO, I.CDPRODUTO), "
              "SUM(CASE WHEN V.IDSITUVENDA = 'D' THEN -I.QTPRODVEND ELSE I.QTPRODVEND END), "
              "MIN(I.CDFILIALNF), MIN(I.NRLANCTONF), MAX(I.NRLANCTONF) "
              "FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA "
              "JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO WHERE I.NRLANCESTQ IS NOT NULL "
              "GROUP BY I.CDFILIALEST, I.NRLANCESTQ, COALESCE(P.CDPRODESTO, I.CDPRODUTO)"))
    return "consulta dos itens: " + q.lastError().text().toStdString();
  std::map<std::string, double> stamped;
  std::map<std::string, std::string> notes;
  while (q.next()) {
    const std::string posting = (q.value(0).toString() + "|" + q.value(1).toString()).toStdString();
    stamped[posting + "|" + q.value(2).toString().toStdString()] = q.value(3).toDouble();
    if (q.value(5).toString() != q.value(6).toString())
      return "itens de um lançamento com notas diferentes: " + posting;
    notes[posting] = (q.value(4).toString() + "|" + q.value(5).toString()).toStdString();
  }
  // a reversed posting's line comes with its reversal's line, which puts it back
  if (!q.exec("SELECT L.CDFILIAL, L.NRLANCESTQ, I.CDPRODUTO, I.QTLANCESTQ, L.CDALMOXARIFE, L.CDLOCALESTOQ, "
              "N.CDFILIAL, N.NRLANCTONF, E.NRLANCESTQESTORNO, R.QTLANCESTQ, N.IDESTORNADO FROM LANCESTQ L "
              "JOIN ITLANCESTQ I ON I.CDFILIAL = L.CDFILIAL AND I.NRLANCESTQ = L.NRLANCESTQ "
              "LEFT JOIN LANCTONF N ON N.CDFILIALEST = L.CDFILIAL AND N.NRLANCESTQ = L.NRLANCESTQ "
              "LEFT JOIN ESTORNOLANCESTQ E ON E.CDFILIAL = L.CDFILIAL AND E.NRLANCESTQ = L.NRLANCESTQ "
              "LEFT JOIN ITLANCESTQ R ON R.CDFILIAL = E.CDFILIAL AND R.NRLANCESTQ = E.NRLANCESTQESTORNO AND "
              "R.CDPRODUTO = I.CDPRODUTO WHERE L.IDTIPOLANC = 'V'"))
    return "consulta dos lançamentos: " + q.lastError().text().toStdString();
  const std::set<std::string> old(before.postings.begin(), before.postings.end());
  std::map<std::string, double> moved;
  std::set<std::string> lines;
  while (q.next()) {
    const std::string posting = (q.value(0).toString() + "|" + q.value(1).toString()).toStdString();
    const std::string key = posting + "|" + q.value(2).toString().toStdString();
    lines.insert(key);
    if (q.value(6).isNull()) return "lançamento sem nota fiscal: " + posting;
    if (notes.count(posting) && notes[posting] != (q.value(6).toString() + "|" + q.value(7).toString()).toStdString())
      return "itens apontam outra nota que a do lançamento " + posting;
    const bool reversed = !q.value(8).isNull();
    if (reversed != (q.value(10).toString() == QLatin1String("S")))
      return "nota e registro do estorno discordam: " + posting;
    if (reversed && (q.value(9).isNull() || !near(q.value(9).toDouble(), -q.value(3).toDouble())))
      return describe("linha do estorno", key, -q.value(3).toDouble(), q.value(9).toDouble());
    const double net = q.value(3).toDouble() + (reversed ? q.value(9).toDouble() : 0.0);
    const std::string location = (q.value(0).toString() + "|" + q.value(4).toString() + "|" + q.value(5).toString() +
                                  "|" + q.value(2).toString())
                                     .toStdString();
    if (old.count(posting)) {  // made before: its items may predate the fixture's rules
      if (reversed) moved[location] += q.value(9).toDouble();
      continue;
    }
    if (!near(stamped[key], net)) return describe("linha do lançamento", key, stamped[key], net);
    moved[location] += net;
  }
  for (const auto& [key, quantity] : stamped) {
    const std::string posting = key.substr(0, key.rfind('|'));
    if (!old.count(posting) && !lines.count(key)) return "itens carimbados sem linha de lançamento: " + key;
  }
  const Books now = readBooks(db);
  std::set<std::string> locations;
  for (const auto& [k, v] : before.balances) locations.insert(k);
  for (const auto& [k, v] : now.balances) locations.insert(k);
  for (const auto& [k, v] : moved) locations.insert(k);
  for (const std::string& location : locations) {
    const double start = before.balances.count(location) ? before.balances.at(location) : 0.0;
    const double expected = start - (moved.count(location) ? moved.at(location) : 0.0);
    const double found = now.balances.count(location) ? now.balances.at(location) : 0.0;
    if (!near(expected, found)) return describe("saldo", location, expected, found);
  }
  return {};
}

int64_t countPending(QSqlDatabase& db, const std::string& branch) {
  return QString::fromStdString(scalar(db, "SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = ? AND NRLANCESTQ IS NULL",
                                       {QString::fromStdString(branch)}))
      .toLongLong();
}

void addSales(QSqlDatabase& db, int firstSale, int count, int days) {
  ASSERT_TRUE(db.transaction());
  {
    server::sql::BatchInsert sales(
        db, "VENDA",
        {"CDFILIAL", "NRSEQVENDA", "CDLOJA", "CDCAIXA", "DTVENDA", "DTENTRVENDA", "IDSITUVENDA", "CDTIPOCONS"});
    server::sql::BatchInsert items(
        db, "ITVENDA",
        {"CDFILIAL", "NRSEQVENDA", "NRSEQUITVEND", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRDESITVEND"});
    items.setBeforeWrite([&sales] { return sales.flush(); });
    for (int s = firstSale; s < firstSale + count; ++s) {
      const QString number = QStringLiteral("%1").arg(s, 10, 10, QLatin1Char('0'));
      const QDate day = QDate(2024, 3, 12).addDays(s % days);
      const QString moment =
          day.toString("yyyy-MM-dd") +
          QStringLiteral(" %1:%2:00").arg(8 + s % 12, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
      ASSERT_TRUE(sales
                      .add({"0001", number, "01", s % 2 ? "001" : "002", day.toString("yyyy-MM-dd"), moment,
                            s % 10 == 3 ? "D" : "F", "01"})
                      .ok());
      ASSERT_TRUE(items.add({"0001", number, "001", "P1", 1.0, 10.5, 0.0}).ok());
      ASSERT_TRUE(items.add({"0001", number, "002", "P2", 2.0, 7.0, 0.0}).ok());
      ASSERT_TRUE(items.add({"0001", number, "003", "P5", 1.0, 12.0, 0.5}).ok());
    }
    ASSERT_TRUE(sales.flush().ok());
    ASSERT_TRUE(items.flush().ok());
  }
  ASSERT_TRUE(db.commit());
  // as autovacuum would after a bulk load: without statistics PostgreSQL
  // plans the sales join for empty tables
  if (db.driverName() == QLatin1String("QPSQL")) {
    QSqlQuery analyze(db);
    ASSERT_TRUE(analyze.exec("ANALYZE")) << analyze.lastError().text().toStdString();
  }
}

void plentyOfStock(QSqlDatabase& db) {
  exec(db, "UPDATE SALDOESTQ SET QTSALDOESTQ = 1000000 WHERE CDFILIAL = '0001' AND CDALMOXARIFE = '000001'");
}

Progress progress(QSqlDatabase& db) {
  Progress p;
  p.items = QString::fromStdString(scalar(db,
                                          "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = I.CDFILIAL "
                                          "AND V.NRSEQVENDA = I.NRSEQVENDA WHERE I.CDFILIAL = '0001' AND "
                                          "V.DTVENDA >= '2024-03-12'"))
                .toLongLong();
  p.posted = QString::fromStdString(scalar(db,
                                           "SELECT COUNT(*) FROM ITVENDA I JOIN VENDA V ON V.CDFILIAL = "
                                           "I.CDFILIAL AND V.NRSEQVENDA = I.NRSEQVENDA WHERE I.CDFILIAL = '0001' "
                                           "AND V.DTVENDA >= '2024-03-12' AND I.NRLANCESTQ IS NOT NULL"))
                 .toLongLong();
  return p;
}

OtherWriter::OtherWriter(const std::string& url) : database_(*server::DbConfig::parse(url)) {
  auto db = database_.connection();
  EXPECT_TRUE(db.ok()) << (db ? "" : db.error().message);
  if (db) db_ = *db;
}

void OtherWriter::exec(const QString& statement) {
  QSqlQuery q(db_);
  EXPECT_TRUE(q.exec(statement)) << statement.toStdString() << ": " << q.lastError().text().toStdString();
}

int OtherWriter::backendPid() { return QString::fromStdString(scalar(db_, "SELECT pg_backend_pid()")).toInt(); }

namespace {

std::vector<int> sessionsBlockedBy(QSqlDatabase& observer, int holder) {
  QSqlQuery q(observer);
  q.prepare(QStringLiteral(
      "SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND ? = ANY(pg_blocking_pids(pid))"));
  q.addBindValue(holder);
  std::vector<int> pids;
  if (q.exec())
    while (q.next()) pids.push_back(q.value(0).toInt());
  return pids;
}

}  // namespace

int waitForBlockedSession(QSqlDatabase& observer, int holder, const std::function<bool()>& callEnded) {
  for (int turn = 0; turn < 6000 && !callEnded(); ++turn) {
    if (auto pids = sessionsBlockedBy(observer, holder); !pids.empty()) return pids.front();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

bool waitForBlockedSessions(QSqlDatabase& observer, int holder, int sessions, const std::function<bool()>& callsEnded) {
  for (int turn = 0; turn < 6000 && !callsEnded(); ++turn) {
    if (int(sessionsBlockedBy(observer, holder).size()) >= sessions) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace qfx::test
