// The host speaks Portuguese: Qt's own dialogs read "Sim" and "Não", the
// help viewer's search too, and the save dialogs open where the operator
// keeps documents.
#include <gtest/gtest.h>

#include <QAbstractProxyModel>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "modaldriver.h"
#include <hostapp/hostapp.h>
#include <hostkit/widgets/filedialogs.h>

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

  QFile earlier(home.filePath("Documents/anterior.csv"));
  ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
  earlier.write("1;2\n");
  earlier.close();
  QString shownIn, suggested, date, type;
  hostkit::onNextModal([&](QWidget* dialog) {
    auto* files = qobject_cast<QFileDialog*>(dialog);
    if (!files) {
      ADD_FAILURE() << "not a file dialog";
      dialog->close();
      return;
    }
    shownIn = files->directory().absolutePath();
    suggested = files->selectedFiles().value(0);
    // the list as shown: the file's date and type in the product's language
    const auto* shown = files->proxyModel();
    const auto* model = shown ? qobject_cast<const QFileSystemModel*>(shown->sourceModel()) : nullptr;
    if (model) {
      EXPECT_TRUE(QTest::qWaitFor([&] { return model->rowCount(model->index(shownIn)) > 0; }));
      const QModelIndex file = model->index(earlier.fileName());
      date = shown->mapFromSource(file.siblingAtColumn(3)).data().toString();
      type = shown->mapFromSource(file.siblingAtColumn(2)).data().toString();
    }
    files->reject();
  });
  EXPECT_EQ(hostkit::askSaveFileName(nullptr, "Salvar planilha", "lista.csv", "Planilha CSV (*.csv)"), "");
  EXPECT_EQ(QDir(shownIn), QDir(home.filePath("Documents")));
  EXPECT_EQ(suggested, QDir(home.filePath("Documents")).filePath("lista.csv"));
  EXPECT_EQ(date, QFileInfo(earlier).lastModified().toString("dd/MM/yyyy HH:mm"));
  EXPECT_EQ(type, "Arquivo CSV");
  qputenv("HOME", savedHome);
  if (savedConfig.isEmpty())
    qunsetenv("XDG_CONFIG_HOME");
  else
    qputenv("XDG_CONFIG_HOME", savedConfig);
}
