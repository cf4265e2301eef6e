// The packet fuzzer's input: the messages of one Invoke reply stream, each
// preceded by its length as a varint (protobuf's delimited format), the way
// the client reads them off the wire one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <proto/qfx31700.pb.h>

namespace qfx::fuzz {

std::string writeReplyStream(const std::vector<rpc::InvokeReply>& messages);

// Stops at the end of the bytes, at the first message that does not parse,
// or after maxMessages.
std::vector<rpc::InvokeReply> readReplyStream(const uint8_t* data, size_t size, size_t maxMessages);

}  // namespace qfx::fuzz
