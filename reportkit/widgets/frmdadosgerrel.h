// The report data dialog: the base of the report screens. It lists the
// report definitions of its report code, prepares the selected one's
// parameters through its subclass and previews, prints, copies or edits it.
// A new definition starts from the selected one; the operator's own
// definitions can be deleted, the shipped ones cannot.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include <hostkit/core/abort.h>
#include <hostkit/core/hostservices.h>
#include <hostkit/widgets/screenparts.h>
#include <reportkit/model/reportparams.h>
#include <reportkit/model/reporttemplate.h>

class QComboBox;
class QGroupBox;
class QLabel;
class QVBoxLayout;

namespace hostkit {
class TMessages;
}

namespace reportkit {

using hostkit::CloseAction;
using hostkit::TButtonFlat;
using hostkit::TMessages;
class TReportDesigner;
struct ReportContext;

enum class ReportAction { Preview, Print, SaveAs, Edit };

class TfrmDadosGerRel : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmDadosGerRel(QWidget* parent = nullptr, const QString& name = {});

  int ShowModal();

  QString HelpFile;
  int HelpContext = 0;

  // Report definitions of the report code (lblCodRel): the *.json files of
  // reportsFolder()/<code>/, in file-name order (numbers by value), listed by
  // their titles. None found: "Arq_Rel_Err" with the code and the folder.
  void LoadReportNames();
  // reportsFolder()/<code>.
  QString ReportsDir() const;
  // The operator's own definitions of the report code: new ones, copies and
  // edited shipped ones, in his data folder (<AppData>/relatorios/<code>).
  QString UserReportsDir() const;
  // Whether the selected report takes the first report's parameters (its
  // definition says so; without a word, it is the first of the list).
  bool SelectedParameterSetIsFirst() const;
  const QList<ReportDefinition>& Reports() const { return reports_; }
  const ReportDefinition* SelectedReport() const;
  // Selects the first report that explains this refusal of the application
  // server (its definition's "answers"); false, and the selection unchanged,
  // when none does.
  bool SelectReportAnswering(const QString& refusal);

  // While the parameters of a report are prepared: does its query have the parameter?
  bool ExistParam(const QString& name) const;
  std::function<void(ReportParams& params, bool& proceed)> BeforeGetQueryParams;

  // What the last action handed to the report engine.
  struct Run {
    ReportAction action;
    ReportDefinition report;
    ReportParams params;
  };
  const std::optional<Run>& lastRun() const { return lastRun_; }
  // What the report engine reads and prints for this screen: the host's
  // database, branch and operator, and the screen and report codes.
  ReportContext reportContext() const;

  QLabel* lblCodTela;
  QLabel* lblCodRel;
  TReportDesigner* rpddPadrao;  // the report designer of the edit action
  QGroupBox* grbDadosRel;
  QComboBox* cbbReportNames;
  QVBoxLayout* panParametrosLayout;  // the subclass's own choices go here
  QWidget* panBotoes;
  TButtonFlat* sbtPreview;
  TButtonFlat* sbtPrint;
  TButtonFlat* sbtSalvarComo;
  TButtonFlat* sbtReportEdit;
  TButtonFlat* sbtNovoRelatorio;
  TButtonFlat* sbtExcluirRelatorio;  // enabled on the operator's own definitions only
  TButtonFlat* sbtAjuda;
  TButtonFlat* sbtFechar;
  TMessages* msgPadrao;

 public slots:
  // Escape closes through FormClose like the close button.
  void reject() override;

 signals:
  // A report is to be previewed, printed, saved or edited with these parameters.
  void reportRequested(reportkit::ReportAction action, const reportkit::ReportDefinition& report,
                       const reportkit::ReportParams& params);

 protected:
  void createForm();
  // Base: loads the report list.
  virtual void FormCreate();
  // Every activation of the dialog, also coming back from a window it opened.
  virtual void FormActivate();
  // Base: the closed dialog is released.
  virtual void FormClose(CloseAction& action) { action = CloseAction::Free; }
  virtual void sbtPreviewClick() { runReport(ReportAction::Preview); }
  virtual void sbtPrintClick() { runReport(ReportAction::Print); }
  virtual void sbtSalvarComoClick() { runReport(ReportAction::SaveAs); }
  virtual void sbtReportEditClick() { runReport(ReportAction::Edit); }
  virtual void sbtNovoRelatorioClick() { newReport(); }
  virtual void sbtExcluirRelatorioClick() { deleteReport(); }
  virtual void cbbReportNamesChange() {}
  // Help button and F1: the manual at the page of HelpContext.
  virtual void sbtAjudaClick();
  // Base: runs BeforeGetQueryParams when set.
  virtual void rpddPadraoBeforeGetQueryParams(ReportParams& params, bool& proceed);

  // Prepares the selected report's parameters and hands it to the engine:
  // preview and print run its query and lay out its pages, save as copies
  // the definition under a new title, edit opens the designer.
  void runReport(ReportAction action);

  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void reportCommand(const std::function<void()>& handler);
  bool loadReports();
  // UserReportsDir(), created when missing.
  QString userFolder() const;
  void selectReport(const QString& fileName);
  [[noreturn]] void reportMissing() const;
  void performReport(ReportAction action, const ReportDefinition& report, const ReportTemplate& layout,
                     const ReportParams& params);
  void saveReportAs(const ReportDefinition& report, const ReportTemplate& layout);
  void editReport(const ReportDefinition& report);
  // Asks for a title and opens the designer on a definition made from the
  // selected one; written to the operator's folder only when he saves it.
  void newReport();
  // Deletes the selected definition, the operator's own only, once confirmed.
  void deleteReport();
  void updateReportButtons();
  // The list read again, on that definition; the screen hears of the change.
  void reloadOn(const QString& fileName);

  QList<ReportDefinition> reports_;
  ReportParams* preparing_ = nullptr;
  std::optional<Run> lastRun_;
  bool activating_ = false;
};

}  // namespace reportkit
