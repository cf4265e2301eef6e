// The two lists built from the sale selection: the items of the
// consolidation screen and the register-days the Z check walks.
#include "domain/sale_lists.h"

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

}  // namespace qfx::server
