#include "domain/checks.h"

#include <cmath>

#include "common/sale_money.h"
#include "common/wire_date.h"
#include "db/rows.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"
#include "domain/packets.h"
#include "domain/sale_rules.h"
#include <proto/contract_refusals.h>

namespace qfx::server::checks {

namespace {

using namespace packets;

std::string dayText(const QDate& day) { return wiredate::dayText(day).toStdString(); }

// Every item of one cash register's day: the money the register took. The
// two always-true conditions (NOT NULL columns) open the indexes kept for this
// sum alone, which hold every column it reads (VENDA_CAIXA_DIA, ITVENDA_VALOR).
const char* const kRegisterDayItems =
    "SELECT V.IDSITUVENDA, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND FROM VENDA V %1 ITVENDA I ON "
    "I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA "
    "WHERE V.CDFILIAL = ? AND V.CDLOJA = ? AND V.CDCAIXA = ? AND V.DTVENDA = ? "
    "AND V.IDSITUVENDA IS NOT NULL AND I.QTPRODVEND IS NOT NULL";

// The register-day's net sales in cents, or none when it sold nothing.
Result<std::optional<qint64>> registerDayCents(QSqlDatabase& db, const QString& branch, const QString& store,
                                               const QString& cashRegister, const QDate& day) {
  // once per register-day of the Z check: the statement is kept, not prepared per call
  auto rows = sql::openRows(db, registerDayItemsText(sql::isSqlite(db)),
                            {branch.toStdString(), store.toStdString(), cashRegister.toStdString(), dayText(day)},
                            sql::Reuse::Kept);
  if (!rows) return rows.error();
  std::optional<qint64> cents;
  for (;;) {
    auto more = (*rows)->next();
    if (!more) return more.error();
    if (!*more) return cents;
    const sql::Rows& r = **rows;
    cents = cents.value_or(0) +
            salemoney::netSalesCents(r.text(0), salemoney::itemCents(r.number(1), r.number(2), r.number(3)));
  }
}

}  // namespace

std::string registerDayItemsText(bool sqlite) {
  // SQLite keeps the sales the outer table (see the sale selection)
  return QString::fromLatin1(kRegisterDayItems)
      .arg(sqlite ? QStringLiteral("CROSS JOIN") : QStringLiteral("JOIN"))
      .toStdString();
}

Result<bool> periodOpen(QSqlDatabase& db, const QString& branch, const QDate& first, const QDate& last) {
  if (first > last) return false;  // not a period: nothing may be posted under it
  auto q = sql::run(db,
                    QStringLiteral("SELECT DTINIPERCTB, DTFIMPERCTB FROM PERIODOCTB "
                                   "WHERE CDFILIAL = ? AND IDSITPERCTB = 'A' AND DTFIMPERCTB >= ? AND DTINIPERCTB <= ? "
                                   "ORDER BY DTINIPERCTB"),
                    {branch, wiredate::dayText(first), wiredate::dayText(last)});
  if (!q) return q.error();
  // Walk the open periods in order; every day from first to last must be in one.
  QDate uncovered = first;
  while (q->next() && uncovered <= last) {
    const auto start = wiredate::dayFromDatabase(q->value(0));
    const auto end = wiredate::dayFromDatabase(q->value(1));
    if (!start || !end) return internalError("período contábil com data inválida na filial " + branch.toStdString());
    if (*start > uncovered) break;
    if (*end >= uncovered) uncovered = end->addDays(1);
  }
  return uncovered > last;
}

Status noEarlierSaleWaiting(QSqlDatabase& db, const EarlierSales& sales) {
  QString text = QStringLiteral(
                     "SELECT 1 FROM VENDA V "
                     "JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA "
                     "JOIN LOJA L ON L.CDFILIAL = V.CDFILIAL AND L.CDLOJA = V.CDLOJA "
                     "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
                     "WHERE V.CDFILIAL = ? AND V.DTVENDA >= ? AND V.DTVENDA < ? AND ") +
                 QString::fromStdString(salerules::workLeft());
  QVariantList values{sales.branch, wiredate::dayText(sales.from), wiredate::dayText(sales.before)};
  if (sales.warehouse) {
    text += QStringLiteral(" AND L.CDALMOXARIFE = ?");
    values << *sales.warehouse;
  }
  if (sales.place) {
    text += QStringLiteral(" AND L.CDLOCALESTOQ = ?");
    values << *sales.place;
  }
  auto q = sql::run(db, text + QStringLiteral(" LIMIT 1"), values);
  if (!q) return q.error();
  if (!q->next()) return success();
  q->finish();
  // only once refused: which day the operator must consolidate first
  auto first = sql::run(
      db, QString(text).replace(QStringLiteral("SELECT 1 FROM"), QStringLiteral("SELECT MIN(V.DTVENDA) FROM")), values);
  if (!first) return first.error();
  const auto day = first->next() ? wiredate::dayFromDatabase(first->value(0)) : std::nullopt;
  if (!day) return refused(contract::refusals::kEarlierSalesPending);
  return refused(contract::refusals::kEarlierSalesPending,
                 QStringLiteral("Primeiro dia com vendas ainda não consolidadas: %1.")
                     .arg(day->toString(QStringLiteral("dd/MM/yyyy")))
                     .toStdString());
}

Result<packet::Packet> registerDaySales(QSqlDatabase& db, const QString& branch, const QString& store,
                                        const QString& cashRegister, const QDate& day) {
  auto cents = registerDayCents(db, branch, store, cashRegister, day);
  if (!cents) return cents.error();
  constexpr const auto& fields = contract::fields::registerDaySales;
  packet::Packet packet = contract::emptyPacket(fields);
  if (*cents) {
    auto& c = packet.columns;
    putText(c[contract::indexOf(fields, "CDFILIAL")], branch);
    putText(c[contract::indexOf(fields, "CDCAIXA")], cashRegister);
    c[contract::indexOf(fields, "DTENTRVENDA")].appendNumber(wiredate::fromDate(day));
    c[contract::indexOf(fields, "TOTAL")].appendNumber(double(**cents) / 100.0);
  }
  return packet;
}

namespace {

// Whether the register of the row `alias` is checked by its documents: a
// register that issues NFC-e of a branch that checks those by their
// documents. Tied to the row, it is looked up only when there is a row, by
// the register's key (with the register's values instead, PostgreSQL scanned
// the registers in every call, twice). The branch's choice comes first, so a
// branch checked by its Z reductions (the default) never reads the registers;
// LIMIT 1 OFFSET 0 keeps the register's lookup a subquery run by its key for
// that one row: PostgreSQL would otherwise join it, or hash every register
// that issues NFC-e, in every call.
std::string checkedByDocuments(std::string_view alias) {
  const std::string a(alias);
  return "EXISTS (SELECT 1 FROM PARAMFILIAL P WHERE P.CDFILIAL = " + a +
         ".CDFILIAL AND P.IDZNFCE = 'N' AND EXISTS (SELECT 1 FROM CAIXA C WHERE C.CDFILIAL = " + a +
         ".CDFILIAL AND C.CDCAIXA = " + a + ".CDCAIXA AND C.CDSERIENFCE IS NOT NULL LIMIT 1 OFFSET 0))";
}

// One statement, so the Z check's thousands of calls pay one round trip each:
// the Z reduction's rows when the register-day is checked by its Z, else the
// day's documents as the import recorded them apart from the sales. The
// last column says which of the two a row is.
const std::string& zReductionText() {
  static const std::string text =
      "SELECT " + selectList(contract::fields::zReduction, "Z") +
      ", NULL, NULL, 'Z' FROM REDUCAOZ Z WHERE Z.CDFILIAL = ? AND Z.CDCAIXA = ? AND Z.DTREDUCAOZ = ? AND NOT " +
      checkedByDocuments("Z") +
      " UNION ALL SELECT NULL, NULL, NULL, NULL, N.VRCENTNFCE, N.QTNFCE, 'N' FROM NFCECAIXADIA N "
      "WHERE N.CDFILIAL = ? AND N.CDCAIXA = ? AND N.DTVENDA = ? AND " +
      checkedByDocuments("N");
  return text;
}

constexpr int kDocumentsCents = int(contract::fields::zReduction.size());
constexpr int kDocumentsCount = kDocumentsCents + 1;
constexpr int kRowSource = kDocumentsCents + 2;

// A documents row: the day's documents in cents stand for its Z reduction;
// none when the register issued none (or every one was cancelled).
void appendDocuments(packet::Packet& packet, const sql::Cells& row, const QString& branch, const QString& cashRegister,
                     const QDate& day) {
  const auto cents = std::llround(row.number(kDocumentsCents));
  if (cents == 0 && std::llround(row.number(kDocumentsCount)) <= 0) return;
  constexpr const auto& fields = contract::fields::zReduction;
  auto& c = packet.columns;
  c[contract::indexOf(fields, "VRVENLIQREDZ")].appendNumber(double(cents) / 100.0);
  putText(c[contract::indexOf(fields, "CDFILIAL")], branch);
  putText(c[contract::indexOf(fields, "CDCAIXA")], cashRegister);
  c[contract::indexOf(fields, "DTREDUCAOZ")].appendNumber(wiredate::fromDate(day));
}

}  // namespace

Result<packet::Packet> zReduction(QSqlDatabase& db, const QString& branch, const QString& cashRegister,
                                  const QDate& day) {
  const std::string b = branch.toStdString(), r = cashRegister.toStdString(), d = dayText(day);
  packet::Packet packet = contract::emptyPacket(contract::fields::zReduction);
  // once per register-day of the Z check: the statement is kept, not prepared per call
  auto rows = sql::openRows(db, zReductionText(), {b, r, d, b, r, d}, sql::Reuse::Kept);
  if (!rows) return rows.error();
  for (;;) {
    auto more = (*rows)->next();
    if (!more) return more.error();
    if (!*more) return packet;
    if ((*rows)->text(kRowSource) == "N")
      appendDocuments(packet, **rows, branch, cashRegister, day);
    else
      appendRow(packet, **rows);
  }
}

}  // namespace qfx::server::checks
