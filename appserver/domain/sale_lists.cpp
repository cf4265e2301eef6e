#include "domain/sale_lists.h"

#include <map>
#include <set>

#include "common/sale_money.h"
#include "common/wire_date.h"
#include "db/rows.h"
#include "db/sql.h"
#include "domain/packets.h"

namespace qfx::server {

namespace {

using namespace packets;

// A column of the list by its field's name, found when compiling.
consteval size_t principal(std::string_view field) { return contract::indexOf(contract::fields::principal, field); }

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
    const std::string_view text = r.text(cell);  // only an empty text may be a null
    if (text.empty() && r.isNull(cell))
      column.appendNull();
    else
      column.appendText(text);
  };
  nullableOf(c[principal("CDFILIALEST")], stockBranch);
  textOf(c[principal("CDFILIAL")], branch);
  textOf(c[principal("NRSEQVENDA")], sale);
  nullableOf(c[principal("CDCLIENTE")], customer);
  textOf(c[principal("CDCAIXA")], cashRegister);
  packet::Column& enteredColumn = c[principal("DTENTRVENDA")];
  if (r.isNull(entered))
    enteredColumn.appendNull();
  else
    moments.append(enteredColumn, r.text(entered));
  nullableOf(c[principal("IDTIPOIMPV")], printType);
  nullableOf(c[principal("NRLANCESTQ")], stockPosting);
  textOf(c[principal("CDPRODUTO")], product);
  nullableOf(c[principal("NMPRODUTO")], productName);
  // the three amounts alone: a whole SaleItem per row costs more than its cells
  const double itemQuantity = r.number(quantity), itemPrice = r.number(unitPrice), itemDiscount = r.number(discount);
  putNumber(c[principal("QTPRODVEND")], itemQuantity);
  putNumber(c[principal("VRUNITVEND")], itemPrice);
  putNumber(c[principal("TOTITEM")], double(salemoney::itemCents(itemQuantity, itemPrice, itemDiscount)) / 100.0);
  textOf(c[principal("NRSEQUITVEND")], item);
  putNumber(c[principal("VRDESITVEND")], itemDiscount);
  textOf(c[principal("CDPRODESTO")], stockProduct);
  nullableOf(c[principal("NMRAZSOCCLIE")], customerName);
  nullableOf(c[principal("NRLANCTONF")], notePosting);
  textOf(c[principal("CDLOJA")], store);
  nullableOf(c[principal("NRCUPOMFIS")], receipt);
  nullableOf(c[principal("CDFILIALNF")], noteBranch);
  nullableOf(c[principal("NMCONSUMIDOR")], consumerName);
  nullableOf(c[principal("CDARVPROD")], productTree);
  textOf(c[principal("IDSITUVENDA")], situation);
  nullableOf(c[principal("IDTPFORPGVEN")], paymentType);
}

}  // namespace

Result<packet::Packet> principalRows(QSqlDatabase& db, const SaleFilter& filter, sql::RowReader reader) {
  packet::Packet packet = contract::emptyPacket(contract::fields::principal);
  MomentCells moments;
  auto done = forEachSaleRow(
      db, filter, [&](const SaleRow& r) { appendPrincipalCells(packet, r.cells, moments); }, ItemDetail::Full, reader);
  if (!done) return done.error();
  return packet;
}

std::vector<packet::FieldDef> principalFields() { return contract::emptyPacket(contract::fields::principal).fields; }

Status principalRowsInto(QSqlDatabase& db, const SaleFilter& filter, packet::ChunkStreamer& out) {
  MomentCells moments;
  return forEachSaleRow(db, filter, [&](const SaleRow& r) {
    appendPrincipalCells(out.rows(), r.cells, moments);
    out.rowAdded();
  });
}

namespace {

using RegisterDays = std::set<std::pair<QString, QDate>>;

Result<RegisterDays> registerDaysOfSales(QSqlDatabase& db, const SaleFilter& filter, sql::RowReader reader) {
  // distinct stored texts first: a list of many items has few register-days
  std::set<std::pair<std::string, std::string>> stored;
  std::string lastRegister, lastDay;  // a sale's items follow one another: most rows repeat the last pair
  auto done = forEachSaleRow(
      db, filter,
      [&](const SaleRow& r) {
        if (!stored.empty() && r.keys.cashRegister == lastRegister && r.day == lastDay) return;
        lastRegister = r.keys.cashRegister;
        lastDay = r.day;
        stored.emplace(lastRegister, lastDay);
      },
      ItemDetail::Sales, reader);
  if (!done) return done.error();
  RegisterDays registerDays;
  for (const auto& [cashRegister, day] : stored)
    registerDays.emplace(QString::fromStdString(cashRegister),
                         wiredate::dayFromDatabase(QVariant(QString::fromStdString(day))).value_or(QDate()));
  return registerDays;
}

packet::Packet registerDaysPacket(const QString& branch, const RegisterDays& registerDays) {
  constexpr const auto& fields = contract::fields::registerDays;
  packet::Packet packet = contract::emptyPacket(fields);
  auto& c = packet.columns;
  for (const auto& [cashRegister, day] : registerDays) {
    putText(c[contract::indexOf(fields, "CDFILIAL")], branch);
    putText(c[contract::indexOf(fields, "CDCAIXA")], cashRegister);
    c[contract::indexOf(fields, "DTENTRVENDA")].appendNumber(wiredate::fromDate(day));
  }
  return packet;
}

// The register-days of the store's NFC-e registers checked by their documents
// whose documents the import recorded but of which no sale is left: every
// sale deleted after the import is work the check must question. A selection
// of sales, products or customers names none of them.
Status addRegisterDaysWithoutSales(QSqlDatabase& db, const SaleFilter& filter, RegisterDays& registerDays) {
  auto q = sql::run(db,
                    QStringLiteral("SELECT D.CDCAIXA, D.DTVENDA FROM NFCECAIXADIA D "
                                   "JOIN CAIXA C ON C.CDFILIAL = D.CDFILIAL AND C.CDCAIXA = D.CDCAIXA "
                                   "JOIN PARAMFILIAL P ON P.CDFILIAL = D.CDFILIAL "
                                   "WHERE D.CDFILIAL = ? AND C.CDLOJA = ? AND D.DTVENDA >= ? AND D.DTVENDA <= ? "
                                   "AND D.QTNFCE > 0 AND P.IDZNFCE = 'N' AND C.CDSERIENFCE IS NOT NULL "
                                   "AND NOT EXISTS (SELECT 1 FROM VENDA V WHERE V.CDFILIAL = D.CDFILIAL "
                                   "AND V.CDCAIXA = D.CDCAIXA AND V.DTVENDA = D.DTVENDA)"),
                    {filter.branch, filter.store, wiredate::dayText(filter.first), wiredate::dayText(filter.last)});
  if (!q) return q.error();
  const std::string branch = filter.branch.toStdString();
  while (q->next()) {
    const QString cashRegister = q->value(0).toString();
    const std::string registerText = cashRegister.toStdString();
    SaleKeys keys;
    keys.branch = branch;
    keys.cashRegister = registerText;
    if (!filter.accepts(keys)) continue;
    if (const auto day = wiredate::dayFromDatabase(q->value(1))) registerDays.emplace(cashRegister, *day);
  }
  return success();
}

}  // namespace

Result<packet::Packet> verificationRows(QSqlDatabase& db, const SaleFilter& filter, sql::RowReader reader) {
  auto registerDays = registerDaysOfSales(db, filter, reader);
  if (!registerDays) return registerDays.error();
  return registerDaysPacket(filter.branch, *registerDays);
}

Result<packet::Packet> registerDaysWithWork(QSqlDatabase& db, SaleFilter filter) {
  filter.workOnly = true;
  auto registerDays = registerDaysOfSales(db, filter, sql::RowReader::Fastest);
  if (!registerDays) return registerDays.error();
  if (auto added = addRegisterDaysWithoutSales(db, filter, *registerDays); !added) return added.error();
  return registerDaysPacket(filter.branch, *registerDays);
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
  constexpr const auto& fields = contract::fields::salesOfPeriod;
  packet::Packet packet = contract::emptyPacket(fields);
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
    putText(c[contract::indexOf(fields, "IDMARCADO")], QStringLiteral("N"));
    c[contract::indexOf(fields, "CHAVE")].appendText(std::string(keys.branch).append(keys.sale));
    c[contract::indexOf(fields, "CDCAIXA")].appendText(keys.cashRegister);
    putText(c[contract::indexOf(fields, "NRSEQVENDA")], r.value(1));
    putText(c[contract::indexOf(fields, "NRCUPOMFIS")], r.value(3));
    putText(c[contract::indexOf(fields, "DTVENDA")], day ? day->toString(QStringLiteral("dd/MM/yyyy")) : QString(),
            !day);
    putText(c[contract::indexOf(fields, "NMRAZSOCCLIE")], r.value(5));
  }
}

Result<packet::Packet> productsSold(QSqlDatabase& db, const SaleFilter& filter) {
  std::map<QString, QVariant> products;  // code -> name, in code order
  auto done = forEachSaleRow(db, filter, [&](const SaleRow& r) {
    const SaleItem s = r.item();
    products.emplace(s.product, s.productName);
  });
  if (!done) return done.error();
  constexpr const auto& fields = contract::fields::productsSold;
  packet::Packet packet = contract::emptyPacket(fields);
  auto& c = packet.columns;
  for (const auto& [code, name] : products) {
    putText(c[contract::indexOf(fields, "IDMARCADO")], QStringLiteral("N"));
    putText(c[contract::indexOf(fields, "CDPRODUTO")], code);
    putText(c[contract::indexOf(fields, "NMPRODUTO")], name);
  }
  return packet;
}

}  // namespace qfx::server
