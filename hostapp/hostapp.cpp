#include "hostapp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMdiArea>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>

#include "hostsettings.h"
#include "logindialog.h"
#include "mainwindow.h"
#include "screenshottour.h"
#include <hostkit/core/query.h>

namespace qfxhost {

void installPortugueseTranslations(QApplication& app) {
  QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  // qt_help: the help viewer's search ("Pesquisar", the count of hits)
  for (const char* name : {"qtbase_pt_BR", "qt_pt_BR", "qt_help_pt_BR"}) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QString::fromLatin1(name), folder))
      app.installTranslator(translator);
    else
      delete translator;
  }
}

namespace {

void fatal(const QString& text) {
  std::fprintf(stderr, "%s\n", qPrintable(text));
  if (qEnvironmentVariable("QT_QPA_PLATFORM") != QLatin1String("offscreen"))
    QMessageBox::critical(nullptr, QStringLiteral("Consolidação de Vendas"), text);
}

std::optional<LoginOutcome> login(HostSettings& settings) {
  if (!settings.passwordRefusal.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(settings.passwordRefusal));
    if (!settings.screenshotDir.isEmpty()) return std::nullopt;  // headless: nobody to ask
  }
  if (!settings.operatorCode.isEmpty() && !settings.password.isEmpty()) {
    auto reply = loginDirect(settings, settings.operatorCode, settings.password);
    if (reply.ok()) return *reply;
    fatal(reply.error());
    if (!settings.screenshotDir.isEmpty()) return std::nullopt;  // headless: nobody to ask
  }
  LoginDialog dialog(settings);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.outcome();
}

}  // namespace

int runHost(QApplication& app, const QStringList& arguments) {
  QCoreApplication::setOrganizationName(QStringLiteral("Qfx"));
  QCoreApplication::setApplicationName(QStringLiteral("ConsolidacaoVendas"));
  installPortugueseTranslations(app);

  auto loaded = loadSettings(arguments);
  if (!loaded.ok()) {
    const QString& message = loaded.error();
    std::fprintf(stdout, "%s\n", qPrintable(message));
    return message.startsWith(QLatin1String("Usage")) || message.contains(QLatin1String("--help")) ? 0 : 2;
  }
  HostSettings settings = std::move(*loaded);

  if (!settings.settingsNotice.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(settings.settingsNotice));
  if (const auto opened = hostkit::openHostDatabase({settings.databaseUrl, settings.databasePassword}); !opened.ok()) {
    fatal(opened.error());
    return 1;
  }
  const auto outcome = login(settings);
  if (!outcome) return 1;
  saveSettings(settings);

  hostkit::HostSession session;
  session.filial = outcome->branch;
  session.moduFili = !outcome->login.boundBranch.isEmpty();
  session.operador = outcome->login.operatorCode;
  session.token = outcome->login.token;
  session.server = settings.server;
  session.reportsFolder = settings.reportsFolder;
  session.helpCollection = settings.helpCollection;
  auto services = std::make_shared<hostkit::QtHostServices>(session);
  hostkit::installHostServices(services);

  ModuleLoader module;
  const hostkit::Status moduleLoaded = module.load(settings.modulePath);
  MainWindow window(module, session);
  services->session().mdiArea = window.mdiArea();
  window.show();
  if (!moduleLoaded.ok()) fatal(moduleLoaded.error());  // the host keeps running without the module

  std::unique_ptr<ScreenshotTour> tour;
  if (!settings.screenshotDir.isEmpty()) tour = std::make_unique<ScreenshotTour>(window, settings.screenshotDir);
  const int code = app.exec();
  window.closeScreens();
  module.unload();
  if (!endSession(settings, session.token))
    std::fprintf(stderr, "a sessão no servidor não pôde ser encerrada agora; ela vence sozinha no prazo\n");
  hostkit::closeHostDatabase();
  return tour ? tour->exitCode() : code;
}

}  // namespace qfxhost
