// Where the operator saves what a screen exports: Qt's own file dialog,
// opening in the Documents folder (the home folder when there is none) and
// showing the files' dates and sizes in the product's language, whatever
// the machine's locale.
#pragma once

#include <QString>

class QWidget;

namespace hostkit {

// The Documents folder when it exists, else the home folder: never the
// folder the program happened to be started in.
QString documentsFolder();

// Asks for a file to write, `fileName` suggested in documentsFolder();
// `filter` as QFileDialog takes it. Empty when the operator cancels.
QString askSaveFileName(QWidget* parent, const QString& caption, const QString& fileName, const QString& filter);

}  // namespace hostkit
