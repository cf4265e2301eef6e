// The importer's state and the few helpers its parts share. Internal to
// appserver/domain: importer.cpp (the import's face, its files) and the
// importer_*.cpp parts (checks, registrations, sales, NFC-e) include it,
// nothing outside this folder does.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "common/csv_reader.h"
#include "common/nfce_reader.h"
#include "db/row_writer.h"
#include "db/sql.h"
#include "domain/import_tables.h"
#include "domain/importer.h"

namespace qfx::server {

// What the importer's state (Importer::State, declared below) holds
// has linkage like it: a class with linkage must not hold a type without.
namespace importing {

// Sales checked against the database and written together: one query finds
// which of them are stored already. The query stays near a hundred
// parameters: Qt's SQLite driver looks each one up by name, so binding costs
// grow with the square of a statement's parameters.
// PostgreSQL binds by position and takes larger batches: fewer round trips.
inline constexpr size_t kSqliteSalesPerBatch = 100, kPostgresSalesPerBatch = 1000;

// A sales file's item columns, in the order an item keeps its values.
inline constexpr const char* kItemColumns[] = {"NRSEQUITVEND", "CDPRODUTO", "QTPRODVEND", "VRUNITVEND", "VRDESITVEND"};

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

// Whether a stored value is the imported one (defined with the checks).
bool sameValue(const QVariant& stored, const QVariant& imported, ColumnType type);
// The key the rows found to exist are kept under (defined with the sales).
std::string joinKey(const QStringList& parts);
// "venda N da filial F", as the problems name a sale (defined with the sales).
std::string saleName(const QString& branch, const QString& number);

}  // namespace importing

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
  const importing::Kind* kind = nullptr;
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
  std::unordered_map<std::string, importing::BranchDays> branchDays;
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
  std::optional<importing::Sale> sale;
  std::vector<importing::Sale> batch;
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
    int item[std::size(importing::kItemColumns)] = {};
    std::vector<size_t> repeated;  // the sale's columns the file has, which every line repeats
  } saleColumns;
  void findSaleColumns();
  bool present(int c) const { return c >= 0 && fileColumnOf[size_t(c)] >= 0; }
  QString text(const importing::Row& row, const char* name) const {
    const int c = column(name);
    return c < 0 || row.values[size_t(c)].isNull() ? QString() : row.values[size_t(c)].toString();
  }

  // ---- files (importer.cpp) ----

  Status begin(const std::string& name, const std::string& kindName);
  Status end(const std::string& nextKind);
  bool onRecord(const CsvRecord& record);
  bool readHeader(const CsvRecord& record);
  std::optional<importing::Row> parse(const CsvRecord& record);
  std::optional<QVariant> value(const importing::Column& c, const std::string& field, uint64_t line);

  // ---- checks (importer_checks.cpp) ----

  bool mayUseBranch(const importing::Row& row);
  bool exists(const importing::Reference& ref, const QStringList& values);
  bool referencesExist(const importing::Row& row);
  bool sameAsFound(size_t refAt, const importing::Row& row) const;
  void rememberFound(size_t refAt, const importing::Row& row);
  bool dayAllowed(const importing::Row& row);
  Result<importing::BranchDays*> daysOf(const QString& branch);
  void forget(const std::string& table);

  // ---- registrations (importer_registrations.cpp) ----

  bool importRegistration(importing::Row row);
  Result<std::optional<std::vector<QVariant>>> stored(const importing::Row& row);
  Status insert(const importing::Row& row);
  Status update(const importing::Row& row);
  void remember(const importing::Row& row);

  // ---- sales (importer_sales.cpp) ----

  bool addSaleLine(importing::Row row);
  static uint64_t earlierLineOfItem(importing::Sale& sale, const importing::ImportedItem& item);
  bool refuseSaleLine(const CsvRecord& record);
  void closeSale();
  bool saleIsSound(const importing::Sale& s);
  Status writeBatch();
  Status writeSales(const QString& branch, std::vector<importing::Sale*>& sales);
  Status insertSale(const importing::Sale& s);
  Status insertItems(const importing::Sale& s);
  Status replaceSale(const importing::Sale& s);
  Status refreshSaleStatistics();

  // ---- NFC-e (importer_nfce.cpp) ----

  void settleNfce(const std::string& name, const server::NfceRead& read);
  void queueNfce(std::string name, server::NfceRead read);
  Status settleWaitingNfce();
  Status findStoredNfce();
  Status recordNfceDocument(const importing::Sale& s);
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

}  // namespace qfx::server
