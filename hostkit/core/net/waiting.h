// How a caller waits for the server without freezing its screen. Inside the
// host kit only; the rest of the product waits through TNetConnection.
#pragma once

#include <grpcpp/grpcpp.h>

#include <QObject>
#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <hostkit/core/callscope.h>

class QEvent;

namespace hostkit::net {

// Swallows user input while a call runs, so a click does not replay afterwards.
// A close is no input: the close guard holds it back until the call is over.
class InputBlocker : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* e) override;
};

// The operations of one call, as their completion queue tags.
enum class CallOp : std::intptr_t { Start = 1, Read, Finish };
inline void* tagOf(CallOp op) { return reinterpret_cast<void*>(op); }

// The events of one call on a completion queue driven by the waiting thread
// itself: the reply wakes this thread directly, with no thread started per
// call and no hand-over back to it (a small call cost more in those than in
// its own work). On the application's thread, the screen's own events are
// processed between polls, with user input swallowed as in runBlockingCall.
class CallWaiter {
 public:
  CallWaiter();
  ~CallWaiter();
  CallWaiter(const CallWaiter&) = delete;
  CallWaiter& operator=(const CallWaiter&) = delete;

  grpc::CompletionQueue* queue() { return &queue_; }

  // Waits for the operation `op`; its success as gRPC reports it. Other
  // operations' completions met on the way are kept for their own wait.
  bool await(CallOp op);

 private:
  static constexpr std::chrono::milliseconds kPoll{10};
  grpc::CompletionQueue queue_;
  InputBlocker blocker_;
  std::optional<CallScope> inFlight_;
  bool pumpEvents_ = false;
  std::vector<std::pair<void*, bool>> arrived_;
};

}  // namespace hostkit::net
