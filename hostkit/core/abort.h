// The silent abort and the one guard every screen handler runs through.
//
// A check that fails shows its message and then throws EAbort: the current
// handler unwinds and nothing more is shown. No exception may cross the Qt
// event loop, so every slot that runs a handler goes through guarded(), which
// swallows the silent abort and hands any other error to the host's standard
// error display.
#pragma once

#include <QString>
#include <exception>
#include <functional>
#include <stdexcept>

namespace hostkit {

// The silent abort: stops the current operation without a message.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operação abandonada"; }
};

// A failure with a message for the operator: a server refusal (whose message
// is the refusal key), a communication failure, a database error.
// `details` is the technical text the error display keeps under "Detalhes".
class EHostError : public std::runtime_error {
 public:
  explicit EHostError(const QString& message, const QString& details = {})
      : std::runtime_error(message.toStdString()), message_(message), details_(details) {}
  const QString& message() const { return message_; }
  const QString& details() const { return details_; }

 private:
  QString message_;
  QString details_;
};

// Raised by remote calls that failed; message() is the refusal key or a readable text.
class EServerError : public EHostError {
 public:
  using EHostError::EHostError;
  // A call that reached a server which gave no answer (lost, or silent until
  // the deadline): it may have been done there.
  static EServerError Unanswered(const QString& message, const QString& details) {
    EServerError e(message, details);
    e.unanswered_ = true;
    return e;
  }
  bool unanswered() const { return unanswered_; }

 private:
  bool unanswered_ = false;
};

// A database lookup failed.
class EDatabaseError : public EHostError {
 public:
  using EHostError::EHostError;
};

[[noreturn]] void Abort();

// Text of any exception for the standard error display.
QString errorMessage(const std::exception& e);

// Runs a handler; returns true when it ran to its end, false when it stopped
// (silent abort or error). Errors other than the silent abort are shown by the
// host's standard error display.
bool guarded(const std::function<void()>& handler);

}  // namespace hostkit
