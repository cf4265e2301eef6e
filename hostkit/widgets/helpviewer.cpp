#include "helpviewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QHelpSearchEngine>
#include <QHelpSearchQueryWidget>
#include <QHelpSearchResultWidget>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <memory>

namespace hostkit {

namespace {

// The keyword id of the manual's first page (docs/manual/qfx-consolidacao.qhp).
const QString kHomeId = QStringLiteral("inicio");

QPointer<HelpViewer>& theViewer() {
  static QPointer<HelpViewer> viewer;
  return viewer;
}

QString missingText(const QStringList& places) {
  return QStringLiteral("A ajuda não está disponível: o arquivo do manual não foi encontrado.\nProcurado em:\n%1")
      .arg(places.join(QLatin1Char('\n')));
}

QString unreadableText(const QString& collection, const QString& reason) {
  return QStringLiteral("A ajuda não está disponível: o manual %1 não pôde ser aberto (%2).").arg(collection, reason);
}

// What the copy was made from: each file's name, size and time.
QByteArray stampOf(const QDir& folder, const QStringList& files) {
  QByteArray stamp;
  for (const QString& name : files) {
    const QFileInfo file(folder.filePath(name));
    stamp +=
        QStringLiteral("%1\t%2\t%3\n").arg(name).arg(file.size()).arg(file.lastModified().toMSecsSinceEpoch()).toUtf8();
  }
  return stamp;
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool copyAll(const QDir& from, const QDir& to, const QStringList& files) {
  for (const QString& name : files) {
    QFile::remove(to.filePath(name));
    if (!QFile::copy(from.filePath(name), to.filePath(name))) return false;
    QFile::setPermissions(to.filePath(name), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup |
                                                 QFileDevice::ReadOther);
  }
  return true;
}

// The search engine keeps its index beside the collection, and an installed
// manual lives where operators cannot write: the viewer works on a copy of
// the collection and its help files in the user's cache, one folder per
// manual, made again (search index included) when the manual changes.
Result<QString> workingCopy(const QString& collection) {
  const QFileInfo source(collection);
  const QByteArray key = QCryptographicHash::hash(source.absoluteFilePath().toUtf8(), QCryptographicHash::Md5);
  const QDir target(QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/ajuda/") +
                    QString::fromLatin1(key.toHex().left(12)));
  const QDir folder = source.absoluteDir();
  const QStringList files =
      folder.entryList({QStringLiteral("*.qhc"), QStringLiteral("*.qch")}, QDir::Files | QDir::Readable);
  const QByteArray stamp = stampOf(folder, files);
  const QString stampFile = target.filePath(QStringLiteral("origem"));
  if (readAll(stampFile) == stamp) return target.filePath(source.fileName());

  QDir(target.path()).removeRecursively();
  QFile written(stampFile);
  if (!target.mkpath(QStringLiteral(".")) || !copyAll(folder, target, files) || !written.open(QIODevice::WriteOnly) ||
      written.write(stamp) != stamp.size())
    return Result<QString>::failure(QStringLiteral("não foi possível copiá-lo para %1").arg(target.path()));
  return target.filePath(source.fileName());
}

QToolButton* navButton(QWidget* parent, const QString& name, const QString& hint, QStyle::StandardPixmap icon) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setToolTip(hint);
  b->setIcon(parent->style()->standardIcon(icon));
  b->setAutoRaise(true);
  return b;
}

}  // namespace

QString helpCollectionFileName() { return QStringLiteral("qfx-consolidacao.qhc"); }

QStringList defaultHelpCollections() {
  const QDir bin(QCoreApplication::applicationDirPath());
  return {QDir::cleanPath(bin.filePath(QStringLiteral("help/") + helpCollectionFileName())),
          QDir::cleanPath(bin.filePath(QStringLiteral("../share/qfx/help/") + helpCollectionFileName()))};
}

Status openHelp(const QString& configured, int helpContext, QWidget* parent) {
  const QStringList places =
      configured.isEmpty() ? defaultHelpCollections() : QStringList{QFileInfo(configured).absoluteFilePath()};
  const auto found = std::find_if(places.begin(), places.end(), [](const QString& p) { return QFileInfo(p).isFile(); });
  if (found == places.end()) return Status::failure(missingText(places));

  HelpViewer* viewer = HelpViewer::current();
  if (!viewer || viewer->collectionFile() != *found) {
    const Result<QString> copy = workingCopy(*found);
    if (!copy.ok()) return Status::failure(unreadableText(*found, copy.error()));
    Result<std::unique_ptr<QHelpEngine>> engine = HelpViewer::openEngine(*copy);
    if (!engine.ok()) return Status::failure(unreadableText(*found, engine.error()));
    delete viewer;
    viewer = new HelpViewer(*found, engine->release());  // the viewer owns it from here
  }
  viewer->showPage(viewer->pageOf(helpContext));

  // Above the asking screen's window; as its transient child the viewer is
  // not blocked while a modal dialog asked for it.
  QWidget* owner = parent ? parent->window() : nullptr;
  if (owner && owner != viewer && owner->windowHandle()) {
    viewer->winId();  // its window now, to name the owner before it shows
    viewer->windowHandle()->setTransientParent(owner->windowHandle());
  }
  viewer->showNormal();
  viewer->raise();
  viewer->activateWindow();
  return success();
}

// ---- browser -----------------------------------------------------------------------

// QTextBrowser takes every scheme but file and qrc for an outside link and
// hands it to the desktop, which cannot open the manual's own qthelp:// pages:
// those are followed here, the rest (a web address, an e-mail) go outside.
HelpBrowser::HelpBrowser(QHelpEngine* engine, QWidget* parent) : QTextBrowser(parent), engine_(engine) {
  setOpenLinks(false);
  connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& link) {
    const QUrl url = source().resolved(link);
    if (url.scheme() == QLatin1String("qthelp"))
      setSource(url);
    else
      QDesktopServices::openUrl(url);
  });
}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() == QLatin1String("qthelp")) return engine_->fileData(name);
  return QTextBrowser::loadResource(type, name);
}

// ---- viewer ------------------------------------------------------------------------

HelpViewer* HelpViewer::current() { return theViewer(); }

Result<std::unique_ptr<QHelpEngine>> HelpViewer::openEngine(const QString& collection) {
  using Opened = Result<std::unique_ptr<QHelpEngine>>;
  auto engine = std::make_unique<QHelpEngine>(collection);
  engine->setReadOnly(false);  // a working copy of its own
  engine->setUsesFilterEngine(true);
  if (!engine->setupData()) return Opened::failure(engine->error());
  const QStringList namespaces = engine->registeredDocumentations();
  const bool readable = !namespaces.isEmpty() && std::all_of(namespaces.begin(), namespaces.end(), [&](auto& ns) {
    return QFileInfo(engine->documentationFileName(ns)).isFile();
  });
  if (!readable) return Opened::failure(QStringLiteral("nenhum arquivo de ajuda registrado foi encontrado"));
  return engine;
}

HelpViewer::HelpViewer(const QString& collection, QHelpEngine* engine)
    : QWidget(nullptr), collection_(collection), engine_(engine) {
  setObjectName(QStringLiteral("frmAjuda"));
  setWindowTitle(QStringLiteral("Ajuda"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAttribute(Qt::WA_QuitOnClose, false);  // the host ends with its main window, open help or not
  engine_->setParent(this);
  theViewer() = this;

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(2, 2, 2, 2);
  buildToolbar();
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  pgcAjuda = new QTabWidget(splitter);
  pgcAjuda->setObjectName(QStringLiteral("pgcAjuda"));
  pgcAjuda->addTab(buildContentsTab(), QStringLiteral("Conteúdo"));
  pgcAjuda->addTab(buildIndexTab(), QStringLiteral("Índice"));
  pgcAjuda->addTab(buildSearchTab(), QStringLiteral("Pesquisa"));
  txtPagina = new HelpBrowser(engine_, splitter);
  txtPagina->setObjectName(QStringLiteral("txtPagina"));
  splitter->addWidget(pgcAjuda);
  splitter->addWidget(txtPagina);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({260, 640});
  root->addWidget(splitter, 1);
  resize(900, 640);

  connect(btnVoltar, &QToolButton::clicked, txtPagina, &QTextBrowser::backward);
  connect(btnAvancar, &QToolButton::clicked, txtPagina, &QTextBrowser::forward);
  connect(btnInicio, &QToolButton::clicked, this, [this] { showPage(homePage()); });
  connect(txtPagina, &QTextBrowser::backwardAvailable, btnVoltar, &QWidget::setEnabled);
  connect(txtPagina, &QTextBrowser::forwardAvailable, btnAvancar, &QWidget::setEnabled);
  connect(txtPagina, &QTextBrowser::sourceChanged, this, &HelpViewer::followPage);
  connect(qApp, &QCoreApplication::aboutToQuit, this, &QWidget::close);

  engine_->searchEngine()->scheduleIndexDocumentation();
}

HelpViewer::~HelpViewer() {
  // the help widgets use the engine's models and search engine: they go first
  delete pgcAjuda;
}

void HelpViewer::buildToolbar() {
  auto* bar = new QHBoxLayout;
  btnVoltar = navButton(this, QStringLiteral("btnVoltar"), QStringLiteral("Voltar"), QStyle::SP_ArrowBack);
  btnAvancar = navButton(this, QStringLiteral("btnAvancar"), QStringLiteral("Avançar"), QStyle::SP_ArrowForward);
  btnInicio = navButton(this, QStringLiteral("btnInicio"), QStringLiteral("Início do manual"), QStyle::SP_DirHomeIcon);
  btnVoltar->setEnabled(false);
  btnAvancar->setEnabled(false);
  for (QToolButton* b : {btnVoltar, btnAvancar, btnInicio}) bar->addWidget(b);
  bar->addStretch(1);
  static_cast<QVBoxLayout*>(layout())->addLayout(bar);
}

QWidget* HelpViewer::buildContentsTab() {
  QHelpContentWidget* contents = engine_->contentWidget();
  contents->setObjectName(QStringLiteral("trvConteudo"));
  connect(contents, &QHelpContentWidget::linkActivated, this, &HelpViewer::showPage);
  return contents;
}

QWidget* HelpViewer::buildIndexTab() {
  auto* tab = new QWidget;
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->addWidget(new QLabel(QStringLiteral("Procurar:"), tab));
  edtIndice = new QLineEdit(tab);
  edtIndice->setObjectName(QStringLiteral("edtIndice"));
  layout->addWidget(edtIndice);
  QHelpIndexWidget* index = engine_->indexWidget();
  index->setObjectName(QStringLiteral("lstIndice"));
  layout->addWidget(index, 1);
  connect(edtIndice, &QLineEdit::textChanged, index, [index](const QString& text) { index->filterIndices(text); });
  connect(edtIndice, &QLineEdit::returnPressed, index, &QHelpIndexWidget::activateCurrentItem);
  connect(index, &QHelpIndexWidget::documentActivated, this,
          [this](const QHelpLink& document, const QString&) { showPage(document.url); });
  connect(index, &QHelpIndexWidget::documentsActivated, this,
          [this](const QList<QHelpLink>& documents, const QString&) {
            if (!documents.isEmpty()) showPage(documents.first().url);
          });
  return tab;
}

QWidget* HelpViewer::buildSearchTab() {
  QHelpSearchEngine* search = engine_->searchEngine();
  auto* tab = new QWidget;
  auto* layout = new QVBoxLayout(tab);
  layout->setContentsMargins(2, 2, 2, 2);
  QHelpSearchQueryWidget* query = search->queryWidget();
  query->setObjectName(QStringLiteral("edtPesquisa"));
  QHelpSearchResultWidget* results = search->resultWidget();
  results->setObjectName(QStringLiteral("lstResultados"));
  layout->addWidget(query);
  layout->addWidget(results, 1);
  connect(query, &QHelpSearchQueryWidget::search, search, [search, query] { search->search(query->searchInput()); });
  connect(results, &QHelpSearchResultWidget::requestShowLink, this, &HelpViewer::showPage);
  return tab;
}

QUrl HelpViewer::pageOf(int helpContext) const {
  const QList<QHelpLink> links = engine_->documentsForIdentifier(QString::number(helpContext));
  return links.isEmpty() ? homePage() : links.first().url;
}

QUrl HelpViewer::homePage() const {
  const QList<QHelpLink> links = engine_->documentsForIdentifier(kHomeId);
  return links.isEmpty() ? QUrl() : links.first().url;
}

void HelpViewer::showPage(const QUrl& url) {
  if (url.isValid()) txtPagina->setSource(url);
}

void HelpViewer::followPage(const QUrl& url) {
  const QString title = txtPagina->documentTitle();
  setWindowTitle(title.isEmpty() ? QStringLiteral("Ajuda") : QStringLiteral("Ajuda - %1").arg(title));
  QHelpContentWidget* contents = engine_->contentWidget();
  if (const QModelIndex entry = contents->indexOf(url); entry.isValid()) contents->setCurrentIndex(entry);
}

}  // namespace hostkit
