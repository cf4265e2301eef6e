// The sales list, the pickers' lists, and the per-register-and-day figures
// the Z-reduction check compares.
#include <QSqlQuery>
#include <map>
#include <set>

#include "common/sale_money.h"
#include "common/wire_date.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"
#include "domain/packets.h"
#include "domain/sale_lists.h"
#include "domain/selection.h"
#include "methods/methods.h"

namespace qfx::server::methods {

namespace {

using namespace packets;

// Arguments 1 to 12 of GetVerifVenda, which GetPrincipal shares.
SaleFilter verificationFilter(const Arguments& a) {
  SaleFilter f;
  f.branch = a.qtext(1);
  f.first = a.day(2);
  f.last = a.day(3);
  f.pendingOnly = !a.isYes(4);  // argument 5 repeats the same letter
  f.sales = restriction(a.isYes(6), a.text(7));
  f.store = a.qtext(8);
  f.cashRegisters = restriction(a.boolean(9), a.text(10));
  f.consumptionTypes = restriction(a.boolean(11), a.text(12));
  return f;
}

// GetPrincipal: the verification arguments, then customers, cost centres and products.
SaleFilter principalFilter(const Arguments& a) {
  SaleFilter f = verificationFilter(a);
  restrictCustomers(f, a.boolean(13), a.boolean(14), a.qtext(15), a.qtext(16), a.text(17));
  f.costCentres = restriction(a.boolean(19), a.text(18));
  f.products = restriction(a.boolean(21), a.text(20));
  return f;
}

}  // namespace

Result<Reply> getPrincipal(CallContext& call, const Arguments& args) {
  auto packet = principalRows(call.db, principalFilter(args));
  if (!packet) return packet.error();
  return Reply::ofPacket(std::move(*packet));
}

// The register-days of the selection on which a run still has work: a day
// already consolidated (its items posted, or only items no run ever posts
// left) is not questioned again. Argument 4 (posted items too) only shapes
// the list.
Result<Reply> getVerifVenda(CallContext& call, const Arguments& args) {
  SaleFilter filter = verificationFilter(args);
  filter.workOnly = true;
  auto packet = verificationRows(call.db, filter);
  if (!packet) return packet.error();
  return Reply::ofPacket(std::move(*packet));
}

namespace {

// Every item of one cash register's day: the money the register took.
const char* const kRegisterDayItems =
    "SELECT V.IDSITUVENDA, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND FROM VENDA V %1 ITVENDA I ON "
    "I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA "
    "WHERE V.CDFILIAL = ? AND V.CDLOJA = ? AND V.CDCAIXA = ? AND V.DTVENDA = ?";

// The register-day's net sales in cents, or none when it sold nothing.
Result<std::optional<qint64>> registerDayCents(QSqlDatabase& db, const QString& branch, const QString& store,
                                               const QString& cashRegister, const QDate& day) {
  // SQLite keeps the sales the outer table (see the sale selection)
  const QString text = QString::fromLatin1(kRegisterDayItems)
                           .arg(sql::isSqlite(db) ? QStringLiteral("CROSS JOIN") : QStringLiteral("JOIN"));
  std::optional<qint64> cents;
  const auto add = [&](std::string_view situation, double quantity, double unitPrice, double discount) {
    cents =
        cents.value_or(0) + salemoney::netSalesCents(situation, salemoney::itemCents(quantity, unitPrice, discount));
  };
  // once per register-day of the Z check: the statement is kept, not prepared per call
  auto rows = sql::openRows(
      db, text.toStdString(),
      {branch.toStdString(), store.toStdString(), cashRegister.toStdString(), wiredate::dayText(day).toStdString()},
      sql::Reuse::Kept);
  if (!rows) return rows.error();
  for (;;) {
    auto more = (*rows)->next();
    if (!more) return more.error();
    if (!*more) return cents;
    add((*rows)->text(0), (*rows)->number(1), (*rows)->number(2), (*rows)->number(3));
  }
}

}  // namespace

// The register-day as its Z reduction counts it: every sale of that branch,
// store, register and day, posted or pending, whatever lists the filter
// narrows the selection to (arguments 5 to 9 are taken and not used), each
// counted by salemoney::netSalesCents.
Result<Reply> getSoma(CallContext& call, const Arguments& args) {
  auto cents = registerDayCents(call.db, args.qtext(1), args.qtext(2), args.qtext(3), args.day(4));
  if (!cents) return cents.error();
  packet::Packet packet({text("CDFILIAL", 4), text("CDCAIXA", 3), dateTime("DTENTRVENDA"), number("TOTAL")});
  if (*cents) {
    putText(packet.columns[0], args.qtext(1));
    putText(packet.columns[1], args.qtext(3));
    packet.columns[2].appendNumber(wiredate::fromDate(args.day(4)));
    packet.columns[3].appendNumber(double(**cents) / 100.0);
  }
  return Reply::ofPacket(std::move(packet));
}

Result<Reply> getReducaoZ(CallContext& call, const Arguments& args) {
  const char* const text =
      "SELECT VRVENLIQREDZ, CDFILIAL, CDCAIXA, DTREDUCAOZ FROM REDUCAOZ "
      "WHERE CDFILIAL = ? AND CDCAIXA = ? AND DTREDUCAOZ = ?";
  packet::Packet packet(
      {number("VRVENLIQREDZ"), packets::text("CDFILIAL", 4), packets::text("CDCAIXA", 3), dateTime("DTREDUCAOZ")});
  // once per register-day of the Z check: the statement is kept, not prepared per call
  auto rows = sql::openRows(call.db, text, {args.text(1), args.text(2), wiredate::dayText(args.day(3)).toStdString()},
                            sql::Reuse::Kept);
  if (!rows) return rows.error();
  if (auto done = appendRows(packet, **rows); !done) return done.error();
  return Reply::ofPacket(std::move(packet));
}

Result<Reply> getVendas(CallContext& call, const Arguments& args) {
  auto q = sql::run(call.db,
                    QStringLiteral("SELECT V.CDFILIAL, V.NRSEQVENDA, V.CDCAIXA, V.NRCUPOMFIS, V.DTVENDA, "
                                   "C.NMRAZSOCCLIE FROM VENDA V LEFT JOIN CLIENTE C ON C.CDCLIENTE = V.CDCLIENTE "
                                   "WHERE V.CDFILIAL = ? AND V.CDLOJA = ? AND V.DTVENDA >= ? AND V.DTVENDA <= ? "
                                   "ORDER BY V.CDCAIXA, V.DTENTRVENDA, V.NRSEQVENDA"),
                    {args.qtext(1), args.qtext(2), wiredate::dayText(args.day(3)), wiredate::dayText(args.day(4))});
  if (!q) return q.error();
  const Restriction registers = restriction(args.boolean(5), args.text(6));
  packet::Packet packet({text("IDMARCADO", 1), text("CHAVE", 14), text("CDCAIXA", 3), text("NRSEQVENDA", 10),
                         text("NRCUPOMFIS", 10), text("DTVENDA", 20), text("NMRAZSOCCLIE", 50)});
  while (q->next()) {
    const QString branch = q->value(0).toString();
    const QString cashRegister = q->value(2).toString();
    if (registers && !registers->contains((branch + cashRegister).toStdString())) continue;
    // the sale's business day, as the column's origin (VENDA.DTVENDA) says
    const auto day = wiredate::dayFromDatabase(q->value(4));
    auto& c = packet.columns;
    putText(c[0], QStringLiteral("N"));
    putText(c[1], branch + q->value(1).toString());
    putText(c[2], cashRegister);
    putText(c[3], q->value(1));
    putText(c[4], q->value(3));
    putText(c[5], day ? day->toString(QStringLiteral("dd/MM/yyyy")) : QString(), !day);
    putText(c[6], q->value(5));
  }
  return Reply::ofPacket(std::move(packet));
}

Result<Reply> getProdutos(CallContext& call, const Arguments& args) {
  SaleFilter f;
  f.branch = args.qtext(1);
  f.store = args.qtext(2);
  f.first = args.day(3);
  f.last = args.day(4);
  f.pendingOnly = false;
  f.cashRegisters = restriction(args.isAllFlag(6), args.text(5));
  f.sales = restriction(args.isAllFlag(8), args.text(7));
  std::map<QString, QVariant> products;  // code -> name, in code order
  auto done = forEachSaleRow(call.db, f, [&](const SaleRow& r) {
    const SaleItem s = r.item();
    products.emplace(s.product, s.productName);
  });
  if (!done) return done.error();
  packet::Packet packet({text("IDMARCADO", 1), text("CDPRODUTO", 10), text("NMPRODUTO", 50)});
  for (const auto& [code, name] : products) {
    putText(packet.columns[0], QStringLiteral("N"));
    putText(packet.columns[1], code);
    putText(packet.columns[2], name);
  }
  return Reply::ofPacket(std::move(packet));
}

}  // namespace qfx::server::methods
