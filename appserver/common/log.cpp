#include "common/log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qfx::server::log {

namespace {
// The most of one value a line carries.
constexpr size_t kMaxValueBytes = 512;

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

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

bool needsQuotes(std::string_view v) {
  if (v.empty()) return true;
  for (char c : v)
    if (c == ' ' || c == '"' || c == '=' || c == '\\' || isControl(c)) return true;
  return false;
}

// Where a value longer than kMaxValueBytes is cut: not inside a UTF-8 character.
size_t cutPoint(std::string_view v) {
  size_t cut = kMaxValueBytes;
  while (cut > 0 && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

void appendValue(std::string& line, std::string_view whole) {
  // a caller's text (a method name, an operator code) may be of any size:
  // the line keeps its head and says how much was left out
  const bool cut = whole.size() > kMaxValueBytes;
  const std::string_view v = cut ? whole.substr(0, cutPoint(whole)) : whole;
  if (!cut && !needsQuotes(v)) {
    line.append(v);
    return;
  }
  line.push_back('"');
  for (char c : v) {
    if (c == '"' || c == '\\') {
      line.push_back('\\');
      line.push_back(c);
    } else if (isControl(c)) {
      // keeps the entry on one line and the terminal reading it unharmed
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
      line.append(escaped);
    } else {
      line.push_back(c);
    }
  }
  if (cut) line += "...(+" + std::to_string(whole.size() - v.size()) + " bytes)";
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

void write(Level level, std::string_view event, std::initializer_list<Field> fields, const std::vector<Field>& more) {
  if (!enabled(level)) return;
  std::string line = timestamp();
  line += " level=";
  line += levelName(level);
  line += " event=";
  appendValue(line, event);
  const auto append = [&line](const Field& field) {
    line.push_back(' ');
    line.append(field.first);
    line.push_back('=');
    appendValue(line, field.second);
  };
  for (const auto& field : fields) append(field);
  for (const auto& field : more) append(field);
  line.push_back('\n');
  std::lock_guard lock(writeMutex);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace qfx::server::log
