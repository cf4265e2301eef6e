#include "domain/importer.h"

#include <QDate>
#include <QDateTime>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "common/csv_reader.h"
#include "common/import_values.h"
#include "common/log.h"
#include "common/nfce_reader.h"
#include "common/wire_date.h"
#include "db/row_writer.h"
#include "db/rows.h"
#include "db/sql.h"
#include "domain/import_tables.h"
#include "domain/number_series.h"

namespace qfx::server {

namespace {

using importing::Column;
using importing::ColumnType;
using importing::Kind;

// Sales checked against the database and written together: one query finds
// which of them are stored already. The query stays near a hundred
// parameters: Qt's SQLite driver looks each one up by name, so binding costs
// grow with the square of a statement's parameters.
// PostgreSQL binds by position and takes larger batches: fewer round trips.
constexpr size_t kSqliteSalesPerBatch = 100, kPostgresSalesPerBatch = 1000;
constexpr char kKeySeparator = '\x1f';

long long centsOf(double v) { return std::llround(v * 100.0); }
QString dayText(const QDate& d) { return d.toString(QStringLiteral("yyyy-MM-dd")); }
QString brDay(const QString& iso) {
  return QDate::fromString(iso, QStringLiteral("yyyy-MM-dd")).toString("dd/MM/yyyy");
}

// A stored value as comparable text: days and moments as ISO text whatever
// the driver hands back, numbers as numbers.
std::string normalized(const QVariant& v, ColumnType type) {
  if (v.isNull()) return "\x01";
  switch (type) {
    case ColumnType::Day:
      if (v.typeId() == QMetaType::QDate) return dayText(v.toDate()).toStdString();
      if (v.typeId() == QMetaType::QDateTime) return dayText(v.toDateTime().date()).toStdString();
      return v.toString().left(10).toStdString();
    case ColumnType::Moment:
      if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
      return v.toString().replace('T', ' ').left(19).toStdString();
    case ColumnType::Number: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.9g", v.toDouble());
      return buf;
    }
    case ColumnType::Integer:
      return std::to_string(v.toLongLong());
    case ColumnType::Text:
      return v.toString().toStdString();
  }
  return {};
}

bool sameValue(const QVariant& stored, const QVariant& imported, ColumnType type) {
  // the usual case, a line of a sale against the sale's first line: the same types, no text made
  const int storedType = stored.typeId();
  if (storedType == imported.typeId() && stored.isNull() == imported.isNull()) {
    if (stored.isNull()) return true;
    if (storedType == QMetaType::QString)
      return *static_cast<const QString*>(stored.constData()) == *static_cast<const QString*>(imported.constData());
  }
  if (type == ColumnType::Number && !stored.isNull() && !imported.isNull())
    return std::fabs(stored.toDouble() - imported.toDouble()) <= 1e-9 * std::max(1.0, std::fabs(imported.toDouble()));
  return normalized(stored, type) == normalized(imported, type);
}

QString placeholders(size_t n) {
  QString text;
  for (size_t i = 0; i < n; ++i) text += i ? QStringLiteral(", ?") : QStringLiteral("?");
  return text;
}

}  // namespace

// What the importer's state (Importer::State, declared in the header) holds
// has linkage like it: a class with linkage must not hold a type without.
namespace importing {

// A row of a file: one value per column of its kind; a column the file does
// not have is left out of every comparison and write.
struct Row {
  uint64_t line = 0;
  std::vector<QVariant> values;
  bool bad = false;
};

struct ImportedItem {
  uint64_t line = 0;
  QVariantList values;  // NRSEQUITVEND, CDPRODUTO, QTPRODVEND, VRUNITVEND, VRDESITVEND
};

struct Sale {
  std::string file;  // an NFC-e's, whose sale is written after later files are read
  std::string key;
  uint64_t line = 0;
  Row head;  // the sale's columns, from its first line
  std::vector<ImportedItem> items;
  bool bad = false;
  bool fresh = false;  // numbered by this import (an NFC-e's new sale): nothing stored has its number
  // item number -> the line it came on, made once the sale is too long to scan
  std::unordered_map<std::string, uint64_t> itemLines = {};
};

// What a branch allows to be imported: the days up to its stock closing and
// those of its closed accounting periods are settled.
struct BranchDays {
  QString stockClosing;                             // ISO; empty: none
  std::vector<std::pair<QString, QString>> closed;  // first and last day, ISO
};

}  // namespace importing

namespace {

using importing::BranchDays;
using importing::ImportedItem;
using importing::Row;
using importing::Sale;

const char* kItemColumns[] = {"NRSEQUITVEND", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRDESITVEND"};
const char* kSaleColumns[] = {"CDFILIAL",     "NRSEQVENDA", "CDLOJA",      "CDCAIXA",    "DTVENDA",      "DTENTRVENDA",
                              "NRCUPOMFIS",   "CDCLIENTE",  "CDCCUSCLIE",  "CDTIPOCONS", "NMCONSUMIDOR", "IDSITUVENDA",
                              "IDTPFORPGVEN", "IDTIPOIMPV", "CDCHAVENFCE", "VRTOTNFCE"};

}  // namespace

struct Importer::State {
  QSqlDatabase db;
  Dialect dialect = Dialect::SQLite;
  std::string boundBranch;
  bool dryRun = false;
  std::optional<sql::Transaction> transaction;

  ImportSummary summary;
  std::map<std::string, size_t> countOf;  // kind -> place in summary.counts

  // the file being read
  std::string fileName;
  const Kind* kind = nullptr;
  std::unique_ptr<CsvReader> reader;
  std::unique_ptr<NfceReader> nfce;
  size_t nfceBytes = 0;  // of the NFC-e file being read
  std::unique_ptr<NfceReadAhead> readAhead;
  bool headerRead = false;
  bool skipFile = false;          // its header or kind is wrong: the rest is not read
  std::vector<int> columnAt;      // file column -> kind column
  std::vector<int> fileColumnOf;  // kind column -> file column, -1 absent
  // per kind column: the last field read well and its value (null: none)
  std::vector<std::string> fieldAbove;
  std::vector<QVariant> valueAbove;
  // per reference of the kind: the values last found to exist
  std::vector<std::vector<QVariant>> lastFound;
  std::optional<Error> failure;  // the database failed: the import ends
  size_t firstProblemOfFile = 0;

  // what the rows name, known to exist (per table, keys joined)
  std::unordered_map<std::string, std::unordered_set<std::string>> known;
  std::unordered_map<std::string, std::string> registerStore;  // branch+register -> store
  std::unordered_map<std::string, BranchDays> branchDays;
  std::unordered_set<std::string> salesRead;

  // NFC-e: what their documents name, found once an import
  struct NfceRegister {
    QString series, code, store;
  };
  struct NfceBranch {
    QString code;
    bool byGtin = false;
    std::vector<NfceRegister> registers;
  };
  // What the import recorded of a document, apart from its sale (which may
  // be deleted): the register-day's record is kept in step with these.
  struct NfceRecord {
    QString branch, cashRegister, day;
    qint64 cents = 0;
    bool cancelled = false;
    bool operator==(const NfceRecord&) const = default;
  };
  struct NfceRead {
    std::string file;
    long long totalCents;
    std::optional<NfceRecord> recorded;  // as an earlier import left it
  };
  std::unordered_map<std::string, std::optional<NfceBranch>> nfceBranches;  // CNPJ -> branch
  // the branch's sale numbers: the greatest before this import, and the greatest it took
  struct SaleNumbers {
    qlonglong before, last;
  };
  std::unordered_map<std::string, SaleNumbers> saleNumbers;  // branch -> its numbers
  // The documents read since their sales were last written: a copy among
  // them is found here, one of a document written before by its access key
  // in the database (in this transaction), so what is kept per document
  // does not grow with the folder.
  std::unordered_map<std::string, NfceRead> nfceKeysUnwritten;  // access key -> where
  std::unordered_map<std::string, QString> productByGtin, customerByDocument;
  // cancellations, applied once the documents of the same import are in
  std::vector<std::pair<std::string, QString>> cancellations;  // file, access key
  // what this import changes in the documents recorded per register and day
  // (branch, register, day -> cents, documents), written once the NFC-e
  // files end: one statement a register-day, not one a batch for each of
  // them (a batch's documents may touch as many register-days as they are);
  // it grows with the register-days of the import, not with its documents
  std::map<std::tuple<QString, QString, QString>, std::pair<qint64, qint64>> nfceDayChanges;
  // Documents read and waiting to be settled a group at a time, in their
  // order: the group's stored sales and records are found with one
  // statement each, not one a document.
  std::vector<std::pair<std::string, server::NfceRead>> nfceWaiting;
  struct StoredNfceSale {
    QString number;
    long long cents;  // -1: no vNF kept
  };
  std::unordered_map<std::string, StoredNfceSale> nfceStoredSales;  // of the group: access key -> its sale
  std::unordered_map<std::string, NfceRecord> nfceStoredRecords;    // of the group: access key -> its record
  std::unique_ptr<sql::RowWriter> recordRows;

  // sales
  std::optional<Sale> sale;
  std::vector<Sale> batch;
  std::unique_ptr<sql::RowWriter> saleRows, itemRows;
  QVariantList saleRow, itemRow;  // reused from row to row
  uint64_t salesInserted = 0;     // rows this import added to VENDA
  bool statisticsAfterFirstBatch = false, statisticsBeforeFirstItems = false;

  ImportCount& count() {
    auto [it, added] = countOf.try_emplace(kind->name, summary.counts.size());
    if (added) summary.counts.push_back(ImportCount{kind->name});
    return summary.counts[it->second];
  }

  void problem(uint64_t line, const std::string& column, std::string reason) {
    ++summary.problemCount;
    if (summary.problems.size() < kMaxImportProblems)
      summary.problems.push_back({fileName, line, column, std::move(reason)});
  }

  bool failed(const Error& e) {
    if (!failure) failure = e;
    return false;
  }

  // Column names come as the same few literals (static names) for every row
  // of a file: found by their address once a file, then without comparing texts.
  mutable std::vector<std::pair<const char*, int>> columnByName;
  int column(const char* name) const {
    for (const auto& [known, at] : columnByName)
      if (known == name) return at;
    int found = -1;
    for (size_t i = 0; i < kind->columns.size() && found < 0; ++i)
      if (std::strcmp(kind->columns[i].name, name) == 0) found = int(i);
    columnByName.emplace_back(name, found);
    return found;
  }

  // a name read from a file: not one of the literals column() keeps
  int columnNamed(const std::string& name) const {
    for (size_t i = 0; i < kind->columns.size(); ++i)
      if (name == kind->columns[i].name) return int(i);
    return -1;
  }

  // a sales file's columns by place, found once from its header: its lines are many
  struct SaleColumns {
    int branch = -1, number = -1;
    int item[std::size(kItemColumns)] = {};
    std::vector<size_t> repeated;  // the sale's columns the file has, which every line repeats
  } saleColumns;
  void findSaleColumns();
  bool present(int c) const { return c >= 0 && fileColumnOf[size_t(c)] >= 0; }
  QString text(const Row& row, const char* name) const {
    const int c = column(name);
    return c < 0 || row.values[size_t(c)].isNull() ? QString() : row.values[size_t(c)].toString();
  }

  // ---- files ----

  Status begin(const std::string& name, const std::string& kindName);
  Status end(const std::string& nextKind);
  bool onRecord(const CsvRecord& record);
  bool readHeader(const CsvRecord& record);
  std::optional<Row> parse(const CsvRecord& record);
  std::optional<QVariant> value(const Column& c, const std::string& field, uint64_t line);

  // ---- checks ----

  bool mayUseBranch(const Row& row);
  bool exists(const importing::Reference& ref, const QStringList& values);
  bool referencesExist(const Row& row);
  bool sameAsFound(size_t refAt, const Row& row) const;
  void rememberFound(size_t refAt, const Row& row);
  bool dayAllowed(const Row& row);
  Result<BranchDays*> daysOf(const QString& branch);
  void forget(const std::string& table);

  // ---- registrations ----

  bool importRegistration(Row row);
  Result<std::optional<std::vector<QVariant>>> stored(const Row& row);
  Status insert(const Row& row);
  Status update(const Row& row);
  void remember(const Row& row);

  // ---- sales ----

  bool addSaleLine(Row row);
  static uint64_t earlierLineOfItem(Sale& sale, const ImportedItem& item);
  bool refuseSaleLine(const CsvRecord& record);
  void closeSale();
  bool saleIsSound(const Sale& s);
  Status writeBatch();
  Status writeSales(const QString& branch, std::vector<Sale*>& sales);
  Status insertSale(const Sale& s);
  Status insertItems(const Sale& s);
  Status replaceSale(const Sale& s);
  Status refreshSaleStatistics();

  // ---- NFC-e ----

  void settleNfce(const std::string& name, const server::NfceRead& read);
  void queueNfce(std::string name, server::NfceRead read);
  Status settleWaitingNfce();
  Status findStoredNfce();
  Status recordNfceDocument(const Sale& s);
  Status cancelNfceRecord(const QString& key);
  void countNfceRecord(const NfceRecord& record, int sign);
  void importNfce(const NfceDocument& doc);
  Status applyCancellations();
  Status applyCancellation(const std::string& file, const QString& key);
  Status keepCancellation(const std::string& file, const QString& key);
  Status forgetWaitingCancellation(const QString& key);
  Status writeNfceDays();
  bool nfceProblem(uint64_t line, const char* element, std::string reason);
  Result<std::optional<NfceBranch>*> nfceBranchOf(const QString& cnpj);
  // the sale a document is: its number, and when the database has it already,
  // its vNF in cents and whether this import wrote it
  struct NfceSale {
    QString number;
    std::optional<long long> storedCents;
    bool ofThisImport = false;
  };
  Result<NfceSale> nfceSale(const QString& branch, const QString& key);
  Result<QString> nfceProduct(const NfceBranch& branch, const NfceItem& item);
  Result<QString> nfceCustomer(const QString& document);
};

namespace {

std::string joinKey(const QStringList& parts) {
  std::string key;
  for (const auto& p : parts) {
    key += p.toStdString();
    key += kKeySeparator;
  }
  return key;
}

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

// ---- files ----

Status Importer::State::begin(const std::string& name, const std::string& kindName) {
  if (auto ended = end(kindName); !ended) return ended;
  fileName = name;
  firstProblemOfFile = summary.problems.size();
  kind = importing::findKind(kindName);
  columnByName.clear();
  fieldAbove.clear();
  valueAbove.clear();
  lastFound.clear();
  headerRead = false;
  skipFile = false;
  columnAt.clear();
  fileColumnOf.clear();
  if (!kind) {
    // counted under no kind: the file is named in the problem
    ++summary.problemCount;
    if (summary.problems.size() < kMaxImportProblems)
      summary.problems.push_back({name, 0, "",
                                  "tipo de arquivo desconhecido \"" + kindName +
                                      "\": o nome do arquivo começa pela tabela que ele alimenta (VENDA, "
                                      "REDUCAOZ, PRODUTO, ...)"});
    skipFile = true;
    reader.reset();
    return success();
  }
  count();
  if (kind->name == std::string(importing::kNfce)) {
    // every column is the importer's to fill from the document
    fileColumnOf.resize(kind->columns.size());
    for (size_t c = 0; c < fileColumnOf.size(); ++c) fileColumnOf[c] = int(c);
    nfce = std::make_unique<NfceReader>();
    nfceBytes = 0;
    return success();
  }
  reader = std::make_unique<CsvReader>([this](const CsvRecord& r) { return onRecord(r); });
  return success();
}

// What one NFC-e file read to, in the order the files came: a refusal, a
// cancellation applied once the documents are in, or a sale.
void Importer::State::settleNfce(const std::string& name, const server::NfceRead& read) {
  const std::string current = std::exchange(fileName, name);
  if (const auto* refusal = std::get_if<NfceRefusal>(&read)) {
    problem(refusal->line, refusal->element, refusal->reason);
    ++count().refused;
  } else if (const auto* cancelled = std::get_if<NfceCancellation>(&read)) {
    cancellations.emplace_back(fileName, cancelled->key);
  } else {
    importNfce(std::get<NfceDocument>(read));
  }
  fileName = current;
}

void Importer::State::queueNfce(std::string name, server::NfceRead read) {
  nfceWaiting.emplace_back(std::move(name), std::move(read));
  if (nfceWaiting.size() >= (dialect == Dialect::SQLite ? kSqliteSalesPerBatch : kPostgresSalesPerBatch))
    if (auto settled = settleWaitingNfce(); !settled) failed(settled.error());
}

Status Importer::State::settleWaitingNfce() {
  if (auto found = findStoredNfce(); !found) return found;
  for (const auto& [name, read] : nfceWaiting) {
    settleNfce(name, read);
    if (failure) return *failure;
  }
  nfceWaiting.clear();
  nfceStoredSales.clear();
  nfceStoredRecords.clear();
  return success();
}

// The sales and records the waiting documents' access keys already have.
Status Importer::State::findStoredNfce() {
  std::vector<std::optional<std::string>> keys;
  keys.reserve(nfceWaiting.size());
  for (const auto& waiting : nfceWaiting)
    if (const auto* doc = std::get_if<NfceDocument>(&waiting.second)) keys.emplace_back(doc->key.toStdString());
  if (keys.empty()) return success();
  std::string marks;
  for (size_t i = 0; i < keys.size(); ++i) marks += i ? ", ?" : "?";
  // a full group's texts are the same every time: SQLite keeps them prepared
  const auto reuse =
      dialect == Dialect::SQLite && keys.size() == kSqliteSalesPerBatch ? sql::Reuse::Kept : sql::Reuse::No;
  const auto textOf = [](const sql::Rows& row, int i) {
    const auto t = row.text(i);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
  };
  {
    auto sales = sql::openRows(
        db, "SELECT CDCHAVENFCE, NRSEQVENDA, VRTOTNFCE FROM VENDA WHERE CDCHAVENFCE IN (" + marks + ")", keys, reuse);
    if (!sales) return sales.error();
    for (;;) {
      auto more = (*sales)->next();
      if (!more) return more.error();
      if (!*more) break;
      const auto& row = **sales;
      nfceStoredSales.insert_or_assign(std::string(row.text(0)),
                                       StoredNfceSale{textOf(row, 1), row.isNull(2) ? -1 : centsOf(row.number(2))});
    }
  }
  auto records = sql::openRows(db,
                               "SELECT CDCHAVENFCE, CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE, IDCANCELADA FROM "
                               "NFCEDOCUMENTO WHERE CDCHAVENFCE IN (" +
                                   marks + ")",
                               keys, reuse);
  if (!records) return records.error();
  for (;;) {
    auto more = (*records)->next();
    if (!more) return more.error();
    if (!*more) break;
    const auto& row = **records;
    nfceStoredRecords.insert_or_assign(std::string(row.text(0)),
                                       NfceRecord{textOf(row, 1), textOf(row, 2), textOf(row, 3).left(10),
                                                  qint64(std::llround(row.number(4))), row.text(5) == "S"});
  }
  return success();
}

Status Importer::State::end(const std::string& nextKind) {
  if (kind && nfce) {
    // the documents are read on a thread of their own while this one writes
    // the ones read before; the rest are waited for once the NFC-e files end
    if (!readAhead) readAhead = std::make_unique<NfceReadAhead>();
    while (!readAhead->hasRoom(nfceBytes)) {
      auto read = readAhead->take(true);
      queueNfce(std::move(read->first), std::move(read->second));
      if (failure) return *failure;
    }
    readAhead->put(fileName, std::move(*nfce), nfceBytes);
    nfce.reset();
    const bool lastOfThem = nextKind != importing::kNfce;
    while (auto read = readAhead->take(lastOfThem)) {
      queueNfce(std::move(read->first), std::move(read->second));
      if (failure) return *failure;
    }
    // documents come one a file: their sales are written a batch at a time
    // while NFC-e files follow one another
    if (lastOfThem) {
      if (auto settled = settleWaitingNfce(); !settled) return settled;
      if (auto written = writeBatch(); !written) return written;
      for (auto* rows : {saleRows.get(), itemRows.get(), recordRows.get()})
        if (rows)
          if (auto f = rows->flush(); !f) return f;
      if (auto applied = applyCancellations(); !applied) return applied;
      kind = nullptr;
    }
    return success();
  }
  if (!kind || !reader) {
    kind = nullptr;
    reader.reset();
    return success();
  }
  reader->finish();
  if (auto p = reader->problem()) {
    std::string column;
    if (p->field > 0 && p->field <= columnAt.size() && columnAt[p->field - 1] >= 0)
      column = kind->columns[size_t(columnAt[p->field - 1])].name;
    problem(p->line, column, p->reason);
    ++count().refused;
  }
  if (failure) return *failure;
  if (importing::isSalesKind(kind->name)) {
    closeSale();
    if (failure) return *failure;
    if (auto written = writeBatch(); !written) return written;
  }
  // a sale's problems are found when its last line is read: in line order for the reader
  std::stable_sort(summary.problems.begin() + std::ptrdiff_t(firstProblemOfFile), summary.problems.end(),
                   [](const ImportProblem& a, const ImportProblem& b) { return a.line < b.line; });
  if (saleRows)
    if (auto f = saleRows->flush(); !f) return f;
  if (itemRows)
    if (auto f = itemRows->flush(); !f) return f;
  reader.reset();
  kind = nullptr;
  return success();
}

bool Importer::State::onRecord(const CsvRecord& record) {
  if (!headerRead) return readHeader(record);
  // a line of blanks separates nothing: it is skipped
  if (record.fields.size() == 1 && record.fields[0].empty()) return true;
  ++summary.lines;
  auto row = parse(record);
  if (!row) {
    if (kind->name == std::string(importing::kSales)) return refuseSaleLine(record);
    ++count().refused;
    return !failure;
  }
  if (kind->name == std::string(importing::kSales)) return addSaleLine(std::move(*row));
  return importRegistration(std::move(*row));
}

bool Importer::State::readHeader(const CsvRecord& record) {
  headerRead = true;
  fileColumnOf.assign(kind->columns.size(), -1);
  bool sound = true;
  for (size_t i = 0; i < record.fields.size(); ++i) {
    const QString name = QString::fromStdString(record.fields[i]).trimmed().toUpper();
    const int c = columnNamed(name.toStdString());
    columnAt.push_back(c);
    if (c < 0) {
      problem(record.line, name.toStdString(),
              "coluna desconhecida \"" + name.toStdString() + "\" num arquivo de " + kind->name);
      sound = false;
    } else if (fileColumnOf[size_t(c)] >= 0) {
      problem(record.line, name.toStdString(), "coluna repetida no cabeçalho");
      sound = false;
    } else {
      fileColumnOf[size_t(c)] = int(i);
    }
  }
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (kind->columns[c].required && fileColumnOf[c] < 0) {
      problem(record.line, kind->columns[c].name,
              std::string("falta a coluna obrigatória ") + kind->columns[c].name + " no cabeçalho");
      sound = false;
    }
  }
  if (!sound) {
    ++count().refused;
    skipFile = true;
  }
  if (sound && importing::isSalesKind(kind->name)) findSaleColumns();
  return sound;
}

void Importer::State::findSaleColumns() {
  saleColumns.branch = column("CDFILIAL");
  saleColumns.number = column("NRSEQVENDA");
  for (size_t i = 0; i < std::size(kItemColumns); ++i) saleColumns.item[i] = column(kItemColumns[i]);
  saleColumns.repeated.clear();
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (present(int(c)) && !importing::isItemColumn(kind->columns[c].name)) saleColumns.repeated.push_back(c);
}

std::optional<QVariant> Importer::State::value(const Column& c, const std::string& field, uint64_t line) {
  const std::string_view raw = field.empty() && c.fallback ? std::string_view(c.fallback) : std::string_view(field);
  if (raw.empty()) {
    if (c.required) {
      problem(line, c.name, "valor obrigatório em branco");
      return std::nullopt;
    }
    return c.type == ColumnType::Text ? sql::nullText() : QVariant();
  }
  switch (c.type) {
    case ColumnType::Text: {
      const QString text = QString::fromUtf8(raw.data(), qsizetype(raw.size()));
      if (text.size() > c.size) {
        problem(line, c.name,
                "texto \"" + std::string(raw) + "\" com mais de " + std::to_string(c.size) + " caracteres");
        return std::nullopt;
      }
      return text;
    }
    case ColumnType::Day:
      if (auto d = importvalue::isoDay(raw)) return *d;
      problem(line, c.name, "data inválida \"" + std::string(raw) + "\" (use dd/mm/aaaa ou aaaa-mm-dd)");
      return std::nullopt;
    case ColumnType::Moment:
      if (auto m = importvalue::isoMoment(raw)) return *m;
      problem(line, c.name,
              "data e hora inválidas \"" + std::string(raw) + "\" (use dd/mm/aaaa hh:mm:ss ou aaaa-mm-dd hh:mm:ss)");
      return std::nullopt;
    case ColumnType::Number:
      if (auto n = importvalue::number(raw)) return *n;
      problem(line, c.name,
              "número inválido \"" + std::string(raw) + "\" (só algarismos, sinal e uma vírgula ou um ponto decimal)");
      return std::nullopt;
    case ColumnType::Integer:
      if (auto n = importvalue::integer(raw)) return QVariant(qlonglong(*n));
      problem(line, c.name, "número inteiro inválido \"" + std::string(raw) + "\"");
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<Row> Importer::State::parse(const CsvRecord& record) {
  if (record.fields.size() != columnAt.size()) {
    problem(record.line, "",
            "linha com " + std::to_string(record.fields.size()) + " campos; o cabeçalho tem " +
                std::to_string(columnAt.size()));
    return std::nullopt;
  }
  Row row;
  row.line = record.line;
  row.values.resize(kind->columns.size());
  bool sound = true;
  if (fieldAbove.size() != kind->columns.size()) {
    fieldAbove.assign(kind->columns.size(), {});
    valueAbove.assign(kind->columns.size(), {});
  }
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    const int at = fileColumnOf[c];
    if (at < 0) continue;
    const std::string& field = record.fields[size_t(at)];
    // a field as on the line above (a sale's columns, on each of its lines) is
    // that line's value: read, checked and converted once
    if (!valueAbove[c].isNull() && field == fieldAbove[c]) {
      row.values[c] = valueAbove[c];
      continue;
    }
    auto v = value(kind->columns[c], field, record.line);
    if (!v) {
      sound = false;
      continue;
    }
    fieldAbove[c] = field;
    valueAbove[c] = *v;
    row.values[c] = std::move(*v);
  }
  if (!sound) return std::nullopt;
  return row;
}

// ---- checks ----

bool Importer::State::mayUseBranch(const Row& row) {
  if (boundBranch.empty()) return true;
  if (!kind->branchColumn) {
    problem(row.line, "",
            std::string("o operador está preso à filial ") + boundBranch + " e " + kind->name +
                " é um cadastro de todas as filiais: peça a importação a um operador de todas as filiais");
    return false;
  }
  const QString branch = text(row, kind->branchColumn);
  if (branch.toStdString() == boundBranch) return true;
  problem(row.line, kind->branchColumn,
          "a filial " + branch.toStdString() + " não é a do operador (" + boundBranch + ")");
  return false;
}

bool Importer::State::exists(const importing::Reference& ref, const QStringList& values) {
  auto& keys = known[ref.table];
  const std::string key = joinKey(values);
  if (keys.count(key)) return true;
  QString where;
  for (size_t i = 0; i < ref.keys.size(); ++i)
    where += (i ? QStringLiteral(" AND ") : QString()) + QLatin1String(ref.keys[i]) + QStringLiteral(" = ?");
  QVariantList bound;
  for (const auto& v : values) bound << v;
  auto q = sql::run(db, QStringLiteral("SELECT 1 FROM %1 WHERE %2").arg(QLatin1String(ref.table), where), bound);
  if (!q) return failed(q.error());
  if (!q->next()) return false;
  keys.insert(key);
  return true;
}

// Whether the row's values of `ref` are those found last time: rows one
// after the other name the same branch, store or customer again and again.
bool Importer::State::sameAsFound(size_t refAt, const Row& row) const {
  if (refAt >= lastFound.size() || lastFound[refAt].empty()) return false;
  const auto& ref = kind->references[refAt];
  for (size_t i = 0; i < ref.columns.size(); ++i) {
    const int c = column(ref.columns[i]);
    if (c < 0 || !sameValue(lastFound[refAt][i], row.values[size_t(c)], ColumnType::Text)) return false;
  }
  return true;
}

void Importer::State::rememberFound(size_t refAt, const Row& row) {
  if (lastFound.size() != kind->references.size()) lastFound.assign(kind->references.size(), {});
  auto& values = lastFound[refAt];
  values.clear();
  for (const char* name : kind->references[refAt].columns) values.push_back(row.values[size_t(column(name))]);
}

bool Importer::State::referencesExist(const Row& row) {
  bool sound = true;
  for (size_t refAt = 0; refAt < kind->references.size(); ++refAt) {
    const auto& ref = kind->references[refAt];
    if (sameAsFound(refAt, row)) continue;
    QStringList values;
    bool complete = true;
    for (const char* c : ref.columns) {
      const QString v = text(row, c);
      if (v.isEmpty()) complete = false;
      values << v;
    }
    if (!complete) continue;
    if (exists(ref, values)) {
      rememberFound(refAt, row);
      continue;
    }
    if (failure) return false;
    problem(row.line, ref.columns.back(),
            std::string(ref.what) + " " + values.join('/').toStdString() +
                (std::string(ref.what) == "filial" || std::string(ref.what) == "loja" ? " não cadastrada"
                                                                                      : " não cadastrado"));
    sound = false;
  }
  return sound;
}

Result<BranchDays*> Importer::State::daysOf(const QString& branch) {
  const std::string key = branch.toStdString();
  if (auto it = branchDays.find(key); it != branchDays.end()) return &it->second;
  BranchDays days;
  auto closing = sql::run(db, QStringLiteral("SELECT DTFECHAESTQ FROM PARAMFILIAL WHERE CDFILIAL = ?"), {branch});
  if (!closing) return closing.error();
  if (closing->next() && !closing->value(0).isNull())
    days.stockClosing = QString::fromStdString(normalized(closing->value(0), ColumnType::Day));
  auto periods = sql::run(db,
                          QStringLiteral("SELECT DTINIPERCTB, DTFIMPERCTB FROM PERIODOCTB "
                                         "WHERE CDFILIAL = ? AND IDSITPERCTB = 'F'"),
                          {branch});
  if (!periods) return periods.error();
  while (periods->next())
    days.closed.emplace_back(QString::fromStdString(normalized(periods->value(0), ColumnType::Day)),
                             QString::fromStdString(normalized(periods->value(1), ColumnType::Day)));
  return &branchDays.emplace(key, std::move(days)).first->second;
}

bool Importer::State::dayAllowed(const Row& row) {
  if (!kind->dayColumn) return true;
  const QString branch = text(row, kind->branchColumn);
  const QString day = text(row, kind->dayColumn);
  if (day.isEmpty()) return true;
  auto days = daysOf(branch);
  if (!days) return failed(days.error());
  if (!(*days)->stockClosing.isEmpty() && day <= (*days)->stockClosing) {
    problem(row.line, kind->dayColumn,
            "o dia " + brDay(day).toStdString() + " não é posterior ao fechamento do estoque da filial " +
                branch.toStdString() + " (" + brDay((*days)->stockClosing).toStdString() + ")");
    return false;
  }
  for (const auto& [first, last] : (*days)->closed) {
    if (day >= first && day <= last) {
      problem(row.line, kind->dayColumn,
              "o dia " + brDay(day).toStdString() + " está no período contábil fechado da filial " +
                  branch.toStdString() + " (" + brDay(first).toStdString() + " a " + brDay(last).toStdString() + ")");
      return false;
    }
  }
  return true;
}

void Importer::State::forget(const std::string& table) {
  // a branch's settled days are read again after its parameters or periods change
  if (table == "PARAMFILIAL" || table == "PERIODOCTB") branchDays.clear();
}

// ---- registrations ----

namespace {

QString keyCondition(const Kind& kind) {
  QString where;
  for (const auto& c : kind.columns)
    if (c.key) where += (where.isEmpty() ? QString() : QStringLiteral(" AND ")) + QLatin1String(c.name) + " = ?";
  return where;
}

}  // namespace

Result<std::optional<std::vector<QVariant>>> Importer::State::stored(const Row& row) {
  QStringList columns;
  QVariantList keys;
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (present(int(c))) columns << QLatin1String(kind->columns[c].name);
    if (kind->columns[c].key) keys << row.values[c];
  }
  auto q = sql::run(db,
                    QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                        .arg(columns.join(", "), QLatin1String(kind->table), keyCondition(*kind)),
                    keys);
  if (!q) return q.error();
  if (!q->next()) return std::optional<std::vector<QVariant>>();
  std::vector<QVariant> values(kind->columns.size());
  int at = 0;
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (present(int(c))) values[c] = q->value(at++);
  return std::optional<std::vector<QVariant>>(std::move(values));
}

Status Importer::State::insert(const Row& row) {
  QStringList columns;
  QVariantList values;
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (!present(int(c))) continue;
    columns << QLatin1String(kind->columns[c].name);
    values << row.values[c];
  }
  auto q = sql::run(db,
                    QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                        .arg(QLatin1String(kind->table), columns.join(", "), placeholders(size_t(columns.size()))),
                    values);
  if (!q) return q.error();
  return success();
}

Status Importer::State::update(const Row& row) {
  QStringList sets;
  QVariantList values, keys;
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (kind->columns[c].key) {
      keys << row.values[c];
    } else if (present(int(c))) {
      sets << QLatin1String(kind->columns[c].name) + QStringLiteral(" = ?");
      values << row.values[c];
    }
  }
  values << keys;
  auto q = sql::run(
      db,
      QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(QLatin1String(kind->table), sets.join(", "), keyCondition(*kind)),
      values);
  if (!q) return q.error();
  return success();
}

void Importer::State::remember(const Row& row) {
  QStringList key;
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (kind->columns[c].key) key << row.values[c].toString();
  known[kind->table].insert(joinKey(key));
  if (std::strcmp(kind->table, "CAIXA") == 0)
    registerStore[joinKey({text(row, "CDFILIAL"), text(row, "CDCAIXA")})] = text(row, "CDLOJA").toStdString();
  forget(kind->table);
}

bool Importer::State::importRegistration(Row row) {
  auto& counts = count();
  if (!mayUseBranch(row) || !referencesExist(row) || !dayAllowed(row)) {
    ++counts.refused;
    return !failure;
  }
  auto before = stored(row);
  if (!before) return failed(before.error());
  if (!*before) {
    if (auto done = insert(row); !done) return failed(done.error());
    ++counts.inserted;
    remember(row);
    return true;
  }
  bool same = true;
  for (size_t c = 0; c < kind->columns.size() && same; ++c)
    if (present(int(c)) && !sameValue((**before)[c], row.values[c], kind->columns[c].type)) same = false;
  if (same) {
    ++counts.unchanged;
    return true;
  }
  // a key alone has nothing to change
  if (auto done = update(row); !done) return failed(done.error());
  ++counts.updated;
  remember(row);
  return true;
}

// ---- sales ----

namespace {

std::string saleName(const QString& branch, const QString& number) {
  return "venda " + number.toStdString() + " da filial " + branch.toStdString();
}

}  // namespace

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
    for (;;) {
      auto more = (*heads)->next();
      if (!more) return more.error();
      if (!*more) break;
      std::vector<QVariant> v;
      v.reserve(std::size(kSaleColumns));
      for (int i = 0; i < int(std::size(kSaleColumns)); ++i) v.push_back((*heads)->value(i));
      storedHeads.emplace(std::string((*heads)->text(1)), std::move(v));
    }
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
    for (;;) {
      auto more = (*items)->next();
      if (!more) return more.error();
      if (!*more) break;
      const auto& row = **items;
      StoredItem item{{row.value(1), row.value(2), row.value(3), row.value(4), row.value(5)},
                      !row.isNull(6) || !row.isNull(7)};
      storedItems[std::string(row.text(0))][row.value(1).toString()] = std::move(item);
    }
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

// ---- NFC-e ----

namespace {

// The sale keeps one payment form, a character: the document's largest
// payment's tPag, 01 to 09 as their digit and 10 onward as letters from A.
QVariant paymentForm(const std::vector<NfcePayment>& payments) {
  const NfcePayment* largest = nullptr;
  for (const auto& p : payments)
    if (!largest || p.value > largest->value) largest = &p;
  if (!largest) return sql::nullText();
  const int code = largest->type.toInt();
  if (code >= 1 && code <= 9) return QString(QChar(u'0' + code));
  if (code >= 10 && code <= 35) return QString(QChar(u'A' + (code - 10)));
  return QStringLiteral("Z");  // 90 no payment, 99 others
}

QString withoutLeadingZeros(const QString& text) {
  qsizetype at = 0;
  while (at + 1 < text.size() && text[at] == QLatin1Char('0')) ++at;
  return text.mid(at);
}

// The number series whose row lock orders the imports that number a branch's new NFC-e sales.
const char* const kNfceSaleSeries = "VENDANFCE";

// The issuer's CNPJ, the 7th to the 20th digit of an access key.
QString issuerOf(const QString& key) { return key.mid(6, 14); }

}  // namespace

bool Importer::State::nfceProblem(uint64_t line, const char* element, std::string reason) {
  problem(line, element, std::move(reason));
  return false;
}

Result<std::optional<Importer::State::NfceBranch>*> Importer::State::nfceBranchOf(const QString& cnpj) {
  const std::string key = cnpj.toStdString();
  if (auto it = nfceBranches.find(key); it != nfceBranches.end()) return &it->second;
  std::optional<NfceBranch> found;
  auto q = sql::run(db,
                    QStringLiteral("SELECT F.CDFILIAL, P.IDNFCEGTIN FROM FILIAL F LEFT JOIN PARAMFILIAL P "
                                   "ON P.CDFILIAL = F.CDFILIAL WHERE F.NRCNPJFILI = ? ORDER BY F.CDFILIAL"),
                    {cnpj});
  if (!q) return q.error();
  if (q->next()) found = NfceBranch{q->value(0).toString(), q->value(1).toString() == QLatin1String("S"), {}};
  if (found) {
    auto regs = sql::run(db,
                         QStringLiteral("SELECT CDSERIENFCE, CDCAIXA, CDLOJA FROM CAIXA "
                                        "WHERE CDFILIAL = ? AND CDSERIENFCE IS NOT NULL ORDER BY CDCAIXA"),
                         {found->code});
    if (!regs) return regs.error();
    while (regs->next())
      found->registers.push_back({withoutLeadingZeros(regs->value(0).toString().trimmed()), regs->value(1).toString(),
                                  regs->value(2).toString()});
  }
  return &nfceBranches.emplace(key, std::move(found)).first->second;
}

// The sale an access key already is, or the branch's next number: the key,
// not the number, is what makes an NFC-e the same sale again.
Result<Importer::State::NfceSale> Importer::State::nfceSale(const QString& branch, const QString& key) {
  if (auto found = nfceStoredSales.find(key.toStdString()); found != nfceStoredSales.end()) {
    NfceSale sale;
    sale.number = found->second.number;
    sale.storedCents = found->second.cents;
    // numbers past the greatest before this import are the ones it took
    const auto numbers = saleNumbers.find(branch.toStdString());
    sale.ofThisImport = numbers != saleNumbers.end() && sale.number.toLongLong() > numbers->second.before;
    return sale;
  }
  auto last = saleNumbers.find(branch.toStdString());
  if (last == saleNumbers.end()) {
    // another import numbering the branch's documents waits here until it
    // commits, then reads the greatest number it left (PostgreSQL read committed)
    if (auto locked = series::lock(db, branch, kNfceSaleSeries); !locked) return locked.error();
    auto greatest =
        sql::run(db, QStringLiteral("SELECT MAX(NRSEQVENDA) FROM VENDA WHERE CDFILIAL = ? AND LENGTH(NRSEQVENDA) = 10"),
                 {branch});
    if (!greatest) return greatest.error();
    qlonglong n = 0;
    if (greatest->next() && !greatest->value(0).isNull()) {
      bool ok = false;
      n = greatest->value(0).toString().toLongLong(&ok);
      if (!ok)
        return internalError("a filial " + branch.toStdString() + " tem a venda " +
                             greatest->value(0).toString().toStdString() +
                             ", que não é um número: as NFC-e não têm como numerar as suas vendas");
    }
    last = saleNumbers.emplace(branch.toStdString(), SaleNumbers{n, n}).first;
  }
  return NfceSale{QStringLiteral("%1").arg(++last->second.last, 10, 10, QLatin1Char('0')), std::nullopt, false};
}

Result<QString> Importer::State::nfceProduct(const NfceBranch& branch, const NfceItem& item) {
  const bool hasGtin = !item.gtin.isEmpty() && item.gtin != QLatin1String("SEM GTIN");
  if (!branch.byGtin || !hasGtin) return item.code;
  const std::string gtin = item.gtin.toStdString();
  if (auto it = productByGtin.find(gtin); it != productByGtin.end()) return it->second;
  auto q = sql::run(db, QStringLiteral("SELECT CDPRODUTO FROM PRODUTO WHERE CDGTINPROD = ? ORDER BY CDPRODUTO"),
                    {item.gtin});
  if (!q) return q.error();
  const QString code = q->next() ? q->value(0).toString() : QString();
  productByGtin.emplace(gtin, code);
  return code;
}

Result<QString> Importer::State::nfceCustomer(const QString& document) {
  const std::string key = document.toStdString();
  if (auto it = customerByDocument.find(key); it != customerByDocument.end()) return it->second;
  auto q = sql::run(db, QStringLiteral("SELECT CDCLIENTE FROM CLIENTE WHERE NRINSJURCLIE = ? ORDER BY CDCLIENTE"),
                    {document});
  if (!q) return q.error();
  const QString code = q->next() ? q->value(0).toString() : QString();
  customerByDocument.emplace(key, code);
  return code;
}

void Importer::State::importNfce(const NfceDocument& doc) {
  auto& counts = count();
  counts.items += doc.items.size();
  summary.lines += doc.items.size();
  long long totalCents = centsOf(doc.total);
  const std::string key = doc.key.toStdString();
  if (auto seen = nfceKeysUnwritten.find(key); seen != nfceKeysUnwritten.end()) {
    // the same document copied or renamed: one sale
    if (seen->second.totalCents == totalCents) {
      ++counts.unchanged;
      return;
    }
    nfceProblem(
        0, "NFe/infNFe/@Id",
        "a NFC-e " + key + " já veio no arquivo " + seen->second.file + " com outro valor: um dos dois foi alterado");
    ++counts.refused;
    return;
  }
  std::optional<NfceRecord> recorded;
  if (auto found = nfceStoredRecords.find(key); found != nfceStoredRecords.end()) recorded = found->second;
  const bool cancelledBefore = recorded && recorded->cancelled;
  nfceKeysUnwritten.emplace(key, NfceRead{fileName, totalCents, std::move(recorded)});
  auto refuse = [&] { ++counts.refused; };

  auto branch = nfceBranchOf(doc.issuerCnpj);
  if (!branch) return void(failed(branch.error()));
  if (!**branch) {
    nfceProblem(0, "NFe/infNFe/emit/CNPJ",
                "o emitente (CNPJ " + doc.issuerCnpj.toStdString() +
                    ") não é nenhuma filial: informe o CNPJ da filial (NRCNPJFILI) no cadastro");
    return refuse();
  }
  const NfceBranch& b = ***branch;
  const NfceRegister* reg = nullptr;
  for (const auto& r : b.registers)
    if (r.series == withoutLeadingZeros(doc.series)) reg = &r;
  if (!reg) {
    nfceProblem(0, "NFe/infNFe/ide/serie",
                "a série " + doc.series.toStdString() + " não é de nenhum caixa da filial " + b.code.toStdString() +
                    ": informe a série de NFC-e do caixa (CDSERIENFCE) no cadastro");
    return refuse();
  }
  auto stored = nfceSale(b.code, doc.key);
  if (!stored) return void(failed(stored.error()));
  if (stored->ofThisImport) {
    // the same document copied or renamed, its sale written already
    if (stored->storedCents == totalCents) {
      ++counts.unchanged;
      return;
    }
    nfceProblem(
        0, "NFe/infNFe/@Id",
        "a NFC-e " + key + " já veio em outro arquivo desta importação com outro valor: um dos dois foi alterado");
    return refuse();
  }
  const QString* number = &stored->number;

  Row head;
  head.line = 1;
  head.values.resize(kind->columns.size());
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (kind->columns[c].type == ColumnType::Text) head.values[c] = sql::nullText();
  auto set = [&](const char* name, QVariant v) { head.values[size_t(column(name))] = std::move(v); };
  set("CDFILIAL", b.code);
  set("NRSEQVENDA", *number);
  set("CDLOJA", reg->store);
  set("CDCAIXA", reg->code);
  set("DTVENDA", doc.day);
  set("DTENTRVENDA", doc.moment);
  set("NRCUPOMFIS", doc.number);
  // a document cancelled before stays cancelled, even if its sale was deleted since
  set("IDSITUVENDA", cancelledBefore ? QStringLiteral("C") : QStringLiteral("F"));
  set("IDTPFORPGVEN", paymentForm(doc.payments));
  set("CDCHAVENFCE", doc.key);
  set("VRTOTNFCE", doc.total);
  QString customer;
  if (!doc.customerDocument.isEmpty()) {
    auto found = nfceCustomer(doc.customerDocument);
    if (!found) return void(failed(found.error()));
    customer = *found;
  }
  if (!customer.isEmpty()) set("CDCLIENTE", customer);
  // a consumer sale keeps the name the document gives (to the column's size)
  else if (!doc.customerName.isEmpty())
    set("NMCONSUMIDOR", doc.customerName.left(50));

  Sale sale{fileName, joinKey({b.code, *number}), 1, {}, {}, false};
  sale.fresh = !stored->storedCents.has_value();
  bool sound = true;
  const importing::Reference product{"PRODUTO", {"CDPRODUTO"}, {"CDPRODUTO"}, "produto"};
  for (const auto& item : doc.items) {
    auto code = nfceProduct(b, item);
    if (!code) return void(failed(code.error()));
    if (code->isEmpty() || code->size() > 10 || !exists(product, {*code})) {
      if (failure) return;
      const bool byGtin = b.byGtin && code->isEmpty();
      nfceProblem(item.line, byGtin ? "NFe/infNFe/det/prod/cEAN" : "NFe/infNFe/det/prod/cProd",
                  "item " + item.number.toStdString() + ": produto " +
                      (byGtin ? "de GTIN " + item.gtin.toStdString() : item.code.toStdString()) + " não cadastrado");
      sound = false;
      continue;
    }
    sale.items.push_back({item.line, {item.number, *code, item.quantity, item.unitPrice, item.discount}});
  }
  if (!sound) return refuse();
  set("CDPRODUTO", sale.items.front().values[1]);
  sale.head = std::move(head);
  this->sale = std::move(sale);
  closeSale();
}

Status Importer::State::applyCancellations() {
  // events of earlier imports whose documents are in now (this import's included)
  auto waiting = sql::run(db, QStringLiteral("SELECT P.CDCHAVENFCE, P.NMARQUIVO FROM NFCECANCPEND P "
                                             "JOIN VENDA V ON V.CDCHAVENFCE = P.CDCHAVENFCE ORDER BY P.CDCHAVENFCE"));
  if (!waiting) return waiting.error();
  while (waiting->next())
    cancellations.emplace_back(waiting->value(1).toString().toStdString(), waiting->value(0).toString());
  for (const auto& [file, key] : cancellations)
    if (auto applied = applyCancellation(file, key); !applied) return applied;
  cancellations.clear();
  return writeNfceDays();
}

// A pending sale is cancelled (never posted, and the Z check counts it as
// nothing); a consolidated one is refused until its consolidation is reversed.
Status Importer::State::applyCancellation(const std::string& file, const QString& key) {
  auto& counts = count();
  const std::string current = fileName;
  fileName = file;
  struct Restore {
    std::string& name;
    std::string value;
    ~Restore() { name = value; }
  } restore{fileName, current};
  const char* element = "procEventoNFe/evento/infEvento/chNFe";
  const QString lock = dialect == Dialect::PostgreSQL ? QStringLiteral(" FOR UPDATE") : QString();
  auto sale = sql::run(db,
                       QStringLiteral("SELECT CDFILIAL, NRSEQVENDA, IDSITUVENDA FROM VENDA "
                                      "WHERE CDCHAVENFCE = ?") +
                           lock,
                       {key});
  if (!sale) return sale.error();
  if (!sale->next()) return keepCancellation(file, key);  // the sale may come, or was deleted
  const QString branch = sale->value(0).toString(), number = sale->value(1).toString();
  if (!boundBranch.empty() && branch.toStdString() != boundBranch) {
    problem(0, element, "a filial " + branch.toStdString() + " não é a do operador (" + boundBranch + ")");
    ++counts.refused;
    return success();
  }
  if (auto done = forgetWaitingCancellation(key); !done) return done;
  if (sale->value(2).toString() == QLatin1String("C")) {
    ++counts.unchanged;
    return cancelNfceRecord(key);
  }
  // a posting run of the branch holds this lock from before it reads the
  // sales to its commit: one under way is waited for (and its postings seen
  // below), one starting now waits for this import and finds the sale cancelled
  if (auto locked = series::lock(db, branch, series::kNote); !locked) return locked;
  auto posted = sql::run(db,
                         QStringLiteral("SELECT COUNT(*) FROM ITVENDA WHERE CDFILIAL = ? AND NRSEQVENDA = ? AND "
                                        "(NRLANCESTQ IS NOT NULL OR CDFILIALEST IS NOT NULL)"),
                         {branch, number});
  if (!posted) return posted.error();
  if (posted->next() && posted->value(0).toLongLong() > 0) {
    problem(0, element,
            saleName(branch, number) + " (NFC-e " + key.toStdString() +
                ") já consolidada: estorne a consolidação e importe o cancelamento de novo");
    ++counts.refused;
    return success();
  }
  auto cancelled = sql::run(
      db, QStringLiteral("UPDATE VENDA SET IDSITUVENDA = 'C' WHERE CDFILIAL = ? AND NRSEQVENDA = ?"), {branch, number});
  if (!cancelled) return cancelled.error();
  ++counts.updated;
  return cancelNfceRecord(key);
}

// The document counts in its register-day as it is imported now, in place
// of what an earlier import recorded of it (its sale deleted since, or
// replaced): the day's record stays the sum of the documents themselves,
// whatever the order of imports, deletions and cancellations.
Status Importer::State::recordNfceDocument(const Sale& s) {
  const QString key = text(s.head, "CDCHAVENFCE");
  const auto read = nfceKeysUnwritten.find(key.toStdString());
  const std::optional<NfceRecord>* before = read == nfceKeysUnwritten.end() ? nullptr : &read->second.recorded;
  const NfceRecord now{text(s.head, "CDFILIAL"), text(s.head, "CDCAIXA"), text(s.head, "DTVENDA"),
                       centsOf(s.head.values[size_t(column("VRTOTNFCE"))].toDouble()),
                       text(s.head, "IDSITUVENDA") == QLatin1String("C")};
  nfceStoredSales.insert_or_assign(key.toStdString(), StoredNfceSale{text(s.head, "NRSEQVENDA"), now.cents});
  if (before && *before) {
    const NfceRecord& old = **before;
    if (old == now) return success();
    countNfceRecord(old, -1);
    countNfceRecord(now, 1);
    auto updated = sql::run(db,
                            QStringLiteral("UPDATE NFCEDOCUMENTO SET CDFILIAL = ?, CDCAIXA = ?, DTVENDA = ?, "
                                           "VRCENTNFCE = ?, IDCANCELADA = ? WHERE CDCHAVENFCE = ?"),
                            {now.branch, now.cashRegister, now.day, now.cents,
                             now.cancelled ? QStringLiteral("S") : QStringLiteral("N"), key});
    if (!updated) return updated.error();
    return success();
  }
  countNfceRecord(now, 1);
  if (!recordRows)
    recordRows = std::make_unique<sql::RowWriter>(
        db, dialect, QStringLiteral("NFCEDOCUMENTO"),
        QStringList{"CDCHAVENFCE", "CDFILIAL", "CDCAIXA", "DTVENDA", "VRCENTNFCE", "IDCANCELADA"});
  return recordRows->add({key, now.branch, now.cashRegister, now.day, qlonglong(now.cents),
                          now.cancelled ? QStringLiteral("S") : QStringLiteral("N")});
}

// A cancellation takes the document out of its register-day once, whether
// its sale is there or was deleted.
Status Importer::State::cancelNfceRecord(const QString& key) {
  if (recordRows)
    if (auto f = recordRows->flush(); !f) return f;
  auto found = sql::run(db,
                        QStringLiteral("SELECT CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE FROM NFCEDOCUMENTO "
                                       "WHERE CDCHAVENFCE = ? AND IDCANCELADA = 'N'"),
                        {key});
  if (!found) return found.error();
  if (!found->next()) return success();
  const auto date = wiredate::dayFromDatabase(found->value(2));
  if (!date) return internalError("NFCEDOCUMENTO " + key.toStdString() + ": dia inválido");
  countNfceRecord({found->value(0).toString(), found->value(1).toString(), wiredate::dayText(*date),
                   found->value(3).toLongLong(), false},
                  -1);
  auto cancelled =
      sql::run(db, QStringLiteral("UPDATE NFCEDOCUMENTO SET IDCANCELADA = 'S' WHERE CDCHAVENFCE = ?"), {key});
  if (!cancelled) return cancelled.error();
  return success();
}

void Importer::State::countNfceRecord(const NfceRecord& record, int sign) {
  if (record.cancelled) return;
  auto& [cents, documents] = nfceDayChanges[{record.branch, record.cashRegister, record.day}];
  cents += sign * record.cents;
  documents += sign;
}

// Added to what earlier imports recorded: a register-day's row is made by its
// first document and only changes after.
Status Importer::State::writeNfceDays() {
  for (const auto& [day, change] : nfceDayChanges) {
    const auto& [branch, cashRegister, dayText] = day;
    auto written = sql::run(db,
                            QStringLiteral("INSERT INTO NFCECAIXADIA (CDFILIAL, CDCAIXA, DTVENDA, VRCENTNFCE, QTNFCE) "
                                           "VALUES (?, ?, ?, ?, ?) ON CONFLICT (CDFILIAL, CDCAIXA, DTVENDA) DO UPDATE "
                                           "SET VRCENTNFCE = NFCECAIXADIA.VRCENTNFCE + EXCLUDED.VRCENTNFCE, "
                                           "QTNFCE = NFCECAIXADIA.QTNFCE + EXCLUDED.QTNFCE"),
                            {branch, cashRegister, dayText, change.first, change.second});
    if (!written) return written.error();
  }
  nfceDayChanges.clear();
  return success();
}

// An event before its document: kept until the document comes, in this
// import or a later one. An operator bound to a branch keeps only events of
// its branch's documents (the key names the issuer).
Status Importer::State::keepCancellation(const std::string& file, const QString& key) {
  auto& counts = count();
  if (!boundBranch.empty()) {
    auto branch = nfceBranchOf(issuerOf(key));
    if (!branch) return branch.error();
    if (!**branch || (**branch)->code.toStdString() != boundBranch) {
      problem(0, "procEventoNFe/evento/infEvento/chNFe",
              "a NFC-e " + key.toStdString() + " não é de um emitente da filial do operador (" + boundBranch + ")");
      ++counts.refused;
      return success();
    }
  }
  if (auto done = cancelNfceRecord(key); !done) return done;
  auto kept = sql::run(db,
                       QStringLiteral("INSERT INTO NFCECANCPEND (CDCHAVENFCE, NMARQUIVO, DTRECEBIDO) VALUES (?, ?, ?) "
                                      "ON CONFLICT (CDCHAVENFCE) DO NOTHING"),
                       {key, QString::fromStdString(file).left(255),
                        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
  if (!kept) return kept.error();
  if (kept->numRowsAffected() > 0)
    ++counts.inserted;
  else
    ++counts.unchanged;
  return success();
}

Status Importer::State::forgetWaitingCancellation(const QString& key) {
  auto removed = sql::run(db, QStringLiteral("DELETE FROM NFCECANCPEND WHERE CDCHAVENFCE = ?"), {key});
  if (!removed) return removed.error();
  return success();
}

// ---- the import ----

Importer::Importer(std::unique_ptr<State> state) : s_(std::move(state)) {}
Importer::~Importer() = default;

Result<std::unique_ptr<Importer>> Importer::start(QSqlDatabase db, Dialect dialect, const std::string& operatorCode,
                                                  const std::string& boundBranch, bool dryRun) {
  bool allowed = false;
  {
    // read and let go before the transaction: on SQLite a read still open
    // would make BEGIN IMMEDIATE fail at once instead of waiting its turn
    auto right = sql::run(db, QStringLiteral("SELECT IDIMPORTA FROM OPERADOR WHERE CDOPERADOR = ?"),
                          {QString::fromStdString(operatorCode)});
    if (!right) return right.error();
    allowed = right->next() && right->value(0).toString() == QLatin1String("S");
  }
  if (!allowed)
    return Error{ErrorKind::PermissionDenied,
                 "o operador " + operatorCode +
                     " não tem o direito de importar dados (qfxserver --set-operator ... --operator-import S)"};
  auto state = std::make_unique<State>();
  state->db = db;
  state->dialect = dialect;
  state->boundBranch = boundBranch;
  state->dryRun = dryRun;
  auto transaction = sql::Transaction::begin(db, dialect);
  if (!transaction) return transaction.error();
  state->transaction.emplace(std::move(*transaction));
  return std::unique_ptr<Importer>(new Importer(std::move(state)));
}

Status Importer::beginFile(const std::string& name, const std::string& kind) { return s_->begin(name, kind); }

Status Importer::feed(std::string_view bytes) {
  if (s_->nfce) {
    if (s_->nfce->feed(bytes)) s_->nfceBytes += bytes.size();
    return success();
  }
  if (s_->skipFile || !s_->reader) return success();
  s_->reader->feed(bytes);
  if (s_->failure) return *s_->failure;
  return success();
}

uint64_t Importer::lines() const { return s_->summary.lines; }

Result<ImportSummary> Importer::finish() {
  if (auto ended = s_->end(""); !ended) return ended.error();
  auto& summary = s_->summary;
  if (summary.problemCount == 0 && !s_->dryRun) {
    if (auto committed = s_->transaction->commit(); !committed) return committed.error();
    summary.written = true;
  } else {
    s_->transaction->rollback();
  }
  return summary;
}

}  // namespace qfx::server
