// Loading the module: the real library binds its entries; a missing file or
// a library without the module's entries is a clear error, and the host goes on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMdiArea>
#include <QMdiSubWindow>

#include "scriptedhostservices.h"
#include "testhelpers.h"
#include <hostapp/mainwindow.h>
#include <hostapp/moduleloader.h>

using namespace qfxhost;

TEST(ModuleLoader, MissingFileOrMissingEntriesAreClearErrors) {
  ModuleLoader loader;
  auto missing = loader.load(qfxtest::binPath("libnao_existe.so"));
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->contains("não foi encontrado")) << missing->toStdString();
  EXPECT_FALSE(loader.loaded());

  // a real library that is not a module: no IniProc
  auto notModule = loader.load(qfxtest::binPath("libqfxproto.so"));
  ASSERT_TRUE(notModule);
  EXPECT_TRUE(notModule->contains("IniProc")) << notModule->toStdString();
  EXPECT_FALSE(loader.loaded());
  loader.iniProc();  // nothing to call: no crash
}

TEST(ModuleLoader, TheHostWindowWorksWithoutAModule) {
  auto host = hostkit::ScriptedHostServices::install();
  ModuleLoader loader;
  ASSERT_TRUE(loader.load(qfxtest::binPath("libnao_existe.so")));
  hostkit::HostSession session;
  session.operador = "demo";
  session.filial = "0001";
  MainWindow window(loader, session);
  window.show();
  QAction* open = window.findChild<QAction*>("mnuConsolidacaoVendas");
  ASSERT_TRUE(open);
  EXPECT_FALSE(open->isEnabled());
  window.openConsolidacao();
  EXPECT_TRUE(window.mdiArea()->subWindowList().isEmpty());
  EXPECT_TRUE(host->messages.isEmpty());
}

TEST(ModuleLoader, TheRealModuleBindsItsEntriesAndUnloads) {
  ModuleLoader loader;
  const auto error = loader.load(qfxtest::binPath("libqfx31700.so"));
  EXPECT_FALSE(error) << error.value_or(QString()).toStdString();
  EXPECT_TRUE(loader.loaded());
  loader.unload();
  EXPECT_FALSE(loader.loaded());
}
