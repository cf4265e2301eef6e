// The operators' manual: a Qt Help collection built from docs/manual, shown
// in one viewer window with contents, index and full-text search. A screen's
// help context is a keyword id of the manual's help project
// (docs/manual/qfx-consolidacao.qhp), so F1 opens the page of that screen.
#pragma once

#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>
#include <memory>

#include <hostkit/core/result.h>

class QHelpEngine;
class QLineEdit;
class QTabWidget;
class QToolButton;

namespace hostkit {

// The manual's collection file: under help/ beside the executable in a
// build, under share/qfx/help when installed.
QString helpCollectionFileName();
// Where the host looks for the manual when no setting names it, in order.
QStringList defaultHelpCollections();

// Opens the manual at the page of the help context, in the one viewer,
// above `parent`'s window. `configured` is the collection a setting names;
// empty: the first of defaultHelpCollections() that exists. The error to
// show when the page cannot be shown; an open viewer then stays as it was.
Status openHelp(const QString& configured, int helpContext, QWidget* parent);

// A text browser that reads qthelp:// pages from the help engine.
class HelpBrowser : public QTextBrowser {
  Q_OBJECT
 public:
  HelpBrowser(QHelpEngine* engine, QWidget* parent);
  QVariant loadResource(int type, const QUrl& name) override;

 private:
  QHelpEngine* engine_;
};

class HelpViewer : public QWidget {
  Q_OBJECT
 public:
  // The viewer that is open, or null.
  static HelpViewer* current();
  ~HelpViewer() override;

  // The manual the viewer shows (the file the host found, not its working copy).
  QString collectionFile() const { return collection_; }
  // The page of a help context; the manual's first page for a context the
  // manual does not name.
  QUrl pageOf(int helpContext) const;
  QUrl homePage() const;
  void showPage(const QUrl& url);
  QUrl currentUrl() const { return txtPagina->source(); }
  QString currentTitle() const { return txtPagina->documentTitle(); }

  QToolButton* btnVoltar;
  QToolButton* btnAvancar;
  QToolButton* btnInicio;
  QTabWidget* pgcAjuda;
  QLineEdit* edtIndice;
  HelpBrowser* txtPagina;

 private:
  friend Status openHelp(const QString&, int, QWidget*);
  HelpViewer(const QString& collection, QHelpEngine* engine);
  static Result<std::unique_ptr<QHelpEngine>> openEngine(const QString& collection);

  void buildToolbar();
  QWidget* buildContentsTab();
  QWidget* buildIndexTab();
  QWidget* buildSearchTab();
  void followPage(const QUrl& url);

  QString collection_;
  QHelpEngine* engine_;
};

}  // namespace hostkit
