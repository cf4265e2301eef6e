#include "reply_stream.h"

#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/util/delimited_message_util.h>

namespace qfx::fuzz {

std::string writeReplyStream(const std::vector<rpc::InvokeReply>& messages) {
  std::string bytes;
  {
    google::protobuf::io::StringOutputStream out(&bytes);
    for (const auto& m : messages) google::protobuf::util::SerializeDelimitedToZeroCopyStream(m, &out);
  }
  return bytes;
}

std::vector<rpc::InvokeReply> readReplyStream(const uint8_t* data, size_t size, size_t maxMessages) {
  std::vector<rpc::InvokeReply> messages;
  google::protobuf::io::ArrayInputStream in(data, int(size));
  while (messages.size() < maxMessages) {
    rpc::InvokeReply m;
    bool cleanEnd = false;
    if (!google::protobuf::util::ParseDelimitedFromZeroCopyStream(&m, &in, &cleanEnd)) break;
    messages.push_back(std::move(m));
  }
  return messages;
}

}  // namespace qfx::fuzz
