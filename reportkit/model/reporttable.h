// The rows of a report, each cell kept once: numbers as numbers, dates as
// moments, text as the id of one of its column's distinct values. The
// printed text and the spreadsheets' typed value are made from them when a
// page is painted or a file written, so a report of a million rows takes
// about what its values take and not a string and a variant per cell.
#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <vector>

#include "reporttemplate.h"

namespace reportkit {

// One line of the report in print order besides the detail rows it spans.
struct ReportLine {
  enum class Kind { GroupHeader, Details, GroupFooter, GrandTotal };
  Kind kind = Kind::Details;
  int level = 0;     // headers and footers: the group's level, 0 the outermost
  int firstRow = 0;  // details: the run of rows [firstRow, firstRow + rowCount)
  int rowCount = 0;
  QString text;       // header: the group's words; footer: its label and record count
  QStringList cells;  // footers: per column, the subtotal (empty where none)
};

// The distinct texts of a column, each stored once as UTF-8 and known by an
// id from 0 up.
class TextPool {
 public:
  uint32_t intern(QByteArrayView utf8);
  QString text(uint32_t id) const;
  qsizetype size() const { return qsizetype(starts_.size()) - 1; }
  qsizetype memoryBytes() const;

 private:
  QByteArrayView bytes(uint32_t id) const;
  void rehash(size_t count);

  std::vector<char> chars_;
  std::vector<uint32_t> starts_{0};  // per id its first byte; one more at the end
  std::vector<uint32_t> slots_;      // open addressing: id + 1, 0 for none
};

// The number of a value as the report sums and prints it: text read with
// the SQL decimal point (SQLite may give text for computed columns).
double reportNumberOf(const QVariant& value);
// A moment from a date column: QDate/QDateTime (PostgreSQL), days as a
// number (the dataset's date-time fields) or ISO text (SQLite); invalid when
// it reads as none.
QDateTime reportMomentOf(const QVariant& value);
// How many decimals a FormatFloat picture shows: at least its "0"s after the
// decimal point, at most those and its "#"s ("#,##0.000": 3 and 3; "0.##":
// 0 and 2); none for an empty picture.
struct PictureDecimals {
  int least = 0;
  int most = 0;
};
std::optional<PictureDecimals> pictureDecimals(const QString& picture);
// The decimals a number column keeps: the most its picture shows; none
// without a picture or with an exponent in it.
std::optional<int> keptDecimals(const ReportColumn& column);
// A number as its column shows it, and so as the report keeps, adds up and
// exports it: rounded half away from zero to its kept decimals (a line's
// money to the cent, the rule of the receipt and of the Z reduction), else
// to 15 significant digits.
double reportShownNumber(const ReportColumn& column, double value);
// A number as a column prints it: its FormatFloat picture, else as it is.
QString reportNumberText(const ReportColumn& column, double value);
// A moment as a date column prints it: its pattern (month and weekday names
// in Portuguese), else dd/MM/yyyy with the time when it carries one.
QString reportMomentText(const ReportColumn& column, const QDateTime& moment);

class ReportTable {
 public:
  ReportTable() = default;
  // Per column, its edit mask resolved (the host's pictures); empty: none.
  explicit ReportTable(QList<ReportColumn> columns, QStringList masks = {});

  QList<ReportColumn> columns;
  QList<ReportLine> lines;
  QStringList totals;  // per column: the grand total's first line, empty for columns without total
  bool hasTotals = false;

  int rowCount() const { return rows_; }
  bool isEmpty() const { return rows_ == 0; }
  // A cell as printed: numbers in their picture, dates in their pattern,
  // text through its mask; empty for NULL.
  QString text(int row, int column) const;
  // A cell for the spreadsheets: double, QDateTime or the printed text;
  // null for NULL.
  QVariant value(int row, int column) const;
  bool isNull(int row, int column) const;
  // The id of a text cell among its column's distinct texts (the same id,
  // the same text); -1 for NULL and for other kinds.
  qint64 textId(int row, int column) const;
  QStringList rowTexts(int row) const;
  // Every row as printed: for small tables (tests, a few rows).
  QList<QStringList> texts() const;
  qsizetype memoryBytes() const;

  // Filling, a row at a time: one append per column in order, then endRow().
  void appendNull(int column);
  void appendText(int column, QByteArrayView utf8);
  void appendNumber(int column, double value);
  // A date column's cell; text that does not read as a date is kept as text.
  void appendMoment(int column, const QDateTime& moment, const QString& textIfInvalid);
  void endRow() { ++rows_; }

 private:
  struct Cells {
    ReportColumn::Type type = ReportColumn::Type::Text;
    QString mask;
    std::vector<uint32_t> ids;       // text: the pool's id
    std::vector<double> numbers;     // number
    std::vector<qint64> moments;     // date: Julian day and milliseconds of the day
    std::vector<bool> nulls;         // per row
    TextPool pool;                   // text
    QHash<int, QString> notMoments;  // date: by row, the text of a value that reads as no date
  };
  const Cells& cellsOf(int column) const { return cells_[size_t(column)]; }
  QString printedText(const Cells& cells, const ReportColumn& column, int row) const;
  void markNull(Cells& cells, bool null);

  std::vector<Cells> cells_;
  int rows_ = 0;
};

}  // namespace reportkit
