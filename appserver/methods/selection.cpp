#include "methods/selection.h"

#include <QSqlQuery>
#include <cmath>

#include "common/wire_date.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"

namespace qfx::server {

namespace {

const char* const kSelect =
    "SELECT V.CDFILIAL, V.NRSEQVENDA, V.CDLOJA, V.CDCAIXA, V.DTVENDA, V.DTENTRVENDA, V.NRCUPOMFIS, V.CDCLIENTE, "
    "V.CDCCUSCLIE, V.CDTIPOCONS, V.NMCONSUMIDOR, V.IDSITUVENDA, V.IDTPFORPGVEN, V.IDTIPOIMPV, "
    "I.NRSEQUITVEND, I.CDPRODUTO, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND, "
    "I.CDFILIALEST, I.NRLANCESTQ, I.CDFILIALNF, I.NRLANCTONF, "
    "P.NMPRODUTO, P.CDARVPROD, COALESCE(P.CDPRODESTO, I.CDPRODUTO), P.CDPRODUTO, P.IDATIVO, P.IDCTRLESTQ, "
    "PF.CDPRODUTO, C.NMRAZSOCCLIE";
// The sale, then its items. On SQLite CROSS JOIN keeps the sales the outer
// table: the period narrows them, and without statistics a second index on
// VENDA made SQLite's planner walk every item of the branch instead.
const char* const kItemsOfTheSale = " ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA ";
const char* const kLookups =
    "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
    "LEFT JOIN PRODFILI PF ON PF.CDFILIAL = V.CDFILIAL AND PF.CDPRODUTO = I.CDPRODUTO "
    "LEFT JOIN CLIENTE C ON C.CDCLIENTE = V.CDCLIENTE ";
const char* const kPeriod = "WHERE V.CDFILIAL = ? AND V.CDLOJA = ? AND V.DTVENDA >= ? AND V.DTVENDA <= ?";

// The cells of a row as readItem reads them, from either reader.
struct QueryCells {
  const QSqlQuery& q;
  QVariant value(int c) const { return q.value(c); }
  QString text(int c) const { return q.value(c).toString(); }
  double number(int c) const { return q.value(c).toDouble(); }
  bool isNull(int c) const { return q.value(c).isNull(); }
};

struct DatabaseCells {
  const sql::Cells& r;
  QVariant value(int c) const { return r.value(c); }
  QString text(int c) const {
    if (r.isNull(c)) return QString();
    const std::string_view t = r.text(c);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
  }
  double number(int c) const { return r.number(c); }
  bool isNull(int c) const { return r.isNull(c); }
};

// What the posting run uses of an item: its keys, day and moment, product
// and the product's flags, amounts and situation.
template <class Cells>
void readPostingFields(const Cells& q, SaleItem& s) {
  using namespace saleColumn;
  s.branch = q.text(branch);
  s.sale = q.text(sale);
  s.day = wiredate::dayFromDatabase(q.value(day)).value_or(QDate());
  s.entered = q.value(entered);
  s.situation = q.text(situation);
  s.item = q.text(item);
  s.product = q.text(product);
  s.quantity = q.number(quantity);
  s.unitPrice = q.number(unitPrice);
  s.discount = q.number(discount);
  s.productName = q.value(productName);
  s.stockProduct = q.text(stockProduct);
  // then PRODUTO's own code, its active and stock flags, PRODFILI's code
  s.productKnown = !q.isNull(stockProduct + 1);
  s.productActive = q.text(stockProduct + 2) == QLatin1String("S");
  s.productControlsStock = q.text(stockProduct + 3) == QLatin1String("S");
  s.productRegistered = !q.isNull(stockProduct + 4);
}

template <class Cells>
SaleItem readItem(const Cells& q) {
  using namespace saleColumn;
  SaleItem s;
  readPostingFields(q, s);
  s.store = q.text(store);
  s.cashRegister = q.text(cashRegister);
  s.receipt = q.text(receipt);
  s.customer = q.text(customer);
  s.costCentre = q.text(costCentre);
  s.consumptionType = q.text(consumptionType);
  s.consumerName = q.text(consumerName);
  s.paymentType = q.text(paymentType);
  s.printType = q.text(printType);
  s.stockBranch = q.value(stockBranch);
  s.stockPosting = q.value(stockPosting);
  s.noteBranch = q.value(noteBranch);
  s.notePosting = q.value(notePosting);
  s.productTree = q.value(productTree);
  s.customerName = q.value(customerName);
  return s;
}

bool inList(const Restriction& list, const QString& key) {
  if (!list) return true;
  if (key.isEmpty()) return false;  // a sale without the attribute is in no list
  const QByteArray utf8 = key.toUtf8();
  return list->contains(std::string_view(utf8.constData(), size_t(utf8.size())));
}

// A key of two parts; the parts are joined only when there is a list to look in.
bool inList(const Restriction& list, const QString& first, const QString& second) {
  return !list || inList(list, first + second);
}

bool inList(const Restriction& list, std::string_view key) {
  if (!list) return true;
  if (key.empty()) return false;  // a sale without the attribute is in no list
  return list->contains(key);
}

bool inList(const Restriction& list, std::string_view first, std::string_view second) {
  if (!list) return true;
  thread_local std::string joined;
  joined.assign(first).append(second);
  return inList(list, std::string_view(joined));
}

}  // namespace

qint64 SaleItem::totalCents() const { return std::llround((quantity * unitPrice - discount) * 100.0); }

bool SaleFilter::accepts(const SaleItem& s) const {
  if (cashRegister && s.cashRegister != *cashRegister) return false;
  if (!inList(sales, s.branch, s.sale)) return false;
  if (!inList(cashRegisters, s.branch, s.cashRegister)) return false;
  if (!inList(consumptionTypes, s.consumptionType)) return false;
  if (!inList(customers, s.customer)) return false;
  if (customerNames) {
    if (s.customerName.isNull()) return false;
    const QString name = s.customerName.toString().toUpper();
    if (name < customerNames->first || name > customerNames->second) return false;
  }
  if (costCentres && !inList(costCentres, s.costCentre.isEmpty() ? QString() : s.customer + s.costCentre)) return false;
  if (!inList(products, s.product)) return false;
  return true;
}

bool SaleFilter::accepts(const SaleKeys& k) const {
  if (cashRegister && QString::fromUtf8(k.cashRegister.data(), qsizetype(k.cashRegister.size())) != *cashRegister)
    return false;
  if (!inList(sales, k.branch, k.sale)) return false;
  if (!inList(cashRegisters, k.branch, k.cashRegister)) return false;
  if (!inList(consumptionTypes, k.consumptionType)) return false;
  if (!inList(customers, k.customer)) return false;
  if (customerNames) {
    if (!k.customerName) return false;
    const QString name = QString::fromUtf8(k.customerName->data(), qsizetype(k.customerName->size())).toUpper();
    if (name < customerNames->first || name > customerNames->second) return false;
  }
  if (costCentres && (k.costCentre.empty() || !inList(costCentres, k.customer, k.costCentre))) return false;
  if (!inList(products, k.product)) return false;
  return true;
}

void restrictCustomers(SaleFilter& filter, bool all, bool interval, const QString& from, const QString& to,
                       const std::string& list) {
  if (all) return;
  if (interval) {
    filter.customerNames = std::make_pair(from.toUpper(), to.toUpper());
    return;
  }
  filter.customers = ListText(list);
}

namespace {

// The checks need the sale's keys and the item's amounts only: no product or
// customer join, no order.
const char* const kSelectAmounts =
    "SELECT V.CDFILIAL, V.NRSEQVENDA, V.CDCAIXA, V.DTVENDA, V.CDTIPOCONS, "
    "I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND, I.CDFILIALEST, I.NRLANCESTQ";

SaleItem readAmounts(const QSqlQuery& q, const QString& store) {
  SaleItem s;
  s.branch = q.value(0).toString();
  s.sale = q.value(1).toString();
  s.store = store;
  s.cashRegister = q.value(2).toString();
  s.day = wiredate::dayFromDatabase(q.value(3)).value_or(QDate());
  s.consumptionType = q.value(4).toString();
  s.quantity = q.value(5).toDouble();
  s.unitPrice = q.value(6).toDouble();
  s.discount = q.value(7).toDouble();
  s.stockBranch = q.value(8);
  s.stockPosting = q.value(9);
  return s;
}

// Restrictions that look at the product or the customer need the full row.
bool needsFullRow(const SaleFilter& f) { return f.customers || f.customerNames || f.costCentres || f.products; }

struct Selection {
  QString text;
  QVariantList values;
  bool amounts = false;
};

Selection selectionOf(const SaleFilter& filter, ItemDetail detail, bool sqlite) {
  Selection s;
  s.amounts = detail == ItemDetail::Amounts && !needsFullRow(filter);
  s.text = QString::fromLatin1(s.amounts ? kSelectAmounts : kSelect);
  // SQLite's ROWID: the posting run stamps the very rows it read
  if (!s.amounts && detail == ItemDetail::Posting && sqlite) s.text += QStringLiteral(", I.ROWID");
  s.text += QLatin1String(sqlite ? " FROM VENDA V CROSS JOIN" : " FROM VENDA V JOIN");
  s.text += QLatin1String(kItemsOfTheSale);
  if (!s.amounts) s.text += QLatin1String(kLookups);
  s.text += QLatin1String(kPeriod);
  s.values = {filter.branch, filter.store, wiredate::dayText(filter.first), wiredate::dayText(filter.last)};
  if (filter.pendingOnly) s.text += QStringLiteral(" AND I.NRLANCESTQ IS NULL AND I.CDFILIALEST IS NULL");
  if (filter.cashRegister) {
    s.text += QStringLiteral(" AND V.CDCAIXA = ?");
    s.values << *filter.cashRegister;
  }
  if (detail == ItemDetail::Full)
    s.text += QStringLiteral(" ORDER BY V.CDCAIXA, V.DTENTRVENDA, V.NRSEQVENDA, I.NRSEQUITVEND");
  return s;
}

SaleKeys keysOf(const sql::Cells& r) {
  using namespace saleColumn;
  SaleKeys k{r.text(branch),   r.text(sale),       r.text(cashRegister), r.text(consumptionType),
             r.text(customer), r.text(costCentre), r.text(product),      std::nullopt};
  if (!r.isNull(customerName)) k.customerName = r.text(customerName);
  return k;
}

// The columns of kSelectAmounts.
SaleKeys amountKeysOf(const sql::Cells& r) {
  return SaleKeys{r.text(0), r.text(1), r.text(2), r.text(4), {}, {}, {}, std::nullopt};
}

}  // namespace

QString saleSelectionText(bool sqlite, const SaleFilter& filter, ItemDetail detail) {
  return selectionOf(filter, detail, sqlite).text;
}

QString saleSelectionText(const QSqlDatabase& db, const SaleFilter& filter, ItemDetail detail) {
  return saleSelectionText(sql::isSqlite(db), filter, detail);
}

SaleItem SaleRow::amounts() const {
  SaleItem s;
  // kSelectAmounts: QTPRODVEND, VRUNITVEND, VRDESITVEND at 5, 6, 7
  s.quantity = cells.number(amountsOnly ? 5 : saleColumn::quantity);
  s.unitPrice = cells.number(amountsOnly ? 6 : saleColumn::unitPrice);
  s.discount = cells.number(amountsOnly ? 7 : saleColumn::discount);
  return s;
}

SaleItem SaleRow::item() const {
  if (!postingRead) return readItem(DatabaseCells{cells});
  // the posting read: a month of a large branch, so only what the run uses
  SaleItem s;
  readPostingFields(DatabaseCells{cells}, s);
  if (withRowId) s.rowId = int64_t(cells.number(saleColumn::customerName + 1));
  return s;
}

Status forEachSaleItem(QSqlDatabase& db, const SaleFilter& filter, const std::function<void(const SaleItem&)>& visit,
                       ItemDetail detail) {
  const Selection selection = selectionOf(filter, detail, sql::isSqlite(db));
  auto q = sql::run(db, selection.text, selection.values);
  if (!q) return q.error();
  while (q->next()) {
    const SaleItem item = selection.amounts ? readAmounts(*q, filter.store) : readItem(QueryCells{*q});
    if (filter.accepts(item)) visit(item);
  }
  if (q->lastError().isValid()) return sql::toError(q->lastError(), QStringLiteral("erro ao ler os itens de venda"));
  return success();
}

Status forEachSaleRow(QSqlDatabase& db, const SaleFilter& filter, const std::function<void(const SaleRow&)>& visit,
                      ItemDetail detail) {
  const Selection selection = selectionOf(filter, detail, sql::isSqlite(db));
  std::vector<std::optional<std::string>> values;
  for (const QVariant& v : selection.values) {
    const QString text = v.toString();
    values.push_back(text.isNull() ? std::nullopt : std::optional<std::string>(text.toStdString()));
  }
  // few texts (the filter adds at most two conditions): kept for the next call
  auto opened = sql::openRows(db, selection.text.toStdString(), values, sql::Reuse::Kept);
  if (!opened) return opened.error();
  sql::Rows& rows = **opened;
  for (;;) {
    auto more = rows.next();
    if (!more) return more.error();
    if (!*more) return success();
    const SaleRow row{rows,
                      selection.amounts ? amountKeysOf(rows) : keysOf(rows),
                      rows.text(selection.amounts ? 3 : saleColumn::day),
                      selection.amounts,
                      !selection.amounts && detail == ItemDetail::Posting,
                      !selection.amounts && detail == ItemDetail::Posting && sql::isSqlite(db)};
    if (filter.accepts(row.keys)) visit(row);
  }
}

}  // namespace qfx::server
