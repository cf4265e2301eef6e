#include "importdialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTableWidget>
#include <QVBoxLayout>
#include <atomic>
#include <mutex>
#include <thread>

#include <hostkit/core/hostservices.h>
#include <hostkit/core/netconnection.h>

namespace qfxhost {

namespace {

QString number(quint64 value) { return QLocale().toString(qulonglong(value)); }

QTableWidgetItem* cell(const QString& text, bool numeric = false) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  if (numeric) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return item;
}

QTableWidget* table(const QString& name, const QStringList& headers, QWidget* parent) {
  auto* t = new QTableWidget(0, int(headers.size()), parent);
  t->setObjectName(name);
  t->setHorizontalHeaderLabels(headers);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->verticalHeader()->hide();
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
  t->horizontalHeader()->setStretchLastSection(true);
  return t;
}

QPushButton* button(const QString& name, const QString& text, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

// What a call and its window share. The window may stop listening (cancelled,
// closed) while the call is still stuck in a server that stopped reading;
// the call's thread then ends on its own, and nothing it reports reaches a
// window that is gone or that went on to another call.
struct ImportDialog::Run : std::enable_shared_from_this<ImportDialog::Run> {
  qfximport::Cancellation cancel;
  std::atomic<bool> allSent{false};  // every piece handed over: the server may be writing it

  // Runs `show` on the window's thread, if the window still listens then.
  void report(std::function<void(ImportDialog*)> show) {
    std::lock_guard lock(mutex_);
    if (!window_) return;
    QMetaObject::invokeMethod(
        window_,
        [self = weak_from_this(), window = window_, show = std::move(show)] {
          if (auto run = self.lock(); run && window->run_ == run) show(window);
        },
        Qt::QueuedConnection);
  }
  void listen(ImportDialog* window) {
    std::lock_guard lock(mutex_);
    window_ = window;
  }
  void stopListening() { listen(nullptr); }

 private:
  std::mutex mutex_;
  ImportDialog* window_ = nullptr;
};

ImportDialog::ImportDialog(ImportTarget target, QWidget* parent) : QDialog(parent), target_(std::move(target)) {
  setObjectName(QStringLiteral("frmImportaDados"));
  setWindowTitle(QStringLiteral("Importar dados"));
  buildLayout();
  auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
  connect(help, &QShortcut::activated, this, [this] { hostkit::hostServices().showHelp(kHelpContext, this); });
  problemsTable_->installEventFilter(this);
  updateButtons();
  resize(820, 600);
}

ImportDialog::~ImportDialog() { leaveRun(); }

void ImportDialog::buildLayout() {
  fileList_ = new QListWidget(this);
  fileList_->setObjectName(QStringLiteral("lstArquivos"));
  chooseButton_ = button(QStringLiteral("btnArquivos"), QStringLiteral("&Arquivos..."), this);
  testButton_ = button(QStringLiteral("btnTestar"), QStringLiteral("&Testar"), this);
  importButton_ = button(QStringLiteral("btnImportar"), QStringLiteral("&Importar"), this);
  cancelButton_ = button(QStringLiteral("btnCancelar"), QStringLiteral("&Cancelar"), this);
  closeButton_ = button(QStringLiteral("btnFechar"), QStringLiteral("&Fechar"), this);
  auto* helpButton = button(QStringLiteral("btnAjuda"), QStringLiteral("Aj&uda"), this);
  progressBar_ = new QProgressBar(this);
  progressBar_->setObjectName(QStringLiteral("pbrProgresso"));
  progressBar_->setRange(0, 1000);
  progressBar_->setValue(0);
  progressBar_->setFormat(QStringLiteral("%p%"));
  progressLabel_ = new QLabel(this);
  progressLabel_->setObjectName(QStringLiteral("lblProgresso"));
  resultLabel_ = new QLabel(this);
  resultLabel_->setObjectName(QStringLiteral("lblResultado"));
  resultLabel_->setWordWrap(true);
  resultLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  countsTable_ = table(QStringLiteral("grdResumo"),
                       {QStringLiteral("Tipo"), QStringLiteral("Incluídos"), QStringLiteral("Alterados"),
                        QStringLiteral("Iguais"), QStringLiteral("Recusados"), QStringLiteral("Itens")},
                       this);
  problemsTable_ = table(
      QStringLiteral("grdProblemas"),
      {QStringLiteral("Arquivo"), QStringLiteral("Linha"), QStringLiteral("Coluna"), QStringLiteral("Motivo")}, this);
  problemsTable_->setToolTip(QStringLiteral("Ctrl+C copia as linhas marcadas (ou todas) para uma planilha"));

  auto* filesBox = new QGroupBox(QStringLiteral("Arquivos (na ordem em que são importados)"), this);
  auto* filesLayout = new QHBoxLayout(filesBox);
  filesLayout->addWidget(fileList_, 1);
  auto* fileButtons = new QVBoxLayout;
  fileButtons->addWidget(chooseButton_);
  fileButtons->addStretch();
  filesLayout->addLayout(fileButtons);

  auto* buttons = new QHBoxLayout;
  for (auto* b : {testButton_, importButton_, cancelButton_}) buttons->addWidget(b);
  buttons->addStretch();
  buttons->addWidget(helpButton);
  buttons->addWidget(closeButton_);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(filesBox, 1);
  layout->addWidget(progressBar_);
  layout->addWidget(progressLabel_);
  layout->addWidget(resultLabel_);
  layout->addWidget(new QLabel(QStringLiteral("Resumo por tipo:"), this));
  layout->addWidget(countsTable_, 1);
  layout->addWidget(new QLabel(QStringLiteral("Problemas encontrados:"), this));
  layout->addWidget(problemsTable_, 2);
  layout->addLayout(buttons);

  connect(chooseButton_, &QPushButton::clicked, this, &ImportDialog::chooseFiles);
  connect(testButton_, &QPushButton::clicked, this, [this] { start(true); });
  connect(importButton_, &QPushButton::clicked, this, [this] { start(false); });
  connect(cancelButton_, &QPushButton::clicked, this, &ImportDialog::cancelRun);
  connect(closeButton_, &QPushButton::clicked, this, &ImportDialog::reject);
  connect(helpButton, &QPushButton::clicked, this, [this] { hostkit::hostServices().showHelp(kHelpContext, this); });
}

void ImportDialog::chooseFiles() {
  const QStringList chosen = QFileDialog::getOpenFileNames(this, QStringLiteral("Arquivos para importar"), QString(),
                                                           QStringLiteral("Arquivos CSV (*.csv *.CSV)"));
  if (!chosen.isEmpty()) setPaths(chosen);
}

void ImportDialog::setPaths(const QStringList& paths) {
  auto files = qfximport::collectFiles(paths);
  files_ = files.ok() ? std::move(*files) : std::vector<qfximport::ImportFile>{};
  fileList_->clear();
  for (const auto& f : files_) fileList_->addItem(QStringLiteral("%1  (%2)").arg(QFileInfo(f.path).fileName(), f.kind));
  resultLabel_->setText(files.ok() ? QString() : files.error());
  updateButtons();
}

void ImportDialog::start(bool dryRun) {
  if (running() || files_.empty()) return;
  countsTable_->setRowCount(0);
  problemsTable_->setRowCount(0);
  progressBar_->setValue(0);
  progressLabel_->clear();
  resultLabel_->setText(dryRun ? QStringLiteral("Testando...") : QStringLiteral("Importando..."));
  run_ = std::make_shared<Run>();
  run_->listen(this);
  // the thread holds copies and the shared run only: it may outlive the window
  std::thread([run = run_, target = target_, files = files_, dryRun] {
    QElapsedTimer clock;
    clock.start();
    qfximport::Outcome outcome;
    const hostkit::Status served = hostkit::CallOnServers(
        target.servers, target.tls, target.caFile,
        [&](const std::shared_ptr<grpc::Channel>& channel, const QString& at) {
          if (run->cancel.requested()) return true;
          outcome = qfximport::importFiles(
              {channel, target.token}, files, dryRun,
              [&](const qfximport::Progress& p) {
                run->allSent = p.bytesSent >= p.bytesTotal;
                run->report([p, ms = clock.elapsed(), at](ImportDialog* w) { w->showProgress(p, ms, at); });
              },
              &run->cancel);
          return !outcome.serverLost;
        });
    if (!outcome.ok && !served.ok())
      outcome.error = QStringLiteral("Nenhum servidor de aplicação atendeu a importação; nada foi gravado (%1).")
                          .arg(served.error());
    run->report([outcome, dryRun](ImportDialog* w) { w->showOutcome(outcome, dryRun); });
  }).detach();
  updateButtons();
}

// The window stops listening to the call under way, which is cut.
void ImportDialog::leaveRun() {
  if (!run_) return;
  run_->cancel.cancel();
  run_->stopListening();
  run_.reset();
}

void ImportDialog::cancelRun() {
  if (!run_) return;
  const bool allSent = run_->allSent;
  leaveRun();
  resultLabel_->setText(
      allSent ? QStringLiteral("Cancelada depois de enviados todos os arquivos: o servidor pode já ter gravado a "
                               "importação. Importe de novo para conferir (o que já foi gravado conta como igual).")
              : QStringLiteral("Importação cancelada; nada foi gravado."));
  updateButtons();
  emit runEnded();
}

void ImportDialog::showProgress(const qfximport::Progress& p, qint64 elapsedMs, const QString& server) {
  if (p.bytesTotal > 0) progressBar_->setValue(int(p.bytesSent * 1000 / p.bytesTotal));
  const qint64 perSecond = elapsedMs > 0 ? p.lines * 1000 / elapsedMs : 0;
  progressLabel_->setText(
      QStringLiteral("%1: %2 linhas enviadas (%3 linhas/s) a %4")
          .arg(QFileInfo(p.file).fileName(), number(quint64(p.lines)), number(quint64(perSecond)), server));
}

void ImportDialog::showOutcome(const qfximport::Outcome& outcome, bool dryRun) {
  run_.reset();  // it has ended: its last act was to send this
  if (!outcome.ok) {
    resultLabel_->setText(outcome.error);
  } else {
    const auto& reply = outcome.reply;
    showCounts(reply);
    showProblems(reply);
    progressBar_->setValue(1000);
    if (reply.problem_count() > 0)
      resultLabel_->setText(
          QStringLiteral("%1 problemas: nada foi gravado. Corrija os arquivos e importe todos de novo.")
              .arg(number(reply.problem_count())));
    else if (dryRun)
      resultLabel_->setText(QStringLiteral("Teste: nenhum problema; nada foi gravado (use Importar para gravar)."));
    else
      resultLabel_->setText(QStringLiteral("Importação gravada: %1 linhas.").arg(number(reply.lines())));
  }
  updateButtons();
  emit runEnded();
}

void ImportDialog::showCounts(const qfximport::rpc::ImportaDadosResposta& reply) {
  countsTable_->setRowCount(reply.counts_size());
  for (int row = 0; row < reply.counts_size(); ++row) {
    const auto& c = reply.counts(row);
    countsTable_->setItem(row, 0, cell(QString::fromStdString(c.kind())));
    const quint64 values[] = {c.inserted(), c.updated(), c.unchanged(), c.refused()};
    for (int column = 0; column < 4; ++column)
      countsTable_->setItem(row, column + 1, cell(number(values[column]), true));
    countsTable_->setItem(row, 5, cell(c.items() ? number(c.items()) : QString(), true));
  }
  countsTable_->resizeColumnsToContents();
}

void ImportDialog::showProblems(const qfximport::rpc::ImportaDadosResposta& reply) {
  const int listed = reply.problems_size();
  const bool more = reply.problem_count() > quint64(listed);
  problemsTable_->setRowCount(listed + (more ? 1 : 0));
  for (int row = 0; row < listed; ++row) {
    const auto& p = reply.problems(row);
    problemsTable_->setItem(row, 0, cell(QString::fromStdString(p.file_name())));
    problemsTable_->setItem(row, 1, cell(p.line() ? number(p.line()) : QString(), true));
    problemsTable_->setItem(row, 2, cell(QString::fromStdString(p.column())));
    problemsTable_->setItem(row, 3, cell(QString::fromStdString(p.reason())));
  }
  if (more)
    problemsTable_->setItem(
        listed, 3,
        cell(QStringLiteral("... e mais %1 problemas").arg(number(reply.problem_count() - quint64(listed)))));
  problemsTable_->resizeColumnsToContents();
}

QString ImportDialog::problemsText() const {
  QStringList lines;
  QStringList header;
  for (int column = 0; column < problemsTable_->columnCount(); ++column)
    header << problemsTable_->horizontalHeaderItem(column)->text();
  lines << header.join(QLatin1Char('\t'));
  const auto selected = problemsTable_->selectionModel()->selectedRows();
  for (int row = 0; row < problemsTable_->rowCount(); ++row) {
    if (!selected.isEmpty() && !problemsTable_->selectionModel()->isRowSelected(row, {})) continue;
    QStringList fields;
    for (int column = 0; column < problemsTable_->columnCount(); ++column) {
      const auto* item = problemsTable_->item(row, column);
      // a tab or line break inside a field would split the spreadsheet's cells
      fields << (item ? item->text()
                            .replace(QLatin1Char('\t'), QLatin1Char(' '))
                            .replace(QLatin1Char('\n'), QLatin1Char(' '))
                      : QString());
    }
    lines << fields.join(QLatin1Char('\t'));
  }
  return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void ImportDialog::copyProblems() { QApplication::clipboard()->setText(problemsText()); }

bool ImportDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == problemsTable_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
    copyProblems();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void ImportDialog::reject() {
  // closing while the files travel cuts the call (the server writes
  // nothing), and the window goes at once
  cancelRun();
  QDialog::reject();
}

void ImportDialog::updateButtons() {
  const bool idle = !running();
  chooseButton_->setEnabled(idle);
  testButton_->setEnabled(idle && !files_.empty());
  importButton_->setEnabled(idle && !files_.empty());
  cancelButton_->setEnabled(!idle);
  progressBar_->setVisible(!idle || progressBar_->value() > 0);
}

}  // namespace qfxhost
