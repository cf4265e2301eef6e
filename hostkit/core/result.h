// What may fail on the client returns a Result: the value, or a readable
// message for the operator. It has no conversion to bool on purpose: an
// error that reads like a value ("if (auto error = …)") cannot compile, so a
// caller always says which side it looks at.
#pragma once

#include <QString>
#include <utility>
#include <variant>

namespace hostkit {

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  static Result failure(QString message) { return Result(std::in_place_index<1>, std::move(message)); }

  bool ok() const { return v_.index() == 0; }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  T& operator*() { return value(); }
  const T& operator*() const { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }
  // The readable message; only when !ok().
  const QString& error() const { return std::get<1>(v_); }

 private:
  template <size_t I>
  Result(std::in_place_index_t<I> index, QString message) : v_(index, std::move(message)) {}
  std::variant<T, QString> v_;
};

// For operations that yield nothing but may fail.
struct Done {};
using Status = Result<Done>;
inline Status success() { return Done{}; }

}  // namespace hostkit
