// What the report tests stand on: host services that also record the report
// output (preview, print, the title box), a SQLite database made from the
// product's own schema with a few sales, and the shipped definitions copied
// into a reports folder of the test's own.
#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <optional>

#include "scriptedhostservices.h"
#include "testhelpers.h"
#include <reportkit/model/reportengine.h>

namespace qfxtest {

struct InputCall {
  QString caption;
  QString prompt;
  QString preset;
};

class ReportHost : public hostkit::ScriptedHostServices {
 public:
  static std::shared_ptr<ReportHost> install();

  // The operator's data folder (his own report definitions), fresh for each test.
  QTemporaryDir dataHome;
  QList<reportkit::ReportDocument> previews;
  QList<reportkit::ReportDocument> prints;
  QList<InputCall> inputCalls;
  // Titles the operator types, or nullopt for Cancel; none left: Cancel.
  std::deque<std::optional<QString>> inputAnswers;
  // Errors are also shown in a real message box, as the host shows them
  // (for the tests under a window manager); recorded either way.
  bool showErrorBoxes = false;

  void showError(const QString& text) override;
  void previewReport(const reportkit::ReportDocument& document, QWidget*) override { previews << document; }
  bool printReport(const reportkit::ReportDocument& document, QWidget*) override {
    prints << document;
    return true;
  }
  bool inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget*) override;
};

// The host's database, as the report screen hands it to the engine.
reportkit::QueryOptions onHostDatabase();
// The report screen's context on the host's database: branch, operator and
// codes as given.
reportkit::ReportContext hostContext(const QString& branch = {}, const QString& operatorName = {},
                                     const QString& screenCode = {}, const QString& reportCode = {});

// The place of a field's column in a report's table; -1 when none.
int columnOf(const reportkit::ReportTable& table, const QString& field);

// The texts of a report's group headers of one level, in print order.
QStringList groupHeaders(const reportkit::ReportTable& table, int level);

// Creates the product's schema in a new SQLite file, opens it as the host's
// database and fills it with the sales of the tests (see the .cpp).
void createSalesDatabase(const QString& file);
// Runs statements on the host's database file through a writable connection
// of the test's own (the host's is read-only), failing the test on an error.
void execAll(const QStringList& statements);
// Copies the shipped definitions of report code Qfx317 to <folder>/Qfx317.
void copyShippedReports(const QString& folder);
// A file inside a zip, as `unzip -p` gives it (an XLSX's sheet).
QString zipEntry(const QString& zip, const QString& entry);
// A cell of sheet XML: its attributes and its value.
struct SheetCell {
  bool present = false;
  QString attributes;
  QString value;
};
SheetCell cellAt(const QString& sheet, const QString& reference);

// The text of a PDF file as pdftotext lays it out.
QString pdfText(const QString& pdf);

}  // namespace qfxtest
