// What a method answers: the result value, which may announce data packets by
// id, and the packets themselves, whose rows the service streams as chunks.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/result.h"
#include <proto/packet_codec.h>
#include <proto/qfx31700.pb.h>

namespace qfx::server {

// The most values one chunk of a packet holds, and about the most one
// message of a reply does.
inline constexpr size_t kChunkBytes = 1u << 20;

struct Reply {
  rpc::Value result;
  std::vector<std::pair<uint32_t, packet::Packet>> packets;
  // The result and the rows went out through the call's ReplySink while the
  // method read them: nothing is left to send but the status.
  bool streamed = false;
  uint64_t streamedRows = 0;
  // What the call's log line adds (a posting run: branch, period, posting
  // numbers, items posted); keys are literals.
  std::vector<log::Field> logFields;
  int64_t postingsMade = 0, itemsPosted = 0;  // for the metrics
  std::string details;                        // beside the result's message key (contract::kDetailsMetadata)

  // A reply that is one data packet.
  static Reply ofPacket(packet::Packet packet);
  static Reply ofBoolean(bool value);
  // Adds a packet and returns the value that announces it.
  rpc::Value announce(packet::Packet packet);
  size_t rowCount() const;
};

// Where a method sends its reply while it is still reading, so the rows
// travel as the query yields them: first the result (announcing the packets),
// then their chunks. The call's status follows once the method returns; an
// error then tells the client to drop what it received.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual void start(rpc::Value result) = 0;
  virtual void add(rpc::PacketChunk&& chunk) = 0;
};

// The reply of a method that answers one packet, or the error that came instead.
Result<Reply> packetReply(Result<packet::Packet> packet);

// A reply of one packet with `fields`, streamed: its result goes to `sink`
// at once, then `fill` appends the rows and they leave by chunks as it goes.
Result<Reply> streamPacket(ReplySink& sink, std::vector<packet::FieldDef> fields,
                           const std::function<Status(packet::ChunkStreamer&)>& fill);

}  // namespace qfx::server
