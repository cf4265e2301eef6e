// The host's two screens of a consolidation run: the items whose stock would
// become irregular, and the products that block the run. Both show the
// owner screen's dataset (whose fields the module fixes) the way an operator
// reads it: what happened and what was posted, plain column titles,
// Brazilian numbers, and the list copied to the clipboard or saved as a
// spreadsheet file.
#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <utility>

class QWidget;

namespace hostkit {

class TDataSet;

struct RunListColumn {
  QString field;
  QString title;
  int decimals = -1;  // a number with this many decimals; -1: text
  // A text of code letters, each shown as its meaning (joined by " e ").
  QList<std::pair<QChar, QString>> letters = {};
};

struct RunListScreen {
  QString datasetName;
  QString dialogName;
  QString title;
  QString heading;
  QList<RunListColumn> columns;
};

// The irregular-stock list after the posting `postingNumber` ("0" or empty: nothing posted).
RunListScreen irregularStockScreen(const QString& postingNumber);
RunListScreen blockedProductsScreen();

// The list with its titles first, one line per row, cells split by
// `separator` (a tab for the clipboard, a semicolon for a spreadsheet file).
QString runListText(const TDataSet& rows, const QList<RunListColumn>& columns, QChar separator);

// Shows the owner's dataset as `screen` describes, modally over `parent`.
// Throws EHostError when the owner lacks the dataset.
void showRunList(QWidget* owner, QWidget* parent, const RunListScreen& screen);

}  // namespace hostkit
