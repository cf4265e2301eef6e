#include "domain/selection.h"

#include <QSqlQuery>
#include <charconv>
#include <cmath>
#include <unordered_map>

#include "common/sale_money.h"
#include "common/wire_date.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"
#include "domain/sale_rules.h"

namespace qfx::server {

namespace {

const char* const kSelect =
    "SELECT V.CDFILIAL, V.NRSEQVENDA, V.CDLOJA, V.CDCAIXA, V.DTVENDA, V.DTENTRVENDA, V.NRCUPOMFIS, V.CDCLIENTE, "
    "V.CDCCUSCLIE, V.CDTIPOCONS, V.NMCONSUMIDOR, V.IDSITUVENDA, V.IDTPFORPGVEN, V.IDTIPOIMPV, "
    "I.NRSEQUITVEND, I.CDPRODUTO, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND, "
    "I.CDFILIALEST, I.NRLANCESTQ, I.CDFILIALNF, I.NRLANCTONF, "
    "P.NMPRODUTO, P.CDARVPROD, COALESCE(P.CDPRODESTO, I.CDPRODUTO), P.CDPRODUTO, P.IDATIVO, P.IDCTRLESTQ, "
    "PF.CDPRODUTO, C.NMRAZSOCCLIE";
// The posting run's columns: the same places, with NULL where the run reads
// nothing, and the customer's name only when a filter looks at it.
const char* const kSelectPosting =
    "SELECT V.CDFILIAL, V.NRSEQVENDA, NULL, V.CDCAIXA, V.DTVENDA, V.DTENTRVENDA, NULL, V.CDCLIENTE, "
    "V.CDCCUSCLIE, V.CDTIPOCONS, NULL, V.IDSITUVENDA, NULL, NULL, "
    "I.NRSEQUITVEND, I.CDPRODUTO, I.QTPRODVEND, I.VRUNITVEND, I.VRDESITVEND, "
    "I.CDFILIALEST, I.NRLANCESTQ, I.CDFILIALNF, I.NRLANCTONF, "
    "P.NMPRODUTO, NULL, COALESCE(P.CDPRODESTO, I.CDPRODUTO), P.CDPRODUTO, P.IDATIVO, P.IDCTRLESTQ, "
    "PF.CDPRODUTO, ";
// The sale, then its items. On SQLite CROSS JOIN keeps the sales the outer
// table: the period narrows them, and without statistics a second index on
// VENDA made SQLite's planner walk every item of the branch instead.
const char* const kItemsOfTheSale = " ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA ";
const char* const kProductLookup = "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO ";
const char* const kBranchProductLookup =
    "LEFT JOIN PRODFILI PF ON PF.CDFILIAL = V.CDFILIAL AND PF.CDPRODUTO = I.CDPRODUTO ";
const char* const kCustomerLookup = "LEFT JOIN CLIENTE C ON C.CDCLIENTE = V.CDCLIENTE ";
const char* const kPeriod = "WHERE V.CDFILIAL = ? AND V.CDLOJA = ? AND V.DTVENDA >= ? AND V.DTVENDA <= ?";

struct DatabaseCells {
  const sql::Cells& r;
  QVariant value(int c) const { return r.value(c); }
  QString text(int c) const {
    if (r.isNull(c)) return QString();
    return sql::toQString(r.text(c));
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
  // a text: made through text() (shared on the posting read), null as the reader gives it
  s.productName = q.isNull(productName) ? q.value(productName) : QVariant(q.text(productName));
  s.stockProduct = q.text(stockProduct);
  // then PRODUTO's own code, its active and stock flags, PRODFILI's code
  s.productKnown = !q.isNull(stockProduct + 1);
  s.productActive = q.text(stockProduct + 2) == QLatin1String("S");
  s.productControlsStock = q.text(stockProduct + 3) == QLatin1String("S");
  s.productRegistered = !q.isNull(stockProduct + 4);
}

}  // namespace

// A posting read turns a month of a large branch into items. Most of their
// texts repeat (branch, sale over its items, product and its name, item
// number, situation): each is made once and the items share it, so an item
// costs no allocation per field, neither to build nor to free.
class RepeatedTexts {
 public:
  const QString& shared(std::string_view utf8) {
    if (auto it = texts_.find(utf8); it != texts_.end()) return it->second;
    if (texts_.size() >= kMostKept) return scratch_ = sql::toQString(utf8);
    return texts_.emplace(std::string(utf8), sql::toQString(utf8)).first->second;
  }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view t) const { return std::hash<std::string_view>{}(t); }
  };
  static constexpr size_t kMostKept = 1 << 16;  // beyond this, texts are simply made per item
  std::unordered_map<std::string, QString, Hash, std::equal_to<>> texts_;
  QString scratch_;
};

namespace {

// The database's cells with their texts shared.
struct SharedCells {
  const sql::Cells& r;
  RepeatedTexts& texts;
  QVariant value(int c) const { return r.value(c); }
  QString text(int c) const { return r.isNull(c) ? QString() : texts.shared(r.text(c)); }
  double number(int c) const { return r.number(c); }
  bool isNull(int c) const { return r.isNull(c); }
};

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

qint64 SaleItem::totalCents() const { return salemoney::itemCents(quantity, unitPrice, discount); }

bool SaleFilter::accepts(const SaleKeys& k) const {
  if (cashRegister && sql::toQString(k.cashRegister) != *cashRegister) return false;
  if (!inList(sales, k.branch, k.sale)) return false;
  if (!inList(cashRegisters, k.branch, k.cashRegister)) return false;
  if (!inList(consumptionTypes, k.consumptionType)) return false;
  if (!inList(customers, k.customer)) return false;
  if (customerNames) {
    if (!k.customerName) return false;
    const QString name = sql::toQString(*k.customerName).toUpper();
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

// Restrictions that look at the product or the customer need the full row.
bool needsFullRow(const SaleFilter& f) { return f.customers || f.customerNames || f.costCentres || f.products; }

struct Selection {
  QString text;
  QVariantList values;
  bool amounts = false;
};

// The period's sales, by the bound values of kPeriod.
void narrowToPeriod(Selection& s, const SaleFilter& filter) {
  s.text += QLatin1String(kPeriod);
  s.values = {filter.branch, filter.store, wiredate::dayText(filter.first), wiredate::dayText(filter.last)};
}

// One register, when the filter names one: its value follows the period's.
void narrowToRegister(Selection& s, const SaleFilter& filter) {
  if (!filter.cashRegister) return;
  s.text += QStringLiteral(" AND V.CDCAIXA = ?");
  s.values << *filter.cashRegister;
}

// The items' state the filter asks for, as a further condition (or none).
QString itemRule(const SaleFilter& filter) {
  if (filter.workOnly) return QStringLiteral(" AND ") + QString::fromStdString(salerules::workLeft());
  if (filter.pendingOnly) return QStringLiteral(" AND ") + QString::fromStdString(salerules::pending());
  return {};
}

// The sales that hold a selected item, each once: the keys of
// kSelectAmounts, the item's rule asked of the sale's items. A store's month
// has a quarter as many sales as items, and the rule stops at the first item
// that meets it.
Selection saleSelectionOf(const SaleFilter& filter) {
  Selection s;
  s.amounts = true;
  s.text = QStringLiteral("SELECT V.CDFILIAL, V.NRSEQVENDA, V.CDCAIXA, V.DTVENDA, V.CDTIPOCONS FROM VENDA V ");
  narrowToPeriod(s, filter);
  narrowToRegister(s, filter);
  s.text += QStringLiteral(" AND EXISTS (SELECT 1 FROM ITVENDA I ");
  if (filter.workOnly) s.text += QLatin1String(kProductLookup);
  s.text += QStringLiteral("WHERE I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA") + itemRule(filter) +
            QLatin1Char(')');
  return s;
}

Selection selectionOf(const SaleFilter& filter, ItemDetail detail, bool sqlite) {
  if (detail == ItemDetail::Sales && !needsFullRow(filter)) return saleSelectionOf(filter);
  Selection s;
  s.amounts = detail == ItemDetail::Amounts && !needsFullRow(filter);
  const bool posting = detail == ItemDetail::Posting;
  // a month of a large branch is posted at once: no customer per item unless asked for
  const bool customerName = !s.amounts && (!posting || filter.customerNames);
  if (s.amounts)
    s.text = QString::fromLatin1(kSelectAmounts);
  else if (posting)
    s.text = QString::fromLatin1(kSelectPosting) + QLatin1String(customerName ? "C.NMRAZSOCCLIE" : "NULL");
  else
    s.text = QString::fromLatin1(kSelect);
  // the row's address: the posting run stamps the very rows it read
  if (!s.amounts && posting) {
    s.text += QLatin1String(sqlite ? ", I.ROWID" : ", I.ctid");
    s.text += QStringLiteral(", CASE WHEN %1 THEN 1 ELSE 0 END").arg(QString::fromStdString(salerules::postable()));
  }
  s.text += QLatin1String(sqlite ? " FROM VENDA V CROSS JOIN" : " FROM VENDA V JOIN");
  s.text += QLatin1String(kItemsOfTheSale);
  if (!s.amounts || filter.workOnly) s.text += QLatin1String(kProductLookup);
  if (!s.amounts) s.text += QLatin1String(kBranchProductLookup);
  if (customerName) s.text += QLatin1String(kCustomerLookup);
  narrowToPeriod(s, filter);
  s.text += itemRule(filter);
  // the run reads what it may post or stop on, and asks the rule which to post
  if (posting) s.text += QStringLiteral(" AND ") + QLatin1String(salerules::kSaleNotCancelled);
  narrowToRegister(s, filter);
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

int64_t rowAddressFromText(std::string_view ctid) {
  // "(block,line)"
  int64_t block = -1, line = -1;
  const char* end = ctid.data() + ctid.size();
  if (ctid.size() < 5 || ctid.front() != '(' || ctid.back() != ')') return 0;
  auto [comma, e1] = std::from_chars(ctid.data() + 1, end, block);
  if (e1 != std::errc() || comma == end || *comma != ',') return 0;
  auto [close, e2] = std::from_chars(comma + 1, end, line);
  if (e2 != std::errc() || close != end - 1 || block < 0 || line <= 0 || line > 65535) return 0;
  return block * 65536 + line;
}

std::string rowAddressText(int64_t rowId) {
  return '(' + std::to_string(rowId / 65536) + ',' + std::to_string(rowId % 65536) + ')';
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
  if (!repeated) return readItem(DatabaseCells{cells});
  // the posting read: a month of a large branch, so only what the run uses
  SaleItem s;
  readPostingFields(SharedCells{cells, *repeated}, s);
  using namespace saleColumn;
  s.rowId = sqliteRowId ? int64_t(cells.number(rowAddress)) : rowAddressFromText(cells.text(rowAddress));
  s.postable = cells.number(postable) != 0;
  return s;
}

Status forEachSaleRow(QSqlDatabase& db, const SaleFilter& filter, const std::function<void(const SaleRow&)>& visit,
                      ItemDetail detail, sql::RowReader reader) {
  const Selection selection = selectionOf(filter, detail, sql::isSqlite(db));
  std::vector<std::optional<std::string>> values;
  for (const QVariant& v : selection.values) {
    const QString text = v.toString();
    values.push_back(text.isNull() ? std::nullopt : std::optional<std::string>(text.toStdString()));
  }
  // few texts (the filter adds at most two conditions): kept for the next
  // call; on PostgreSQL only the checks' reads of one register and day, the
  // lists' size depends on the period
  const bool sqlite = sql::isSqlite(db);
  const bool oneRegisterDay = filter.cashRegister && filter.first == filter.last;
  const bool keep = sqlite || (detail == ItemDetail::Amounts && oneRegisterDay);
  // the rest are large: on PostgreSQL each row is visited as it arrives, while
  // the database sends the next (visitors run no statement of their own)
  auto opened = sql::openRows(db, selection.text.toStdString(), values, keep ? sql::Reuse::Kept : sql::Reuse::No,
                              reader, keep ? sql::Delivery::Whole : sql::Delivery::AsTheyCome);
  if (!opened) return opened.error();
  sql::Rows& rows = **opened;
  std::optional<RepeatedTexts> repeated;
  if (detail == ItemDetail::Posting) repeated.emplace();
  for (;;) {
    auto more = rows.next();
    if (!more) return more.error();
    if (!*more) return success();
    const SaleRow row{rows,
                      selection.amounts ? amountKeysOf(rows) : keysOf(rows),
                      rows.text(selection.amounts ? 3 : saleColumn::day),
                      selection.amounts,
                      sqlite,
                      repeated ? &*repeated : nullptr};
    if (filter.accepts(row.keys)) visit(row);
  }
}

}  // namespace qfx::server
