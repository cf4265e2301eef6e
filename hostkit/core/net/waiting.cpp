// Waiting without freezing: a blocking call on a worker thread under a local
// event loop, or one call's completion queue polled by the waiting thread.
#include "net/waiting.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <thread>

#include "netconnection.h"

namespace hostkit {

namespace net {

bool InputBlocker::eventFilter(QObject* watched, QEvent* e) {
  switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
      closeClicked(watched, e);  // a close among the input is still a close
      return true;
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::TouchBegin:
      return true;
    default:
      return false;
  }
}

CallWaiter::CallWaiter() {
  auto* app = QCoreApplication::instance();
  pumpEvents_ = app && QThread::currentThread() == app->thread();
  if (!pumpEvents_) return;
  inFlight_.emplace();
  app->installEventFilter(&blocker_);
}

CallWaiter::~CallWaiter() {
  if (pumpEvents_) QCoreApplication::instance()->removeEventFilter(&blocker_);
  queue_.Shutdown();
  void* tag;
  bool ok;
  while (queue_.Next(&tag, &ok)) {
  }
}

bool CallWaiter::await(CallOp op) {
  void* const tag = tagOf(op);
  for (;;) {
    for (auto it = arrived_.begin(); it != arrived_.end(); ++it) {
      if (it->first != tag) continue;
      const bool ok = it->second;
      arrived_.erase(it);
      return ok;
    }
    void* got = nullptr;
    bool ok = false;
    const auto next = queue_.AsyncNext(&got, &ok, std::chrono::system_clock::now() + kPoll);
    if (next == grpc::CompletionQueue::GOT_EVENT) {
      arrived_.emplace_back(got, ok);
      continue;
    }
    if (next == grpc::CompletionQueue::SHUTDOWN) return false;
    // the screen's events (a timer of 0 ms, a repaint) run once a poll has
    // passed without the reply: a quick call spares the pass over them
    if (pumpEvents_) QCoreApplication::processEvents();
  }
}

}  // namespace net

void runBlockingCall(const std::function<void()>& work) {
  auto* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return work();
  CallScope inFlight;
  QEventLoop loop;
  net::InputBlocker blocker;
  app->installEventFilter(&blocker);
  std::thread worker([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  app->removeEventFilter(&blocker);
}

}  // namespace hostkit
