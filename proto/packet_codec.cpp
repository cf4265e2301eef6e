#include "packet_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "qfx31700.pb.h"

namespace qfx::packet {

int64_t integerOf(double value) {
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (std::isnan(value)) return 0;
  if (value >= kLimit) return std::numeric_limits<int64_t>::max();
  if (value < -kLimit) return std::numeric_limits<int64_t>::min();
  return int64_t(value);
}

Column::Column(FieldType type) : type_(type) {}

// The bitmap reaches only as far as the last null row: rows appended after
// it are values.
bool Column::isNull(size_t row) const {
  if (row / 8 >= nullBits_.size()) return false;
  return (nullBits_[row / 8] >> (row % 8)) & 1u;
}

std::string_view Column::text(size_t row) const {
  if (type_ != FieldType::Text) return {};
  const size_t i = dictionary_ ? codes_[row] : row;
  return std::string_view(textData_).substr(textOffsets_[i], textOffsets_[i + 1] - textOffsets_[i]);
}

double Column::number(size_t row) const {
  switch (type_) {
    case FieldType::DateTime:
    case FieldType::Float:
      return numbers_[row];
    case FieldType::Integer:
      return double(integers_[row]);
    case FieldType::Boolean:
      return booleans_[row];
    case FieldType::Text:
      return 0;
  }
  return 0;
}

int64_t Column::integer(size_t row) const {
  switch (type_) {
    case FieldType::Integer:
      return integers_[row];
    case FieldType::DateTime:
    case FieldType::Float:
      return integerOf(numbers_[row]);
    case FieldType::Boolean:
      return booleans_[row];
    case FieldType::Text:
      return 0;
  }
  return 0;
}

bool Column::boolean(size_t row) const {
  switch (type_) {
    case FieldType::Boolean:
      return booleans_[row] != 0;
    case FieldType::Integer:
      return integers_[row] != 0;
    case FieldType::DateTime:
    case FieldType::Float:
      return numbers_[row] != 0;
    case FieldType::Text:
      return false;
  }
  return false;
}

void Column::markNull(size_t row) {
  if (nullBits_.size() < (row / 8) + 1) nullBits_.resize(row / 8 + 1, 0);
  nullBits_[row / 8] |= uint8_t(1u << (row % 8));
}

void Column::appendNull() {
  markNull(rows_);
  switch (type_) {
    case FieldType::Text:
      if (dictionary_) expand();
      textOffsets_.push_back(uint32_t(textData_.size()));
      break;
    case FieldType::DateTime:
    case FieldType::Float:
      numbers_.push_back(0);
      break;
    case FieldType::Integer:
      integers_.push_back(0);
      break;
    case FieldType::Boolean:
      booleans_.push_back(0);
      break;
  }
  ++rows_;
}

void Column::appendText(std::string_view value) {
  if (dictionary_) expand();  // the test inline: appended for every cell of a list
  textData_.append(value);
  textOffsets_.push_back(uint32_t(textData_.size()));
  ++rows_;
}

void Column::appendNumber(double value) {
  numbers_.push_back(value);
  ++rows_;
}

void Column::appendInteger(int64_t value) {
  integers_.push_back(value);
  ++rows_;
}

void Column::appendBoolean(bool value) {
  booleans_.push_back(value ? 1 : 0);
  ++rows_;
}

void Column::setNull(size_t row, bool null) {
  if (null) {
    markNull(row);
  } else if (row / 8 < nullBits_.size()) {
    nullBits_[row / 8] &= uint8_t(~(1u << (row % 8)));
  }
}

void Column::setNumber(size_t row, double value) {
  numbers_[row] = value;
  setNull(row, false);
}

void Column::setInteger(size_t row, int64_t value) {
  integers_[row] = value;
  setNull(row, false);
}

void Column::setBoolean(size_t row, bool value) {
  booleans_[row] = value ? 1 : 0;
  setNull(row, false);
}

void Column::clear() { *this = Column(type_); }

void Column::clearRows() {
  expand();
  rows_ = 0;
  textData_.clear();
  textOffsets_.assign(1, 0);
  numbers_.clear();
  integers_.clear();
  booleans_.clear();
  nullBits_.clear();
}

void Column::reserve(size_t rows) {
  switch (type_) {
    case FieldType::Text:
      expand();
      textOffsets_.reserve(rows + 1);
      break;
    case FieldType::DateTime:
    case FieldType::Float:
      numbers_.reserve(rows);
      break;
    case FieldType::Integer:
      integers_.reserve(rows);
      break;
    case FieldType::Boolean:
      booleans_.reserve(rows);
      break;
  }
}

size_t Column::byteSize() const {
  return textData_.capacity() + textOffsets_.capacity() * sizeof(uint32_t) + numbers_.capacity() * sizeof(double) +
         integers_.capacity() * sizeof(int64_t) + booleans_.capacity() + nullBits_.capacity() + codes_.capacity();
}

void Column::compact() {
  if (type_ == FieldType::Text && !dictionary_ && !tryDictionary()) {
    textData_.shrink_to_fit();
    textOffsets_.shrink_to_fit();
  }
  numbers_.shrink_to_fit();
  integers_.shrink_to_fit();
  booleans_.shrink_to_fit();
  nullBits_.shrink_to_fit();
}

// Codes the rows with at most 256 distinct values, when that takes less
// memory than a text and an offset a row. Rows are mostly sorted, so a row
// usually repeats the one before and skips the lookup.
bool Column::tryDictionary() {
  constexpr size_t kMaxValues = 256;
  if (rows_ < 64) return false;
  std::unordered_map<std::string_view, uint8_t> index;
  std::vector<uint8_t> codes(rows_);
  std::string_view previous;
  uint8_t previousCode = 0;
  for (size_t row = 0; row < rows_; ++row) {
    const std::string_view value = text(row);
    if (row > 0 && value == previous) {
      codes[row] = previousCode;
      continue;
    }
    auto [at, added] = index.try_emplace(value, uint8_t(index.size()));
    if (added && index.size() > kMaxValues) return false;
    codes[row] = previousCode = at->second;
    previous = value;
  }
  std::vector<std::string_view> values(index.size());
  size_t valueBytes = 0;
  for (const auto& [value, code] : index) {
    values[code] = value;
    valueBytes += value.size();
  }
  const size_t plain = textData_.size() + textOffsets_.size() * sizeof(uint32_t);
  if (valueBytes + (values.size() + 1) * sizeof(uint32_t) + rows_ >= plain) return false;
  std::string data;
  data.reserve(valueBytes);
  std::vector<uint32_t> offsets{0};
  offsets.reserve(values.size() + 1);
  for (std::string_view value : values) {
    data.append(value);
    offsets.push_back(uint32_t(data.size()));
  }
  textData_ = std::move(data);  // `index` and `values` pointed into the old buffer; done with them
  textOffsets_ = std::move(offsets);
  codes_ = std::move(codes);
  dictionary_ = true;
  return true;
}

void Column::expand() {
  if (!dictionary_) return;
  std::string data;
  std::vector<uint32_t> offsets{0};
  offsets.reserve(rows_ + 1);
  for (size_t row = 0; row < rows_; ++row) {
    data.append(text(row));
    offsets.push_back(uint32_t(data.size()));
  }
  textData_ = std::move(data);
  textOffsets_ = std::move(offsets);
  codes_ = {};
  dictionary_ = false;
}

Packet::Packet(std::vector<FieldDef> defs) : fields(std::move(defs)) {
  columns.reserve(fields.size());
  for (const auto& f : fields) columns.emplace_back(f.type);
}

static bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
}

int Packet::fieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields.size(); ++i)
    if (sameNameIgnoringCase(fields[i].name, name)) return int(i);
  return -1;
}

// ---- encoding ---------------------------------------------------------------

static rpc::FieldType toWire(FieldType t) {
  switch (t) {
    case FieldType::Text:
      return rpc::FT_TEXT;
    case FieldType::DateTime:
      return rpc::FT_DATETIME;
    case FieldType::Float:
      return rpc::FT_FLOAT;
    case FieldType::Integer:
      return rpc::FT_INTEGER;
    case FieldType::Boolean:
      return rpc::FT_BOOLEAN;
  }
  return rpc::FT_TEXT;
}

static std::optional<FieldType> fromWire(int t) {
  switch (t) {
    case rpc::FT_TEXT:
      return FieldType::Text;
    case rpc::FT_DATETIME:
      return FieldType::DateTime;
    case rpc::FT_FLOAT:
      return FieldType::Float;
    case rpc::FT_INTEGER:
      return FieldType::Integer;
    case rpc::FT_BOOLEAN:
      return FieldType::Boolean;
    default:
      return std::nullopt;
  }
}

void fillHeader(const std::vector<FieldDef>& fields, uint32_t id, rpc::PacketHeader* header) {
  header->set_id(id);
  for (const auto& f : fields) {
    auto* def = header->add_fields();
    def->set_name(f.name);
    def->set_type(toWire(f.type));
    def->set_size(f.size);
  }
}

static size_t rowBytes(const Packet& packet, size_t row) {
  size_t bytes = 0;
  for (const auto& c : packet.columns) bytes += c.type() == FieldType::Text ? c.text(row).size() + 2 : 9;
  return bytes;
}

static void encodeRange(const Column& c, size_t first, size_t last, rpc::Column* out) {
  bool anyNull = false;
  for (size_t r = first; r < last && !anyNull; ++r) anyNull = c.isNull(r);
  if (anyNull) {
    std::string bits((last - first + 7) / 8, '\0');
    for (size_t r = first; r < last; ++r)
      if (c.isNull(r)) bits[(r - first) / 8] = char(uint8_t(bits[(r - first) / 8]) | (1u << ((r - first) % 8)));
    out->set_nulls(std::move(bits));
  }
  switch (c.type()) {
    case FieldType::Text: {
      if (c.isDictionary()) {
        std::string* data = out->mutable_text_data();
        for (size_t r = first; r < last; ++r) {
          data->append(c.text(r));
          out->add_text_lengths(uint32_t(c.text(r).size()));
        }
        break;
      }
      const auto& offs = c.textOffsets();
      out->set_text_data(c.textData().substr(offs[first], offs[last] - offs[first]));
      out->mutable_text_lengths()->Reserve(int(last - first));
      for (size_t r = first; r < last; ++r) out->add_text_lengths(offs[r + 1] - offs[r]);
      break;
    }
    case FieldType::DateTime:
    case FieldType::Float:
      out->mutable_numbers()->Add(c.numbers().begin() + long(first), c.numbers().begin() + long(last));
      break;
    case FieldType::Integer:
      out->mutable_integers()->Add(c.integers().begin() + long(first), c.integers().begin() + long(last));
      break;
    case FieldType::Boolean:
      out->set_booleans(std::string(c.booleans().begin() + long(first), c.booleans().begin() + long(last)));
      break;
  }
}

static rpc::PacketChunk encodeRows(const Packet& packet, uint32_t id, size_t first, size_t last) {
  rpc::PacketChunk chunk;
  chunk.set_packet(id);
  chunk.set_rows(uint32_t(last - first));
  for (const auto& c : packet.columns) encodeRange(c, first, last, chunk.add_columns());
  return chunk;
}

void encodeChunks(const Packet& packet, uint32_t id, size_t maxChunkBytes,
                  const std::function<void(rpc::PacketChunk&&)>& emit) {
  const size_t rows = packet.rowCount();
  size_t first = 0;
  do {
    size_t last = first, bytes = 0;
    while (last < rows && (bytes == 0 || bytes + rowBytes(packet, last) <= maxChunkBytes)) {
      bytes += rowBytes(packet, last);
      ++last;
    }
    rpc::PacketChunk chunk = encodeRows(packet, id, first, last);
    if (last == rows) {
      chunk.set_last(true);
      chunk.set_row_count(rows);
    }
    emit(std::move(chunk));
    first = last;
  } while (first < rows);
}

ChunkStreamer::ChunkStreamer(std::vector<FieldDef> fields, uint32_t id, size_t maxChunkBytes, Emit emit)
    : rows_(std::move(fields)), id_(id), maxChunkBytes_(maxChunkBytes), emit_(std::move(emit)) {
  for (const auto& c : rows_.columns) fixedRowBytes_ += c.type() == FieldType::Text ? 2 : 9;
}

void ChunkStreamer::rowAdded() {
  // what rowBytes() sums row by row, from the held texts' size: a row of
  // many columns is added at the pace of its cells
  size_t bytes = fixedRowBytes_ * rows_.rowCount();
  for (const auto& c : rows_.columns) bytes += c.textData().size();
  if (bytes >= maxChunkBytes_) send(false);
}

void ChunkStreamer::finish() { send(true); }

void ChunkStreamer::send(bool last) {
  const size_t rows = rows_.rowCount();
  rpc::PacketChunk chunk = encodeRows(rows_, id_, 0, rows);
  sent_ += rows;
  if (last) {
    chunk.set_last(true);
    chunk.set_row_count(sent_);
  }
  for (auto& column : rows_.columns) column.clearRows();
  emit_(std::move(chunk));
}

// ---- decoding ---------------------------------------------------------------

std::optional<std::string> PacketAssembler::begin(const rpc::PacketHeader& header) {
  if (pending_.count(header.id())) return "pacote de dados repetido na resposta";
  std::vector<FieldDef> defs;
  for (const auto& f : header.fields()) {
    auto type = fromWire(f.type());
    if (!type) return "pacote de dados com tipo de campo desconhecido em " + f.name();
    if (f.name().empty()) return "pacote de dados com campo sem nome";
    defs.push_back({f.name(), *type, f.size()});
  }
  pending_.emplace(header.id(), Pending{Packet(std::move(defs))});
  return std::nullopt;
}

// Whether one column of a chunk holds exactly `rows` values of its type.
static std::optional<std::string> checkColumn(const rpc::Column& in, const Column& col, size_t rows) {
  if (!in.nulls().empty() && in.nulls().size() != (rows + 7) / 8) return "pacote de dados com mapa de nulos inválido";
  switch (col.type()) {
    case FieldType::Text: {
      if (size_t(in.text_lengths_size()) != rows) return "pacote de dados com textos truncados";
      uint64_t total = 0;
      for (auto len : in.text_lengths()) total += len;
      if (total != in.text_data().size()) return "pacote de dados com textos de tamanho inválido";
      if (col.textData().size() + total > UINT32_MAX) return "pacote de dados grande demais";
      break;
    }
    case FieldType::DateTime:
    case FieldType::Float:
      if (size_t(in.numbers_size()) != rows) return "pacote de dados com números truncados";
      break;
    case FieldType::Integer:
      if (size_t(in.integers_size()) != rows) return "pacote de dados com inteiros truncados";
      break;
    case FieldType::Boolean:
      if (in.booleans().size() != rows) return "pacote de dados com lógicos truncados";
      break;
  }
  return std::nullopt;
}

std::optional<std::string> PacketAssembler::add(const rpc::PacketChunk& chunk) {
  auto it = pending_.find(chunk.packet());
  if (it == pending_.end()) return "bloco de um pacote de dados não anunciado";
  if (it->second.ended) return "bloco de um pacote de dados depois do seu fim";
  Packet& packet = it->second.packet;
  const size_t rows = chunk.rows();
  if (size_t(chunk.columns_size()) != packet.columns.size()) return "bloco de pacote com número de colunas errado";
  if (chunk.last() && chunk.row_count() != packet.rowCount() + rows)
    return "pacote de dados com contagem final diferente das linhas recebidas";
  if (packet.columns.empty() && rows > 0) return "pacote de dados sem campos com linhas";
  // Every column is checked before any grows: a refused chunk leaves the
  // packet as it was, all its columns with the same rows.
  for (size_t i = 0; i < packet.columns.size(); ++i)
    if (auto error = checkColumn(chunk.columns(int(i)), packet.columns[i], rows)) return error;
  for (size_t i = 0; i < packet.columns.size(); ++i) {
    const rpc::Column& in = chunk.columns(int(i));
    Column& col = packet.columns[i];
    const std::string& nulls = in.nulls();
    auto isNull = [&](size_t r) { return !nulls.empty() && ((uint8_t(nulls[r / 8]) >> (r % 8)) & 1u); };
    const size_t base = col.rows();
    switch (col.type()) {
      case FieldType::Text: {
        col.expand();
        col.textData_.append(in.text_data());
        uint32_t off = col.textOffsets_.back();
        for (auto len : in.text_lengths()) col.textOffsets_.push_back(off += len);
        break;
      }
      case FieldType::DateTime:
      case FieldType::Float:
        col.numbers_.insert(col.numbers_.end(), in.numbers().begin(), in.numbers().end());
        break;
      case FieldType::Integer:
        col.integers_.insert(col.integers_.end(), in.integers().begin(), in.integers().end());
        break;
      case FieldType::Boolean:
        for (char b : in.booleans()) col.booleans_.push_back(b ? 1 : 0);
        break;
    }
    col.rows_ = base + rows;
    for (size_t r = 0; r < rows; ++r)
      if (isNull(r)) col.markNull(base + r);
  }
  it->second.ended = chunk.last();
  return std::nullopt;
}

std::optional<std::string> PacketAssembler::finish() {
  for (const auto& [id, p] : pending_)
    if (!p.ended) return "pacote de dados incompleto: faltou o seu fim";
  return std::nullopt;
}

Packet PacketAssembler::take(uint32_t id) {
  auto it = pending_.find(id);
  if (it == pending_.end()) return {};
  Packet p = std::move(it->second.packet);
  pending_.erase(it);
  // the packet is complete: its columns keep what the values need, no more
  for (auto& column : p.columns) column.compact();
#if defined(__GLIBC__)
  // A large list leaves its growth buffers free inside the heap, where the
  // process would hold them for good; hand those pages back.
  if (p.rowCount() * p.columns.size() >= kTrimCells) malloc_trim(0);
#endif
  return p;
}

}  // namespace qfx::packet
