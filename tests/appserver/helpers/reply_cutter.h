// A loopback relay between clients and a server. Once armed, it lets
// everything through until the server starts its next reply to a call, and
// then, before a byte of that reply is passed on, runs `onReply` (which kills
// the server) and cuts that connection: the server has done the call's work
// and the client never learns its outcome. Unarmed, it only relays.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qfx::test {

class ReplyCutter {
 public:
  // Armed from the start unless told otherwise.
  ReplyCutter(int serverPort, std::function<void()> onReply, bool armed = true);
  ~ReplyCutter();
  ReplyCutter(const ReplyCutter&) = delete;
  ReplyCutter& operator=(const ReplyCutter&) = delete;

  int port() const { return port_; }
  bool cut() const { return cut_; }
  void arm() { armed_ = true; }
  // Where the connections made from now on go (a server started again).
  void setServerPort(int port) { serverPort_ = port; }

 private:
  void accept();
  void relay(int client);

  std::atomic<int> serverPort_;
  std::function<void()> onReply_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false}, cut_{false}, armed_{false};
  std::mutex mutex_;
  std::vector<std::thread> relays_;
  std::thread acceptor_;
};

}  // namespace qfx::test
