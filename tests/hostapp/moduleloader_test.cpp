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
  const auto missing = loader.load(qfxtest::binPath("libnao_existe.so"));
  ASSERT_FALSE(missing.ok());
  EXPECT_TRUE(missing.error().contains("não foi encontrado")) << missing.error().toStdString();
  EXPECT_FALSE(loader.loaded());

  // a real library that is not a module: no IniProc
  const auto notModule = loader.load(qfxtest::binPath("libqfxproto.so"));
  ASSERT_FALSE(notModule.ok());
  EXPECT_TRUE(notModule.error().contains("IniProc")) << notModule.error().toStdString();
  EXPECT_FALSE(loader.loaded());
  loader.iniProc();  // nothing to call: no crash
}

TEST(ModuleLoader, TheHostWindowWorksWithoutAModule) {
  auto host = hostkit::ScriptedHostServices::install();
  ModuleLoader loader;
  ASSERT_FALSE(loader.load(qfxtest::binPath("libnao_existe.so")).ok());
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
  const auto loaded = loader.load(qfxtest::binPath("libqfx31700.so"));
  EXPECT_TRUE(loaded.ok()) << loaded.error().toStdString();
  EXPECT_TRUE(loader.loaded());
  loader.unload();
  EXPECT_FALSE(loader.loaded());
}
