// The report data dialog: its controls, the list of definitions, and what
// preview, print, save as and edit do with the selected one once its
// parameters are prepared.
#include "frmdadosgerrel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCollator>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "reportdesigner.h"
#include "reportpreview.h"
#include "reportprogress.h"
#include <hostkit/core/hostservices.h>
#include <hostkit/core/messages.h>
#include <hostkit/core/query.h>
#include <hostkit/widgets/operations.h>
#include <reportkit/model/reportengine.h>

namespace reportkit {

using namespace hostkit;

namespace {

const char* const kArqRelErr =
    "O arquivo contendo a definição do relatório de código '%s' não foi encontrado no diretório '%s'.";

// A definition as the list shows it: its own title, or the file's name
// when the file cannot be read (the actions then say what is wrong with it).
ReportDefinition listedDefinition(const QFileInfo& file, bool user) {
  ReportDefinition d{file.completeBaseName(), file.fileName(), file.absoluteFilePath(), {}, user};
  try {
    const ReportTemplate report = readReportTemplate(file.absoluteFilePath());
    d.title = report.title;
    d.parameterSet = report.parameterSet;
  } catch (const EHostError&) {
  }
  return d;
}

QFileInfoList definitionFiles(const QString& folder) {
  return QDir(folder).entryInfoList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable);
}

// The leading number of "03-copia.json"; 0 without one.
int numberPrefix(const QString& fileName) {
  static const QRegularExpression digits(QStringLiteral("^(\\d+)"));
  const auto match = digits.match(fileName);
  return match.hasMatch() ? match.captured(1).toInt() : 0;
}

// A new file name after every listed one (shipped or the operator's), so a
// copy never takes the place of a report: "<next number>-<title in plain letters>.json".
QString newDefinitionPath(const QDir& dir, const QList<ReportDefinition>& listed, const QString& title) {
  int last = 0;
  for (const ReportDefinition& d : listed) last = std::max(last, numberPrefix(d.fileName));
  QString slug = title.normalized(QString::NormalizationForm_KD).toLower();
  slug.remove(QRegularExpression(QStringLiteral("[^a-z0-9\\s-]")));
  slug = slug.simplified().replace(u' ', u'-').left(40);
  if (slug.isEmpty()) slug = QStringLiteral("relatorio");
  for (int n = last + 1;; ++n) {
    const QString path = dir.filePath(QStringLiteral("%1-%2.json").arg(n, 2, 10, QLatin1Char('0')).arg(slug));
    if (!QFileInfo::exists(path)) return path;
  }
}

}  // namespace

TfrmDadosGerRel::TfrmDadosGerRel(QWidget* parent, const QString& name) : QDialog(parent) {
  installReportDialogs();
  setObjectName(name);
  setModal(true);
  auto* root = new QVBoxLayout(this);

  auto* codes = new QHBoxLayout;
  lblCodTela = codeLabel(this, QStringLiteral("lblCodTela"));
  lblCodRel = codeLabel(this, QStringLiteral("lblCodRel"));
  codes->addWidget(lblCodRel);
  codes->addStretch(1);
  codes->addWidget(lblCodTela);

  grbDadosRel = new QGroupBox(QStringLiteral("Relatório"), this);
  grbDadosRel->setObjectName(QStringLiteral("grbDadosRel"));
  auto* reportBox = new QVBoxLayout(grbDadosRel);
  cbbReportNames = new QComboBox(grbDadosRel);
  cbbReportNames->setObjectName(QStringLiteral("cbbReportNames"));
  reportBox->addWidget(cbbReportNames);
  root->addWidget(grbDadosRel);

  panParametrosLayout = new QVBoxLayout;
  root->addLayout(panParametrosLayout, 1);

  panBotoes = new QWidget(this);
  panBotoes->setObjectName(QStringLiteral("panBotoes"));
  auto* buttons = new QHBoxLayout(panBotoes);
  buttons->setContentsMargins(0, 0, 0, 0);
  sbtPreview = textButton(panBotoes, QStringLiteral("sbtPreview"), QStringLiteral("&Visualizar"), Glyph::Search);
  sbtPrint = textButton(panBotoes, QStringLiteral("sbtPrint"), QStringLiteral("&Imprimir"), Glyph::Print);
  sbtSalvarComo =
      textButton(panBotoes, QStringLiteral("sbtSalvarComo"), QStringLiteral("&Salvar como"), Glyph::Confirm);
  sbtReportEdit =
      textButton(panBotoes, QStringLiteral("sbtReportEdit"), QStringLiteral("&Editar relatório"), Glyph::Options);
  sbtNovoRelatorio =
      textButton(panBotoes, QStringLiteral("sbtNovoRelatorio"), QStringLiteral("&Novo relatório"), Glyph::Options);
  sbtExcluirRelatorio =
      textButton(panBotoes, QStringLiteral("sbtExcluirRelatorio"), QStringLiteral("E&xcluir relatório"), Glyph::Cancel);
  sbtExcluirRelatorio->setEnabled(false);
  sbtFechar = textButton(panBotoes, QStringLiteral("sbtFechar"), QStringLiteral("&Fechar"), Glyph::Close);
  sbtAjuda = toolButton(panBotoes, QStringLiteral("sbtAjuda"), QStringLiteral("Ajuda"), Glyph::Help);
  for (TButtonFlat* b : {sbtPreview, sbtPrint, sbtSalvarComo, sbtReportEdit, sbtNovoRelatorio, sbtExcluirRelatorio})
    buttons->addWidget(b);
  buttons->addStretch(1);
  buttons->addWidget(sbtAjuda);
  buttons->addWidget(sbtFechar);
  root->addWidget(panBotoes);
  root->addLayout(codes);

  msgPadrao = new TMessages(this, QStringLiteral("msgPadrao"));
  rpddPadrao = new TReportDesigner(reportContext().connection, this);

  connect(sbtPreview, &QToolButton::clicked, this, [this] { reportCommand([this] { sbtPreviewClick(); }); });
  connect(sbtPrint, &QToolButton::clicked, this, [this] { reportCommand([this] { sbtPrintClick(); }); });
  connect(sbtSalvarComo, &QToolButton::clicked, this, [this] { reportCommand([this] { sbtSalvarComoClick(); }); });
  connect(sbtReportEdit, &QToolButton::clicked, this, [this] { reportCommand([this] { sbtReportEditClick(); }); });
  connect(sbtNovoRelatorio, &QToolButton::clicked, this,
          [this] { reportCommand([this] { sbtNovoRelatorioClick(); }); });
  connect(sbtExcluirRelatorio, &QToolButton::clicked, this,
          [this] { reportCommand([this] { sbtExcluirRelatorioClick(); }); });
  connect(sbtFechar, &QToolButton::clicked, this, [this] { close(); });
  connect(cbbReportNames, &QComboBox::currentIndexChanged, this, [this] {
    updateReportButtons();
    guardedOn(this, [this] { cbbReportNamesChange(); });
  });
  connectHelp(this, sbtAjuda, [this] { guardedOn(this, [this] { sbtAjudaClick(); }); });
}

void TfrmDadosGerRel::createForm() { FormCreate(); }

void TfrmDadosGerRel::sbtAjudaClick() { ShowHelp(HelpContext, this); }

int TfrmDadosGerRel::ShowModal() { return exec(); }

void TfrmDadosGerRel::FormCreate() { LoadReportNames(); }

void TfrmDadosGerRel::FormActivate() {
  // quietly: a missing folder was reported at creation, and a message here
  // would come back with every reactivation
  if (reports_.isEmpty()) loadReports();
}

const ReportDefinition* TfrmDadosGerRel::SelectedReport() const {
  const int i = cbbReportNames->currentIndex();
  return i >= 0 && i < reports_.size() ? &reports_.at(i) : nullptr;
}

bool TfrmDadosGerRel::ExistParam(const QString& name) const { return preparing_ && preparing_->exists(name); }

void TfrmDadosGerRel::rpddPadraoBeforeGetQueryParams(ReportParams& params, bool& proceed) {
  if (BeforeGetQueryParams) BeforeGetQueryParams(params, proceed);
}

void TfrmDadosGerRel::reject() { close(); }

bool TfrmDadosGerRel::event(QEvent* e) {
  const bool result = QDialog::event(e);
  if (e->type() == QEvent::WindowActivate && !activating_) {
    activating_ = true;
    guardedOn(this, [this] { FormActivate(); });
    activating_ = false;
  }
  return result;
}

// One report action at a time: a second click while a report runs does nothing.
void TfrmDadosGerRel::reportCommand(const std::function<void()>& handler) {
  if (operationRunning(this)) return;
  guardedOn(this, handler);
}

void TfrmDadosGerRel::closeEvent(QCloseEvent* e) {
  if (!isVisible()) return e->accept();
  CloseAction action = CloseAction::Free;
  if (!guardedOn(this, [&] { FormClose(action); }) || action == CloseAction::None) return e->ignore();
  e->accept();
  done(mrCancel);
  if (action == CloseAction::Free) deleteLater();
}

QString TfrmDadosGerRel::userFolder() const {
  const QString folder = UserReportsDir();
  if (!QDir().mkpath(folder))
    MensErro(QStringLiteral("Não foi possível criar a pasta de relatórios do usuário '%1'.").arg(folder), true);
  return folder;
}

bool TfrmDadosGerRel::SelectedParameterSetIsFirst() const {
  const ReportDefinition* report = SelectedReport();
  if (report && !report->parameterSet.isEmpty()) return report->parameterSet == QLatin1String("periodo");
  return cbbReportNames->currentIndex() == 0;
}

QString TfrmDadosGerRel::ReportsDir() const {
  QString folder = hasHostServices() ? hostServices().reportsFolder() : QString();
  if (folder.isEmpty()) folder = defaultReportsFolder();
  return QDir(folder).filePath(lblCodRel->text().trimmed());
}

QString TfrmDadosGerRel::UserReportsDir() const {
  const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  return QDir(data).filePath(QStringLiteral("relatorios/") + lblCodRel->text().trimmed());
}

bool TfrmDadosGerRel::loadReports() {
  reports_.clear();
  if (!lblCodRel->text().trimmed().isEmpty()) {
    // the operator's definitions beside the shipped ones; his own of the
    // same file name takes the shipped one's place
    QMap<QString, ReportDefinition> byName;
    for (const QFileInfo& info : definitionFiles(ReportsDir()))
      byName.insert(info.fileName(), listedDefinition(info, false));
    for (const QFileInfo& info : definitionFiles(UserReportsDir()))
      byName.insert(info.fileName(), listedDefinition(info, true));
    reports_ = byName.values();
    QCollator order;
    order.setNumericMode(true);
    std::sort(reports_.begin(), reports_.end(), [&order](const ReportDefinition& a, const ReportDefinition& b) {
      return order.compare(a.fileName, b.fileName) < 0;
    });
  }
  const QSignalBlocker quiet(cbbReportNames);
  cbbReportNames->clear();
  for (const auto& r : reports_) cbbReportNames->addItem(r.title);
  cbbReportNames->setCurrentIndex(reports_.isEmpty() ? -1 : 0);
  updateReportButtons();
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

ReportContext TfrmDadosGerRel::reportContext() const {
  ReportContext context;
  context.connection = hostConnectionName();
  if (hasHostServices()) {
    context.branch = FiliProc();
    context.operatorName = Operador();
  }
  context.screenCode = lblCodTela->text().trimmed();
  context.reportCode = lblCodRel->text().trimmed();
  return context;
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
  ReportParams params = reportParamsOf(layout, reportContext().connection);
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
      const ReportContext context = reportContext();
      // the query runs away from this thread; the operator may cancel it,
      // and the preview opens at the first page while the rest is read
      const bool preview = action == ReportAction::Preview;
      const std::optional<ReportDocument> document =
          runReportWithProgress(layout, params, context.connection, this, reportHeaderOf(layout, params, context),
                                preview ? ReportReady::FirstPage : ReportReady::Whole);
      if (!document) return;
      if (preview)
        hostServices().previewReport(*document, this);
      else
        hostServices().printReport(*document, this);
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
  if (const Status readOnly = checkReportQuery(layout); !readOnly.ok()) MensErro(readOnly.error(), true);
  QString title = layout.title;
  if (!InputQuery(msgPadrao->Msg(QStringLiteral("NovoCaption")), msgPadrao->Msg(QStringLiteral("NovoPrompt")), title,
                  this))
    return;
  title = title.trimmed();
  if (title.isEmpty()) MensErro(QStringLiteral("O título do relatório deve ser informado."), true);
  ReportTemplate copy = layout;
  copy.title = title;
  // the copy keeps the parameter set of its report (a copy of the first
  // still asks branches and period) and goes to the operator's folder
  if (copy.parameterSet.isEmpty() && SelectedParameterSetIsFirst()) copy.parameterSet = QStringLiteral("periodo");
  writeReportTemplate(newDefinitionPath(userFolder(), reports_, title), copy);
  loadReports();
  selectReport(report.fileName);  // the copy joins the list; the operator stays on the report he had
}

void TfrmDadosGerRel::editReport(const ReportDefinition& report) {
  // a shipped definition is read-only: the operator edits his own copy of
  // it, which takes its place in the list once saved
  QString path = report.path;
  if (!report.user) {
    path = QDir(userFolder()).filePath(report.fileName);
    QFile::remove(path);
    if (!QFile::copy(report.path, path))
      MensErro(QStringLiteral("Não foi possível copiar a definição do relatório para '%1'.").arg(path), true);
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
  }
  if (rpddPadrao->Execute(path) != QDialog::Accepted) {
    if (!report.user) QFile::remove(path);  // nothing saved: the shipped one stays
    return;
  }
  loadReports();
  selectReport(report.fileName);
}

// A new definition starts from the selected one: its queries, the words of
// its parameters, its parameter set and its columns, so it runs with what
// this screen prepares and can be saved as it is; the groups and the refusal
// it explains belong to that report and are left out.
void TfrmDadosGerRel::newReport() {
  ReportTemplate report;
  if (const ReportDefinition* selected = SelectedReport()) {
    try {
      report = readReportTemplate(selected->path);
    } catch (const EHostError& e) {
      MensErro(e.message(), true);  // said before the title is asked for
    }
    report.groups.clear();
    report.answers.clear();
    if (report.parameterSet.isEmpty() && SelectedParameterSetIsFirst()) report.parameterSet = QStringLiteral("periodo");
  }
  QString title;
  if (!InputQuery(msgPadrao->Msg(QStringLiteral("NovoCaption")), msgPadrao->Msg(QStringLiteral("NovoPrompt")), title,
                  this))
    return;
  report.title = title.trimmed();
  if (report.title.isEmpty()) MensErro(QStringLiteral("O título do relatório deve ser informado."), true);
  const QString path = newDefinitionPath(userFolder(), reports_, report.title);
  if (rpddPadrao->ExecuteNew(path, report) != QDialog::Accepted) return;  // nothing was written
  reloadOn(QFileInfo(path).fileName());
}

void TfrmDadosGerRel::deleteReport() {
  const ReportDefinition* selected = SelectedReport();
  if (!selected) reportMissing();
  const ReportDefinition report = *selected;  // a copy: the list is reloaded
  if (!report.user)
    MensErro(QStringLiteral("O relatório '%1' acompanha o sistema e não pode ser excluído; só os relatórios do "
                            "usuário (novos, cópias e editados) podem ser excluídos.")
                 .arg(report.title),
             true);
  const bool shippedComesBack = QFileInfo::exists(QDir(ReportsDir()).filePath(report.fileName));
  const QString outcome = shippedComesBack
                              ? QStringLiteral("O relatório original do sistema volta para a lista no lugar dele.")
                              : QStringLiteral("O arquivo da definição será apagado.");
  if (MessageDlg(QStringLiteral("Excluir o relatório '%1'? %2").arg(report.title, outcome), MsgDlgType::Confirmation,
                 mbYes | mbNo, HelpContext) != mrYes)
    return;
  if (QFileInfo::exists(report.path) && !QFile::remove(report.path))
    MensErro(QStringLiteral("Não foi possível excluir o arquivo '%1'.").arg(QDir::toNativeSeparators(report.path)),
             true);
  reloadOn(report.fileName);  // the shipped one of that name, if any
}

void TfrmDadosGerRel::updateReportButtons() {
  const ReportDefinition* report = SelectedReport();
  sbtExcluirRelatorio->setEnabled(report && report->user);
}

void TfrmDadosGerRel::reloadOn(const QString& fileName) {
  {
    const QSignalBlocker quiet(cbbReportNames);
    loadReports();
    selectReport(fileName);
  }
  updateReportButtons();
  cbbReportNamesChange();
}

}  // namespace reportkit
