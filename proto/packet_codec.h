// Columnar data packets: the in-memory form both ends share, and its
// encoding into the wire's chunks. A text column keeps its values back to back
// in one UTF-8 buffer with offsets, so a million rows cost a few allocations,
// not one per cell; the client's datasets keep exactly this layout.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qfx::rpc {
class PacketChunk;
class PacketHeader;
}  // namespace qfx::rpc

namespace qfx::packet {

enum class FieldType { Text, DateTime, Float, Integer, Boolean };

struct FieldDef {
  std::string name;
  FieldType type = FieldType::Text;
  int size = 0;  // characters, text only
};

class Column {
 public:
  explicit Column(FieldType type = FieldType::Text);

  FieldType type() const { return type_; }
  size_t rows() const { return rows_; }
  bool isNull(size_t row) const;

  std::string_view text(size_t row) const;
  double number(size_t row) const;  // DateTime and Float
  int64_t integer(size_t row) const;
  bool boolean(size_t row) const;

  void appendNull();
  void appendText(std::string_view value);
  void appendNumber(double value);
  void appendInteger(int64_t value);
  void appendBoolean(bool value);

  // Overwrites one row in place (the row must exist); used by calculated fields.
  void setNull(size_t row, bool null);
  void setNumber(size_t row, double value);
  void setInteger(size_t row, int64_t value);
  void setBoolean(size_t row, bool value);

  void clear();
  // No rows, keeping the buffers' room for the next rows of the same kind.
  void clearRows();
  void reserve(size_t rows);
  size_t byteSize() const;  // memory held by the values

  // Once a column is complete: gives back the buffers' growth slack and, for
  // a text column of few distinct values (codes, one-letter flags), keeps
  // each distinct value once and one byte a row. Reading is unchanged; the
  // first append or reserve returns the column to the plain form.
  void compact();
  bool isDictionary() const { return dictionary_; }

  // Raw access for the encoder and decoder. In the dictionary form the text
  // buffers hold the distinct values, not the rows: use text(row).
  const std::string& textData() const { return textData_; }
  const std::vector<uint32_t>& textOffsets() const { return textOffsets_; }
  const std::vector<double>& numbers() const { return numbers_; }
  const std::vector<int64_t>& integers() const { return integers_; }
  const std::vector<uint8_t>& booleans() const { return booleans_; }
  const std::vector<uint8_t>& nullBits() const { return nullBits_; }

 private:
  friend class PacketAssembler;
  void markNull(size_t row);
  bool tryDictionary();
  void expand();  // dictionary form back to one text per row

  FieldType type_;
  size_t rows_ = 0;
  std::string textData_;
  std::vector<uint32_t> textOffsets_{0};  // rows_ + 1 entries
  std::vector<double> numbers_;
  std::vector<int64_t> integers_;
  std::vector<uint8_t> booleans_;
  std::vector<uint8_t> nullBits_;  // empty while no row is null
  // Dictionary form: textData_/textOffsets_ hold the distinct values and
  // codes_ the value of each row.
  bool dictionary_ = false;
  std::vector<uint8_t> codes_;
};

struct Packet {
  std::vector<FieldDef> fields;
  std::vector<Column> columns;

  Packet() = default;
  explicit Packet(std::vector<FieldDef> defs);
  size_t rowCount() const { return columns.empty() ? 0 : columns.front().rows(); }
  int fieldIndex(std::string_view name) const;  // -1 when absent; ignores case
};

// A wire number as an integer: any double may arrive, and converting one
// beyond int64's range (or NaN) is undefined, so those saturate (NaN: 0).
int64_t integerOf(double value);

// Server side: the header and the chunks of a packet, each chunk holding at
// most about maxChunkBytes of values; the last one carries the row count.
void fillHeader(const std::vector<FieldDef>& fields, uint32_t id, rpc::PacketHeader* header);
inline void fillHeader(const Packet& packet, uint32_t id, rpc::PacketHeader* header) {
  fillHeader(packet.fields, id, header);
}
void encodeChunks(const Packet& packet, uint32_t id, size_t maxChunkBytes,
                  const std::function<void(rpc::PacketChunk&&)>& emit);

// Server side, for a packet whose rows are still being read: the rows
// appended to rows() leave as chunks of about maxChunkBytes while more are
// coming, so only one chunk's rows are held at a time; finish() sends the
// rest, marked last, with the packet's row count.
class ChunkStreamer {
 public:
  using Emit = std::function<void(rpc::PacketChunk&&)>;
  ChunkStreamer(std::vector<FieldDef> fields, uint32_t id, size_t maxChunkBytes, Emit emit);

  Packet& rows() { return rows_; }
  // After each row appended to rows(): sends them once they fill a chunk.
  void rowAdded();
  void finish();
  uint64_t rowCount() const { return sent_ + rows_.rowCount(); }

 private:
  void send(bool last);

  Packet rows_;
  uint32_t id_;
  size_t maxChunkBytes_;
  Emit emit_;
  size_t fixedRowBytes_ = 0;  // of a row, besides its texts
  uint64_t sent_ = 0;         // rows already sent
};

// Client side: collects the chunks of the packets announced in a reply and
// checks every length, and each packet's final count against the rows that
// came; a damaged packet is an error value.
class PacketAssembler {
 public:
  std::optional<std::string> begin(const rpc::PacketHeader& header);
  std::optional<std::string> add(const rpc::PacketChunk& chunk);
  // Error when a packet's last chunk never came.
  std::optional<std::string> finish();
  Packet take(uint32_t id);

 private:
  struct Pending {
    Packet packet;
    bool ended = false;
  };
  // Past this many cells, taking a packet hands the heap's freed growth
  // buffers back to the system.
  static constexpr uint64_t kTrimCells = uint64_t(1) << 20;

  std::map<uint32_t, Pending> pending_;
};

}  // namespace qfx::packet
