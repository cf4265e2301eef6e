// Remote calls waiting for their reply on the user-interface thread.
//
// The network connection marks each wait with a CallScope; the screens' close
// guard (operations.h) holds back a window's close while any call waits, and
// makes the held-back closes when the last call is over. The guard lives with
// the widgets, so it listens through the two hooks below.
#pragma once

#include <functional>

class QEvent;
class QObject;

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

// Input that arrives while a call waits is discarded. A mouse press on a
// window's close button that the program draws itself (an MDI subwindow's
// title bar; a window manager's × comes as a close, not as input) is a close
// all the same: it is handed to this listener, which holds it back as any
// close (one listener: the close guard). True when it was such a press.
void setCloseClickListener(std::function<bool(QObject*, QEvent*)> listener);
bool closeClicked(QObject* watched, QEvent* event);

}  // namespace hostkit
