// The print preview of a report document: its pages one under the other,
// painted only when they come into view, with the page navigation, the zoom,
// printing and the exports in its toolbar.
#pragma once

#include <QDialog>
#include <QKeySequence>
#include <functional>

class QAction;
class QSpinBox;

namespace reportkit {

class ReportDocument;
class ReportPageView;

class TReportPreview : public QDialog {
  Q_OBJECT

 public:
  // The document must outlive the dialog. One still being filled shows its
  // pages as they come.
  explicit TReportPreview(const ReportDocument& document, QWidget* parent = nullptr);

  int pageCount() const;
  // The page at the top of the view, 0 the first.
  int currentPage() const;
  void showPage(int page);

 private:
  QAction* newAction(const QString& objectName, const QString& text, const QList<QKeySequence>& keys,
                     const std::function<void()>& handler);
  void buildToolBar();
  void updatePageBox();
  void updatePageCount();
  // Pages came in while the document is filled, or it is done.
  void takeNewPages();

  const ReportDocument& document_;
  ReportPageView* view_ = nullptr;
  QSpinBox* pageBox_ = nullptr;
  QAction* first_ = nullptr;
  QAction* previous_ = nullptr;
  QAction* next_ = nullptr;
  QAction* last_ = nullptr;
  QList<QAction*> outputs_;  // print and the exports
};

}  // namespace reportkit
