// The membership test of list texts ("_0001_0002_"): the bytes give a key
// (up to a backslash and one more character; "\\" stands for a backslash) and
// then the list text. ListText answers from a set of pieces; it must always
// agree with the plain substring test of "_" key "_", for the key given and
// for every piece of the list and its neighbours.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/list_text.h"

namespace {

bool plainContains(const std::string& list, const std::string& key) {
  return list.find("_" + key + "_") != std::string::npos;
}

void check(const qfx::server::ListText& list, const std::string& key) {
  if (list.contains(key) != plainContains(list.text(), key)) {
    std::fprintf(stderr, "list_text_fuzzer: lista '%s', chave '%s': contains() diz %d\n", list.text().c_str(),
                 key.c_str(), int(list.contains(key)));
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string key = input.ConsumeRandomLengthString();
  const qfx::server::ListText list(input.ConsumeRemainingBytesAsString());
  check(list, key);
  check(list, "");
  // the list's own pieces, and pieces joined with or cut at an underscore
  const std::string& text = list.text();
  size_t start = 0;
  for (int n = 0; n < 64 && start < text.size(); ++n) {
    const size_t end = text.find('_', start + 1);
    const std::string piece = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    check(list, piece);
    if (!piece.empty() && piece.front() == '_') check(list, piece.substr(1));
    if (end == std::string::npos) break;
    check(list, text.substr(start, end + 1 - start));
    start = end;
  }
  return 0;
}
