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
  explicit DbWorkers(int count) : workers_(size_t(count < 1 ? 1 : count)) {
    for (auto& w : workers_) w.thread = std::thread([this, &w] { work(w); });
    // every worker idle before the first call: the hand-over order is then
    // the workers' own, not the order their threads happened to start in
    std::unique_lock lock(mutex_);
    allIdle_.wait(lock, [this] { return idle_.size() == workers_.size(); });
  }
  ~DbWorkers() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    for (auto& w : workers_) w.wake.notify_one();
    for (auto& w : workers_) w.thread.join();  // each thread's connection closes as it ends
  }
  DbWorkers(const DbWorkers&) = delete;
  DbWorkers& operator=(const DbWorkers&) = delete;

  int size() const { return int(workers_.size()); }

  // On a worker, while it runs a task: whether that task waited in the queue
  // for a worker (all were busy when it came).
  static bool taskWaited() { return taskWaited_; }

  // A task for start() and finish(). The task must not throw: it reports
  // failures as values.
  struct Job {
    explicit Job(const std::function<void()>& work) : task(&work) {}
    const std::function<void()>* task;
    bool queued = false;
    bool done = false;
    std::condition_variable finished;
  };

  // Runs `task` on a worker and returns when it has finished. Meanwhile
  // `watch`, if given, runs every few milliseconds on the calling thread
  // (outside the lock), to notice what the task itself cannot while a
  // statement blocks it.
  void run(const std::function<void()>& task, const std::function<void()>& watch = {}) {
    Job job(task);
    start(job);
    finish(job, watch);
  }

  // Hands `job` to a worker (or the queue) and returns at once, for a caller
  // with work of its own while the job runs (a streamed reply's writes). The
  // job must outlive finish().
  void start(Job& job) {
    std::lock_guard lock(mutex_);
    if (idle_.empty()) {
      job.queued = true;
      queue_.push_back(&job);
      return;
    }
    // the worker idle the shortest time: its connection's page cache and
    // kept statements are the warmest, and the others may stay asleep
    Worker* worker = idle_.back();
    idle_.pop_back();
    worker->job = &job;
    worker->wake.notify_one();
  }

  // Returns once `job` has finished, running `watch` as run() does.
  void finish(Job& job, const std::function<void()>& watch = {}) {
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

  struct Worker {
    std::thread thread;
    std::condition_variable wake;
    Job* job = nullptr;  // handed over by run(), under the lock
  };

  void work(Worker& self) {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (!self.job && !queue_.empty()) {
        self.job = queue_.front();  // first come, first served
        queue_.pop_front();
      }
      if (!self.job) {
        if (stopping_) return;
        idle_.push_back(&self);
        if (idle_.size() == workers_.size()) allIdle_.notify_one();
        self.wake.wait(lock, [&] { return self.job || stopping_; });
        if (!self.job) return;  // stopping: nothing was handed over since it went idle
      }
      Job* job = self.job;
      self.job = nullptr;
      taskWaited_ = job->queued;
      lock.unlock();
      (*job->task)();
      lock.lock();
      job->done = true;
      job->finished.notify_one();
    }
  }

  static inline thread_local bool taskWaited_ = false;
  std::mutex mutex_;
  std::condition_variable allIdle_;
  std::deque<Job*> queue_;     // calls waiting for a worker
  std::vector<Worker*> idle_;  // idle workers, the most recently idle last
  bool stopping_ = false;
  std::vector<Worker> workers_;
};

}  // namespace qfx::server
