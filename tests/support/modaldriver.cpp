#include "modaldriver.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace hostkit {

namespace {

// The modal window this event shows, or null.
QWidget* shownModal(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Show || !watched->isWidgetType()) return nullptr;
  auto* widget = static_cast<QWidget*>(watched);
  return widget->isWindow() && widget->isModal() ? widget : nullptr;
}

// Waits for the next modal window to be shown and acts on it from inside its
// own event loop. Driven by the Show event, not by counting turns of the
// loop: remote calls that keep the loop busy before the dialog opens cannot
// make it give up early. It gives up only after a minute of wall-clock time.
class NextModal : public QObject {
 public:
  NextModal(QPointer<QWidget> before, std::function<void(QWidget*)> act) : before_(before), act_(std::move(act)) {
    qApp->installEventFilter(this);
    QTimer::singleShot(60000, this, [this] {
      ADD_FAILURE() << "no modal dialog opened";
      deleteLater();
    });
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    QWidget* widget = shownModal(watched, event);
    if (done_ || !widget || widget == before_) return false;
    done_ = true;
    QPointer<QWidget> dialog(widget);
    QTimer::singleShot(0, widget, [this, dialog] {
      if (dialog) act_(dialog);
      deleteLater();
    });
    return false;
  }

 private:
  QPointer<QWidget> before_;
  std::function<void(QWidget*)> act_;
  bool done_ = false;
};
}  // namespace

void onNextModal(std::function<void(QWidget* dialog)> act) {
  new NextModal(QApplication::activeModalWidget(), std::move(act));
}

void closeNextModal() {
  onNextModal([](QWidget* dialog) { dialog->close(); });
}

ModalAnswer::ModalAnswer(std::function<void(QWidget*)> act) : act_(std::move(act)) { qApp->installEventFilter(this); }

ModalAnswer::~ModalAnswer() { qApp->removeEventFilter(this); }

bool ModalAnswer::eventFilter(QObject* watched, QEvent* event) {
  QWidget* dialog = shownModal(watched, event);
  if (!dialog) return false;
  ++opened_;
  QTimer::singleShot(0, dialog, [this, shown = QPointer<QWidget>(dialog)] {
    if (shown && shown->isVisible()) act_(shown);
  });
  return false;
}

QAbstractButton* buttonWithText(QWidget* dialog, const QString& text) {
  for (auto* b : dialog->findChildren<QAbstractButton*>())
    if (QString(b->text()).remove(QLatin1Char('&')) == text) return b;
  return nullptr;
}

void clickButton(QWidget* dialog, const QString& text) {
  if (QAbstractButton* b = buttonWithText(dialog, text)) return b->click();
  ADD_FAILURE() << "dialog " << dialog->objectName().toStdString() << " has no button " << text.toStdString();
  if (auto* d = qobject_cast<QDialog*>(dialog)) d->reject();  // do not leave the test waiting in it
}

}  // namespace hostkit
