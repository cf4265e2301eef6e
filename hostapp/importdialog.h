// "Importar dados": the operator picks import files, tests them (a dry run)
// or imports them through the application server, on the host's own session.
// The call runs on a thread of its own so the window stays alive; "Cancelar"
// and closing the window cut it, and then nothing is written.
#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>
#include <vector>

#include <qfximport/import_client.h>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QThread;

namespace qfxhost {

class ImportDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = 13031710;

  ImportDialog(qfximport::Connection connection, QWidget* parent = nullptr);
  ~ImportDialog() override;

  // The files and folders to import, as the file picker gives them.
  void setPaths(const QStringList& paths);
  bool running() const { return worker_ != nullptr; }
  // The problems listed, tab-separated with a header line: what Ctrl+C
  // puts on the clipboard for a spreadsheet.
  QString problemsText() const;

 signals:
  void runEnded();

 public slots:
  void reject() override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildLayout();
  void chooseFiles();
  void start(bool dryRun);
  void cancelRun();
  void showProgress(const qfximport::Progress& progress, qint64 elapsedMs);
  void showOutcome(const qfximport::Outcome& outcome, bool dryRun);
  void showCounts(const qfximport::rpc::ImportaDadosResposta& reply);
  void showProblems(const qfximport::rpc::ImportaDadosResposta& reply);
  void copyProblems();
  void stopWorker();
  void updateButtons();

  qfximport::Connection connection_;
  std::vector<qfximport::ImportFile> files_;
  QThread* worker_ = nullptr;
  std::unique_ptr<qfximport::Cancellation> cancel_;
  bool closeWhenEnded_ = false;

  QListWidget* fileList_;
  QPushButton* chooseButton_;
  QPushButton* testButton_;
  QPushButton* importButton_;
  QPushButton* cancelButton_;
  QPushButton* closeButton_;
  QProgressBar* progressBar_;
  QLabel* progressLabel_;
  QLabel* resultLabel_;
  QTableWidget* countsTable_;
  QTableWidget* problemsTable_;
};

}  // namespace qfxhost
