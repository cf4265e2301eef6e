// Reads an import file as it arrives, piece by piece: UTF-8 with or without
// a byte order mark, ';' or ',' between fields (taken from the header line),
// quoted fields as RFC 4180 has them. The parsing itself is libcsv's; this
// class adds what an import needs around it: the separator, the line each
// record starts on, bounds on a field and a line (memory stays in proportion
// to one line, never to the file), and errors that name where they are.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qfx::server {

struct CsvProblem {
  uint64_t line = 0;   // 1-based; where the record at fault starts
  size_t field = 0;    // 1-based; 0: the line as a whole
  std::string reason;  // Portuguese, for the operator
};

struct CsvRecord {
  uint64_t line = 0;  // where it starts
  std::vector<std::string> fields;
};

struct CsvLimits {
  size_t fieldBytes = 64 * 1024;
  size_t lineBytes = 1024 * 1024;
  size_t fields = 256;
};

class CsvReader {
 public:
  using Limits = CsvLimits;
  // Called for every record, the header's included; returns false to stop.
  using RecordHandler = std::function<bool(const CsvRecord&)>;

  explicit CsvReader(RecordHandler onRecord, Limits limits = {});
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // The file's next bytes. After the first problem nothing more is read.
  void feed(std::string_view bytes);
  // The end of the file: a last line without its line break is a record; an
  // open quote or an empty file is a problem.
  void finish();

  const std::optional<CsvProblem>& problem() const { return problem_; }
  char separator() const { return separator_; }
  uint64_t records() const { return records_; }

 private:
  struct Parser;
  static void onField(void* data, size_t length, void* self);
  static void onRecordEnd(int terminator, void* self);

  void feedStart(std::string_view& bytes);
  bool chooseSeparator(std::string_view bytes, bool atEnd);
  void feedLines(std::string_view bytes);
  bool feedPieces(std::string_view line);
  std::string fieldTooLong() const;
  void fail(uint64_t line, size_t field, std::string reason);
  void parseFailed();

  RecordHandler onRecord_;
  Limits limits_;
  std::unique_ptr<Parser> parser_;
  std::string head_;  // the bytes before the separator is known
  bool started_ = false;
  bool stopped_ = false;
  char separator_ = 0;
  uint64_t line_ = 1;         // the line being fed
  uint64_t recordStart_ = 1;  // where the record being read started
  size_t recordBytes_ = 0;
  uint64_t records_ = 0;
  CsvRecord current_;
  std::optional<CsvProblem> problem_;
};

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool isUtf8(std::string_view bytes);

}  // namespace qfx::server
