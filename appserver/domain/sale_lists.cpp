#include "domain/sale_lists.h"

#include <map>
#include <set>

#include "common/wire_date.h"
#include "db/rows.h"
#include "domain/packets.h"

namespace qfx::server {

namespace {

using namespace packets;

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

// A row of the list from the database's own cells: texts copied as stored, a
// null text empty in the columns that are never null and null in the others.
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

}  // namespace

Result<packet::Packet> principalRows(QSqlDatabase& db, const SaleFilter& filter, sql::RowReader reader) {
  packet::Packet packet = principalPacket();
  MomentCells moments;
  auto done = forEachSaleRow(
      db, filter, [&](const SaleRow& r) { appendPrincipalCells(packet, r.cells, moments); }, ItemDetail::Full, reader);
  if (!done) return done.error();
  return packet;
}

Result<packet::Packet> verificationRows(QSqlDatabase& db, const SaleFilter& filter, sql::RowReader reader) {
  // distinct stored texts first: a list of many items has few register-days
  std::set<std::pair<std::string, std::string>> stored;
  auto done = forEachSaleRow(
      db, filter, [&](const SaleRow& r) { stored.emplace(r.keys.cashRegister, r.day); }, ItemDetail::Amounts, reader);
  if (!done) return done.error();
  std::set<std::pair<QString, QDate>> registerDays;
  for (const auto& [cashRegister, day] : stored)
    registerDays.emplace(QString::fromStdString(cashRegister),
                         wiredate::dayFromDatabase(QVariant(QString::fromStdString(day))).value_or(QDate()));
  packet::Packet packet({text("CDFILIAL", 4), text("CDCAIXA", 3), dateTime("DTENTRVENDA")});
  for (const auto& [cashRegister, day] : registerDays) {
    putText(packet.columns[0], filter.branch);
    putText(packet.columns[1], cashRegister);
    packet.columns[2].appendNumber(wiredate::fromDate(day));
  }
  return packet;
}

Result<packet::Packet> registerDaysWithWork(QSqlDatabase& db, SaleFilter filter) {
  filter.workOnly = true;
  return verificationRows(db, filter);
}

Result<packet::Packet> salesOfPeriod(QSqlDatabase& db, const SaleFilter& filter) {
  auto rows =
      sql::openRows(db,
                    "SELECT V.CDFILIAL, V.NRSEQVENDA, V.CDCAIXA, V.NRCUPOMFIS, V.DTVENDA, C.NMRAZSOCCLIE "
                    "FROM VENDA V LEFT JOIN CLIENTE C ON C.CDCLIENTE = V.CDCLIENTE "
                    "WHERE V.CDFILIAL = ? AND V.CDLOJA = ? AND V.DTVENDA >= ? AND V.DTVENDA <= ? "
                    "ORDER BY V.CDCAIXA, V.DTENTRVENDA, V.NRSEQVENDA",
                    {filter.branch.toStdString(), filter.store.toStdString(),
                     wiredate::dayText(filter.first).toStdString(), wiredate::dayText(filter.last).toStdString()});
  if (!rows) return rows.error();
  packet::Packet packet({text("IDMARCADO", 1), text("CHAVE", 14), text("CDCAIXA", 3), text("NRSEQVENDA", 10),
                         text("NRCUPOMFIS", 10), text("DTVENDA", 20), text("NMRAZSOCCLIE", 50)});
  for (;;) {
    auto more = (*rows)->next();
    if (!more) return more.error();
    if (!*more) return packet;
    const sql::Rows& r = **rows;
    SaleKeys keys;
    keys.branch = r.text(0);
    keys.sale = r.text(1);
    keys.cashRegister = r.text(2);
    if (!filter.accepts(keys)) continue;
    // the sale's business day, as the column's origin (VENDA.DTVENDA) says
    const auto day = wiredate::dayFromDatabase(r.value(4));
    auto& c = packet.columns;
    putText(c[0], QStringLiteral("N"));
    c[1].appendText(std::string(keys.branch).append(keys.sale));
    c[2].appendText(keys.cashRegister);
    putText(c[3], r.value(1));
    putText(c[4], r.value(3));
    putText(c[5], day ? day->toString(QStringLiteral("dd/MM/yyyy")) : QString(), !day);
    putText(c[6], r.value(5));
  }
}

Result<packet::Packet> productsSold(QSqlDatabase& db, const SaleFilter& filter) {
  std::map<QString, QVariant> products;  // code -> name, in code order
  auto done = forEachSaleRow(db, filter, [&](const SaleRow& r) {
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
  return packet;
}

}  // namespace qfx::server
