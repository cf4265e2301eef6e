// The database workers: a call is handed to the worker idle the shortest time
// (its connection's cache is the warmest), no more calls run at once than
// there are workers, and calls beyond that wait their turn instead of failing.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "rpc/db_workers.h"
#include "rpc/thread_slots.h"

using qfx::server::DbWorkers;
using qfx::server::ThreadSlots;

TEST(DbWorkers, OneCallerAtATimeKeepsToTheSameWorker) {
  DbWorkers workers(4);
  std::vector<std::thread::id> ran;
  int waited = 0;
  for (int i = 0; i < 50; ++i)
    workers.run([&] {
      ran.push_back(std::this_thread::get_id());
      waited += DbWorkers::taskWaited();
    });
  ASSERT_EQ(ran.size(), 50u);
  EXPECT_EQ(waited, 0) << "a worker was idle for every call";
  EXPECT_NE(ran.front(), std::this_thread::get_id());
  EXPECT_EQ(std::set<std::thread::id>(ran.begin(), ran.end()).size(), 1u);
}

TEST(DbWorkers, BusyWorkersMakeTheRestWaitAndEveryCallRuns) {
  constexpr int kWorkers = 3, kCallers = 10;
  DbWorkers workers(kWorkers);
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0, mostAtOnce = 0, finished = 0;
  bool release = false;
  std::set<std::thread::id> threads;
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i)
    callers.emplace_back([&] {
      workers.run([&] {
        std::unique_lock lock(mutex);
        threads.insert(std::this_thread::get_id());
        mostAtOnce = std::max(mostAtOnce, ++running);
        changed.notify_all();
        changed.wait(lock, [&] { return release; });
        --running;
        ++finished;
      });
    });
  {
    // every worker taken; the other calls queue rather than run or fail
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return running == kWorkers; }));
    release = true;
    changed.notify_all();
  }
  for (auto& c : callers) c.join();
  EXPECT_EQ(finished, kCallers);
  EXPECT_EQ(mostAtOnce, kWorkers);
  EXPECT_EQ(int(threads.size()), kWorkers);
}

// The watch runs on the caller's thread while a long task holds the worker.
TEST(DbWorkers, TheWatchRunsOnTheCallersThreadWhileTheTaskWorks) {
  DbWorkers workers(1);
  std::atomic<bool> stop{false};
  std::atomic<int> watched{0};
  const auto caller = std::this_thread::get_id();
  bool watchOnCaller = true;
  workers.run(
      [&] {
        while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      },
      [&] {
        watchOnCaller = watchOnCaller && std::this_thread::get_id() == caller;
        if (++watched >= 3) stop = true;
      });
  EXPECT_GE(watched.load(), 3);
  EXPECT_TRUE(watchOnCaller);
}

// A task knows whether it waited in the queue: the second call comes while
// the only worker is busy (its watch runs, so it is queued) and releases the first.
TEST(DbWorkers, ATaskKnowsWhetherItWaitedForAWorker) {
  DbWorkers workers(1);
  std::atomic<bool> started{false}, release{false};
  bool firstWaited = true, secondWaited = false;
  std::thread first([&] {
    workers.run([&] {
      firstWaited = DbWorkers::taskWaited();
      started = true;
      while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
  });
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  workers.run([&] { secondWaited = DbWorkers::taskWaited(); }, [&] { release = true; });
  first.join();
  EXPECT_FALSE(firstWaited);
  EXPECT_TRUE(secondWaited);
}

// At most `limit` threads hold a slot; a thread keeps its slot for further
// calls, and gives it back when it ends.
TEST(ThreadSlots, BoundTheThreadsThatHoldOneUntilTheyEnd) {
  ThreadSlots threadSlots(2);
  const auto holdsOnItsOwnThread = [&] {
    bool held = false;
    std::thread([&] { held = threadSlots.hold(); }).join();
    return held;
  };
  std::mutex mutex;
  std::condition_variable changed;
  int holders = 0;
  bool release = false;
  std::vector<std::thread> keepers;
  for (int i = 0; i < 2; ++i)
    keepers.emplace_back([&] {
      const bool first = threadSlots.hold(), again = threadSlots.hold();
      std::unique_lock lock(mutex);
      holders += first && again;
      changed.notify_all();
      changed.wait(lock, [&] { return release; });
    });
  {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return holders == 2; });
  }
  EXPECT_EQ(threadSlots.held(), 2);
  EXPECT_FALSE(holdsOnItsOwnThread()) << "both threadSlots are held";
  {
    std::lock_guard lock(mutex);
    release = true;
  }
  changed.notify_all();
  for (auto& k : keepers) k.join();
  EXPECT_EQ(threadSlots.held(), 0);
  EXPECT_TRUE(holdsOnItsOwnThread()) << "the threadSlots came back with their threads";
  EXPECT_EQ(threadSlots.held(), 0);
}
