// The sales list, the pickers' lists, and the per-register-and-day figures
// the Z-reduction check compares.
#include <QSqlQuery>
#include <map>
#include <set>

#include "common/sale_money.h"
#include "common/wire_date.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"
#include "methods/methods.h"
#include "methods/packets.h"
#include "methods/sale_lists.h"
#include "methods/selection.h"

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

packet::Packet principalPacket() {
  return packet::Packet(
      {text("CDFILIALEST", 4),   text("CDFILIAL", 4),      text("NRSEQVENDA", 10), text("CDCLIENTE", 21),
       text("CDCAIXA", 3),       dateTime("DTENTRVENDA"),  text("IDTIPOIMPV", 1),  text("NRLANCESTQ", 10),
       text("CDPRODUTO", 10),    text("NMPRODUTO", 50),    number("QTPRODVEND"),   number("VRUNITVEND"),
       number("TOTITEM"),        text("NRSEQUITVEND", 3),  number("VRDESITVEND"),  text("CDPRODESTO", 10),
       text("NMRAZSOCCLIE", 50), text("NRLANCTONF", 10),   text("CDLOJA", 10),     text("NRCUPOMFIS", 10),
       text("CDFILIALNF", 4),    text("NMCONSUMIDOR", 50), text("CDARVPROD", 20),  text("IDSITUVENDA", 1),
       text("IDTPFORPGVEN", 1)});
}

// Nullable text columns of the sale: an empty value stays null.
void putOptional(packet::Column& c, const QString& v) { putText(c, v, v.isNull()); }

void appendPrincipalRow(packet::Packet& p, const SaleItem& s) {
  auto& c = p.columns;
  putText(c[0], s.stockBranch);
  putText(c[1], s.branch);
  putText(c[2], s.sale);
  putOptional(c[3], s.customer);
  putText(c[4], s.cashRegister);
  putDateTime(c[5], s.entered);
  putOptional(c[6], s.printType);
  putText(c[7], s.stockPosting);
  putText(c[8], s.product);
  putText(c[9], s.productName);
  putNumber(c[10], s.quantity);
  putNumber(c[11], s.unitPrice);
  putNumber(c[12], s.total());
  putText(c[13], s.item);
  putNumber(c[14], s.discount);
  putText(c[15], s.stockProduct);
  putText(c[16], s.customerName);
  putText(c[17], s.notePosting);
  putText(c[18], s.store);
  putOptional(c[19], s.receipt);
  putText(c[20], s.noteBranch);
  putOptional(c[21], s.consumerName);
  putText(c[22], s.productTree);
  putText(c[23], s.situation);
  putOptional(c[24], s.paymentType);
}

// A moment column from the database's texts: the items of a sale come one
// after the other and share its moment, so each distinct text is read once.
class MomentCells {
 public:
  void append(packet::Column& column, std::string_view text) {
    if (text != last_) {
      last_.assign(text);
      days_ = wiredate::fromDatabaseText(text);
    }
    if (days_)
      column.appendNumber(*days_);
    else
      column.appendNull();
  }

 private:
  std::string last_;
  std::optional<double> days_;  // of last_
};

// The same row from the database's own cells: texts copied as stored, a null text
// empty in the columns that are never null and null in the others, exactly
// as appendPrincipalRow writes them from the QVariants.
void appendPrincipalCells(packet::Packet& p, const sql::Cells& r, MomentCells& moments) {
  using namespace saleColumn;
  auto& c = p.columns;
  const auto textOf = [&](packet::Column& column, int cell) { column.appendText(r.text(cell)); };
  const auto nullableOf = [&](packet::Column& column, int cell) {
    if (r.isNull(cell))
      column.appendNull();
    else
      column.appendText(r.text(cell));
  };
  nullableOf(c[0], stockBranch);
  textOf(c[1], branch);
  textOf(c[2], sale);
  nullableOf(c[3], customer);
  textOf(c[4], cashRegister);
  if (r.isNull(entered))
    c[5].appendNull();
  else
    moments.append(c[5], r.text(entered));
  nullableOf(c[6], printType);
  nullableOf(c[7], stockPosting);
  textOf(c[8], product);
  nullableOf(c[9], productName);
  SaleItem amounts;
  amounts.quantity = r.number(quantity);
  amounts.unitPrice = r.number(unitPrice);
  amounts.discount = r.number(discount);
  putNumber(c[10], amounts.quantity);
  putNumber(c[11], amounts.unitPrice);
  putNumber(c[12], amounts.total());
  textOf(c[13], item);
  putNumber(c[14], amounts.discount);
  textOf(c[15], stockProduct);
  nullableOf(c[16], customerName);
  nullableOf(c[17], notePosting);
  textOf(c[18], store);
  nullableOf(c[19], receipt);
  nullableOf(c[20], noteBranch);
  nullableOf(c[21], consumerName);
  nullableOf(c[22], productTree);
  textOf(c[23], situation);
  nullableOf(c[24], paymentType);
}

bool readsCells(const QSqlDatabase& db, RowReader reader) {
  return reader == RowReader::Fastest && sql::readsCells(db);
}

}  // namespace

Result<packet::Packet> principalRows(QSqlDatabase& db, const SaleFilter& filter, RowReader reader) {
  packet::Packet packet = principalPacket();
  MomentCells moments;
  auto done =
      readsCells(db, reader)
          ? forEachSaleRow(db, filter, [&](const SaleRow& r) { appendPrincipalCells(packet, r.cells, moments); })
          : forEachSaleItem(db, filter, [&](const SaleItem& s) { appendPrincipalRow(packet, s); });
  if (!done) return done.error();
  return packet;
}

Result<packet::Packet> verificationRows(QSqlDatabase& db, const SaleFilter& filter, RowReader reader) {
  std::set<std::pair<QString, QDate>> registerDays;
  Status done = success();
  if (readsCells(db, reader)) {
    // distinct stored texts first: a list of many items has few register-days
    std::set<std::pair<std::string, std::string>> stored;
    done = forEachSaleRow(
        db, filter, [&](const SaleRow& r) { stored.emplace(r.keys.cashRegister, r.day); }, ItemDetail::Amounts);
    for (const auto& [cashRegister, day] : stored)
      registerDays.emplace(QString::fromStdString(cashRegister),
                           wiredate::dayFromDatabase(QVariant(QString::fromStdString(day))).value_or(QDate()));
  } else {
    done = forEachSaleItem(
        db, filter, [&](const SaleItem& s) { registerDays.emplace(s.cashRegister, s.day); }, ItemDetail::Amounts);
  }
  if (!done) return done.error();
  packet::Packet packet({text("CDFILIAL", 4), text("CDCAIXA", 3), dateTime("DTENTRVENDA")});
  for (const auto& [cashRegister, day] : registerDays) {
    putText(packet.columns[0], filter.branch);
    putText(packet.columns[1], cashRegister);
    packet.columns[2].appendNumber(wiredate::fromDate(day));
  }
  return packet;
}

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
  if (sql::readsCells(db)) {
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
  auto q = sql::run(db, text, {branch, store, cashRegister, wiredate::dayText(day)});
  if (!q) return q.error();
  while (q->next())
    add(q->value(0).toString().toStdString(), q->value(1).toDouble(), q->value(2).toDouble(), q->value(3).toDouble());
  return cents;
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
  if (sql::readsCells(call.db)) {
    // once per register-day of the Z check: the statement is kept, not prepared per call
    auto rows = sql::openRows(call.db, text, {args.text(1), args.text(2), wiredate::dayText(args.day(3)).toStdString()},
                              sql::Reuse::Kept);
    if (!rows) return rows.error();
    if (auto done = appendRows(packet, **rows); !done) return done.error();
    return Reply::ofPacket(std::move(packet));
  }
  auto q = sql::run(call.db, QString::fromLatin1(text), {args.qtext(1), args.qtext(2), wiredate::dayText(args.day(3))});
  if (!q) return q.error();
  appendRows(packet, *q);
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
  auto done = forEachSaleItem(call.db, f, [&](const SaleItem& s) { products.emplace(s.product, s.productName); });
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
