#include "common/list_text.h"

namespace qfx::server {

ListText::ListText(std::string text) : text_(std::move(text)) {
  // A key without underscores occurs as "_" key "_" exactly when it is one of
  // the non-empty runs between two underscores.
  const std::string_view all(text_);
  size_t start = 0;
  while (start < all.size()) {
    const size_t open = all.find('_', start);
    if (open == std::string_view::npos) break;
    const size_t close = all.find('_', open + 1);
    if (close == std::string_view::npos) break;
    if (close > open + 1) pieces_.emplace(all.substr(open + 1, close - open - 1));
    start = close;
  }
}

bool ListText::contains(std::string_view key) const {
  if (key.find('_') == std::string_view::npos) {
    if (!key.empty()) return pieces_.count(std::string(key)) > 0;
    return text_.find("__") != std::string::npos;
  }
  std::string wrapped;
  wrapped.reserve(key.size() + 2);
  wrapped.push_back('_');
  wrapped.append(key);
  wrapped.push_back('_');
  return text_.find(wrapped) != std::string::npos;
}

}  // namespace qfx::server
