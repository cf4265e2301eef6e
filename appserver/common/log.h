// One-line structured log (key=value pairs) on standard error. Callers pass
// only what may be read by an operator of the machine: never a password, a
// token or a list text.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qfx::server::log {

enum class Level { Debug = 0, Info = 1, Warn = 2, Error = 3, Off = 4 };

// Parses "debug", "info", "warn", "error" or "off"; false for anything else.
bool parseLevel(std::string_view text, Level* level);
void setLevel(Level level);
bool enabled(Level level);

using Field = std::pair<std::string_view, std::string>;

// Writes "<time> level=<level> event=<event> k=v ..." as one line (`fields`,
// then `more`); values with blanks, quotes or control characters are quoted
// and escaped so the line stays machine-readable, and a value is cut at 512
// bytes (saying how much was left out), whoever sent it.
void write(Level level, std::string_view event, std::initializer_list<Field> fields,
           const std::vector<Field>& more = {});

}  // namespace qfx::server::log
