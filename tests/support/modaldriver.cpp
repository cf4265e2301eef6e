#include "modaldriver.h"

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>

namespace hostkit {

namespace {
// Polls from the event loop until a new modal dialog is up; gives up after
// enough turns of the loop that a dialog that was going to open has opened.
void waitForModal(QPointer<QWidget> before, std::function<void(QWidget*)> act, int turnsLeft) {
  QTimer::singleShot(0, qApp, [before, act = std::move(act), turnsLeft]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != before && modal->isVisible()) return act(modal);
    if (turnsLeft > 0)
      waitForModal(before, std::move(act), turnsLeft - 1);
    else
      ADD_FAILURE() << "no modal dialog opened";
  });
}
}  // namespace

void onNextModal(std::function<void(QWidget* dialog)> act) {
  waitForModal(QApplication::activeModalWidget(), std::move(act), 10000);
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
