// The NFC-e reader (common/nfce_reader): the first byte chooses how the rest
// is cut into pieces, as the import's stream cuts a file. The reading must
// not depend on the cut, and a document it accepts must be what the import
// relies on: a 44-digit access key with its check digit, at least one item,
// a day that is its moment's, and numbers that are numbers.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/nfce_reader.h"

namespace {

using qfx::server::NfceDocument;
using qfx::server::NfceRead;
using qfx::server::NfceReader;
using qfx::server::NfceRefusal;

[[noreturn]] void fault(const char* what) {
  std::fprintf(stderr, "nfce_reader_fuzzer: %s\n", what);
  std::abort();
}

NfceRead read(std::string_view bytes, size_t piece) {
  NfceReader reader;
  for (size_t at = 0; at < bytes.size(); at += piece) reader.feed(bytes.substr(at, piece));
  return reader.finish();
}

std::string describe(const NfceRead& r) {
  if (const auto* no = std::get_if<NfceRefusal>(&r))
    return std::to_string(no->line) + ":" + no->element + ":" + no->reason;
  if (const auto* cancelled = std::get_if<qfx::server::NfceCancellation>(&r))
    return "cancela " + cancelled->key.toStdString();
  const auto& d = std::get<NfceDocument>(r);
  return d.key.toStdString() + "|" + std::to_string(d.items.size()) + "|" + std::to_string(d.total);
}

void check(const NfceDocument& d) {
  const std::string key = d.key.toStdString();
  if (key.size() != 44 || key.find_first_not_of("0123456789") != std::string::npos) fault("a key not of 44 digits");
  if (qfx::server::nfceKeyDigit(std::string_view(key).substr(0, 43)) != key[43]) fault("a key with a wrong digit");
  if (d.items.empty()) fault("a document without items");
  if (!d.moment.startsWith(d.day)) fault("a day that is not its moment's");
  for (const auto& i : d.items)
    if (!std::isfinite(i.quantity) || !std::isfinite(i.unitPrice) || !std::isfinite(i.discount))
      fault("an item value that is not a number");
  if (!std::isfinite(d.total)) fault("a total that is not a number");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const NfceRead whole = read(bytes, bytes.size() + 1);
  if (describe(whole) != describe(read(bytes, piece))) fault("the reading depends on how the file was cut");
  if (const auto* d = std::get_if<NfceDocument>(&whole)) check(*d);
  if (const auto* cancelled = std::get_if<qfx::server::NfceCancellation>(&whole)) {
    const std::string key = cancelled->key.toStdString();
    if (key.size() != 44 || qfx::server::nfceKeyDigit(std::string_view(key).substr(0, 43)) != key[43])
      fault("a cancellation of a key that is not sound");
  }
  return 0;
}
