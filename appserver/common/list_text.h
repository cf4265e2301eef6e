// List texts as the client's picker writes them: each chosen key wrapped in
// underscores and concatenated ("_0001001__0001002_"). A key belongs to the
// list when "_" key "_" occurs in it. The list is never parsed into SQL; this
// class answers the membership test, fast for lists of many thousand keys.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace qfx::server {

class ListText {
 public:
  ListText() = default;
  explicit ListText(std::string text);

  bool empty() const { return text_.empty(); }
  const std::string& text() const { return text_; }

  // Exactly the substring test, answered from a set of the pieces between
  // underscores; keys that themselves hold an underscore fall back to the search.
  bool contains(std::string_view key) const;

 private:
  std::string text_;
  std::unordered_set<std::string> pieces_;
};

}  // namespace qfx::server
