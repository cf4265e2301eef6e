#include "rpc/health_watch.h"

#include "common/log.h"
#include "db/sql.h"

namespace qfx::server {

namespace {

// Reads a table of the schema: the file or server, the database and its
// rights all have to be there.
Status databaseAnswers(Database& database) {
  auto db = database.connection();
  if (!db) return db.error();
  auto q = sql::run(*db, QStringLiteral("SELECT COUNT(*) FROM QFXVERSAOESQUEMA"));
  if (!q) return q.error();
  return success();
}

}  // namespace

HealthWatch::HealthWatch(Database& database, SessionStore& sessions, HealthService& health, HealthWatchOptions options)
    : database_(database),
      sessions_(sessions),
      health_(health),
      options_(options),
      nextSweep_(std::chrono::steady_clock::now()) {
  // the first probe runs on the watch's own thread too: a connection belongs to its thread
  thread_ = std::thread([this] { loop(); });
  std::unique_lock lock(mutex_);
  wake_.wait(lock, [this] { return reported_ || stop_; });
}

HealthWatch::~HealthWatch() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void HealthWatch::probe() {
  const Status answered = databaseAnswers(database_);
  if (!answered) database_.discardConnection();  // the next probe opens a fresh one
  const bool serving = bool(answered);
  if (serving != serving_ || !reported_) {
    health_.setServing(serving);
    if (reported_ || !serving)
      log::write(serving ? log::Level::Info : log::Level::Error, serving ? "database_back" : "database_lost",
                 {{"database", database_.config().describe()},
                  {"health", serving ? "SERVING" : "NOT_SERVING"},
                  {"reason", serving ? "" : answered.error().message}});
  }
  serving_ = serving;
}

void HealthWatch::sweepWhenDue() {
  if (!serving_ || std::chrono::steady_clock::now() < nextSweep_) return;
  nextSweep_ = std::chrono::steady_clock::now() + options_.sweepEvery;
  auto swept = sessions_.sweepExpired();
  if (swept && *swept > 0) log::write(log::Level::Info, "sessions_swept", {{"expired", std::to_string(*swept)}});
}

void HealthWatch::loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    lock.unlock();
    probe();
    sweepWhenDue();
    lock.lock();
    reported_ = true;
    wake_.notify_all();
    wake_.wait_for(lock, options_.interval, [this] { return stop_; });
  }
}

}  // namespace qfx::server
