// The seam between the screens and the host application.
//
// Every host routine the screens call goes through HostServices. The host
// application installs the Qt implementation; tests install a scripted one
// that records every message and answers from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include <proto/contract.h>

class QWidget;
class QMdiArea;

namespace reportkit {
class ReportDocument;
}

namespace hostkit {

using reportkit::ReportDocument;

// Where previews and prints of laid-out reports go. The report library
// installs its dialogs (reportkit::installReportDialogs); the host services'
// defaults below hand reports to them, so the host kit needs no report code.
class ReportOutput {
 public:
  virtual ~ReportOutput() = default;
  virtual void preview(const ReportDocument& document, QWidget* parent) = 0;
  virtual bool print(const ReportDocument& document, QWidget* parent) = 0;
};
void installReportOutput(ReportOutput* output);

class TDataSet;
class TDataSource;

// Dialog types and answers, with the platform's numbering.
enum class MsgDlgType { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Custom = 4 };
enum MsgDlgButton : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
using MsgDlgButtons = unsigned;
enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// One application server.
struct ServerEndpoint {
  QString host;
  int port = qfx::contract::kDefaultPort;
  bool operator==(const ServerEndpoint&) const = default;
};

// How the client reaches the application server: the first server of the
// list, then the others on the same database, in order of preference.
struct ServerAddress {
  QString host = QStringLiteral("127.0.0.1");
  int port = qfx::contract::kDefaultPort;
  QList<ServerEndpoint> alternates;
  QList<ServerEndpoint> servers() const { return QList<ServerEndpoint>{{host, port}} + alternates; }
  // `list` must not be empty.
  void setServers(const QList<ServerEndpoint>& list) {
    host = list.first().host;
    port = list.first().port;
    alternates = list.mid(1);
  }
  bool tls = false;
  QString caFile;  // PEM; empty: system roots
  int callTimeoutMs = 60000;
};

// A column the record search offers: the field and the title the grid gives it.
struct SearchColumn {
  QString field;
  QString title;
};

class HostServices {
 public:
  virtual ~HostServices();

  // Dialogs. `key` is the catalogue key when known (for recording only).
  virtual int messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) = 0;
  virtual void showError(const QString& text) = 0;                              // MensErro
  virtual void showException(const QString& text, const QString& details) = 0;  // standard error display
  // The same dialogs with what the operator needs beside the message, which
  // stays as it is: `informative` shown under it, `detailed` behind the
  // dialog's details button. Without either they are the dialogs above.
  virtual int messageDlgDetailed(const QString& text, const QString& informative, const QString& detailed,
                                 MsgDlgType type, MsgDlgButtons buttons, int helpContext);
  virtual void showErrorDetailed(const QString& text, const QString& informative, const QString& detailed);

  // Busy animation shown over a form while a server call runs.
  virtual void activeShowAvi(QWidget* form, int animation, const QString& caption) = 0;
  virtual void deactiveShowAvi() = 0;

  // Login and setup.
  virtual QString filiProc() = 0;
  virtual bool moduFili() = 0;
  virtual QString operador() = 0;
  virtual ServerAddress serverAddress() = 0;
  virtual QString sessionToken() = 0;
  virtual QString dbPict(int pictureType) = 0;
  virtual QString pictPess(const QString& personType) = 0;

  // Pickers and searches. pesquisaLista returns true when confirmed and then
  // writes the chosen keys into `list`; pickRecord moves the dataset to the
  // chosen row and returns true.
  virtual bool pesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool flag,
                             QString& list) = 0;
  virtual bool pickRecord(TDataSet* dataset, const QString& title, const QString& emptyError) = 0;
  // The search offers `columns` in their order; none given: every visible
  // field under its label.
  virtual void procura(TDataSet* dataset, QWidget* parent, const QList<SearchColumn>& columns) = 0;

  // Host screens of the consolidation run.
  virtual void criaLancIrreg(const QString& postingNumber, QWidget* owner) = 0;
  virtual void criaBloqConsolida(QWidget* owner) = 0;

  // Where screens of the module are shown; null: as top-level windows.
  virtual QMdiArea* mdiArea() = 0;
  // Where report definitions live (one folder per report code below it).
  virtual QString reportsFolder() = 0;

  // The operators' manual: showHelp opens it at the page of the help
  // context, reporting a manual that cannot be found or opened with
  // showError. helpCollection: the collection file a setting names; empty,
  // the default: beside the executable, then installed.
  virtual void showHelp(int helpContext, QWidget* parent) = 0;
  virtual QString helpCollection();

  // The host's report output: the dialogs the report library installs
  // (installReportOutput). Preview: the report's own preview with its
  // exports. Print: the printer dialog, then the pages; false when
  // cancelled. InputQuery: a text box, `value` preset and replaced on OK;
  // false when cancelled.
  virtual void previewReport(const ReportDocument& document, QWidget* parent);
  virtual bool printReport(const ReportDocument& document, QWidget* parent);
  virtual bool inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) = 0;
};

// "reports" beside the executable: where the build puts the shipped report
// definitions, used when the host names no reports folder.
QString defaultReportsFolder();

// The installed services; the host application installs them at start.
HostServices& hostServices();
void installHostServices(std::shared_ptr<HostServices> services);
bool hasHostServices();

// ---- host routines, as the screens call them -------------------------------

// Shows `text` as an error; with abort set, then raises the silent abort.
void MensErro(const QString& text, bool abort);
int MessageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext);
// The same with the dialog's informative text (and detailed text) beside the message.
void MensErroDetalhado(const QString& text, const QString& informative, bool abort, const QString& detailed = {});
int MessageDlgDetalhado(const QString& text, const QString& informative, MsgDlgType type, MsgDlgButtons buttons,
                        int helpContext, const QString& detailed = {});
void ActiveShowAvi(QWidget* form, int animation, const QString& caption = {});
void DeactiveShowAvi();
QString FiliProc();
bool ModuFili();
QString Operador();
QString WebURL();
int WebPort();
QString DBPict(int pictureType);
QString PictPess(const QString& personType);
bool PesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool flag, QString& list);
void Procura(TDataSet* dataset, QWidget* parent = nullptr, const QList<SearchColumn>& columns = {});
void CriaLancIrreg(const QString& postingNumber, QWidget* owner);
void CriaBloqConsolida(QWidget* owner);
bool InputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent = nullptr);
// Opens the manual at the page of the screen's help context.
void ShowHelp(int helpContext, QWidget* parent);

// Keeps the busy animation up for a scope: closed on every way out.
class BusyAnimation {
 public:
  BusyAnimation(QWidget* form, int animation, const QString& caption = {});
  ~BusyAnimation();
  void close();

 private:
  bool open_ = true;
};

}  // namespace hostkit
