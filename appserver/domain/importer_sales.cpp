// The import's sales from CSV files: lines grouped into sales, checked, and
// written a batch at a time on SQLite and PostgreSQL.

#include "domain/importer_state.h"

#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <map>

#include "common/log.h"
#include "db/row_writer.h"
#include "db/rows.h"
#include "db/sql.h"

namespace qfx::server {

namespace {

using importing::ImportedItem;
using importing::joinKey;
using importing::kItemColumns;
using importing::kPostgresSalesPerBatch;
using importing::kSqliteSalesPerBatch;
using importing::Row;
using importing::Sale;
using importing::saleName;
using importing::sameValue;

constexpr char kKeySeparator = '\x1f';

const char* kSaleColumns[] = {"CDFILIAL",     "NRSEQVENDA", "CDLOJA",      "CDCAIXA",    "DTVENDA",      "DTENTRVENDA",
                              "NRCUPOMFIS",   "CDCLIENTE",  "CDCCUSCLIE",  "CDTIPOCONS", "NMCONSUMIDOR", "IDSITUVENDA",
                              "IDTPFORPGVEN", "IDTIPOIMPV", "CDCHAVENFCE", "VRTOTNFCE"};

// joinKey of a sale's branch and number, made without a list: one a line
std::string saleKey(const QString& branch, const QString& number) {
  std::string key;
  key.reserve(size_t(branch.size() + number.size() + 2));
  for (const QString* part : {&branch, &number}) {
    for (QChar c : *part) {
      if (c.unicode() >= 0x80) return joinKey({branch, number});
      key += char(c.unicode());
    }
    key += kKeySeparator;
  }
  return key;
}

}  // namespace

namespace importing {

std::string joinKey(const QStringList& parts) {
  std::string key;
  for (const auto& p : parts) {
    key += p.toStdString();
    key += kKeySeparator;
  }
  return key;
}

std::string saleName(const QString& branch, const QString& number) {
  return "venda " + number.toStdString() + " da filial " + branch.toStdString();
}

}  // namespace importing

// The line an item of the same number came on earlier in its sale; 0: none.
// A sale's few items are scanned; a long one's are looked up, so a sale of
// many lines costs as many lookups, not their square.
uint64_t Importer::State::earlierLineOfItem(Sale& sale, const ImportedItem& item) {
  constexpr size_t kScanned = 16;
  if (sale.items.size() < kScanned) {
    for (const auto& other : sale.items)
      if (other.values[0] == item.values[0]) return other.line;
    return 0;
  }
  if (sale.itemLines.empty())
    for (const auto& other : sale.items) sale.itemLines.emplace(other.values[0].toString().toStdString(), other.line);
  const auto [at, added] = sale.itemLines.emplace(item.values[0].toString().toStdString(), item.line);
  return added ? 0 : at->second;
}

bool Importer::State::addSaleLine(Row row) {
  auto& counts = count();
  ++counts.items;
  const QString branch = row.values[size_t(saleColumns.branch)].toString();
  const QString number = row.values[size_t(saleColumns.number)].toString();
  const std::string key = saleKey(branch, number);
  ImportedItem item{row.line, {}};
  item.values.reserve(qsizetype(std::size(kItemColumns)));
  for (int c : saleColumns.item) item.values << (present(c) ? row.values[size_t(c)] : QVariant());
  if (sale && sale->key == key) {
    for (size_t c : saleColumns.repeated) {
      if (sale->head.values.empty()) break;
      if (!sameValue(sale->head.values[c], row.values[c], kind->columns[c].type)) {
        problem(row.line, kind->columns[c].name,
                "os dados da " + saleName(branch, number) + " diferem dos da linha " + std::to_string(sale->line) +
                    " (cada linha de item repete os dados da sua venda)");
        sale->bad = true;
      }
    }
    if (const uint64_t first = earlierLineOfItem(*sale, item)) {
      problem(row.line, "NRSEQUITVEND",
              "item " + item.values[0].toString().toStdString() + " da " + saleName(branch, number) +
                  " repetido (já na linha " + std::to_string(first) + ")");
      sale->bad = true;
    }
    sale->items.push_back(std::move(item));
    return !failure;
  }
  closeSale();
  if (failure) return false;
  Sale next{{}, key, row.line, std::move(row), {}, false};
  next.items.push_back(std::move(item));
  if (!salesRead.insert(key).second) {
    problem(next.line, "NRSEQVENDA",
            "a " + saleName(branch, number) +
                " já apareceu antes nesta importação: os itens de uma venda vêm em linhas seguidas, num arquivo só");
    next.bad = true;
  }
  sale = std::move(next);
  return true;
}

// A line that could not be read refuses its sale, whose other lines are
// still grouped with it (so they are not taken for a sale repeated).
bool Importer::State::refuseSaleLine(const CsvRecord& record) {
  ++count().items;
  auto field = [&](const char* name) {
    const int at = fileColumnOf[size_t(column(name))];
    return at >= 0 && size_t(at) < record.fields.size() ? QString::fromStdString(record.fields[size_t(at)]) : QString();
  };
  const std::string key = joinKey({field("CDFILIAL"), field("NRSEQVENDA")});
  if (sale && sale->key == key) {
    sale->bad = true;
    return true;
  }
  closeSale();
  if (failure) return false;
  salesRead.insert(key);
  sale = Sale{{}, key, record.line, Row{}, {}, true};
  return true;
}

bool Importer::State::saleIsSound(const Sale& s) {
  const Row& head = s.head;
  if (!mayUseBranch(head)) return false;
  bool sound = referencesExist(head) && dayAllowed(head);
  if (failure) return false;
  // the register must be the store's (when the store itself is known)
  if (!sound) return false;
  const QString branch = text(head, "CDFILIAL"), reg = text(head, "CDCAIXA"), store = text(head, "CDLOJA");
  const std::string regKey = joinKey({branch, reg});
  auto it = registerStore.find(regKey);
  if (it == registerStore.end()) {
    auto q = sql::run(db, QStringLiteral("SELECT CDLOJA FROM CAIXA WHERE CDFILIAL = ? AND CDCAIXA = ?"), {branch, reg});
    if (!q) return failed(q.error());
    if (q->next()) it = registerStore.emplace(regKey, q->value(0).toString().toStdString()).first;
  }
  if (it == registerStore.end()) {
    problem(s.line, "CDCAIXA", "caixa " + reg.toStdString() + " não cadastrado na filial " + branch.toStdString());
    sound = false;
  } else if (it->second != store.toStdString()) {
    problem(s.line, "CDCAIXA",
            "o caixa " + reg.toStdString() + " é da loja " + it->second + ", não da loja " + store.toStdString());
    sound = false;
  }
  static const importing::Reference product{"PRODUTO", {"CDPRODUTO"}, {"CDPRODUTO"}, "produto"};
  const auto& knownProducts = known[product.table];
  std::string key;
  for (const auto& item : s.items) {
    const QString code = item.values[1].toString();
    // the products a file names are few: found before, they are found here without a list or a query
    key = code.toStdString();
    key += kKeySeparator;
    if (knownProducts.count(key) || exists(product, {code})) continue;
    if (failure) return false;
    problem(item.line, "CDPRODUTO", "produto " + code.toStdString() + " não cadastrado");
    sound = false;
  }
  return sound;
}

void Importer::State::closeSale() {
  if (!sale) return;
  Sale s = std::move(*sale);
  sale.reset();
  // the head's own product check is the first item's; the rest are checked per item
  if (s.bad || !saleIsSound(s)) {
    ++count().refused;
    return;
  }
  batch.push_back(std::move(s));
  if (batch.size() >= (dialect == Dialect::SQLite ? kSqliteSalesPerBatch : kPostgresSalesPerBatch))
    if (auto written = writeBatch(); !written) failed(written.error());
}

Status Importer::State::writeBatch() {
  std::map<QString, std::vector<Sale*>> byBranch;
  for (auto& s : batch) byBranch[text(s.head, "CDFILIAL")].push_back(&s);
  for (auto& [branch, sales] : byBranch)
    if (auto written = writeSales(branch, sales); !written) return written;
  batch.clear();
  if (!statisticsAfterFirstBatch && salesInserted > 0) {
    statisticsAfterFirstBatch = true;
    if (auto refreshed = refreshSaleStatistics(); !refreshed) return refreshed;
  }
  if (!nfceKeysUnwritten.empty()) {
    // the documents' sales are in the database now, where their keys find them
    if (saleRows)
      if (auto flushed = saleRows->flush(); !flushed) return flushed;
    nfceKeysUnwritten.clear();
  }
  return success();
}

namespace {

std::string saleColumnList() {
  std::string list;
  for (const char* c : kSaleColumns) list += (list.empty() ? "" : ", ") + std::string(c);
  return list;
}

// A PostgreSQL array literal of texts, every element quoted.
std::string postgresTextArray(const std::vector<std::string>& texts) {
  std::string out = "{";
  for (const auto& t : texts) {
    if (out.size() > 1) out += ',';
    out += '"';
    for (char c : t) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  out += '}';
  return out;
}

// The rows of `table` (VENDA or ITVENDA) of a branch's sale numbers, locked.
// SQLite: an IN list, a full batch's text kept prepared. PostgreSQL: the
// numbers as one array, each looked up by its whole key. The planner picks
// the index by the table's size, which a first import (filling the table in
// this very transaction) leaves looking empty: with an IN list, or with a
// plan kept from the first batches, it used the branch-and-day index and read
// every stored sale of the branch for each batch. The lateral join makes it
// one lookup per number, and planned anew each time the primary key wins as
// soon as the table has rows.
Result<std::unique_ptr<sql::Rows>> salesRows(QSqlDatabase& db, Dialect dialect, const std::string& columns,
                                             const char* table, const std::string& branch,
                                             const std::vector<std::string>& numbers, size_t fullBatch) {
  if (dialect == Dialect::PostgreSQL)
    return sql::openRows(db,
                         "SELECT S.* FROM unnest(?::varchar[]) AS N(NUMERO) CROSS JOIN LATERAL (SELECT " + columns +
                             " FROM " + table + " WHERE CDFILIAL = ? AND NRSEQVENDA = N.NUMERO FOR UPDATE) S",
                         {postgresTextArray(numbers), branch});
  const std::string select = "SELECT " + columns + " FROM " + table + " WHERE CDFILIAL = ? AND NRSEQVENDA ";
  std::vector<std::optional<std::string>> bound{branch};
  bound.insert(bound.end(), numbers.begin(), numbers.end());
  std::string marks;
  for (size_t i = 0; i < numbers.size(); ++i) marks += i ? ", ?" : "?";
  return sql::openRows(db, select + "IN (" + marks + ")", bound,
                       numbers.size() == fullBatch ? sql::Reuse::Kept : sql::Reuse::No);
}

}  // namespace

Status Importer::State::writeSales(const QString& branch, std::vector<Sale*>& sales) {
  // which are stored, and their items, locked against a posting run until
  // the import ends (a run that claimed one first has it posted by then);
  // read with the database's own library, no Qt binding per parameter
  const std::string branchText = branch.toStdString();
  std::vector<std::string> numbers;
  numbers.reserve(sales.size());
  for (auto* s : sales) numbers.push_back(s->head.values[size_t(column("NRSEQVENDA"))].toString().toStdString());
  std::unordered_map<std::string, std::vector<QVariant>> storedHeads;
  // a batch of new documents' sales has nothing stored to look for
  const bool allFresh = std::all_of(sales.begin(), sales.end(), [](const Sale* s) { return s->fresh; });
  if (!allFresh) {
    auto heads = salesRows(db, dialect, saleColumnList(), "VENDA", branchText, numbers, kSqliteSalesPerBatch);
    if (!heads) return heads.error();
    auto read = sql::forEachRow(**heads, [&](const sql::Cells& row) {
      std::vector<QVariant> v;
      v.reserve(std::size(kSaleColumns));
      for (int i = 0; i < int(std::size(kSaleColumns)); ++i) v.push_back(row.value(i));
      storedHeads.emplace(std::string(row.text(1)), std::move(v));
    });
    if (!read) return read;
  }
  struct StoredItem {
    QVariantList values;
    bool posted;
  };
  std::unordered_map<std::string, std::map<QString, StoredItem>> storedItems;
  if (!storedHeads.empty()) {
    auto items = salesRows(db, dialect,
                           "NRSEQVENDA, NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND, NRLANCESTQ, "
                           "CDFILIALEST",
                           "ITVENDA", branchText, numbers, kSqliteSalesPerBatch);
    if (!items) return items.error();
    auto read = sql::forEachRow(**items, [&](const sql::Cells& row) {
      StoredItem item{{row.value(1), row.value(2), row.value(3), row.value(4), row.value(5)},
                      !row.isNull(6) || !row.isNull(7)};
      storedItems[std::string(row.text(0))][row.value(1).toString()] = std::move(item);
    });
    if (!read) return read;
  }
  auto& counts = count();
  const bool documents = kind->name == std::string(importing::kNfce);
  for (auto* s : sales) {
    const QString number = text(s->head, "NRSEQVENDA");
    auto head = storedHeads.find(number.toStdString());
    if (head == storedHeads.end()) {
      if (auto done = insertSale(*s); !done) return done;
      if (documents)
        if (auto recorded = recordNfceDocument(*s); !recorded) return recorded;
      ++counts.inserted;
      continue;
    }
    const auto& items = storedItems[number.toStdString()];
    // a document imported again keeps the cancellation its event brought
    if (documents && head->second[11].toString() == QLatin1String("C"))
      s->head.values[size_t(column("IDSITUVENDA"))] = QStringLiteral("C");
    bool same = items.size() == s->items.size();
    for (size_t i = 0; i < std::size(kSaleColumns) && same; ++i) {
      const int c = column(kSaleColumns[i]);
      if (present(c) && !sameValue(head->second[i], s->head.values[size_t(c)], kind->columns[size_t(c)].type))
        same = false;
    }
    for (const auto& item : s->items) {
      if (!same) break;
      auto it = items.find(item.values[0].toString());
      if (it == items.end()) {
        same = false;
        break;
      }
      for (int i = 1; i < 5 && same; ++i) {
        const int c = column(kItemColumns[i]);
        if (present(c) && !sameValue(it->second.values[i], item.values[i], kind->columns[size_t(c)].type)) same = false;
      }
    }
    if (same) {
      ++counts.unchanged;
      continue;
    }
    bool posted = false;
    for (const auto& [n, item] : items) posted = posted || item.posted;
    if (posted) {
      const std::string current = fileName;
      if (!s->file.empty()) fileName = s->file;
      problem(s->line, "NRSEQVENDA",
              saleName(branch, number) +
                  " já consolidada: itens dela já foram lançados no estoque e ela não pode mudar; tire-a do arquivo "
                  "(ou traga-a como estava), e registre a correção como uma nova venda ou estorne a consolidação "
                  "antes de importá-la de novo");
      fileName = current;
      ++counts.refused;
      continue;
    }
    if (auto done = replaceSale(*s); !done) return done;
    if (documents)
      if (auto recorded = recordNfceDocument(*s); !recorded) return recorded;
    ++counts.updated;
  }
  return success();
}

Status Importer::State::insertSale(const Sale& s) {
  if (!saleRows) {
    QStringList columns;
    for (const char* c : kSaleColumns) columns << QLatin1String(c);
    saleRows = std::make_unique<sql::RowWriter>(db, dialect, QStringLiteral("VENDA"), columns);
  }
  QVariantList& values = saleRow;
  values.resize(qsizetype(std::size(kSaleColumns)));
  for (size_t i = 0; i < std::size(kSaleColumns); ++i) {
    const int at = column(kSaleColumns[i]);
    values[qsizetype(i)] = present(at) ? s.head.values[size_t(at)] : sql::nullText();
  }
  // a sale entered when nothing says otherwise: its day's start; settled unless said
  if (values[5].isNull()) values[5] = text(s.head, "DTVENDA") + QStringLiteral(" 00:00:00");
  if (values[11].isNull()) values[11] = QStringLiteral("F");
  if (auto added = saleRows->add(values); !added) return added;
  ++salesInserted;
  return insertItems(s);
}

Status Importer::State::insertItems(const Sale& s) {
  if (!itemRows) {
    itemRows = std::make_unique<sql::RowWriter>(
        db, dialect, QStringLiteral("ITVENDA"),
        QStringList{"CDFILIAL", "NRSEQVENDA", "NRSEQUITVEND", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRDESITVEND"});
    itemRows->setBeforeWrite([this] {
      if (saleRows)
        if (auto flushed = saleRows->flush(); !flushed) return flushed;
      if (statisticsBeforeFirstItems) return success();
      statisticsBeforeFirstItems = true;
      return refreshSaleStatistics();
    });
  }
  // one row reused for every item: its values are assigned, no list made per item
  itemRow.resize(2 + qsizetype(std::size(kItemColumns)));
  QVariant* row = itemRow.data();  // detached once, not at every assignment
  row[0] = s.head.values[size_t(column("CDFILIAL"))];
  row[1] = s.head.values[size_t(column("NRSEQVENDA"))];
  for (const auto& item : s.items) {
    for (qsizetype i = 0; i < item.values.size(); ++i) row[2 + i] = item.values[i];
    if (row[6].isNull()) row[6] = 0.0;
    if (auto added = itemRows->add(itemRow); !added) return added;
  }
  return success();
}

// PostgreSQL plans the items' foreign key check once per database session,
// at the first items it writes, and keeps that plan. Planned while VENDA
// looked nearly empty (a fresh database, or a small first import on this
// connection) it reads the branch's sales through VENDA_DIA for every item,
// and a large import later on the same connection checks its items at the
// cost of the whole branch each; the stored-sales lookups of the batches go
// the same way while VENDA has no statistics. So after an import's first
// batch and before its first items, when the table's statistics know fewer
// sales than this import alone has added, VENDA is analysed inside the
// transaction: its own uncommitted rows count as live, and the new
// statistics make the session plan the check again, by the sale's key.
// Never waiting: the analysis lock is taken only if no other transaction
// holds it (an import beside this one, a VACUUM), and an analysis that
// cannot run leaves the import as it was, only slower.
Status Importer::State::refreshSaleStatistics() {
  if (dialect != Dialect::PostgreSQL) return success();
  auto known = sql::run(db, QStringLiteral("SELECT reltuples FROM pg_class WHERE oid = 'venda'::regclass"));
  if (!known) return known.error();
  if (known->next() && known->value(0).toDouble() >= double(salesInserted)) return success();
  known->finish();
  // what the analysis samples must be in the table, not in the writer's buffer
  if (saleRows)
    if (auto flushed = saleRows->flush(); !flushed) return flushed;
  if (auto marked = sql::command(db, QStringLiteral("SAVEPOINT estatisticas_venda")); !marked) return marked;
  auto analysed = sql::command(db, QStringLiteral("LOCK TABLE VENDA IN SHARE UPDATE EXCLUSIVE MODE NOWAIT"));
  if (analysed) analysed = sql::command(db, QStringLiteral("ANALYZE VENDA"));
  if (!analysed) {
    if (auto undone = sql::command(db, QStringLiteral("ROLLBACK TO SAVEPOINT estatisticas_venda")); !undone)
      return analysed;
    log::write(log::Level::Warn, "import", {{"analyze", "skipped"}, {"message", analysed.error().message}});
  }
  return sql::command(db, QStringLiteral("RELEASE SAVEPOINT estatisticas_venda"));
}

Status Importer::State::replaceSale(const Sale& s) {
  const QString branch = text(s.head, "CDFILIAL"), number = text(s.head, "NRSEQVENDA");
  auto removed =
      sql::run(db, QStringLiteral("DELETE FROM ITVENDA WHERE CDFILIAL = ? AND NRSEQVENDA = ?"), {branch, number});
  if (!removed) return removed.error();
  QStringList sets;
  QVariantList values;
  for (size_t i = 2; i < std::size(kSaleColumns); ++i) {
    const int c = column(kSaleColumns[i]);
    if (!present(c)) continue;
    sets << QLatin1String(kSaleColumns[i]) + QStringLiteral(" = ?");
    values << s.head.values[size_t(c)];
  }
  values << branch << number;
  auto updated = sql::run(
      db, QStringLiteral("UPDATE VENDA SET %1 WHERE CDFILIAL = ? AND NRSEQVENDA = ?").arg(sets.join(", ")), values);
  if (!updated) return updated.error();
  return insertItems(s);
}

}  // namespace qfx::server
