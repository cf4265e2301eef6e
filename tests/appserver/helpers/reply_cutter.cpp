#include "reply_cutter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace qfx::test {

namespace {

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    data += sent;
    size -= size_t(sent);
  }
  return true;
}

// HTTP/2 frames as the server sends them: 9 bytes of header (length, type,
// flags, stream), then the payload. A HEADERS frame on a call's stream opens
// the call's reply; before it come only the connection's own frames.
constexpr size_t kFrameHeader = 9;
constexpr uint8_t kHeadersFrame = 0x1;

struct FrameScanner {
  std::string pending;  // bytes of the server not yet passed on, from a frame's start
  // How many leading bytes of `pending` are whole frames, before a reply's
  // HEADERS when `stopAtReply`; `reply` tells whether such a frame follows them.
  size_t passable(bool stopAtReply, bool& reply) const {
    size_t at = 0;
    reply = false;
    while (pending.size() - at >= kFrameHeader) {
      const auto* h = reinterpret_cast<const uint8_t*>(pending.data() + at);
      const size_t length = (size_t(h[0]) << 16) | (size_t(h[1]) << 8) | h[2];
      const uint32_t stream = ((uint32_t(h[5]) & 0x7f) << 24) | (uint32_t(h[6]) << 16) | (uint32_t(h[7]) << 8) | h[8];
      if (stopAtReply && h[3] == kHeadersFrame && stream != 0) {
        reply = true;
        return at;
      }
      if (pending.size() - at < kFrameHeader + length) break;
      at += kFrameHeader + length;
    }
    return at;
  }
};

}  // namespace

ReplyCutter::ReplyCutter(int serverPort, std::function<void()> onReply, bool armed)
    : serverPort_(serverPort), onReply_(std::move(onReply)), armed_(armed) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener_, 16) != 0) return;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept(); });
}

ReplyCutter::~ReplyCutter() {
  stop_ = true;
  if (acceptor_.joinable()) acceptor_.join();
  for (std::thread& relay : relays_) relay.join();
  if (listener_ >= 0) ::close(listener_);
}

// Each client connection on a thread of its own (a client may hold several).
void ReplyCutter::accept() {
  while (!stop_) {
    pollfd waiting{listener_, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) continue;
    const int client = ::accept(listener_, nullptr, nullptr);
    if (client < 0) continue;
    std::lock_guard lock(mutex_);
    relays_.emplace_back([this, client] {
      relay(client);
      ::close(client);
    });
  }
}

void ReplyCutter::relay(int client) {
  const int server = connectTo(serverPort_);
  if (server < 0) return;
  FrameScanner scanner;
  char buffer[16384];
  while (!stop_) {
    pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(fds, 2, 50) <= 0) continue;
    if (fds[0].revents) {
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0 || !sendAll(server, buffer, size_t(got))) break;
    }
    if (fds[1].revents) {
      const ssize_t got = ::recv(server, buffer, sizeof buffer, 0);
      if (got <= 0) break;
      scanner.pending.append(buffer, size_t(got));
      bool reply = false;
      // whole frames only, armed or not: the next frame must be read from its start
      const size_t whole = scanner.passable(armed_, reply);
      if (!sendAll(client, scanner.pending.data(), whole)) break;
      scanner.pending.erase(0, whole);
      if (reply && armed_.exchange(false)) {
        onReply_();
        cut_ = true;
        break;
      }
    }
  }
  ::close(server);
}

}  // namespace qfx::test
