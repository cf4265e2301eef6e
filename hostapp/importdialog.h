// "Importar dados": the operator picks import files, tests them (a dry run)
// or imports them through the application server, on the host's own session
// and server list: the first server that answers takes the import, and one
// lost before it answered passes it to the next (an import writes nothing
// unless it ends, and the same rows again change nothing). The call runs on
// a thread of its own so the window stays alive; "Cancelar" and closing the
// window cut it and return at once, even when the server stopped reading:
// the call then ends on its own, and nothing of it is written.
#pragma once

#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include <hostkit/core/hostservices.h>
#include <qfximport/import_client.h>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace qfxhost {

// Where an import goes: the host's servers, in its order, and its session.
struct ImportTarget {
  QList<hostkit::ServerEndpoint> servers;
  bool tls = false;
  QString caFile;
  std::string token;
};

class ImportDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kHelpContext = 13031710;

  explicit ImportDialog(ImportTarget target, QWidget* parent = nullptr);
  ~ImportDialog() override;

  // The files and folders to import, as the file picker gives them.
  void setPaths(const QStringList& paths);
  bool running() const { return run_ != nullptr; }
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
  struct Run;
  void start(bool dryRun);
  void cancelRun();
  void showProgress(const qfximport::Progress& progress, qint64 elapsedMs, const QString& server);
  void showOutcome(const qfximport::Outcome& outcome, bool dryRun);
  void showCounts(const qfximport::rpc::ImportaDadosResposta& reply);
  void showProblems(const qfximport::rpc::ImportaDadosResposta& reply);
  void copyProblems();
  void leaveRun();
  void updateButtons();

  ImportTarget target_;
  std::vector<qfximport::ImportFile> files_;
  std::shared_ptr<Run> run_;  // the call under way, shared with its thread

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
