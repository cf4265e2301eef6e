// The host application's start: settings, login, module, main window.
#pragma once

#include <QStringList>

class QApplication;

namespace qfxhost {

// Loads Qt's Portuguese (Brazil) translations, so standard dialogs read "Sim"/"Não".
void installPortugueseTranslations(QApplication& app);

int runHost(QApplication& app, const QStringList& arguments);

}  // namespace qfxhost
