// The host speaks Portuguese: Qt's own dialogs read "Sim" and "Não".
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>

#include "hostapp.h"

TEST(HostTranslations, StandardButtonsReadSimAndNao) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_TRUE(app);
  qfxhost::installPortugueseTranslations(*app);
  QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Yes)->text().remove('&'), "Sim");
  EXPECT_EQ(box.button(QDialogButtonBox::No)->text().remove('&'), "Não");
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().remove('&'), "Cancelar");
}
