#include "operations.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QHash>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QTimer>
#include <QToolTip>

#include <hostkit/core/abort.h>

namespace hostkit {

namespace {

// User-interface thread only, as the widgets themselves.
struct State {
  QHash<const QWidget*, int> working;  // scopes on the widget or inside it
  QList<QPointer<QWidget>> heldBack;
};

State& state() {
  static State s;
  return s;
}

// A handler closing its own window decides so itself (the window goes once
// the handler returns); a close that comes from a loop nested in the handler
// (a message box, a dialog, a call's wait) is someone else's and waits.
bool mustWait(const QWidget* w) {
  if (callInFlight()) return true;
  if (state().working.value(w) == 0) return false;
  const QWidget* modal = QApplication::activeModalWidget();
  return modal && modal != w;
}

void holdBack(QWidget* w) {
  auto& held = state().heldBack;
  if (!held.contains(w)) held.append(w);
  QToolTip::showText(QCursor::pos(), waitForOperationText());
}

// Makes the held-back closes whose windows are free again. Through the event
// loop: the scope or call that just ended still has its caller to return to.
void releaseHeldBack() {
  auto& s = state();
  if (callInFlight()) return;
  for (auto it = s.heldBack.begin(); it != s.heldBack.end();) {
    const QPointer<QWidget> w = *it;
    if (w && s.working.value(w) > 0) {
      ++it;
      continue;
    }
    it = s.heldBack.erase(it);
    if (w) QTimer::singleShot(0, w, [w] { w->close(); });
  }
}

// Where a subwindow's title bar draws its close button, laid out as the
// subwindow lays it out.
}  // namespace

bool onSubWindowCloseButton(const QMdiSubWindow& sub, const QPoint& at) {
  if (sub.windowFlags() & Qt::FramelessWindowHint) return false;
  QStyle* style = sub.style();
  QStyleOptionTitleBar option;
  option.initFrom(&sub);
  option.subControls = QStyle::SC_All;
  option.titleBarFlags = sub.windowFlags();
  option.titleBarState = int(sub.windowState());
  if (sub.isActiveWindow()) option.state |= QStyle::State_Active;
  const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, &sub);
  const int height = style->pixelMetric(QStyle::PM_TitleBarHeight, &option, &sub);
  option.rect = QRect(border, border, sub.width() - 2 * border, height);
  return style->hitTestComplexControl(QStyle::CC_TitleBar, &option, at, &sub) == QStyle::SC_TitleBarCloseButton;
}

namespace {

// The subwindow whose title bar a press falls on, and where in it: the
// press reaches the program's top-level window first (where the wait
// discards it), or the subwindow itself when sent to it directly.
QMdiSubWindow* subWindowPressed(QObject* watched, const QMouseEvent& press, QPoint& at) {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) {
    at = press.position().toPoint();
    return sub;
  }
  if (!watched->isWindowType()) return nullptr;
  const QPoint global = press.globalPosition().toPoint();
  auto* sub = qobject_cast<QMdiSubWindow*>(QApplication::widgetAt(global));
  if (sub) at = sub->mapFromGlobal(global);
  return sub;
}

// A press on a subwindow's own × while a call waits: held back like a close
// that came as an event.
// The release that ends the click hides any tool tip: the one saying to
// wait is shown again.
bool holdBackCloseClick(QObject* watched, QEvent* event) {
  const bool press = event->type() == QEvent::MouseButtonPress;
  if (!press && event->type() != QEvent::MouseButtonRelease) return false;
  QPoint at;
  QMdiSubWindow* sub = subWindowPressed(watched, *static_cast<QMouseEvent*>(event), at);
  if (!sub || !onSubWindowCloseButton(*sub, at)) return false;
  if (press || !state().heldBack.contains(sub))
    holdBack(sub);
  else
    QToolTip::showText(QCursor::pos(), waitForOperationText());
  return true;
}

class CloseGuard : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close || !watched->isWidgetType()) return false;
    auto* w = static_cast<QWidget*>(watched);
    // a tool tip (the one saying to wait, among them) goes when it is done
    if (w->windowType() == Qt::ToolTip || !mustWait(w)) return false;
    event->ignore();
    holdBack(w);
    return true;
  }
};

void ensureGuard() {
  static QPointer<CloseGuard> guard;
  auto* app = QCoreApplication::instance();
  if (guard || !app) return;
  guard = new CloseGuard(app);
  app->installEventFilter(guard);
}

// The guard hears of every remote call's wait, whoever makes it: a close
// during a call waits for its reply. Set when the widgets library loads.
[[maybe_unused]] const bool listeningToCalls = [] {
  setCallListeners(ensureGuard, releaseHeldBack);
  setCloseClickListener(holdBackCloseClick);
  return true;
}();

}  // namespace

QString waitForOperationText() { return QStringLiteral("Aguarde o término da operação em andamento."); }

OperationScope::OperationScope(QWidget* owner) {
  ensureGuard();
  for (const QWidget* w = owner; w; w = w->parentWidget()) {
    marked_.push_back(w);
    ++state().working[w];
  }
}

OperationScope::~OperationScope() {
  auto& working = state().working;
  for (const QWidget* w : marked_) {
    auto it = working.find(w);
    if (it != working.end() && --*it <= 0) working.erase(it);
  }
  releaseHeldBack();
}

bool operationRunning(const QWidget* widget) { return state().working.value(widget) > 0; }
bool operationRunningAround(const QWidget* widget) {
  for (const QWidget* w = widget; w; w = w->parentWidget()) {
    if (operationRunning(w)) return true;
    if (w->isWindow()) break;
  }
  return false;
}

int heldBackCloses() { return int(state().heldBack.size()); }

bool guardedOn(QWidget* owner, const std::function<void()>& handler) {
  OperationScope scope(owner);
  return guarded(handler);
}

}  // namespace hostkit
