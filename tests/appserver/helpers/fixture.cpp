#include "fixture.h"

#include <gtest/gtest.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <map>
#include <mutex>

#include "auth/password.h"

namespace qfx::test {

namespace {

const QVariant N;  // NULL

void insert(QSqlDatabase& db, const char* table, const char* columns, const std::vector<QVariantList>& rows) {
  const int count = QString::fromLatin1(columns).split(QLatin1Char(',')).size();
  QStringList marks;
  for (int i = 0; i < count; ++i) marks << QStringLiteral("?");
  const QString text =
      QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table, columns, marks.join(QLatin1Char(',')));
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), count) << table;
    exec(db, text, row);
  }
}

// argon2id is slow on purpose; the fixture hashes each password once per run.
std::string cachedHash(const std::string& password) {
  static std::mutex mutex;
  static std::map<std::string, std::string> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(password);
  if (it == cache.end()) it = cache.emplace(password, *server::password::hash(password)).first;
  return it->second;
}

}  // namespace

void exec(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QSqlQuery q(db);
  ASSERT_TRUE(q.prepare(text)) << text.toStdString() << ": " << q.lastError().text().toStdString();
  for (const auto& v : values) q.addBindValue(v);
  ASSERT_TRUE(q.exec()) << text.toStdString() << ": " << q.lastError().text().toStdString();
}

std::string scalar(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  QSqlQuery q(db);
  q.prepare(text);
  for (const auto& v : values) q.addBindValue(v);
  if (!q.exec()) {
    ADD_FAILURE() << text.toStdString() << ": " << q.lastError().text().toStdString();
    return {};
  }
  if (!q.next()) return "<no row>";
  return q.value(0).isNull() ? "<null>" : q.value(0).toString().toStdString();
}

double scalarNumber(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  return QString::fromStdString(scalar(db, text, values)).toDouble();
}

std::vector<std::string> snapshot(QSqlDatabase& db, bool includeSessions) {
  std::vector<std::string> rows;
  QStringList tables = db.tables();
  tables.sort(Qt::CaseInsensitive);
  for (const QString& table : tables) {
    if (!includeSessions && table.compare(QLatin1String("SESSAO"), Qt::CaseInsensitive) == 0) continue;
    QSqlQuery q(db);
    EXPECT_TRUE(q.exec(QStringLiteral("SELECT * FROM ") + table)) << table.toStdString();
    std::vector<std::string> tableRows;
    while (q.next()) {
      QStringList cells{table};
      for (int i = 0; i < q.record().count(); ++i)
        cells << (q.value(i).isNull() ? QStringLiteral("<null>") : q.value(i).toString());
      tableRows.push_back(cells.join(QLatin1Char('|')).toStdString());
    }
    std::sort(tableRows.begin(), tableRows.end());
    rows.insert(rows.end(), tableRows.begin(), tableRows.end());
  }
  return rows;
}

void addOperators(QSqlDatabase& db) {
  insert(db, "OPERADOR", "CDOPERADOR,NMOPERADOR,DSSENHA,CDFILIAL,IDATIVO",
         {{kManager, "Gerente", QString::fromStdString(cachedHash(kManagerPassword)), N, "S"},
          {kClerk, "Caixa da filial 1", QString::fromStdString(cachedHash(kClerkPassword)), "0001", "S"},
          {"inativo", "Operador inativo", QString::fromStdString(cachedHash(kManagerPassword)), N, "N"}});
}

void loadFixture(QSqlDatabase& db) {
  ASSERT_TRUE(db.transaction());  // one commit, not one fsync per row
  insert(db, "EMPRESA", "CDEMPRESA,NMEMPRESA,NMRAZSOCEMPR",
         {{"01", "Empresa Um", "Empresa Um Comércio Ltda"}, {"02", "Empresa Dois", "Empresa Dois S.A."}});
  insert(db, "FILIAL", "CDFILIAL,NMFILIAL,CDEMPRESA,CDINSCESTA,CDSERIE,CDINSCMUNI",
         {{"0001", "Centro", "01", "111", "1", "M1"},
          {"0002", "Norte", "01", "222", "1", "M2"},
          {"0003", "Sul", "02", "333", "2", "M3"}});
  insert(db, "PARAMFILIAL",
         "CDFILIAL,IDUTILALMOX,IDUTILLCESTQ,IDCTRLESTQ,IDPERMESTNEG,IDMENSESTNEG,DTPROCESSAMENTO,DTFECHAESTQ,"
         "NRDIASMAXCONS",
         {{"0001", "S", "S", "S", "N", "S", "2024-03-31", "2024-02-29", 31},
          {"0002", "S", "N", "S", "S", "N", N, N, N},
          {"0003", "N", "N", "N", "N", "N", N, N, N}});
  insert(db, "LOJA", "CDFILIAL,CDLOJA,NMLOJA,CDALMOXARIFE,CDLOCALESTOQ,CDTIPOOPER",
         {{"0001", "01", "Loja Centro", "000001", "000001", "01"},
          {"0001", "02", "Quiosque", "000002", "000002", "01"},
          {"0002", "01", "Loja Norte", "000001", "000001", "01"}});
  insert(db, "CAIXA", "CDFILIAL,CDLOJA,CDCAIXA,NMCAIXA",
         {{"0001", "01", "001", "Caixa 1"},
          {"0001", "01", "002", "Caixa 2"},
          {"0001", "02", "003", "Caixa Quiosque"},
          {"0002", "01", "001", "Caixa Norte"}});
  insert(db, "TIPOCONS", "CDTIPOCONS,NMTIPOCONS", {{"01", "Balcão"}, {"02", "Mesa"}});
  insert(db, "CLIENTE", "CDCLIENTE,NRINSJURCLIE,IDTPIJURCLIE,NMRAZSOCCLIE",
         {{"C1", "12345678000199", "J", "ACME LTDA"},
          {"C2", "12345678901", "F", "Maria Souza"},
          {"C3", "98765432100", "F", "O'Brien'); DROP TABLE VENDA;--"}});
  insert(db, "CCUSCLIE", "CDCLIENTE,CDCCUSCLIE,NMCCUSCLIE", {{"C1", "CC1", "Matriz"}, {"C1", "CC2", "Filial"}});
  insert(db, "TIPORETI", "CDTIPORETI,NMTIPORETI", {{"01", "Venda balcão"}, {"02", "Consumo interno"}});
  insert(db, "SETOR", "CDSETOR,SGSETOR,NMSETOR", {{"0001", "SAL", "Salão"}, {"0002", "COZ", "Cozinha"}});
  insert(db, "PARAVEND",
         "CDFILIAL,IDCONSUMIOBR,DTINITESCONS,CDLOJA,IDATUEST,IDGERANFVENPROD,IDBLOQCONSOLIDA,CDTIPORETI,"
         "IDPERCONVESTNEG,CDSETOR,CONSOIMPAJUS,IDUTILESTCENT,CDFILIESTCENT,CDALMOXESTCENT,CDLOCALESTCENT",
         {{"0001", "1", "2024-02-01", "01", "S", "S", "N", "01", "S", "0001", "N", "N", N, N, N},
          {"0002", "N", N, "01", "S", "N", "N", "02", "N", "0002", "N", "S", "0001", "000009", "000009"}});
  insert(db, "PRODUTO", "CDPRODUTO,NMPRODUTO,CDARVPROD,CDPRODESTO,IDATIVO,IDCTRLESTQ",
         {{"P1", "Arroz", "01.001", N, "S", "S"},
          {"P2", "Feijão", "01.002", N, "S", "S"},
          {"P3", "Taxa de serviço", "09.001", N, "S", "N"},
          {"P4", "Produto antigo", "01.099", N, "N", "S"},
          {"P5", "Combo arroz", "02.001", "P1", "S", "S"}});
  insert(db, "PRODFILI", "CDFILIAL,CDPRODUTO",
         {{"0001", "P1"},
          {"0001", "P2"},
          {"0001", "P3"},
          {"0001", "P4"},
          {"0001", "P5"},
          {"0002", "P1"},
          {"0002", "P2"},
          {"0002", "P3"}});
  insert(db, "PRODTIPORETI", "CDTIPORETI,CDPRODUTO", {{"02", "P2"}});
  insert(db, "PERIODOCTB", "CDFILIAL,DTINIPERCTB,DTFIMPERCTB,IDSITPERCTB",
         {{"0001", "2024-01-01", "2024-01-31", "F"},
          {"0001", "2024-02-01", "2024-02-29", "A"},
          {"0001", "2024-03-01", "2024-03-31", "A"},
          {"0002", "2024-03-01", "2024-03-15", "A"},
          {"0002", "2024-03-16", "2024-03-31", "F"}});
  insert(db, "SALDOESTQ", "CDFILIAL,CDALMOXARIFE,CDLOCALESTOQ,CDPRODUTO,QTSALDOESTQ",
         {{"0001", "000001", "000001", "P1", 100.0}, {"0001", "000001", "000001", "P2", 3.0}});
  insert(
      db, "VENDA",
      "CDFILIAL,NRSEQVENDA,CDLOJA,CDCAIXA,DTVENDA,DTENTRVENDA,NRCUPOMFIS,CDCLIENTE,CDCCUSCLIE,CDTIPOCONS,"
      "NMCONSUMIDOR,IDSITUVENDA,IDTPFORPGVEN,IDTIPOIMPV",
      {{"0001", "0000000001", "01", "001", "2024-03-10", "2024-03-10 09:00:00", "100", "C1", "CC1", "01", N, "F", "D",
        "F"},
       {"0001", "0000000002", "01", "002", "2024-03-10", "2024-03-10 10:30:00", "101", N, N, "02", "João", "F", "C",
        "F"},
       {"0001", "0000000003", "01", "001", "2024-03-11", "2024-03-11 11:00:00", "102", "C2", N, "01", N, "F", "D", "F"},
       {"0001", "0000000004", "02", "003", "2024-03-10", "2024-03-10 12:00:00", "200", N, N, "01", N, "F", "D", "F"},
       {"0001", "0000000005", "01", "001", "2024-03-05", "2024-03-05 08:00:00", "090", N, N, "01", N, "F", "D", "F"},
       {"0001", "0000000006", "01", "002", "2024-03-11", "2024-03-11 15:00:00", "103", "C3", N, "02", N, "D", "D", "F"},
       {"0001", "0000000007", "01", "001", "2024-03-10", "2024-03-10 08:00:00", "099", "C1", "CC2", "01", N, "F", "D",
        "F"},
       {"0001", "0000000009", "01", "002", "2024-03-07", "2024-03-07 18:00:00", "095", N, N, "01", N, "F", "D", "F"},
       {"0002", "0000000001", "01", "001", "2024-03-10", "2024-03-10 09:00:00", "300", N, N, "01", N, "F", "D", "F"}});
  insert(db, "ITVENDA",
         "CDFILIAL,NRSEQVENDA,NRSEQUITVEND,CDPRODUTO,QTPRODVEND,VRUNITVEND,VRDESITVEND,CDFILIALEST,NRLANCESTQ,"
         "CDFILIALNF,NRLANCTONF",
         {{"0001", "0000000001", "001", "P1", 2.0, 10.5, 0.0, N, N, N, N},
          {"0001", "0000000001", "002", "P2", 1.0, 7.25, 0.25, N, N, N, N},
          {"0001", "0000000002", "001", "P1", 1.0, 10.5, 0.0, N, N, N, N},
          {"0001", "0000000002", "002", "P3", 1.0, 5.0, 0.0, N, N, N, N},
          {"0001", "0000000003", "001", "P2", 3.0, 7.0, 0.0, N, N, N, N},
          {"0001", "0000000003", "002", "P5", 1.0, 12.0, 0.0, N, N, N, N},
          {"0001", "0000000004", "001", "P1", 1.0, 10.5, 0.0, N, N, N, N},
          {"0001", "0000000005", "001", "P1", 1.0, 10.5, 0.0, N, N, N, N},
          {"0001", "0000000006", "001", "P2", 1.0, 7.0, 0.0, N, N, N, N},
          {"0001", "0000000007", "001", "P1", 4.0, 10.0, 0.0, "0001", "0000000001", "0001", "0000000001"},
          {"0001", "0000000009", "001", "P3", 1.0, 5.0, 0.0, N, N, N, N},
          {"0002", "0000000001", "001", "P1", 1.0, 10.5, 0.0, N, N, N, N}});
  insert(db, "LANCESTQ",
         "CDFILIAL,NRLANCESTQ,DTLANCESTQ,IDTIPOLANC,CDALMOXARIFE,CDLOCALESTOQ,CDTIPORETI,CDSETOR,CDOPERADOR,"
         "CDFILIALVENDA,CDLOJA,DTINCLUSAO",
         {{"0001", "0000000001", "2024-03-10", "V", "000001", "000001", "01", "0001", "gerente", "0001", "01",
           "2024-03-10 20:00:00"}});
  insert(db, "ITLANCESTQ", "CDFILIAL,NRLANCESTQ,CDPRODUTO,QTLANCESTQ", {{"0001", "0000000001", "P1", 4.0}});
  insert(db, "LANCTONF",
         "CDFILIAL,NRLANCTONF,DTLANCTONF,CDFILIALEST,NRLANCESTQ,CDOPERADOR,VRTOTLANCTONF,QTITENS,DTINCLUSAO",
         {{"0001", "0000000001", "2024-03-10", "0001", "0000000001", "gerente", 40.0, 1, "2024-03-10 20:00:00"}});
  insert(db, "NUMERADOR", "CDFILIAL,NMNUMERADOR,NRULTIMO", {{"0001", "LANCESTQ", 1}, {"0001", "LANCTONF", 1}});
  insert(db, "REDUCAOZ", "CDFILIAL,CDCAIXA,DTREDUCAOZ,VRVENLIQREDZ",
         {{"0001", "001", "2024-03-10", 68.0}, {"0001", "002", "2024-03-10", 10.4}});
  addOperators(db);
  ASSERT_TRUE(db.commit());
}

}  // namespace qfx::test
