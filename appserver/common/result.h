// Errors at the library and network boundaries travel as values: every
// operation that can fail returns Result<T>, and the gRPC layer turns the
// error kind into a status code. No exception crosses a handler.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace qfx::server {

enum class ErrorKind {
  Refused,           // a business refusal; the message is the key the screen knows
  InvalidArgument,   // the caller sent something the method cannot take
  NotFound,          // unknown object or method
  Unauthenticated,   // no, invalid or expired session; wrong password
  PermissionDenied,  // the operator may not act on what was asked
  Unavailable,       // the database is busy or gone; calling again may work
  Conflict,          // lost a race with another writer (unique key, item already claimed)
  Internal,          // anything else, with a readable message
};

struct Error {
  ErrorKind kind = ErrorKind::Internal;
  std::string message;
  // What the operator needs beside a refusal's key (the dates, limits or
  // days behind it); travels apart from the key, which the screen matches.
  std::string details = {};
};

// `key` is one of contract::refusals.
inline Error refused(std::string_view key, std::string details = {}) {
  return {ErrorKind::Refused, std::string(key), std::move(details)};
}
inline Error invalidArgument(std::string m) { return {ErrorKind::InvalidArgument, std::move(m)}; }
inline Error internalError(std::string m) { return {ErrorKind::Internal, std::move(m)}; }

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::move(value)) {}
  Result(Error error) : v_(std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  const Error& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

// For operations that yield nothing but may fail.
struct Done {};
using Status = Result<Done>;
inline Status success() { return Done{}; }

}  // namespace qfx::server
