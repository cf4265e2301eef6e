#include "common/csv_reader.h"

#include <csv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qfx::server {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// libcsv grows its field buffer through this function and gives it no
// context: the bound of the reader that is parsing is kept per thread while
// it parses. A refusal stops libcsv with CSV_ENOMEM, reported as a field too
// long. The reader's pieces keep the buffer below it (see feedLines); it
// stays as the last guard that a gigabyte never reaches memory.
thread_local size_t tFieldLimit = 64 * 1024;
thread_local bool tFieldTooLong = false;

void* boundedRealloc(void* block, size_t size) {
  if (size > tFieldLimit) {
    tFieldTooLong = true;
    return nullptr;
  }
  return std::realloc(block, size);
}

size_t countOf(std::string_view text, char c) { return size_t(std::count(text.begin(), text.end(), c)); }

std::string lineText(uint64_t line) { return std::to_string(line); }

}  // namespace

struct CsvReader::Parser {
  csv_parser p{};
  Parser() {
    csv_init(&p, CSV_STRICT | CSV_STRICT_FINI);
    csv_set_realloc_func(&p, boundedRealloc);
  }
  ~Parser() { csv_free(&p); }
  bool betweenRecords() const { return p.pstate == 0; }
};

bool isUtf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t code = 0;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1;
      code = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2;
      code = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (s[i + k] & 0x3F);
    }
    if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
        (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

CsvReader::CsvReader(RecordHandler onRecord, Limits limits)
    : onRecord_(std::move(onRecord)), limits_(limits), parser_(std::make_unique<Parser>()) {}

CsvReader::~CsvReader() = default;

void CsvReader::fail(uint64_t line, size_t field, std::string reason) {
  if (!problem_) problem_ = CsvProblem{line, field, std::move(reason)};
  stopped_ = true;
}

void CsvReader::feed(std::string_view bytes) {
  if (stopped_ || bytes.empty()) return;
  if (!started_) {
    feedStart(bytes);
    return;
  }
  feedLines(bytes);
}

// The first line decides the separator, so the bytes are kept until it is
// whole (or too long to be a header).
void CsvReader::feedStart(std::string_view& bytes) {
  head_.append(bytes);
  if (!chooseSeparator(head_, false)) return;
  std::string head = std::move(head_);
  head_.clear();
  feedLines(head);
}

bool CsvReader::chooseSeparator(std::string_view bytes, bool atEnd) {
  if (bytes.size() >= 2 && ((uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) ||
                            (uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF))) {
    fail(1, 0, "o arquivo está gravado em UTF-16; grave-o em UTF-8");
    return false;
  }
  std::string_view text = bytes;
  if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
  const size_t end = text.find('\n');
  if ((end == std::string_view::npos ? text.size() : end) > limits_.lineBytes) {
    fail(1, 0, "a linha de cabeçalho é longa demais (não é um arquivo CSV?)");
    return false;
  }
  if (end == std::string_view::npos && !atEnd) return false;
  const std::string_view header = text.substr(0, end);
  separator_ = countOf(header, ';') >= countOf(header, ',') && countOf(header, ';') > 0 ? ';' : ',';
  csv_set_delim(&parser_->p, static_cast<unsigned char>(separator_));
  started_ = true;
  // the mark itself is no part of the first column's name
  if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) head_.erase(0, kUtf8Bom.size());
  return true;
}

// Each line goes to libcsv in pieces that cannot carry a field past its
// limit unseen: the field being read is measured after every piece, so a
// field too long is refused at the same byte however the file was cut, and
// libcsv's buffer never holds much more than one field.
void CsvReader::feedLines(std::string_view bytes) {
  tFieldLimit = 4 * limits_.fieldBytes + 65536;  // a backstop only: the pieces keep below it
  tFieldTooLong = false;
  while (!bytes.empty() && !stopped_) {
    const size_t end = bytes.find('\n');
    const size_t length = end == std::string_view::npos ? bytes.size() : end + 1;
    if (!feedPieces(bytes.substr(0, length))) return;
    if (end != std::string_view::npos) ++line_;
    bytes.remove_prefix(length);
  }
}

bool CsvReader::feedPieces(std::string_view line) {
  while (!line.empty() && !stopped_) {
    if (parser_->betweenRecords()) {
      recordStart_ = line_;
      recordBytes_ = 0;
    }
    const size_t room = limits_.fieldBytes + 1 - std::min(parser_->p.entry_pos, limits_.fieldBytes);
    const size_t length = std::min(line.size(), room);
    const size_t parsed = csv_parse(&parser_->p, line.data(), length, onField, onRecordEnd, this);
    if (parsed != length) {
      parseFailed();
      return false;
    }
    if (parser_->p.entry_pos > limits_.fieldBytes) {
      fail(recordStart_, current_.fields.size() + 1, fieldTooLong());
      return false;
    }
    line.remove_prefix(length);
  }
  return !stopped_;
}

std::string CsvReader::fieldTooLong() const {
  return "campo com mais de " + std::to_string(limits_.fieldBytes) + " bytes (falta uma quebra de linha ou uma aspa?)";
}

void CsvReader::parseFailed() {
  if (stopped_) return;
  if (tFieldTooLong || csv_error(&parser_->p) == CSV_ENOMEM || csv_error(&parser_->p) == CSV_ETOOBIG) {
    fail(recordStart_, current_.fields.size() + 1, fieldTooLong());
    return;
  }
  fail(line_, current_.fields.size() + 1,
       "aspas fora do lugar: um campo com aspas deve começar e terminar com elas, e aspas dentro dele são dobradas");
}

void CsvReader::onField(void* data, size_t length, void* self) {
  auto& reader = *static_cast<CsvReader*>(self);
  if (reader.stopped_) return;
  std::string_view value(data ? static_cast<const char*>(data) : "", data ? length : 0);
  const size_t field = reader.current_.fields.size() + 1;
  reader.recordBytes_ += value.size() + 1;
  if (field > reader.limits_.fields) {
    reader.fail(reader.recordStart_, 0, "linha com mais de " + std::to_string(reader.limits_.fields) + " campos");
    return;
  }
  if (reader.recordBytes_ > reader.limits_.lineBytes) {
    reader.fail(reader.recordStart_, 0, "linha com mais de " + std::to_string(reader.limits_.lineBytes) + " bytes");
    return;
  }
  if (value.size() > reader.limits_.fieldBytes) {
    reader.fail(reader.recordStart_, field, reader.fieldTooLong());
    return;
  }
  if (value.find('\0') != std::string_view::npos) {
    reader.fail(reader.recordStart_, field, "caractere nulo no campo (o arquivo não é texto?)");
    return;
  }
  if (!isUtf8(value)) {
    reader.fail(reader.recordStart_, field, "texto fora de UTF-8 (grave o arquivo em UTF-8)");
    return;
  }
  reader.current_.fields.emplace_back(value);
}

void CsvReader::onRecordEnd(int, void* self) {
  auto& reader = *static_cast<CsvReader*>(self);
  if (reader.stopped_) return;
  reader.current_.line = reader.recordStart_;
  ++reader.records_;
  if (!reader.onRecord_(reader.current_)) reader.stopped_ = true;
  reader.current_.fields.clear();
  // a record ended by a bare carriage return leaves the next one on this
  // line; one ended by a line break is moved on when the next line is fed
  reader.recordStart_ = reader.line_;
  reader.recordBytes_ = 0;
}

void CsvReader::finish() {
  if (stopped_) return;
  if (!started_) {
    if (!chooseSeparator(head_, true)) return;
    std::string head = std::move(head_);
    head_.clear();
    feedLines(head);
    if (stopped_) return;
  }
  // the line count already moved past the line breaks inside the open field
  const uint64_t openedAt = recordStart_;
  if (csv_fini(&parser_->p, onField, onRecordEnd, this) != 0) {
    fail(openedAt, current_.fields.size() + 1,
         "aspas abertas na linha " + lineText(openedAt) + " não se fecham até o fim do arquivo (arquivo truncado?)");
    return;
  }
  if (!stopped_ && records_ == 0) fail(0, 0, "arquivo vazio");
}

}  // namespace qfx::server
