// The host speaks Portuguese: Qt's own dialogs read "Sim" and "Não", the
// help viewer's search too, and the save dialogs open where the operator
// keeps documents.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include "filedialogs.h"
#include "hostapp.h"
#include "modaldriver.h"

TEST(HostTranslations, StandardButtonsAndTheHelpSearchReadPortuguese) {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  ASSERT_TRUE(app);
  qfxhost::installPortugueseTranslations(*app);
  QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No | QDialogButtonBox::Cancel);
  EXPECT_EQ(box.button(QDialogButtonBox::Yes)->text().remove('&'), "Sim");
  EXPECT_EQ(box.button(QDialogButtonBox::No)->text().remove('&'), "Não");
  EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().remove('&'), "Cancelar");
  // the help viewer's search widgets take their texts from Qt's help catalogue
  EXPECT_NE(QCoreApplication::translate("QHelpSearchQueryWidget", "Search"), "Search");
  EXPECT_NE(QCoreApplication::translate("QHelpSearchResultWidget", "0 - 0 of 0 Hits"), "0 - 0 of 0 Hits");
}

// Without a Documents folder the home folder, never the folder the host was
// started in; the dialog suggests the file there.
TEST(HostTranslations, SaveDialogsOpenInDocumentsOrElseAtHome) {
  QTemporaryDir home;
  const QByteArray savedHome = qgetenv("HOME"), savedConfig = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", QFile::encodeName(home.path()));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
  EXPECT_EQ(QDir(hostkit::documentsFolder()), QDir(home.path()));
  ASSERT_TRUE(QDir(home.path()).mkdir("Documents"));
  EXPECT_EQ(QDir(hostkit::documentsFolder()), QDir(home.filePath("Documents")));

  QString shownIn, suggested;
  hostkit::onNextModal([&](QWidget* dialog) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    if (!files) {
      ADD_FAILURE() << "not a file dialog";
      return dialog->close();
    }
    shownIn = files->directory().absolutePath();
    suggested = files->selectedFiles().value(0);
    files->reject();
  });
  EXPECT_EQ(hostkit::askSaveFileName(nullptr, "Salvar planilha", "lista.csv", "Planilha CSV (*.csv)"), "");
  EXPECT_EQ(QDir(shownIn), QDir(home.filePath("Documents")));
  EXPECT_EQ(suggested, QDir(home.filePath("Documents")).filePath("lista.csv"));
  qputenv("HOME", savedHome);
  if (savedConfig.isEmpty())
    qunsetenv("XDG_CONFIG_HOME");
  else
    qputenv("XDG_CONFIG_HOME", savedConfig);
}
