// The client's side of a reply: the bytes are the messages of one Invoke
// reply stream. The first message's result announces packets (nested in lists
// too), every message's chunks go to the assembler, and each packet is then
// taken and every cell of every column read, as the datasets do. Whatever the
// bytes, the assembler must answer with an error value or a packet whose
// columns all hold its rows; memory must stay in proportion to the bytes; and
// a packet it accepts must come back identical through the server's encoder.
#include <google/protobuf/stubs/logging.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "reply_stream.h"
#include <proto/packet_codec.h>
#include <proto/qfx31700.pb.h>

using namespace qfx;

namespace {

// A reply longer than this says nothing new to the assembler.
constexpr size_t kMaxMessages = 64;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "packet_fuzzer: %s\n", what);
  std::abort();
}

struct Reader {
  packet::PacketAssembler assembler;
  std::vector<uint32_t> ids;
  std::optional<std::string> error;

  void note(std::optional<std::string> e) {
    if (!e) return;
    if (e->empty()) fail("erro sem mensagem");
    if (!error) error = std::move(e);
  }

  void announce(const rpc::Value& v) {
    if (v.has_packet()) {
      note(assembler.begin(v.packet()));
      ids.push_back(v.packet().id());
    } else if (v.has_list()) {
      for (const auto& item : v.list().items()) announce(item);
    }
  }
};

// Reads every cell through the accessors the datasets use; the sum keeps the
// reads from being optimised away and makes the sanitizers check each byte.
uint64_t readEveryCell(const packet::Packet& p) {
  if (p.columns.size() != p.fields.size()) fail("colunas e campos em número diferente");
  uint64_t sum = 0;
  for (size_t i = 0; i < p.columns.size(); ++i) {
    const packet::Column& c = p.columns[i];
    if (c.rows() != p.rowCount()) fail("coluna com número de linhas diferente do pacote");
    if (c.type() != p.fields[i].type) fail("coluna com tipo diferente do campo");
    if (p.fieldIndex(p.fields[i].name) < 0) fail("campo não encontrado pelo nome");
    for (size_t r = 0; r < c.rows(); ++r) {
      sum += c.isNull(r);
      for (unsigned char ch : c.text(r)) sum += ch;
      const double d = c.number(r);
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      sum += bits + uint64_t(c.integer(r)) + c.boolean(r);
    }
  }
  return sum;
}

size_t memoryHeld(const packet::Packet& p) {
  size_t bytes = 0;
  for (const auto& c : p.columns) bytes += c.byteSize();
  return bytes;
}

bool sameCells(const packet::Column& a, const packet::Column& b) {
  if (a.type() != b.type() || a.rows() != b.rows()) return false;
  for (size_t r = 0; r < a.rows(); ++r) {
    if (a.isNull(r) != b.isNull(r) || a.text(r) != b.text(r) || a.integer(r) != b.integer(r) ||
        a.boolean(r) != b.boolean(r))
      return false;
    const double x = a.number(r), y = b.number(r);
    if (std::memcmp(&x, &y, sizeof x) != 0) return false;
  }
  return true;
}

void appendRow(packet::Packet& to, const packet::Packet& from, size_t row) {
  for (size_t i = 0; i < from.columns.size(); ++i) {
    const packet::Column& c = from.columns[i];
    packet::Column& out = to.columns[i];
    if (c.isNull(row)) {
      out.appendNull();
      continue;
    }
    switch (c.type()) {
      case packet::FieldType::Text:
        out.appendText(c.text(row));
        break;
      case packet::FieldType::DateTime:
      case packet::FieldType::Float:
        out.appendNumber(c.number(row));
        break;
      case packet::FieldType::Integer:
        out.appendInteger(c.integer(row));
        break;
      case packet::FieldType::Boolean:
        out.appendBoolean(c.boolean(row));
        break;
    }
  }
}

// The server's encoders, in small chunks (the whole packet's, and the one
// that streams rows as a query yields them), and a fresh assembler must give
// back the same packet.
void checkRoundTrip(const packet::Packet& p, bool streamed) {
  rpc::PacketHeader header;
  packet::fillHeader(p, 1, &header);
  packet::PacketAssembler again;
  if (again.begin(header)) fail("cabeçalho do codificador recusado");
  std::optional<std::string> error;
  const auto receive = [&](rpc::PacketChunk&& chunk) {
    if (!error) error = again.add(chunk);
  };
  if (streamed) {
    packet::ChunkStreamer out(p.fields, 1, 64, receive);
    for (size_t r = 0; r < p.rowCount(); ++r) {
      appendRow(out.rows(), p, r);
      out.rowAdded();
    }
    out.finish();
  } else {
    packet::encodeChunks(p, 1, 64, receive);
  }
  if (!error) error = again.finish();
  if (error) fail(("pacote aceito não volta pelo codificador: " + *error).c_str());
  const packet::Packet back = again.take(1);
  if (back.fields.size() != p.fields.size()) fail("campos perdidos na volta");
  for (size_t i = 0; i < p.columns.size(); ++i) {
    if (back.fields[i].name != p.fields[i].name || back.fields[i].size != p.fields[i].size)
      fail("definição de campo mudou na volta");
    if (!sameCells(back.columns[i], p.columns[i])) fail("valores mudaram na volta pelo codificador");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // the parser's complaints about damaged strings are expected here
  google::protobuf::SetLogHandler(nullptr);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto messages = fuzz::readReplyStream(data, size, kMaxMessages);
  if (messages.empty()) return 0;
  Reader reader;
  reader.announce(messages.front().result());
  for (const auto& m : messages)
    for (const auto& chunk : m.chunks()) reader.note(reader.assembler.add(chunk));
  if (!reader.error) reader.note(reader.assembler.finish());

  // What the packets hold is bounded by what was received (no count comes
  // ahead of the rows to reserve by): values grow by doubling, a text row
  // costs at least its length byte, a number 1 to 9.
  const size_t allowed = 32 * size + (16u << 20);
  size_t held = 0;
  volatile uint64_t sink = 0;
  for (uint32_t id : reader.ids) {
    const packet::Packet p = reader.assembler.take(id);
    held += memoryHeld(p);
    if (held > allowed) fail("memória desproporcional aos bytes recebidos");
    // even after an error the packets must stay readable
    sink = sink + readEveryCell(p);
    if (!reader.error) {
      checkRoundTrip(p, false);
      checkRoundTrip(p, true);
    }
  }
  return 0;
}
