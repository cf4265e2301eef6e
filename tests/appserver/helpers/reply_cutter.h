// A loopback relay between a client and a server that lets everything through
// until the server starts its first reply to a call, and then, before a byte
// of that reply is passed on, runs `onReply` (which kills the server) and cuts
// both connections: the server has done the call's work and the client never
// learns its outcome.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace qfx::test {

class ReplyCutter {
 public:
  ReplyCutter(int serverPort, std::function<void()> onReply);
  ~ReplyCutter();
  ReplyCutter(const ReplyCutter&) = delete;
  ReplyCutter& operator=(const ReplyCutter&) = delete;

  int port() const { return port_; }
  bool cut() const { return cut_; }

 private:
  void relay();
  bool relayOnce(int client, int server);

  int serverPort_;
  std::function<void()> onReply_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false}, cut_{false};
  std::thread thread_;
};

}  // namespace qfx::test
