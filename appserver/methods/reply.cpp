#include "methods/reply.h"

namespace qfx::server {

Reply Reply::ofPacket(packet::Packet packet) {
  Reply reply;
  reply.result = reply.announce(std::move(packet));
  return reply;
}

Reply Reply::ofBoolean(bool value) {
  Reply reply;
  reply.result.set_boolean(value);
  return reply;
}

rpc::Value Reply::announce(packet::Packet packet) {
  const uint32_t id = uint32_t(packets.size() + 1);
  rpc::Value value;
  packet::fillHeader(packet, id, value.mutable_packet());
  packets.emplace_back(id, std::move(packet));
  return value;
}

size_t Reply::rowCount() const {
  size_t rows = 0;
  for (const auto& [id, p] : packets) rows += p.rowCount();
  return rows + size_t(streamedRows);
}

Result<Reply> packetReply(Result<packet::Packet> packet) {
  if (!packet) return packet.error();
  return Reply::ofPacket(std::move(*packet));
}

Result<Reply> streamPacket(ReplySink& sink, std::vector<packet::FieldDef> fields,
                           const std::function<Status(packet::ChunkStreamer&)>& fill) {
  constexpr uint32_t id = 1;
  rpc::Value result;
  packet::fillHeader(fields, id, result.mutable_packet());
  sink.start(std::move(result));
  packet::ChunkStreamer out(std::move(fields), id, kChunkBytes,
                            [&](rpc::PacketChunk&& chunk) { sink.add(std::move(chunk)); });
  if (auto filled = fill(out); !filled) return filled.error();
  out.finish();
  Reply reply;
  reply.streamed = true;
  reply.streamedRows = out.rowCount();
  return reply;
}

}  // namespace qfx::server
