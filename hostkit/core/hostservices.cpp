#include "hostservices.h"

#include <QCoreApplication>
#include <QDir>
#include <stdexcept>

#include "abort.h"

namespace hostkit {

HostServices::~HostServices() = default;

namespace {
std::shared_ptr<HostServices>& installed() {
  static std::shared_ptr<HostServices> services;
  return services;
}
}  // namespace

HostServices& hostServices() {
  auto& s = installed();
  if (!s) throw std::logic_error("host services not installed");
  return *s;
}

void installHostServices(std::shared_ptr<HostServices> services) { installed() = std::move(services); }
bool hasHostServices() { return bool(installed()); }

void MensErro(const QString& text, bool abort) {
  hostServices().showError(text);
  if (abort) Abort();
}

int MessageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) {
  return hostServices().messageDlg(text, type, buttons, helpContext);
}

int HostServices::messageDlgDetailed(const QString& text, const QString& informative, const QString& detailed,
                                     MsgDlgType type, MsgDlgButtons buttons, int helpContext) {
  if (informative.isEmpty() && detailed.isEmpty()) return messageDlg(text, type, buttons, helpContext);
  QString all = text;
  for (const QString& more : {informative, detailed})
    if (!more.isEmpty()) all += QStringLiteral("\n\n") + more;
  return messageDlg(all, type, buttons, helpContext);
}

void HostServices::showErrorDetailed(const QString& text, const QString& informative, const QString& detailed) {
  if (informative.isEmpty() && detailed.isEmpty()) return showError(text);
  QString all = text;
  for (const QString& more : {informative, detailed})
    if (!more.isEmpty()) all += QStringLiteral("\n\n") + more;
  showError(all);
}

void MensErroDetalhado(const QString& text, const QString& informative, bool abort, const QString& detailed) {
  hostServices().showErrorDetailed(text, informative, detailed);
  if (abort) Abort();
}

int MessageDlgDetalhado(const QString& text, const QString& informative, MsgDlgType type, MsgDlgButtons buttons,
                        int helpContext, const QString& detailed) {
  return hostServices().messageDlgDetailed(text, informative, detailed, type, buttons, helpContext);
}

void ActiveShowAvi(QWidget* form, int animation, const QString& caption) {
  hostServices().activeShowAvi(form, animation, caption);
}
void DeactiveShowAvi() { hostServices().deactiveShowAvi(); }
QString FiliProc() { return hostServices().filiProc(); }
bool ModuFili() { return hostServices().moduFili(); }
QString Operador() { return hostServices().operador(); }
QString WebURL() { return hostServices().serverAddress().host; }
int WebPort() { return hostServices().serverAddress().port; }
QString DBPict(int pictureType) { return hostServices().dbPict(pictureType); }
QString PictPess(const QString& personType) { return hostServices().pictPess(personType); }

bool PesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool flag, QString& list) {
  return hostServices().pesquisaLista(source, keyField, caption, flag, list);
}

void Procura(TDataSet* dataset, QWidget* parent, const QList<SearchColumn>& columns) {
  hostServices().procura(dataset, parent, columns);
}
void CriaLancIrreg(const QString& postingNumber, QWidget* owner) { hostServices().criaLancIrreg(postingNumber, owner); }
void CriaBloqConsolida(QWidget* owner) { hostServices().criaBloqConsolida(owner); }
void ShowHelp(int helpContext, QWidget* parent) { hostServices().showHelp(helpContext, parent); }

QString HostServices::helpCollection() { return {}; }

namespace {
ReportOutput*& reportOutput() {
  static ReportOutput* output = nullptr;
  return output;
}

ReportOutput& installedReportOutput() {
  if (!reportOutput()) throw EHostError(QStringLiteral("A visualização de relatórios não está disponível."));
  return *reportOutput();
}
}  // namespace

void installReportOutput(ReportOutput* output) { reportOutput() = output; }

void HostServices::previewReport(const ReportDocument& document, QWidget* parent) {
  installedReportOutput().preview(document, parent);
}

bool HostServices::printReport(const ReportDocument& document, QWidget* parent) {
  return installedReportOutput().print(document, parent);
}

bool InputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) {
  return hostServices().inputQuery(caption, prompt, value, parent);
}

QString defaultReportsFolder() {
  return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("reports"));
}

BusyAnimation::BusyAnimation(QWidget* form, int animation, const QString& caption) {
  ActiveShowAvi(form, animation, caption);
}

BusyAnimation::~BusyAnimation() { close(); }

void BusyAnimation::close() {
  if (!open_) return;
  open_ = false;
  DeactiveShowAvi();
}

}  // namespace hostkit
