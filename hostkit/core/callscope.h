// Remote calls waiting for their reply on the user-interface thread.
//
// The network connection marks each wait with a CallScope; the screens' close
// guard (operations.h) holds back a window's close while any call waits, and
// makes the held-back closes when the last call is over. The guard lives with
// the widgets, so it listens through the two hooks below.
#pragma once

#include <functional>

namespace hostkit {

class CallScope {
 public:
  CallScope();
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;
};

// A remote call waits for its reply.
bool callInFlight();

// Run when a call starts waiting and when a call's wait is over; one listener
// each (the close guard). User-interface thread only, as the calls.
void setCallListeners(std::function<void()> started, std::function<void()> over);

}  // namespace hostkit
