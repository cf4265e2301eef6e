// What each kind of import file feeds: its table, its columns (the schema's
// own names, so an export is mapped by hand), the key a row is found by and
// the rows it must name that exist. One description drives the reading, the
// checks and the writes of every registration; sales have their own reader
// (one line per item) on top of the same columns.
#pragma once

#include <string>
#include <vector>

namespace qfx::server::importing {

enum class ColumnType { Text, Day, Moment, Number, Integer };

struct Column {
  const char* name;
  ColumnType type;
  int size;  // characters, text only
  bool required;
  bool key;
  const char* fallback = nullptr;  // the value an empty field stands for (the column's default)
};

// A row another table must hold: its columns named by this file's columns
// (in the other table's key order). Skipped while any of them is empty.
struct Reference {
  const char* table;
  std::vector<const char*> columns;  // this file's
  std::vector<const char*> keys;     // the other table's
  const char* what;                  // "filial", "produto": for the problem's text
};

struct Kind {
  const char* name;   // the file kind, as the client names it
  const char* table;  // the table it writes (sales: VENDA and ITVENDA)
  std::vector<Column> columns;
  std::vector<Reference> references;
  // the branch a row belongs to, for operators bound to one; null: rows
  // shared by every branch, which only operators free of a branch import
  const char* branchColumn;
  // the day a row is for, refused in a closed accounting period or on or
  // before the branch's stock closing; null: none
  const char* dayColumn;
};

// Every kind, in the order files are imported: a row is read after the
// rows it names.
const std::vector<Kind>& kinds();
const Kind* findKind(const std::string& name);
// The kind's place in that order; kinds().size() for an unknown name.
size_t kindRank(const std::string& name);

inline constexpr const char* kSales = "VENDA";
// An authorised NFC-e's XML, one document a file, read into a sale.
inline constexpr const char* kNfce = "NFCE";
// Whether a kind's rows are sales (its writes go to VENDA and ITVENDA).
bool isSalesKind(const std::string& name);
// The columns of a sales file that belong to the item (the rest are the sale's).
bool isItemColumn(const std::string& column);

}  // namespace qfx::server::importing
