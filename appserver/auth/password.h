// Operator passwords: argon2id through libsodium's crypto_pwhash_str, with
// the interactive limits (the hash string records them, so stronger limits
// later still verify old hashes).
#pragma once

#include <cstdint>
#include <string>

#include "common/result.h"

namespace qfx::server::password {

Result<std::string> hash(const std::string& password);
bool verify(const std::string& storedHash, const std::string& password);
// Spends the same effort as a real check, for unknown operators: the time a
// login takes must not tell whether the operator exists.
void verifyAgainstDummy(const std::string& password);
// Checks run since the process started (real and dummy): tells that a
// refused login cost no check.
uint64_t checksRun();

}  // namespace qfx::server::password
