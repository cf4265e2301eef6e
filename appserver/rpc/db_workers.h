// The threads that do the calls' database work. Each owns its connection for
// as long as it lives, so no more connections are ever open than there are
// workers; a call that finds them all busy waits its turn (first come, first
// served) instead of being refused. gRPC's own handler threads only wait
// here and stream the replies, which needs no connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qfx::server {

class DbWorkers {
 public:
  explicit DbWorkers(int count) {
    for (int i = 0; i < (count < 1 ? 1 : count); ++i) threads_.emplace_back([this] { work(); });
  }
  ~DbWorkers() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();  // each thread's connection closes as it ends
  }
  DbWorkers(const DbWorkers&) = delete;
  DbWorkers& operator=(const DbWorkers&) = delete;

  int size() const { return int(threads_.size()); }

  // Runs `task` on a worker and returns when it has finished. The task must
  // not throw: it reports failures as values. Meanwhile `watch`, if given,
  // runs every few milliseconds on the calling thread (outside the lock), to
  // notice what the task itself cannot while a statement blocks it.
  void run(const std::function<void()>& task, const std::function<void()>& watch = {}) {
    Job job{&task, false, {}};
    {
      std::lock_guard lock(mutex_);
      queue_.push_back(&job);
    }
    wake_.notify_one();
    std::unique_lock lock(mutex_);
    while (!job.done) {
      if (!watch) {
        job.finished.wait(lock, [&] { return job.done; });
        break;
      }
      if (job.finished.wait_for(lock, kWatchInterval, [&] { return job.done; })) break;
      lock.unlock();
      watch();
      lock.lock();
    }
  }

 private:
  static constexpr std::chrono::milliseconds kWatchInterval{20};

  struct Job {
    const std::function<void()>* task;
    bool done = false;
    std::condition_variable finished;
  };

  void work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to do
      Job* job = queue_.front();
      queue_.pop_front();
      lock.unlock();
      (*job->task)();
      lock.lock();
      job->done = true;
      job->finished.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Job*> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace qfx::server
