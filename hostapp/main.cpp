// qfxhost: the back-office host application.
#include <QApplication>

#include "hostapp.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return qfxhost::runHost(app, app.arguments());
}
