#include "auth/password.h"

#include <sodium.h>

#include <atomic>
#include <mutex>

namespace qfx::server::password {

namespace {

std::atomic<uint64_t> checks{0};

bool initSodium() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

}  // namespace

Result<std::string> hash(const std::string& password) {
  if (!initSodium()) return internalError("libsodium não inicializou");
  char out[crypto_pwhash_STRBYTES];
  if (crypto_pwhash_str(out, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0) {
    return internalError("memória insuficiente para calcular o hash da senha");
  }
  return std::string(out);
}

bool verify(const std::string& storedHash, const std::string& password) {
  if (!initSodium()) return false;
  if (storedHash.empty() || storedHash.size() >= crypto_pwhash_STRBYTES) return false;
  ++checks;
  return crypto_pwhash_str_verify(storedHash.c_str(), password.data(), password.size()) == 0;
}

void verifyAgainstDummy(const std::string& password) {
  static std::once_flag once;
  static std::string dummy;
  std::call_once(once, [] {
    auto h = hash("senha-que-ninguem-usa");
    if (h) dummy = *h;
  });
  (void)verify(dummy, password);
}

uint64_t checksRun() { return checks; }

}  // namespace qfx::server::password
