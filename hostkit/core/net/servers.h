// The application servers of one connection: their channels, the health
// check that chooses one, and the link that sticks to it until it is lost.
// Inside the host kit only.
#pragma once

#include <grpcpp/grpcpp.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <hostkit/core/netconnection.h>

// The application servers keep nothing between calls (sessions live in the
// database), so several serve one database and any of them takes the
// session's token. The connection sticks to one server, the first of the
// list that answers its health check, and leaves it only when it is lost.
// gRPC's round_robin would spread every operator's calls over all servers;
// sticking keeps an operation's calls (the checks, the posting, the reload)
// on one server and in one log, holds one connection per host instead of one
// per server, and keeps the list's order meaningful: a main server and a
// standby, or stores spread by listing the servers in another order.
//
// One channel per server, each gRPC's pick_first over the addresses its name
// resolves to: a `dns:` target takes a single name, and TLS then checks each
// server's certificate against that server's own name. The gRPC of Debian 12
// (1.51) disables the client's health checking under pick_first (the service
// config's healthCheckConfig is honoured by round_robin only), so the standard
// health check (grpc.health.v1, served by every qfxserver) is asked here when
// a server is chosen; a server reports NOT_SERVING while it shuts down.

namespace hostkit {

namespace net {

// A server that does not complete its handshake in this time is passed over
// (gRPC's default, 20 s, is longer than a login's whole deadline); also the
// bound of each health check while choosing.
constexpr std::chrono::milliseconds kConnectTimeout{3000};
// How often the idle connections are looked at (see IdlePoller).
constexpr std::chrono::milliseconds kIdlePoll{50};

// "host:porta", an IPv6 address in brackets.
QString textOf(const ServerEndpoint& server);

std::shared_ptr<grpc::ChannelCredentials> credentialsFor(bool tls, const QString& caFile);

std::shared_ptr<grpc::Channel> channelTo(const ServerEndpoint& server,
                                         const std::shared_ptr<grpc::ChannelCredentials>& credentials);

// Success when the server's health service says it serves; otherwise why not.
// Without wait_for_ready: a server that refuses the connection, or is still
// in its backoff from a recent refusal, fails at once and the next is asked.
Status checkHealth(const std::shared_ptr<grpc::Channel>& channel, std::chrono::system_clock::time_point deadline);

// gRPC reads its sockets only while some thread polls a completion queue,
// and between calls none does (its own backup poller comes every 5 s): a
// server killed meanwhile would leave its connection looking ready, and the
// next call would be sent into it and fail. This thread looks at the sockets
// every kIdlePoll without waiting on them, so the loss is known before the
// next call and that call goes to another server. It stays out of the calls'
// way: a poller that waited on the sockets would take every reply from the
// thread that waits for it.
class IdlePoller {
 public:
  IdlePoller() : thread_([this] { run(); }) {}
  ~IdlePoller() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    queue_.Shutdown();
    void* tag;
    bool ok;
    while (queue_.Next(&tag, &ok)) {
    }
  }
  IdlePoller(const IdlePoller&) = delete;
  IdlePoller& operator=(const IdlePoller&) = delete;

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      lock.unlock();
      void* tag;
      bool ok;
      queue_.AsyncNext(&tag, &ok, std::chrono::system_clock::now());
      lock.lock();
      wake_.wait_for(lock, kIdlePoll, [this] { return stop_; });
    }
  }

  grpc::CompletionQueue queue_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;  // last: starts once the rest is built
};

}  // namespace net

// The servers of one connection and the one in use.
class TNetConnection::Link {
 public:
  Link(const QList<ServerEndpoint>& servers, std::shared_ptr<grpc::ChannelCredentials> credentials)
      : credentials_(std::move(credentials)) {
    for (const auto& server : servers) servers_.push_back({server, net::channelTo(server, credentials_)});
    if (servers_.size() == 1) inUse_ = 0;
  }

  // The channel of the server in use while connected to it; none when a
  // server must be chosen. A lone server needs no choice: its channel
  // connects when called.
  std::shared_ptr<grpc::Channel> channelInUse() {
    if (servers_.size() == 1) return usable(servers_.front());
    if (inUse_ < 0) return nullptr;
    const auto& server = servers_[size_t(inUse_)];
    return server.channel->GetState(false) == GRPC_CHANNEL_READY ? server.channel : nullptr;
  }

  // The first server of the list that answers its health check by
  // `deadline`; none, with what each one said in `failures`, when none does.
  std::shared_ptr<grpc::Channel> choose(std::chrono::system_clock::time_point deadline, QStringList& failures) {
    return chooseSkipping({}, deadline, failures);
  }

  // The same, passing over the servers of `skipped` (by their place in the list).
  std::shared_ptr<grpc::Channel> chooseSkipping(const QList<int>& skipped,
                                                std::chrono::system_clock::time_point deadline, QStringList& failures) {
    inUse_ = -1;
    for (size_t i = 0; i < servers_.size(); ++i) {
      if (skipped.contains(int(i))) continue;
      const auto now = std::chrono::system_clock::now();
      const Status health = now >= deadline
                                ? Status::failure(QStringLiteral("sem tempo para tentar"))
                                : net::checkHealth(usable(servers_[i]), std::min(deadline, now + net::kConnectTimeout));
      if (health.ok()) {
        inUse_ = int(i);
        return servers_[i].channel;
      }
      failures << QStringLiteral("%1: %2").arg(net::textOf(servers_[i].endpoint), health.error());
    }
    return nullptr;
  }

  // The server in use, or else the one chosen now.
  std::shared_ptr<grpc::Channel> channelFor(std::chrono::system_clock::time_point deadline, QStringList& failures) {
    if (auto channel = channelInUse()) return channel;
    return choose(deadline, failures);
  }

  // The server in use did not answer a call: the next call chooses again, so
  // a server that stopped answering without closing its connection (frozen,
  // or its machine gone) is passed over too.
  void lost() {
    if (servers_.size() > 1) inUse_ = -1;
  }

  int inUse() const { return inUse_; }
  size_t count() const { return servers_.size(); }

  // The server in use, or the list when none is.
  QString where() const { return inUse_ >= 0 ? net::textOf(servers_[size_t(inUse_)].endpoint) : listText(); }
  QString serverInUse() const {
    if (inUse_ < 0 || servers_[size_t(inUse_)].channel->GetState(false) != GRPC_CHANNEL_READY) return {};
    return net::textOf(servers_[size_t(inUse_)].endpoint);
  }
  int serverCount() const { return int(servers_.size()); }
  QString listText() const {
    QList<ServerEndpoint> all;
    for (const auto& server : servers_) all << server.endpoint;
    return serverListText(all);
  }

 private:
  struct Server {
    ServerEndpoint endpoint;
    std::shared_ptr<grpc::Channel> channel;
  };

  // The server's channel, made afresh when its last connection attempt
  // failed: pick_first then fails every call at once until its reconnection
  // backoff ends, though the server may be back already (restarted, say).
  // A call is sent once, so a server that stays down is still asked at most
  // once per call, calls sent ahead included.
  const std::shared_ptr<grpc::Channel>& usable(Server& server) {
    if (server.channel->GetState(false) == GRPC_CHANNEL_TRANSIENT_FAILURE)
      server.channel = net::channelTo(server.endpoint, credentials_);
    return server.channel;
  }

  std::shared_ptr<grpc::ChannelCredentials> credentials_;
  std::vector<Server> servers_;
  int inUse_ = -1;
  net::IdlePoller poller_;
};

}  // namespace hostkit
