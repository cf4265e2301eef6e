// qfxhost: the back-office host application.
#include <sys/stat.h>

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "hostapp.h"
#include "qfx_version.h"

int main(int argc, char** argv) {
  // answered before any window system is needed
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0) return std::printf("qfxhost %s\n", QFX_VERSION) < 0;
  // settings, saved options and exports are the operator's alone
  umask(077);
  QApplication app(argc, argv);
  QCoreApplication::setApplicationVersion(QFX_VERSION);
  return qfxhost::runHost(app, app.arguments());
}
