#include "domain/posting_engine.h"

#include <QDateTime>
#include <QSqlQuery>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "common/wire_date.h"
#include "db/rows.h"
#include "db/sql.h"
#include "domain/number_series.h"
#include "domain/packets.h"
#include "domain/run_record.h"
#include "domain/sale_rules.h"
#include <proto/contract_refusals.h>

namespace qfx::server::posting {

namespace refusals = contract::refusals;

namespace {

constexpr int kAttempts = 6;
constexpr double kTolerance = 1e-9;  // sums of fractional quantities are not exact

// Losing a race: the whole run is tried again and no longer sees those items.
Error lostRace() {
  return Error{ErrorKind::Conflict, "itens da seleção foram lançados por outra consolidação ao mesmo tempo"};
}

bool worthRetrying(const Error& error) {
  return error.kind == ErrorKind::Unavailable || error.kind == ErrorKind::Conflict;
}

// A lost database session fails every later statement as well: trying again
// on it would only bury the clear error under "no connection to the server".
bool connectionUsable(QSqlDatabase& db) {
  QSqlQuery probe(db);
  return probe.exec(QStringLiteral("SELECT 1"));
}

using series::number10;

QString textOf(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

// The run's reads and small writes go by the database's C library (see
// sql::openRows): on PostgreSQL one round trip each instead of three.
using RowsResult = Result<std::unique_ptr<sql::Rows>>;

// Whether `text` finds a row.
Result<bool> exists(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  RowsResult rows = sql::openRows(db, text, values);
  if (!rows) return rows.error();
  return (*rows)->next();
}

// Days as the operator reads them, for the details beside a message.
QString dayForOperator(const QDate& day) { return day.toString(QStringLiteral("dd/MM/yyyy")); }
QString daysForOperator(const std::set<QDate>& days) {
  QStringList texts;
  for (const QDate& day : days) texts << dayForOperator(day);
  return texts.join(QStringLiteral(", "));
}

struct Location {
  QString branch, warehouse, place;
};

// What the run keeps of a selected item: a month of a large branch is held
// at once, so only what it uses, with the quantity and money signed (a
// return brings stock and money back).
struct PostedItem {
  QString sale, item, product, stockProduct;
  QVariant productName;
  QDate day;
  bool dated = false;  // the sale's day and moment read as dates (not damaged in the database)
  double quantityOut = 0;
  qint64 cents = 0;
  int64_t rowId = 0;
  bool productKnown = false, productActive = false, productRegistered = false;
  bool postable = false;  // salerules::postable, as read

  static PostedItem of(const SaleItem& s, bool momentReadable) {
    const bool back = s.isReturn();
    return PostedItem{s.sale,
                      s.item,
                      s.product,
                      s.stockProduct,
                      s.productName,
                      s.day,
                      s.day.isValid() && momentReadable,
                      back ? -s.quantity : s.quantity,
                      back ? -s.totalCents() : s.totalCents(),
                      s.rowId,
                      s.productKnown,
                      s.productActive,
                      s.productRegistered,
                      s.postable};
  }
};
using PostedItems = std::vector<const PostedItem*>;

// One attempt of the run, inside one transaction.
class Run {
 public:
  Run(QSqlDatabase& db, Dialect dialect, const Request& request, const CallLimits& limits)
      : db_(db), dialect_(dialect), request_(request), limits_(limits) {
    outcome_.errors = emptyErrorList();
    outcome_.blocked = emptyBlockedList();
  }

  Result<Outcome> execute();

 private:
  Status loadBranch();
  Status loadStockLocation();
  Status checkCodes();
  Status checkPeriod() const;
  Status lockSeries();
  Status selectItems();
  Status checkWithdrawalRelation() const;
  bool collectBlocked();
  Status dropImplantationDays();
  Result<bool> checkStock();  // true: post nothing
  Status post();
  Status insertLines(const QString& stockNumber, const std::map<QString, double>& lines);
  Status postDay(const QDate& day, const PostedItems& items, const QString& stockNumber, const QString& noteNumber);
  Status postDaysTogether(const std::map<QDate, PostedItems>& byDay, int64_t firstStock, int64_t firstNote);
  Status runArrays(const std::string& text, const std::vector<QString>& values, const char* what);
  Status claimByCtid(const std::map<QDate, PostedItems>& byDay, int64_t firstStock, int64_t firstNote);
  Status claimByRowId(const std::map<QDate, PostedItems>& byDay, int64_t firstStock, int64_t firstNote);
  Status stamp(const std::string& text, const std::vector<std::optional<std::string>>& values, size_t items);
  Status moveBalances();
  std::map<QString, double> quantitiesOut(const PostedItems& items) const;

  QSqlDatabase& db_;
  Dialect dialect_;
  const Request& request_;
  const CallLimits& limits_;

  QString negativeAllowed_, convertNegative_;
  std::optional<QDate> processingDate_, stockClosedDate_;
  int maxDays_ = 0;
  Location stock_;
  std::deque<PostedItem> selected_;  // never moved as it grows: postable_ points into it
  PostedItems postable_;
  Outcome outcome_;
};

Status Run::loadBranch() {
  RowsResult q = sql::openRows(db_,
                               QStringLiteral("SELECT IDCTRLESTQ, IDPERMESTNEG, DTPROCESSAMENTO, DTFECHAESTQ, "
                                              "NRDIASMAXCONS FROM PARAMFILIAL WHERE CDFILIAL = ?"),
                               {request_.branch});
  if (!q) return q.error();
  auto found = (*q)->next();
  if (!found) return found.error();
  if (!*found) return refused(refusals::kBranchKeepsNoStock);  // a branch without parameters controls nothing
  const sql::Rows& r = **q;
  if (textOf(r.value(0)) != QLatin1String("S")) return refused(refusals::kBranchKeepsNoStock);
  negativeAllowed_ = textOf(r.value(1));
  processingDate_ = wiredate::dayFromDatabase(r.value(2));
  stockClosedDate_ = wiredate::dayFromDatabase(r.value(3));
  maxDays_ = r.value(4).toInt();
  return success();
}

Status Run::loadStockLocation() {
  RowsResult store = sql::openRows(
      db_, QStringLiteral("SELECT CDALMOXARIFE, CDLOCALESTOQ FROM LOJA WHERE CDFILIAL = ? AND CDLOJA = ?"),
      {request_.branch, request_.store});
  if (!store) return store.error();
  auto storeFound = (*store)->next();
  if (!storeFound) return storeFound.error();
  if (!*storeFound)
    return invalidArgument("loja '" + request_.store.toStdString() + "' não cadastrada na filial " +
                           request_.branch.toStdString());
  stock_ = {request_.branch, textOf((*store)->value(0)), textOf((*store)->value(1))};
  RowsResult sales = sql::openRows(db_,
                                   QStringLiteral("SELECT IDPERCONVESTNEG, IDUTILESTCENT, CDFILIESTCENT, "
                                                  "CDALMOXESTCENT, CDLOCALESTCENT FROM PARAVEND WHERE CDFILIAL = ?"),
                                   {request_.branch});
  if (!sales) return sales.error();
  auto salesFound = (*sales)->next();
  if (!salesFound) return salesFound.error();
  if (*salesFound) {
    const sql::Rows& r = **sales;
    convertNegative_ = textOf(r.value(0));
    // central stock: the central branch's warehouse and location, where given
    if (textOf(r.value(1)) == QLatin1String("S") && !textOf(r.value(2)).isEmpty()) {
      stock_.branch = textOf(r.value(2));
      if (!textOf(r.value(3)).isEmpty()) stock_.warehouse = textOf(r.value(3));
      if (!textOf(r.value(4)).isEmpty()) stock_.place = textOf(r.value(4));
    }
  }
  if (stock_.warehouse.isEmpty() || stock_.place.isEmpty())
    return invalidArgument("a loja '" + request_.store.toStdString() + "' da filial " + request_.branch.toStdString() +
                           " não tem almoxarifado e local de estoque cadastrados");
  return success();
}

Status Run::checkCodes() {
  auto type = exists(db_, QStringLiteral("SELECT 1 FROM TIPORETI WHERE CDTIPORETI = ?"), {request_.withdrawalType});
  if (!type) return type.error();
  if (!*type) return invalidArgument("tipo de retirada '" + request_.withdrawalType.toStdString() + "' não cadastrado");
  auto sector = exists(db_, QStringLiteral("SELECT 1 FROM SETOR WHERE CDSETOR = ?"), {request_.sector});
  if (!sector) return sector.error();
  if (!*sector) return invalidArgument("setor '" + request_.sector.toStdString() + "' não cadastrado");
  return success();
}

Status Run::checkPeriod() const {
  const QDate first = request_.filter.first, last = request_.filter.last;
  if (first > last) return invalidArgument("SemGeraNF: o período começa depois de terminar");
  const QDate processing = processingDate_.value_or(request_.today);
  if (last > processing)
    return refused(refusals::kAfterProcessingDate,
                   QStringLiteral("Último dia do período: %1. Data de processamento da filial: %2.")
                       .arg(dayForOperator(last), dayForOperator(processing))
                       .toStdString());
  if (stockClosedDate_ && first <= *stockClosedDate_)
    return refused(refusals::kStockClosed,
                   QStringLiteral("O estoque da filial está fechado até %1: o período deve começar depois desse dia "
                                  "(começa em %2).")
                       .arg(dayForOperator(*stockClosedDate_), dayForOperator(first))
                       .toStdString());
  if (maxDays_ > 0 && first.daysTo(last) + 1 > maxDays_)
    return refused(refusals::kPeriodTooLong,
                   QStringLiteral("O período informado tem %1 dias; a filial permite consolidar no máximo %2 "
                                  "dias de cada vez.")
                       .arg(first.daysTo(last) + 1)
                       .arg(maxDays_)
                       .toStdString());
  return success();
}

// Takes the number series' row locks before reading the selection: runs of
// the same branch wait here for each other, and each then reads what the one
// before it committed (PostgreSQL read committed; SQLite holds its write lock
// since BEGIN IMMEDIATE anyway). The stock series is always locked first.
Status Run::lockSeries() {
  if (auto s = series::lock(db_, stock_.branch, series::kStock); !s) return s;
  return series::lock(db_, request_.branch, series::kNote);
}

Status Run::selectItems() {
  // a month of a large branch is read here, in no order: post() groups the
  // items by day. A sale's items come together: its moment is read once.
  QString lastSale;
  bool momentReadable = false;
  const auto keep = [&](const SaleRow& row) {
    const SaleItem item = row.item();
    if (selected_.empty() || item.sale != lastSale) {
      lastSale = item.sale;
      momentReadable = wiredate::fromDatabase(item.entered).has_value();
    }
    selected_.push_back(PostedItem::of(item, momentReadable));
  };
  if (auto read = forEachSaleRow(db_, request_.filter, keep, ItemDetail::Posting); !read) return read;
  // a posting needs the sale's day; a damaged one stops the run before any write
  for (const PostedItem& item : selected_) {
    if (!item.dated)
      return internalError("venda " + item.sale.toStdString() + " da filial " + request_.branch.toStdString() +
                           " com data inválida no banco; corrija-a antes de consolidar");
  }
  return success();
}

// A withdrawal type with related products moves only those.
Status Run::checkWithdrawalRelation() const {
  RowsResult q = sql::openRows(db_, QStringLiteral("SELECT CDPRODUTO FROM PRODTIPORETI WHERE CDTIPORETI = ?"),
                               {request_.withdrawalType});
  if (!q) return q.error();
  std::set<QString> related;
  auto read = sql::forEachRow(**q, [&](const sql::Cells& row) { related.insert(row.value(0).toString()); });
  if (!read) return read;
  if (related.empty()) return success();
  for (const PostedItem& item : selected_)
    if (item.postable && !related.count(item.stockProduct)) return refused(refusals::kProductNotOfWithdrawalType);
  return success();
}

// Why a product blocks the run, as the letters of IDMOTIVOBLOQ; empty when it does not.
QString blockingReasons(const PostedItem& item) {
  if (!item.productKnown) return QString(QLatin1Char(contract::kBlockedUnknown));
  QString reasons;
  if (!item.productActive) reasons += QLatin1Char(contract::kBlockedInactive);
  if (!item.productRegistered) reasons += QLatin1Char(contract::kBlockedNotInBranch);
  return reasons;
}

bool Run::collectBlocked() {
  struct Blocked {
    QVariant name;
    QString reasons;
  };
  std::map<QString, Blocked> blocked;
  for (const PostedItem& item : selected_)
    if (QString reasons = blockingReasons(item); !reasons.isEmpty())
      blocked.emplace(item.product, Blocked{item.productName, std::move(reasons)});
  constexpr const auto& fields = contract::fields::blockedProducts;
  auto& c = outcome_.blocked.columns;
  for (const auto& [code, product] : blocked) {
    packets::putText(c[contract::indexOf(fields, "CDPRODUTO")], code);
    packets::putText(c[contract::indexOf(fields, "NMPRODUTO")], product.name);
    packets::putText(c[contract::indexOf(fields, "IDMOTIVOBLOQ")], product.reasons);
  }
  return !blocked.empty();
}

// A day whose last posting in the stock warehouse is an implantation or an
// inventory adjustment stays as it is. The period's postings of the
// warehouse are read at once, each day's last first (a query per day was a
// round trip each on PostgreSQL).
Status Run::dropImplantationDays() {
  std::set<QDate> days, closed;
  for (const PostedItem* item : postable_) days.insert(item->day);
  RowsResult q = sql::openRows(
      db_,
      QStringLiteral("SELECT DTLANCESTQ, IDTIPOLANC FROM LANCESTQ WHERE CDFILIAL = ? AND CDALMOXARIFE = ? "
                     "AND DTLANCESTQ >= ? AND DTLANCESTQ <= ? ORDER BY DTLANCESTQ, NRLANCESTQ DESC"),
      {stock_.branch, stock_.warehouse, wiredate::dayText(*days.begin()), wiredate::dayText(*days.rbegin())});
  if (!q) return q.error();
  std::optional<QDate> previous;
  auto read = sql::forEachRow(**q, [&](const sql::Cells& row) {
    const std::optional<QDate> day = wiredate::dayFromDatabase(row.value(0));
    if (!day || day == previous) return;  // only each day's last posting counts
    previous = day;
    const QString type = row.value(1).toString();
    if (days.count(*day) && (type == QLatin1String("I") || type == QLatin1String("A"))) closed.insert(*day);
  });
  if (!read) return read;
  if (closed.empty()) return success();
  if (closed.size() == days.size())
    return refused(refusals::kDaysClosedByAdjustment,
                   QStringLiteral("Dias com implantação ou ajuste como último lançamento: %1.")
                       .arg(daysForOperator(closed))
                       .toStdString());
  std::erase_if(postable_, [&](const PostedItem* item) { return closed.count(item->day) > 0; });
  outcome_.messageKey = QStringLiteral("ULT_LANC_DIA");
  outcome_.details = QStringLiteral("Dias não consolidados: %1.").arg(daysForOperator(closed));
  return success();
}

std::map<QString, double> Run::quantitiesOut(const PostedItems& items) const {
  std::map<QString, double> out;  // by stock product, in product order
  for (const PostedItem* item : items) out[item->stockProduct] += item->quantityOut;
  return out;
}

Result<bool> Run::checkStock() {
  RowsResult q = sql::openRows(db_,
                               QStringLiteral("SELECT S.CDPRODUTO, S.QTSALDOESTQ FROM SALDOESTQ S WHERE S.CDFILIAL = ? "
                                              "AND S.CDALMOXARIFE = ? AND S.CDLOCALESTOQ = ?"),
                               {stock_.branch, stock_.warehouse, stock_.place});
  if (!q) return q.error();
  std::map<QString, double> balances;
  auto read = sql::forEachRow(**q, [&](const sql::Cells& row) { balances[row.value(0).toString()] = row.number(1); });
  if (!read) return read.error();
  auto& c = outcome_.errors.columns;
  for (const auto& [product, out] : quantitiesOut(postable_)) {
    const double current = balances.count(product) ? balances[product] : 0.0;
    if (current - out >= -kTolerance) continue;
    auto name = sql::run(db_, QStringLiteral("SELECT NMPRODUTO FROM PRODUTO WHERE CDPRODUTO = ?"), {product});
    if (!name) return name.error();
    const QString productName = name->next() ? name->value(0).toString() : QString();
    constexpr const auto& fields = contract::fields::postingErrors;
    packets::putText(c[contract::indexOf(fields, "CDERRO")], QStringLiteral("LIB00200_3"));
    packets::putText(c[contract::indexOf(fields, "CDOBJETO2")], product + QLatin1Char(' ') + productName);
    packets::putText(c[contract::indexOf(fields, "CDOBJETO3")], stock_.warehouse);
    packets::putText(c[contract::indexOf(fields, "CDOBJETO4")], stock_.place);
    packets::putNumber(c[contract::indexOf(fields, "CDOBJETO5")], current);
    packets::putNumber(c[contract::indexOf(fields, "QTLANCESTQ")], out);
    packets::putNumber(c[contract::indexOf(fields, "QTSALDOFINAL")], current - out);
  }
  if (outcome_.errors.rowCount() == 0) return false;
  // negative stock permitted: the screen asks and calls again without the check
  if (negativeAllowed_ == QLatin1String("S")) return true;
  // not permitted and not to be converted: the screen refuses the run
  return convertNegative_ == QLatin1String("N");
}

// SQLite: one update stamps every item of the run, found by the ROWID the
// selection read in this same write transaction, each with its day's place
// among the run's days, from which its two numbers follow. The pairs go as
// one JSON array, in ROWID order. One statement per day measured half as
// slow again; one per item, most of a run's time; a row-value IN list of
// keys makes SQLite walk the branch's pending index for every statement.
Status Run::claimByRowId(const std::map<QDate, PostedItems>& byDay, int64_t firstStock, int64_t firstNote) {
  std::vector<std::pair<int64_t, int>> places;  // ROWID, day
  int day = 0;
  for (const auto& [date, items] : byDay) {
    for (const PostedItem* item : items) {
      if (item->rowId <= 0) return internalError("item de venda lido sem o ROWID da linha");
      places.emplace_back(item->rowId, day);
    }
    ++day;
  }
  std::sort(places.begin(), places.end());
  std::string pairs = "[";
  for (const auto& [rowId, place] : places) {
    if (pairs.size() > 1) pairs += ',';
    pairs += '[' + std::to_string(rowId) + ',' + std::to_string(place) + ']';
  }
  pairs += ']';
  return stamp(sqliteStampText(),
               {pairs, stock_.branch.toStdString(), std::to_string(firstStock), request_.branch.toStdString(),
                std::to_string(firstNote), request_.branch.toStdString()},
               places.size());
}

// Runs a stamping update, which must change one row per item.
Status Run::stamp(const std::string& text, const std::vector<std::optional<std::string>>& values, size_t items) {
  auto update = sql::openRows(db_, text, values);
  if (!update) return update.error();
  if (auto done = (*update)->next(); !done) return done.error();
  // fewer rows than items: another run claimed some of them first
  if ((*update)->changes() != int64_t(items)) return lostRace();
  return success();
}

// A PostgreSQL array literal, each element quoted.
QString arrayLiteral(const QStringList& elements) {
  QString array = QStringLiteral("{");
  for (QString element : elements) {
    if (array.size() > 1) array += QLatin1Char(',');
    element.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    array += QLatin1Char('"') + element + QLatin1Char('"');
  }
  return array + QLatin1Char('}');
}

// A PostgreSQL array literal built element by element as UTF-8, each element
// quoted: for the run's arrays of every item, where a QString per element
// and its conversion took as long as a tenth of the run.
class ArrayText {
 public:
  explicit ArrayText(size_t elements) { text_.reserve(2 + elements * 14); }
  void add(std::string_view element) {
    open();
    for (char c : element) {
      if (c == '\\' || c == '"') text_ += '\\';
      text_ += c;
    }
    text_ += '"';
  }
  void add(const QString& element) {
    for (QChar c : element) {
      if (c.unicode() >= 0x80) {
        const QByteArray utf8 = element.toUtf8();
        return add(std::string_view(utf8.constData(), size_t(utf8.size())));
      }
    }
    open();
    for (QChar c : element) {
      if (c == QLatin1Char('\\') || c == QLatin1Char('"')) text_ += '\\';
      text_ += char(c.unicode());
    }
    text_ += '"';
  }
  void add(int64_t number) {
    open();
    appendNumber(number);
    text_ += '"';
  }
  // PostgreSQL's ctid of an address (see rowAddressText): "(block,line)"
  void addAddress(int64_t rowId) {
    open();
    text_ += '(';
    appendNumber(rowId / 65536);
    text_ += ',';
    appendNumber(rowId % 65536);
    text_ += ")\"";
  }
  std::string done() && {
    text_ += '}';
    return std::move(text_);
  }

 private:
  void open() { text_ += text_.size() > 1 ? ",\"" : "\""; }
  void appendNumber(int64_t n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    text_.append(digits, end);
  }
  std::string text_{"{"};
};

// PostgreSQL: one update likewise, each row found by the ctid the selection
// read and checked against its keys (between two statements another
// transaction may have moved the row and vacuum reused its place), with the
// day's numbers taken from two arrays by the day's place. (Lists of 200 keys
// per update took 1.5 s for 100 000 items; one update joined to a day's keys
// was slower still.)
Status Run::claimByCtid(const std::map<QDate, PostedItems>& byDay, int64_t firstStock, int64_t firstNote) {
  size_t count = 0;
  for (const auto& [date, dayItems] : byDay) count += dayItems.size();
  ArrayText addresses(count), sales(count), items(count), places(count), stockNumbers(byDay.size()),
      noteNumbers(byDay.size());
  int64_t place = 0;
  for (const auto& [date, dayItems] : byDay) {
    stockNumbers.add(number10(firstStock + place));
    noteNumbers.add(number10(firstNote + place));
    ++place;  // PostgreSQL arrays count from 1
    for (const PostedItem* item : dayItems) {
      if (item->rowId <= 0) return internalError("item de venda lido sem o endereço da linha");
      addresses.addAddress(item->rowId);
      sales.add(item->sale);
      items.add(item->item);
      places.add(place);
    }
  }
  return stamp(postgresStampText(),
               {stock_.branch.toStdString(), std::move(stockNumbers).done(), request_.branch.toStdString(),
                std::move(noteNumbers).done(), std::move(addresses).done(), std::move(sales).done(),
                std::move(items).done(), std::move(places).done(), request_.branch.toStdString()},
               count);
}

// SQLite: the stock posting's product lines by one kept statement (in
// process, a statement per line costs no round trip; PostgreSQL writes them
// with the run's other lines, in postDaysTogether).
Status Run::insertLines(const QString& stockNumber, const std::map<QString, double>& lines) {
  QSqlQuery q(db_);
  if (!q.prepare(QStringLiteral("INSERT INTO ITLANCESTQ (CDFILIAL, NRLANCESTQ, CDPRODUTO, QTLANCESTQ) "
                                "VALUES (?, ?, ?, ?)")))
    return sql::toError(q.lastError(), QStringLiteral("linhas do lançamento de estoque"));
  q.bindValue(0, stock_.branch);
  q.bindValue(1, stockNumber);
  for (const auto& [product, out] : lines) {
    q.bindValue(2, product);
    q.bindValue(3, out);
    if (auto done = sql::exec(q, QStringLiteral("linhas do lançamento de estoque")); !done) return done;
  }
  return success();
}

// SQLite: one day's stock posting, its lines and its fiscal-note entry.
Status Run::postDay(const QDate& day, const PostedItems& items, const QString& stockNumber, const QString& noteNumber) {
  const QString now = wiredate::momentText(QDateTime::currentDateTime());
  auto header =
      sql::run(db_,
               QStringLiteral("INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, "
                              "CDALMOXARIFE, CDLOCALESTOQ, CDTIPORETI, CDSETOR, CDOPERADOR, CDFILIALVENDA, "
                              "CDLOJA, DTINCLUSAO) VALUES (?, ?, ?, 'V', ?, ?, ?, ?, ?, ?, ?, ?)"),
               {stock_.branch, stockNumber, wiredate::dayText(day), stock_.warehouse, stock_.place,
                request_.withdrawalType, request_.sector, request_.operatorCode, request_.branch, request_.store, now});
  if (!header) return header.error();
  if (auto lines = insertLines(stockNumber, quantitiesOut(items)); !lines) return lines;
  qint64 cents = 0;
  for (const PostedItem* item : items) cents += item->cents;
  auto note =
      sql::run(db_,
               QStringLiteral("INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTLANCTONF, CDFILIALEST, NRLANCESTQ, "
                              "CDOPERADOR, VRTOTLANCTONF, QTITENS, DTINCLUSAO) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
               {request_.branch, noteNumber, wiredate::dayText(day), stock_.branch, stockNumber, request_.operatorCode,
                double(cents) / 100.0, int(items.size()), now});
  if (!note) return note.error();
  return success();
}

// Runs one statement of array parameters with the database's C library:
// one round trip, where Qt's driver takes three (prepare, execute, release).
Status Run::runArrays(const std::string& text, const std::vector<QString>& values, const char* what) {
  std::vector<std::optional<std::string>> texts;
  for (const QString& value : values) texts.emplace_back(value.toStdString());
  auto rows = sql::openRows(db_, text, texts);
  if (!rows) return rows.error();
  if (auto done = (*rows)->next(); !done) return Error{done.error().kind, what + (": " + done.error().message)};
  return success();
}

// PostgreSQL: every day's stock posting, its product lines and its
// fiscal-note entry in three statements of arrays, the run's days in turn,
// where a statement per day (three per day with the lines) was a round trip
// each, and three with Qt's driver.
Status Run::postDaysTogether(const std::map<QDate, PostedItems>& byDay, int64_t firstStock, int64_t firstNote) {
  const QString now = wiredate::momentText(QDateTime::currentDateTime());
  QStringList stockNumbers, noteNumbers, days, totals, counts, lineNumbers, lineProducts, lineQuantities;
  for (const auto& [day, items] : byDay) {
    const QString stockNumber = number10(firstStock + stockNumbers.size());
    stockNumbers << stockNumber;
    noteNumbers << number10(firstNote + noteNumbers.size());
    days << wiredate::dayText(day);
    qint64 cents = 0;
    for (const PostedItem* item : items) cents += item->cents;
    totals << QString::number(double(cents) / 100.0, 'g', 17);  // the double as it is, read back exactly
    counts << QString::number(items.size());
    for (const auto& [product, out] : quantitiesOut(items)) {
      lineNumbers << stockNumber;
      lineProducts << product;
      lineQuantities << QString::number(out, 'g', 17);
    }
  }
  if (auto s = runArrays(
          "INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, CDLOCALESTOQ, CDTIPORETI, "
          "CDSETOR, CDOPERADOR, CDFILIALVENDA, CDLOJA, DTINCLUSAO) SELECT CAST(? AS VARCHAR), H.N, H.D, 'V', "
          "CAST(? AS VARCHAR), CAST(? AS VARCHAR), CAST(? AS VARCHAR), CAST(? AS VARCHAR), CAST(? AS VARCHAR), "
          "CAST(? AS VARCHAR), CAST(? AS VARCHAR), CAST(? AS TIMESTAMP) FROM UNNEST(CAST(? AS VARCHAR[]), "
          "CAST(? AS DATE[])) AS H (N, D)",
          {stock_.branch, stock_.warehouse, stock_.place, request_.withdrawalType, request_.sector,
           request_.operatorCode, request_.branch, request_.store, now, arrayLiteral(stockNumbers), arrayLiteral(days)},
          "lançamentos de estoque");
      !s)
    return s;
  if (auto s = runArrays(
          "INSERT INTO ITLANCESTQ (CDFILIAL, NRLANCESTQ, CDPRODUTO, QTLANCESTQ) SELECT CAST(? AS "
          "VARCHAR), L.N, L.P, L.Q FROM UNNEST(CAST(? AS VARCHAR[]), CAST(? AS VARCHAR[]), CAST(? AS "
          "DOUBLE PRECISION[])) AS L (N, P, Q)",
          {stock_.branch, arrayLiteral(lineNumbers), arrayLiteral(lineProducts), arrayLiteral(lineQuantities)},
          "linhas do lançamento de estoque");
      !s)
    return s;
  return runArrays(
      "INSERT INTO LANCTONF (CDFILIAL, NRLANCTONF, DTLANCTONF, CDFILIALEST, NRLANCESTQ, CDOPERADOR, VRTOTLANCTONF, "
      "QTITENS, DTINCLUSAO) SELECT CAST(? AS VARCHAR), F.NF, F.D, CAST(? AS VARCHAR), F.N, CAST(? AS VARCHAR), F.V, "
      "F.Q, CAST(? AS TIMESTAMP) FROM UNNEST(CAST(? AS VARCHAR[]), CAST(? AS DATE[]), CAST(? AS VARCHAR[]), CAST(? AS "
      "DOUBLE PRECISION[]), CAST(? AS INTEGER[])) AS F (NF, D, N, V, Q)",
      {request_.branch, stock_.branch, request_.operatorCode, now, arrayLiteral(noteNumbers), arrayLiteral(days),
       arrayLiteral(stockNumbers), arrayLiteral(totals), arrayLiteral(counts)},
      "lançamentos de nota fiscal");
}

// Balances move once per product for the whole run, in product order, so two
// transactions never lock the same balances in opposite orders. On
// PostgreSQL in one statement of arrays (a statement per product was a round
// trip each), its rows taken in the same order.
Status Run::moveBalances() {
  if (dialect_ == Dialect::PostgreSQL) {
    QStringList products, deltas;
    for (const auto& [product, out] : quantitiesOut(postable_)) {
      products << product;
      deltas << QString::number(-out, 'g', 17);
    }
    return runArrays(
        "INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ) SELECT "
        "CAST(? AS VARCHAR), CAST(? AS VARCHAR), CAST(? AS VARCHAR), B.P, B.Q FROM UNNEST(CAST(? AS "
        "VARCHAR[]), CAST(? AS DOUBLE PRECISION[])) WITH ORDINALITY AS B (P, Q, K) ORDER BY B.K ON "
        "CONFLICT (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO) DO UPDATE SET QTSALDOESTQ = "
        "SALDOESTQ.QTSALDOESTQ + EXCLUDED.QTSALDOESTQ",
        {stock_.branch, stock_.warehouse, stock_.place, arrayLiteral(products), arrayLiteral(deltas)},
        "saldos de estoque");
  }
  for (const auto& [product, out] : quantitiesOut(postable_)) {
    auto moved = sql::run(db_,
                          QStringLiteral("INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, "
                                         "QTSALDOESTQ) VALUES (?, ?, ?, ?, ?) ON CONFLICT (CDFILIAL, CDALMOXARIFE, "
                                         "CDLOCALESTOQ, CDPRODUTO) DO UPDATE SET QTSALDOESTQ = "
                                         "SALDOESTQ.QTSALDOESTQ + EXCLUDED.QTSALDOESTQ"),
                          {stock_.branch, stock_.warehouse, stock_.place, product, -out});
    if (!moved) return moved.error();
  }
  return success();
}

Status Run::post() {
  // days ascending, each with its postings' numbers in turn; the order of a
  // day's items changes nothing written
  std::map<QDate, PostedItems> byDay;
  for (const PostedItem* item : postable_) byDay[item->day].push_back(item);
  auto firstStock = series::allocate(db_, stock_.branch, series::kStock, int64_t(byDay.size()),
                                     QStringLiteral("LANCESTQ"), QStringLiteral("NRLANCESTQ"));
  if (!firstStock) return firstStock.error();
  auto firstNote = series::allocate(db_, request_.branch, series::kNote, int64_t(byDay.size()),
                                    QStringLiteral("LANCTONF"), QStringLiteral("NRLANCTONF"));
  if (!firstNote) return firstNote.error();
  const int64_t offset = int64_t(byDay.size());
  if (dialect_ == Dialect::PostgreSQL) {
    if (auto s = postDaysTogether(byDay, *firstStock, *firstNote); !s) return s;
  } else {
    int64_t day = 0;
    for (const auto& [date, items] : byDay) {
      if (auto s = postDay(date, items, number10(*firstStock + day), number10(*firstNote + day)); !s) return s;
      ++day;
    }
  }
  // the whole run's items at once, after the last day
  auto claimed = dialect_ == Dialect::SQLite ? claimByRowId(byDay, *firstStock, *firstNote)
                                             : claimByCtid(byDay, *firstStock, *firstNote);
  if (!claimed) return claimed;
  outcome_.firstPosting = *firstStock;
  outcome_.lastPosting = *firstStock + offset - 1;
  outcome_.itemsPosted = int64_t(postable_.size());
  return moveBalances();
}

Result<Outcome> Run::execute() {
  auto tx = sql::Transaction::begin(db_, dialect_);
  if (!tx) return tx.error();
  // asked again: the run's first answer, whatever has changed since
  if (!request_.runId.isEmpty()) {
    auto stored = storedOutcome(db_, request_);
    if (!stored) return stored.error();
    if (*stored) return std::move(**stored);
  }
  for (auto step : {&Run::loadBranch, &Run::loadStockLocation, &Run::checkCodes}) {
    if (auto s = (this->*step)(); !s) return s.error();
  }
  if (auto s = checkPeriod(); !s) return s.error();
  if (auto s = lockSeries(); !s) return s.error();
  if (auto s = selectItems(); !s) return s.error();
  if (auto s = checkWithdrawalRelation(); !s) return s.error();
  if (collectBlocked()) return outcome_;  // nothing posted; the rollback undoes the series rows
  for (const PostedItem& item : selected_)
    if (item.postable) postable_.push_back(&item);
  if (postable_.empty()) return outcome_;
  if (auto s = dropImplantationDays(); !s) return s.error();
  if (request_.checkStock) {
    auto postNothing = checkStock();
    if (!postNothing) return postNothing.error();
    if (*postNothing) return outcome_;
  }
  if (auto s = post(); !s) return s.error();
  if (!request_.runId.isEmpty()) {
    if (auto s = storeOutcome(db_, request_, outcome_); !s) return s.error();
  }
  // a client that gave up saw a failure: it must find nothing posted
  if (limits_.cancelled()) return Error{ErrorKind::Unavailable, "chamada cancelada pelo cliente; nada foi lançado"};
  if (auto s = tx->commit(); !s) return s.error();
  return outcome_;
}

}  // namespace

// Both stamps claim an item only while it is pending: another run that took
// it first leaves the update a row short.
std::string sqliteStampText() {
  // MATERIALIZED: the pairs are read once, then each row is found by its ROWID
  return "WITH K (ID, DIA) AS MATERIALIZED (SELECT value ->> 0, value ->> 1 FROM json_each(?)) "
         "UPDATE ITVENDA SET CDFILIALEST = ?, NRLANCESTQ = printf('%010d', ? + K.DIA), CDFILIALNF = ?, "
         "NRLANCTONF = printf('%010d', ? + K.DIA) FROM K WHERE ITVENDA.ROWID = K.ID AND ITVENDA.CDFILIAL = ? AND " +
         salerules::pending("ITVENDA");
}

std::string postgresStampText() {
  return "UPDATE ITVENDA AS I SET CDFILIALEST = ?, NRLANCESTQ = (CAST(? AS VARCHAR[]))[K.DIA], CDFILIALNF = ?, "
         "NRLANCTONF = (CAST(? AS VARCHAR[]))[K.DIA] FROM UNNEST(CAST(? AS TID[]), CAST(? AS VARCHAR[]), "
         "CAST(? AS VARCHAR[]), CAST(? AS INTEGER[])) AS K (ENDERECO, VENDA, ITEM, DIA) WHERE I.ctid = K.ENDERECO "
         "AND I.CDFILIAL = ? AND I.NRSEQVENDA = K.VENDA AND I.NRSEQUITVEND = K.ITEM AND " +
         salerules::pending("I");
}

packet::Packet emptyErrorList() { return contract::emptyPacket(contract::fields::postingErrors); }

packet::Packet emptyBlockedList() { return contract::emptyPacket(contract::fields::blockedProducts); }

Result<Outcome> consolidate(QSqlDatabase& db, Dialect dialect, const Request& request, const CallLimits& limits) {
  // the database's waits (busy handler, lock_timeout) look at these limits
  const CallLimits::Scope scope(limits);
  for (int attempt = 1;; ++attempt) {
    auto outcome = Run(db, dialect, request, limits).execute();
    // a retry after the stop point would only wait again until the client's
    // deadline and bury the clear "busy" under DEADLINE_EXCEEDED
    const bool retry = !outcome.ok() && worthRetrying(outcome.error()) && attempt < kAttempts && !limits.shouldStop() &&
                       connectionUsable(db);
    if (!retry) return outcome;
    // let the winner finish; spread the retries of several losers
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt * attempt));
  }
}

}  // namespace qfx::server::posting
