// The sale items a filter selects, shared by the list (GetPrincipal), the
// pre-consolidation checks (GetVerifVenda, GetSoma) and the posting run.
// SQL narrows by branch, store, period and pending state with bound values;
// the list texts are tested here, in memory, never spliced into SQL.
#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <string_view>

#include "common/list_text.h"
#include "common/result.h"
#include "db/rows.h"

namespace qfx::server {

struct SaleItem {
  QString branch, sale, store, cashRegister;
  QDate day;
  QVariant entered;  // DTENTRVENDA as read from the database
  QString receipt, customer, costCentre, consumptionType, consumerName, situation, paymentType, printType;
  QString item, product;
  double quantity = 0, unitPrice = 0, discount = 0;
  QVariant stockBranch, stockPosting, noteBranch, notePosting;  // null while pending
  QVariant productName, productTree;
  QString stockProduct;       // the product whose stock moves
  bool productKnown = false;  // a PRODUTO row exists
  bool productActive = false;
  bool productControlsStock = false;
  bool productRegistered = false;  // registered for the sale's branch
  QVariant customerName;
  // Where the ITVENDA row lies, read for the posting run only: SQLite's ROWID;
  // PostgreSQL's ctid as block * 65536 + line (see rowAddressText).
  int64_t rowId = 0;
  // Read for the posting run only: salerules::postable holds, as the database
  // found when the run read the item.
  bool postable = false;

  bool isReturn() const { return situation == QLatin1String("D"); }
  bool isCancelled() const { return situation == QLatin1String("C"); }
  // Quantity times unit price less discount, in cents: the money on the receipt.
  qint64 totalCents() const;
  double total() const { return double(totalCents()) / 100.0; }
};

// The attributes a filter looks at, as UTF-8 views of one row read straight
// from the database (see forEachSaleRow); a null is empty.
struct SaleKeys {
  std::string_view branch, sale, cashRegister, consumptionType, customer, costCentre, product;
  std::optional<std::string_view> customerName;  // none when null
};

// A list restriction; no value means all.
using Restriction = std::optional<ListText>;

struct SaleFilter {
  QString branch, store;
  QDate first, last;        // whole days, both included
  bool pendingOnly = true;  // salerules::pending
  // Only what is still work for a run: salerules::workLeft (implies pendingOnly).
  bool workOnly = false;
  std::optional<QString> cashRegister;                       // one register only (GetSoma)
  Restriction sales;                                         // keys CDFILIAL||NRSEQVENDA
  Restriction cashRegisters;                                 // keys CDFILIAL||CDCAIXA
  Restriction consumptionTypes;                              // CDTIPOCONS
  Restriction customers;                                     // CDCLIENTE
  std::optional<std::pair<QString, QString>> customerNames;  // interval, upper case
  Restriction costCentres;                                   // CDCLIENTE||CDCCUSCLIE
  Restriction products;                                      // CDPRODUTO

  // The one test of a row against the lists, on its keys as read.
  bool accepts(const SaleKeys& keys) const;
};

// A restriction from an all-flag and its list.
inline Restriction restriction(bool all, const std::string& list) {
  return all ? Restriction() : Restriction(ListText(list));
}

// Customers: all, an interval of company names (compared in upper case), or
// a list of codes.
void restrictCustomers(SaleFilter& filter, bool all, bool interval, const QString& from, const QString& to,
                       const std::string& list);

// A PostgreSQL row address (ctid) as SaleItem::rowId holds it, and back.
int64_t rowAddressFromText(std::string_view ctid);
std::string rowAddressText(int64_t rowId);

// What the visitor reads of each item: everything, or only the sale's keys
// (branch, sale, register, day, consumption type), the item's amounts and its
// posting state, in no particular order (cheaper: no product or customer
// join, no sort). A filter that restricts products or customers always
// gets everything. Posting: in no particular order (the run groups the items
// by day itself), only the fields the run uses (keys, day and moment,
// product and its flags, amounts, situation) and each item row's address
// (ROWID, ctid), by which the run stamps the rows. Sales: each sale that
// holds a selected item, once, with the keys and day of Amounts and no item
// (a filter that restricts products or customers gets every item).
enum class ItemDetail { Full, Amounts, Posting, Sales };

// The SELECT forEachSaleRow runs for `filter` on this connection's
// database ("?" parameters: branch, store, first and last day, then the
// register when there is one).
QString saleSelectionText(const QSqlDatabase& db, const SaleFilter& filter, ItemDetail detail);
QString saleSelectionText(bool sqlite, const SaleFilter& filter, ItemDetail detail);

// Columns of the row forEachSaleRow hands over with every detail.
namespace saleColumn {
enum : int {
  branch,
  sale,
  store,
  cashRegister,
  day,
  entered,
  receipt,
  customer,
  costCentre,
  consumptionType,
  consumerName,
  situation,
  paymentType,
  printType,
  item,
  product,
  quantity,
  unitPrice,
  discount,
  stockBranch,
  stockPosting,
  noteBranch,
  notePosting,
  productName,
  productTree,
  stockProduct,
  customerName = 30,
  rowAddress,  // ItemDetail::Posting only: ROWID or ctid
  postable,    // ItemDetail::Posting only: 1 where salerules::postable holds
};
}  // namespace saleColumn

class RepeatedTexts;

struct SaleRow {
  const sql::Cells& cells;  // saleColumn order with ItemDetail::Full
  SaleKeys keys;
  std::string_view day;      // DTVENDA as stored
  bool amountsOnly = false;  // the cells are the shorter query's (see ItemDetail)
  bool sqliteRowId = false;  // the posting read's row address is a ROWID, not a ctid
  // ItemDetail::Posting only: the texts kept across its rows; item() then
  // fills what the run uses and the row's address
  RepeatedTexts* repeated = nullptr;

  // Quantity, unit price and discount, from either layout (ItemDetail::Sales
  // reads none).
  SaleItem amounts() const;
  // The item's fields (with ItemDetail::Posting, only the fields that detail
  // names, and the row's address).
  SaleItem item() const;
};

// The one reader of the selection: calls back for each selected item that
// the filter accepts, its row handed as the database's own cells (no QVariant,
// no QString per cell unless asked for: see SaleRow::item). With every detail,
// ordered by register, sale moment, sale and item. The visitor must not run
// statements on `db`: on PostgreSQL the rows may still be arriving.
Status forEachSaleRow(QSqlDatabase& db, const SaleFilter& filter, const std::function<void(const SaleRow&)>& visit,
                      ItemDetail detail = ItemDetail::Full, sql::RowReader reader = sql::RowReader::Fastest);

}  // namespace qfx::server
