// A bounded number of threads that may each keep something for as long as
// they live: here gRPC's threads that answer SQLite's reads by key with a
// database connection of their own. gRPC starts a thread for a call it has no
// waiting thread for, up to a thousand under a burst; without a bound each
// would open a connection (three files and a page cache). A thread gives its
// slot back when it ends, which is when its connection closes too.
#pragma once

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

namespace qfx::server {

class ThreadSlots {
 public:
  explicit ThreadSlots(int limit) : shared_(std::make_shared<Shared>(limit)) {}

  // Whether the calling thread holds one of these slots, taking a free one
  // when it holds none yet.
  bool hold() {
    auto& mine = heldByThisThread().shares;
    if (std::find(mine.begin(), mine.end(), shared_) != mine.end()) return true;
    int taken = shared_->taken.load();
    while (taken < shared_->limit) {
      if (shared_->taken.compare_exchange_weak(taken, taken + 1)) {
        mine.push_back(shared_);
        return true;
      }
    }
    return false;
  }

  int held() const { return shared_->taken.load(); }

 private:
  struct Shared {
    explicit Shared(int most) : limit(most) {}
    std::atomic<int> taken{0};
    const int limit;
  };

  // The slots the calling thread holds (of every ThreadSlots: a test process
  // runs several servers), given back as it ends.
  struct Held {
    std::vector<std::shared_ptr<Shared>> shares;
    ~Held() {
      for (auto& share : shares) --share->taken;
    }
  };
  static Held& heldByThisThread() {
    static thread_local Held mine;
    return mine;
  }

  std::shared_ptr<Shared> shared_;
};

}  // namespace qfx::server
