// Work under way on the user-interface thread, and the closes that wait for it.
//
// A handler that waits for the application server keeps the event loop
// running; a window closed meanwhile would be destroyed under the handler,
// which goes on writing into it once the reply arrives. So every handler of a
// window runs inside an OperationScope on that window, every remote call
// inside a CallScope, and the close guard (an application event filter,
// installed with the first scope) holds back the closing of a window while
//   - a handler of that window, or of anything inside it, waits in a nested
//     loop (a message box, a dialog), or
//   - a remote call waits for its reply, whoever made it.
// A handler that closes its own window is obeyed: the window goes when the
// handler returns.
// A held-back close is made once the window is free again: the outcome of the
// work is still shown, then the window closes.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QMdiSubWindow;
#include <functional>
#include <vector>

#include <hostkit/core/callscope.h>

namespace hostkit {

// What the operator reads when a close has to wait.
QString waitForOperationText();

// Marks `owner` and every widget around it (its window, the MDI subwindow,
// the host's main window) as working for the scope's life.
class OperationScope {
 public:
  explicit OperationScope(QWidget* owner);
  ~OperationScope();
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  std::vector<const QWidget*> marked_;
};

// A handler runs on the widget or on something inside it.
bool operationRunning(const QWidget* widget);
// A handler runs on the widget, on something inside it, or on anything
// around it within its window: a control of a working screen.
bool operationRunningAround(const QWidget* widget);
// Closes held back and not yet made.
int heldBackCloses();
// Whether `at` (in the subwindow's coordinates) is on the close button its
// title bar draws.
bool onSubWindowCloseButton(const QMdiSubWindow& sub, const QPoint& at);

// Runs a handler of `owner` through the guard, inside an OperationScope.
bool guardedOn(QWidget* owner, const std::function<void()>& handler);

}  // namespace hostkit
