#include "callscope.h"

namespace hostkit {

namespace {

struct Calls {
  int waiting = 0;
  std::function<void()> started;
  std::function<void()> over;
  std::function<bool(QObject*, QEvent*)> closeClick;
};

Calls& calls() {
  static Calls c;
  return c;
}

}  // namespace

CallScope::CallScope() {
  auto& c = calls();
  if (c.started) c.started();
  ++c.waiting;
}

CallScope::~CallScope() {
  auto& c = calls();
  --c.waiting;
  if (c.over) c.over();
}

bool callInFlight() { return calls().waiting > 0; }

void setCloseClickListener(std::function<bool(QObject*, QEvent*)> listener) {
  calls().closeClick = std::move(listener);
}

bool closeClicked(QObject* watched, QEvent* event) {
  const auto& listener = calls().closeClick;
  return listener && listener(watched, event);
}

void setCallListeners(std::function<void()> started, std::function<void()> over) {
  calls().started = std::move(started);
  calls().over = std::move(over);
}

}  // namespace hostkit
