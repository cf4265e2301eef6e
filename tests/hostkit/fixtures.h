// Small builders shared by the host-kit widget tests.
#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QStringList>
#include <QWidget>
#include <QtTest/QTest>
#include <initializer_list>
#include <memory>

#include "scriptedhostservices.h"
#include "testhelpers.h"
#include <hostkit/core/dataset.h>

namespace hostkit {

struct TextField {
  const char* name;
  const char* label = "";
  bool visible = true;
};

// Text fields and rows, open and on its first row.
inline void fillTextDataSet(TDataSet& ds, std::initializer_list<TextField> fields, const QList<QStringList>& rows) {
  for (const TextField& f : fields) {
    FieldSpec field;
    field.name = QString::fromLatin1(f.name);
    field.label = QString::fromUtf8(f.label);
    field.visible = f.visible;
    field.size = 20;
    ds.AddField(field);
  }
  ds.Open();
  for (const QStringList& row : rows) {
    ds.Append();
    for (int i = 0; i < row.size(); ++i) ds.Fields(i)->SetAsString(row.at(i));
    ds.Post();
  }
  ds.First();
}

// The widget shown as the active window, as the operator would have it.
inline bool showActive(QWidget& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

// After a dialog closed: the window system gives the activation back (as a
// window manager does) and the focus returns to the window's focus widget.
inline bool reactivate(QWidget& window) {
  if (!window.isActiveWindow()) window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

// Every test starts with fresh scripted host services.
class ScriptedHostTest : public ::testing::Test {
 protected:
  std::shared_ptr<ScriptedHostServices> host = ScriptedHostServices::install();
};

}  // namespace hostkit
