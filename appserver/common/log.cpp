#include "common/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qfx::server::log {

namespace {
std::atomic<int> currentLevel{int(Level::Info)};
std::mutex writeMutex;

const char* levelName(Level level) {
  switch (level) {
    case Level::Debug:
      return "debug";
    case Level::Info:
      return "info";
    case Level::Warn:
      return "warn";
    case Level::Error:
      return "error";
    case Level::Off:
      return "off";
  }
  return "info";
}

bool needsQuotes(std::string_view v) {
  if (v.empty()) return true;
  for (char c : v)
    if (c == ' ' || c == '"' || c == '=' || c == '\n' || c == '\t' || c == '\\') return true;
  return false;
}

void appendValue(std::string& line, std::string_view v) {
  if (!needsQuotes(v)) {
    line.append(v);
    return;
  }
  line.push_back('"');
  for (char c : v) {
    if (c == '"' || c == '\\') line.push_back('\\');
    // keep the entry on one line whatever the message holds
    line.push_back(c == '\n' || c == '\r' ? ' ' : c);
  }
  line.push_back('"');
}

std::string timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, int(ms));
  return buf;
}
}  // namespace

bool parseLevel(std::string_view text, Level* level) {
  for (Level l : {Level::Debug, Level::Info, Level::Warn, Level::Error, Level::Off}) {
    if (text == levelName(l)) {
      *level = l;
      return true;
    }
  }
  return false;
}

void setLevel(Level level) { currentLevel = int(level); }

bool enabled(Level level) { return level != Level::Off && int(level) >= currentLevel.load(); }

void write(Level level, std::string_view event, std::initializer_list<Field> fields) {
  if (!enabled(level)) return;
  std::string line = timestamp();
  line += " level=";
  line += levelName(level);
  line += " event=";
  appendValue(line, event);
  for (const auto& [key, value] : fields) {
    line.push_back(' ');
    line.append(key);
    line.push_back('=');
    appendValue(line, value);
  }
  line.push_back('\n');
  std::lock_guard lock(writeMutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace qfx::server::log
