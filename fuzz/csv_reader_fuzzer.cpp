// The import files' CSV reader (common/csv_reader): the first byte chooses
// how the rest is cut into pieces, as the import's stream cuts a file. The
// reader must read the same records, or stop at the same problem, whatever
// the cut; never hold a field or a line past its limits; hand on only
// well-formed UTF-8; and number lines in order.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/csv_reader.h"

namespace {

using qfx::server::CsvLimits;
using qfx::server::CsvReader;
using qfx::server::CsvRecord;

struct Reading {
  std::vector<CsvRecord> records;
  std::string problem;
};

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "csv_reader_fuzzer: %s\n", what);
  std::abort();
}

Reading read(std::string_view bytes, size_t piece, const CsvLimits& limits) {
  Reading r;
  CsvReader reader(
      [&](const CsvRecord& record) {
        r.records.push_back(record);
        return true;
      },
      limits);
  for (size_t at = 0; at < bytes.size(); at += piece) reader.feed(bytes.substr(at, piece));
  reader.finish();
  if (reader.problem())
    r.problem = std::to_string(reader.problem()->line) + ":" + std::to_string(reader.problem()->field) + ":" +
                reader.problem()->reason;
  return r;
}

bool same(const Reading& a, const Reading& b) {
  if (a.problem != b.problem || a.records.size() != b.records.size()) return false;
  for (size_t i = 0; i < a.records.size(); ++i)
    if (a.records[i].line != b.records[i].line || a.records[i].fields != b.records[i].fields) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  // small limits, so the fuzzer reaches them
  CsvLimits limits;
  limits.fieldBytes = 64;
  limits.lineBytes = 256;
  limits.fields = 16;
  const Reading whole = read(bytes, bytes.size() + 1, limits);
  const Reading cut = read(bytes, piece, limits);
  if (!same(whole, cut)) fault("the records depend on how the file was cut");
  uint64_t lastLine = 0;
  for (const auto& record : whole.records) {
    if (record.line < lastLine) fault("lines out of order");
    lastLine = record.line;
    if (record.fields.size() > limits.fields) fault("more fields than the limit");
    size_t bytesInLine = 0;
    for (const auto& f : record.fields) {
      if (f.size() > limits.fieldBytes) fault("a field past its limit");
      if (!qfx::server::isUtf8(f)) fault("a field not in UTF-8");
      bytesInLine += f.size() + 1;
    }
    if (bytesInLine > limits.lineBytes) fault("a line past its limit");
  }
  return 0;
}
