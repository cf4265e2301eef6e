// The report data dialog's side of the report engine: the list of
// definitions, and what preview, print, save as and edit do with the
// selected one once its parameters are prepared.
#include <QApplication>
#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>

#include "forms.h"
#include "messages.h"
#include "reportdesigner.h"
#include "reportengine.h"

namespace hostkit {

namespace {

const char* const kArqRelErr =
    "O arquivo contendo a definição do relatório de código '%s' não foi encontrado no diretório '%s'.";

// The title for the list: the definition's own, or the file's name when the
// file cannot be read (the actions then say what is wrong with it).
QString listTitleOf(const QFileInfo& file) {
  try {
    return readReportTemplate(file.absoluteFilePath()).title;
  } catch (const EHostError&) {
    return file.completeBaseName();
  }
}

// The leading number of "03-copia.json"; 0 without one.
int numberPrefix(const QString& fileName) {
  static const QRegularExpression digits(QStringLiteral("^(\\d+)"));
  const auto match = digits.match(fileName);
  return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// A new file name after every existing one, so a copy never takes the place
// of the first report: "<next number>-<title in plain letters>.json".
QString newDefinitionPath(const QDir& dir, const QString& title) {
  int last = 0;
  for (const QString& name : dir.entryList({QStringLiteral("*.json")}, QDir::Files))
    last = std::max(last, numberPrefix(name));
  QString slug = title.normalized(QString::NormalizationForm_KD).toLower();
  slug.remove(QRegularExpression(QStringLiteral("[^a-z0-9\\s-]")));
  slug = slug.simplified().replace(u' ', u'-').left(40);
  if (slug.isEmpty()) slug = QStringLiteral("relatorio");
  for (int n = last + 1;; ++n) {
    const QString path = dir.filePath(QStringLiteral("%1-%2.json").arg(n, 2, 10, QLatin1Char('0')).arg(slug));
    if (!QFileInfo::exists(path)) return path;
  }
}

class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

QString defaultReportsFolder() {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("reports"));
}

ReportParams queryParamsOf(const ReportDefinition& report) { return reportParamsOf(readReportTemplate(report.path)); }

QString TfrmDadosGerRel::ReportsDir() const {
  QString folder = hasHostServices() ? hostServices().reportsFolder() : QString();
  if (folder.isEmpty()) folder = defaultReportsFolder();
  return QDir(folder).filePath(lblCodRel->text().trimmed());
}

bool TfrmDadosGerRel::loadReports() {
  reports_.clear();
  const QDir dir(ReportsDir());
  if (!lblCodRel->text().trimmed().isEmpty()) {
    QFileInfoList files = dir.entryInfoList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable);
    QCollator order;
    order.setNumericMode(true);
    std::sort(files.begin(), files.end(), [&order](const QFileInfo& a, const QFileInfo& b) {
      return order.compare(a.fileName(), b.fileName()) < 0;
    });
    for (const QFileInfo& info : files)
      reports_ << ReportDefinition{listTitleOf(info), info.fileName(), info.absoluteFilePath()};
  }
  const QSignalBlocker quiet(cbbReportNames);
  cbbReportNames->clear();
  for (const auto& r : reports_) cbbReportNames->addItem(r.title);
  cbbReportNames->setCurrentIndex(reports_.isEmpty() ? -1 : 0);
  return !reports_.isEmpty();
}

void TfrmDadosGerRel::LoadReportNames() {
  if (!loadReports()) {
    try {
      reportMissing();
    } catch (const EAbort&) {
      // reported; the screen stays open with an empty list
    }
  }
}

void TfrmDadosGerRel::selectReport(const QString& fileName) {
  for (qsizetype i = 0; i < reports_.size(); ++i)
    if (reports_[i].fileName == fileName) cbbReportNames->setCurrentIndex(int(i));
}

bool TfrmDadosGerRel::SelectReportAnswering(const QString& refusal) {
  if (refusal.isEmpty()) return false;
  for (qsizetype i = 0; i < reports_.size(); ++i) {
    try {
      if (readReportTemplate(reports_[i].path).answers != refusal) continue;
    } catch (const EHostError&) {
      continue;  // a damaged definition answers nothing; running it says what is wrong
    }
    cbbReportNames->setCurrentIndex(int(i));
    return true;
  }
  return false;
}

void TfrmDadosGerRel::reportMissing() const {
  const QStringList args = {lblCodRel->text().trimmed(), QDir::toNativeSeparators(ReportsDir())};
  const QString text = msgPadrao->contains(QStringLiteral("Arq_Rel_Err"))
                           ? msgPadrao->Msg(QStringLiteral("Arq_Rel_Err"), args)
                           : formatMessage(QString::fromUtf8(kArqRelErr), args);
  MensErro(text, true);
  Abort();  // MensErro aborts; this keeps the compiler sure of it
}

void TfrmDadosGerRel::runReport(ReportAction action) {
  if (!SelectedReport() || !QFileInfo::exists(SelectedReport()->path)) reportMissing();
  const ReportDefinition report = *SelectedReport();  // a copy: save as and edit reload the list
  ReportTemplate layout;
  try {
    layout = readReportTemplate(report.path);
  } catch (const EHostError& e) {
    MensErro(e.message(), true);
  }
  ReportParams params = reportParamsOf(layout);
  bool proceed = true;
  preparing_ = &params;
  try {
    rpddPadraoBeforeGetQueryParams(params, proceed);
  } catch (...) {
    preparing_ = nullptr;
    throw;
  }
  preparing_ = nullptr;
  if (!proceed) return;
  lastRun_ = Run{action, report, params};
  emit reportRequested(action, report, params);
  performReport(action, report, layout, params);
}

void TfrmDadosGerRel::performReport(ReportAction action, const ReportDefinition& report, const ReportTemplate& layout,
                                    const ReportParams& params) {
  switch (action) {
    case ReportAction::Preview:
    case ReportAction::Print: {
      ReportDocument document;
      {
        WaitCursor wait;
        document = buildReportDocument(layout, params);
      }
      if (action == ReportAction::Preview)
        hostServices().previewReport(document, this);
      else
        hostServices().printReport(document, this);
      return;
    }
    case ReportAction::SaveAs:
      return saveReportAs(report, layout);
    case ReportAction::Edit:
      return editReport(report);
  }
}

void TfrmDadosGerRel::saveReportAs(const ReportDefinition& report, const ReportTemplate& layout) {
  // said before the new title is asked for: the copy would be refused anyway
  if (auto refused = reportQueryProblem(layout)) MensErro(*refused, true);
  QString title = layout.title;
  if (!InputQuery(msgPadrao->Msg(QStringLiteral("NovoCaption")), msgPadrao->Msg(QStringLiteral("NovoPrompt")), title,
                  this))
    return;
  title = title.trimmed();
  if (title.isEmpty()) MensErro(QStringLiteral("O título do relatório deve ser informado."), true);
  ReportTemplate copy = layout;
  copy.title = title;
  writeReportTemplate(newDefinitionPath(QFileInfo(report.path).dir(), title), copy);
  loadReports();
  selectReport(report.fileName);  // the copy joins the list; the operator stays on the report he had
}

void TfrmDadosGerRel::editReport(const ReportDefinition& report) {
  if (rpddPadrao->Execute(report.path) != QDialog::Accepted) return;
  loadReports();
  selectReport(report.fileName);
}

}  // namespace hostkit
