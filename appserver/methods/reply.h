// What a method answers: the result value, which may announce data packets by
// id, and the packets themselves, whose rows the service streams as chunks.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "common/log.h"
#include "common/result.h"
#include <proto/packet_codec.h>
#include <proto/qfx31700.pb.h>

namespace qfx::server {

struct Reply {
  rpc::Value result;
  std::vector<std::pair<uint32_t, packet::Packet>> packets;
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

// The reply of a method that answers one packet, or the error that came instead.
Result<Reply> packetReply(Result<packet::Packet> packet);

}  // namespace qfx::server
