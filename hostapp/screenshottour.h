// The headless tour of the run command: opens the consolidation screen on
// the demo data, leaves the entry panel, confirms the filter for the last
// thirty days, opens the report screen and its preview, saves a screenshot of
// each step into a folder and quits.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QWidget;

namespace qfxhost {

class MainWindow;

class ScreenshotTour : public QObject {
  Q_OBJECT
 public:
  ScreenshotTour(MainWindow& window, const QString& folder);
  int exitCode() const { return failures_ == 0 ? 0 : 1; }

 private:
  void openScreen();
  void leavePanel();
  void confirmFilter(QWidget* dialog);
  void openReport();
  void previewReport(QWidget* dialog);
  void savePreview(QWidget* previewWindow, QWidget* dialog);
  void finish();
  void save(QWidget* widget, const QString& name);
  // Runs `action` with the next modal window that opens (polling; gives up after a while).
  void whenModalOpens(QWidget* previous, const std::function<void(QWidget*)>& action, int attempts = 100);
  QWidget* screen() const;

  MainWindow& window_;
  QString folder_;
  int failures_ = 0;
};

}  // namespace qfxhost
