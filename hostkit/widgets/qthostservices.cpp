#include "qthostservices.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QStyle>
#include <QTableView>
#include <QTextDocument>
#include <QVBoxLayout>

#include "datasetmodel.h"
#include "helpviewer.h"
#include "runscreens.h"
#include <hostkit/core/abort.h>
#include <hostkit/core/dataset.h>
#include <hostkit/core/routines.h>

namespace hostkit {

// ---- busy overlay -------------------------------------------------------------------

// Covers the form while a server call runs: a dimmed surface (which also
// swallows clicks) and a panel with the caption over a moving bar.
class BusyOverlay : public QWidget {
 public:
  BusyOverlay(QWidget* form, const QString& caption) : QWidget(form) {
    setObjectName(QStringLiteral("ovlAguarde"));
    setFocusPolicy(Qt::NoFocus);
    if (!form) {
      setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
      resize(320, 90);
    }
    auto* outer = new QVBoxLayout(this);
    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    panel->setMinimumWidth(260);
    auto* inner = new QVBoxLayout(panel);
    label_ = new QLabel(panel);
    label_->setObjectName(QStringLiteral("lblAguarde"));
    label_->setAlignment(Qt::AlignCenter);
    auto* bar = new QProgressBar(panel);
    bar->setObjectName(QStringLiteral("pgbAguarde"));
    bar->setRange(0, 0);  // indeterminate: the style animates it
    bar->setTextVisible(false);
    inner->addWidget(label_);
    inner->addWidget(bar);
    outer->addStretch(1);
    outer->addWidget(panel, 0, Qt::AlignHCenter);
    outer->addStretch(1);
    setCaption(caption);
    if (form) {
      form->installEventFilter(this);
      setGeometry(form->rect());
    }
    raise();
    show();
  }

  void setCaption(const QString& caption) {
    label_->setText(caption.isEmpty() ? QStringLiteral("Aguarde...") : caption);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return false;
  }
  void paintEvent(QPaintEvent*) override {
    if (!parentWidget()) return;
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 60));
  }

 private:
  QLabel* label_;
};

// ---- helpers --------------------------------------------------------------------------

namespace {

QWidget* dialogParent(QWidget* preferred = nullptr) {
  if (preferred) return preferred->window();
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return QApplication::activeWindow();
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

QTableView* listView(QWidget* parent, const QString& name) {
  auto* view = new QTableView(parent);
  view->setObjectName(name);
  setupGrid(view);
  return view;
}

void openIfClosed(TDataSet* dataset) {
  if (!dataset->Active()) dataset->Open();
}

// Rows with a check mark in their first column, kept apart from the dataset.
class CheckableRows : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  void setSourceModel(QAbstractItemModel* source) override {
    QIdentityProxyModel::setSourceModel(source);
    marks_.assign(size_t(source ? source->rowCount() : 0), false);
  }

  bool isMarked(int row) const { return row >= 0 && size_t(row) < marks_.size() && marks_[size_t(row)]; }
  void mark(int row, bool on) {
    if (row < 0 || size_t(row) >= marks_.size() || marks_[size_t(row)] == on) return;
    marks_[size_t(row)] = on;
    emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
  }
  void toggle(int row) { mark(row, !isMarked(row)); }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::CheckStateRole && index.column() == 0) return isMarked(index.row()) ? Qt::Checked : Qt::Unchecked;
    return QIdentityProxyModel::data(index, role);
  }

  bool setData(const QModelIndex& index, const QVariant& value, int role) override {
    if (role != Qt::CheckStateRole || index.column() != 0) return false;
    mark(index.row(), value.toInt() == Qt::Checked);
    return true;
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    Qt::ItemFlags f = QIdentityProxyModel::flags(index);
    if (index.isValid() && index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
  }

 private:
  std::vector<bool> marks_;
};

// Rows any of whose shown texts holds the typed text, accents and case aside.
class QuickFilter : public QSortFilterProxyModel {
 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;

  void setTyped(const QString& typed) {
    typed_ = searchFolded(typed);
    invalidateFilter();
  }

 protected:
  bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
    if (typed_.isEmpty()) return true;
    const QAbstractItemModel* rows = sourceModel();
    for (int c = 0; c < rows->columnCount(parent); ++c)
      if (searchFolded(rows->index(row, c, parent).data().toString()).contains(typed_)) return true;
    return false;
  }

 private:
  QString typed_;
};

QSortFilterProxyModel* quickFilter(QObject* parent, QAbstractItemModel* source, QLineEdit* edit) {
  auto* filter = new QuickFilter(parent);
  filter->setSourceModel(source);
  QObject::connect(edit, &QLineEdit::textChanged, filter, &QuickFilter::setTyped);
  return filter;
}

// Keys of the list dialogs: Space marks, Enter confirms, Down leaves the filter for the list.
class ListKeys : public QObject {
 public:
  ListKeys(QDialog* dialog, QTableView* view, QLineEdit* filter, std::function<void()> toggleCurrent)
      : QObject(dialog), dialog_(dialog), view_(view), toggle_(std::move(toggleCurrent)) {
    view->installEventFilter(this);
    filter->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter)) {
      dialog_->accept();
      return true;
    }
    if (watched == view_ && key == Qt::Key_Space && toggle_) {
      toggle_();
      return true;
    }
    if (watched != view_ && key == Qt::Key_Down) {
      view_->setFocus();
      if (!view_->currentIndex().isValid() && view_->model()->rowCount() > 0)
        view_->setCurrentIndex(view_->model()->index(0, 0));
      return true;
    }
    return false;
  }

 private:
  QDialog* dialog_;
  QTableView* view_;
  std::function<void()> toggle_;
};

struct ListDialog {
  QDialog* dialog;
  QLineEdit* filter;
  QTableView* view;
  QHBoxLayout* buttons;
};

ListDialog makeListDialog(QWidget* parent, const QString& name, const QString& title) {
  auto* dialog = new QDialog(parent);
  dialog->setObjectName(name);
  dialog->setWindowTitle(title);
  dialog->resize(620, 420);
  auto* layout = new QVBoxLayout(dialog);
  auto* filter = new QLineEdit(dialog);
  filter->setObjectName(QStringLiteral("edtFiltro"));
  filter->setPlaceholderText(QStringLiteral("Filtrar"));
  filter->setClearButtonEnabled(true);
  layout->addWidget(filter);
  auto* view = listView(dialog, QStringLiteral("grdLista"));
  layout->addWidget(view, 1);
  auto* buttons = new QHBoxLayout;
  layout->addLayout(buttons);
  return {dialog, filter, view, buttons};
}

// The columns a picker shows: the visible fields, but not the server's own
// mark column (IDMARCADO), whose place the picker's check boxes take.
QList<GridColumn> pickerColumns(const TDataSet& dataset) {
  QList<GridColumn> columns;
  for (int i = 0; i < dataset.FieldCount(); ++i) {
    const TField* f = dataset.Fields(i);
    if (!f->Visible() || f->FieldName().compare(QLatin1String("IDMARCADO"), Qt::CaseInsensitive) == 0) continue;
    const bool numeric = f->DataType() == FieldType::Float || f->DataType() == FieldType::Integer;
    columns << GridColumn{f->FieldName(), f->DisplayLabel(), 0,
                          (numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter};
  }
  return columns;
}

// Every column as wide as its widest text (of the first rows), and the
// dialog as wide as its columns, within the screen: nothing is cut while
// there is room.
void fitToContents(const ListDialog& d) {
  QTableView* view = d.view;
  const QAbstractItemView* cells = view;  // QTableView keeps sizeHintForColumn protected
  int width = 2 * view->frameWidth() + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
  for (int c = 0; c < view->model()->columnCount(); ++c) {
    view->setColumnWidth(
        c, std::max({view->columnWidth(c), cells->sizeHintForColumn(c), view->horizontalHeader()->sectionSizeHint(c)}));
    width += view->columnWidth(c);
  }
  const QMargins margins = d.dialog->layout()->contentsMargins();
  width += margins.left() + margins.right();
  const QScreen* screen = d.dialog->screen();
  const int room = screen ? screen->availableSize().width() * 9 / 10 : width;
  d.dialog->resize(std::clamp(width, d.dialog->width(), std::max(room, d.dialog->width())), d.dialog->height());
}

void addOkCancel(const ListDialog& d) {
  d.buttons->addStretch(1);
  auto* ok = button(d.dialog, QStringLiteral("btnOK"), QStringLiteral("OK"));
  auto* cancel = button(d.dialog, QStringLiteral("btnCancelar"), QStringLiteral("Cancelar"));
  d.buttons->addWidget(ok);
  d.buttons->addWidget(cancel);
  QObject::connect(ok, &QPushButton::clicked, d.dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, d.dialog, &QDialog::reject);
}

}  // namespace

// ---- key lists ----------------------------------------------------------------------------

bool listContainsKey(const QString& list, const QString& key) {
  return list.contains(QLatin1Char('_') + key + QLatin1Char('_'));
}

QString appendKey(const QString& list, const QString& key) { return list + QLatin1Char('_') + key + QLatin1Char('_'); }

QString keepKeys(const QString& list, const std::function<bool(const QString& key)>& keep, int& dropped) {
  dropped = 0;
  QString kept;
  if (list.size() < 2) return kept;
  for (const QString& key : list.mid(1, list.size() - 2).split(QStringLiteral("__"), Qt::SkipEmptyParts)) {
    if (keep(key))
      kept = appendKey(kept, key);
    else
      ++dropped;
  }
  return kept;
}

int findNextRow(const TDataSet& dataset, int fieldIndex, const QString& text, int fromRow) {
  const int rows = dataset.RecordCount();
  if (text.isEmpty() || rows == 0 || fieldIndex < 0 || fieldIndex >= dataset.FieldCount()) return -1;
  const TField* field = dataset.Fields(fieldIndex);
  const int start = std::clamp(fromRow, -1, rows - 1);
  const QString typed = searchFolded(text);
  for (int step = 1; step <= rows; ++step) {
    const int row = (start + step) % rows;
    if (searchFolded(field->displayTextAt(row)).contains(typed)) return row;
  }
  return -1;
}

// ---- services ------------------------------------------------------------------------------

QtHostServices::QtHostServices(HostSession session) : session_(std::move(session)) {}

QtHostServices::~QtHostServices() { delete busy_.data(); }

int QtHostServices::messageDlg(const QString& text, MsgDlgType type, MsgDlgButtons buttons, int helpContext) {
  return messageDlgDetailed(text, {}, {}, type, buttons, helpContext);
}

int QtHostServices::messageDlgDetailed(const QString& text, const QString& informative, const QString& detailed,
                                       MsgDlgType type, MsgDlgButtons buttons, int /*helpContext*/) {
  QMessageBox box(dialogParent());
  box.setObjectName(QStringLiteral("dlgMensagem"));
  box.setText(text);
  box.setInformativeText(informative);
  box.setDetailedText(detailed);
  switch (type) {
    case MsgDlgType::Warning:
      box.setIcon(QMessageBox::Warning);
      box.setWindowTitle(QStringLiteral("Aviso"));
      break;
    case MsgDlgType::Error:
      box.setIcon(QMessageBox::Critical);
      box.setWindowTitle(QStringLiteral("Erro"));
      break;
    case MsgDlgType::Information:
      box.setIcon(QMessageBox::Information);
      box.setWindowTitle(QStringLiteral("Informação"));
      break;
    case MsgDlgType::Confirmation:
      box.setIcon(QMessageBox::Question);
      box.setWindowTitle(QStringLiteral("Confirmação"));
      break;
    case MsgDlgType::Custom:
      box.setWindowTitle(QApplication::applicationDisplayName());
      break;
  }
  if (buttons == 0) buttons = mbOK;
  struct Choice {
    MsgDlgButton flag;
    QMessageBox::StandardButton button;
    const char* text;
    int result;
  };
  static const Choice choices[] = {{mbYes, QMessageBox::Yes, "Sim", mrYes},
                                   {mbNo, QMessageBox::No, "Não", mrNo},
                                   {mbOK, QMessageBox::Ok, "OK", mrOk},
                                   {mbCancel, QMessageBox::Cancel, "Cancelar", mrCancel}};
  for (const Choice& c : choices) {
    if (!(buttons & c.flag)) continue;
    box.addButton(c.button)->setText(QString::fromUtf8(c.text));
  }
  box.setDefaultButton(buttons & mbYes ? QMessageBox::Yes : buttons & mbOK ? QMessageBox::Ok : QMessageBox::NoButton);
  const QMessageBox::StandardButton escape = buttons & mbCancel ? QMessageBox::Cancel
                                             : buttons & mbNo   ? QMessageBox::No
                                                                : QMessageBox::Ok;
  box.setEscapeButton(escape);
  const int clicked = box.exec();
  for (const Choice& c : choices)
    if (clicked == c.button) return c.result;
  for (const Choice& c : choices)
    if (escape == c.button) return c.result;
  return mrCancel;
}

void QtHostServices::showError(const QString& text) { showErrorDetailed(text, {}, {}); }

void QtHostServices::showErrorDetailed(const QString& text, const QString& informative, const QString& detailed) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Erro"), text, QMessageBox::Ok, dialogParent());
  box.setObjectName(QStringLiteral("dlgErro"));
  box.setInformativeText(informative);
  box.setDetailedText(detailed);
  box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
  box.exec();
}

void QtHostServices::showException(const QString& text, const QString& details) {
  QDialog dialog(dialogParent());
  dialog.setObjectName(QStringLiteral("dlgExcecao"));
  dialog.setWindowTitle(QStringLiteral("Erro"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel(&dialog);
  icon->setPixmap(dialog.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
  auto* message = new QLabel(text, &dialog);
  message->setObjectName(QStringLiteral("lblMensagem"));
  message->setWordWrap(true);
  message->setTextInteractionFlags(Qt::TextSelectableByMouse);
  top->addWidget(icon, 0, Qt::AlignTop);
  top->addWidget(message, 1);
  layout->addLayout(top);
  auto* detailText = new QPlainTextEdit(details, &dialog);
  detailText->setObjectName(QStringLiteral("txtDetalhes"));
  detailText->setReadOnly(true);
  detailText->setVisible(false);
  layout->addWidget(detailText, 1);
  auto* buttons = new QHBoxLayout;
  auto* more = button(&dialog, QStringLiteral("btnDetalhes"), QStringLiteral("&Detalhes"));
  more->setCheckable(true);
  more->setEnabled(!details.isEmpty());
  auto* ok = button(&dialog, QStringLiteral("btnOK"), QStringLiteral("OK"));
  ok->setDefault(true);
  buttons->addWidget(more);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  layout->addLayout(buttons);
  // the box grows to show the details whole (up to a dozen lines), and shrinks back
  const int padding = 2 * (detailText->frameWidth() + int(detailText->document()->documentMargin())) + 2;
  const QFontMetrics metrics = detailText->fontMetrics();
  const QRect wrapped =
      metrics.boundingRect(QRect(0, 0, 440 - padding, 100000), Qt::TextWordWrap | Qt::TextWrapAnywhere, details);
  detailText->setFixedSize(440, qMin(wrapped.height(), 12 * metrics.lineSpacing()) + metrics.lineSpacing() + padding);
  dialog.setMinimumWidth(440);
  QObject::connect(more, &QPushButton::toggled, &dialog, [&dialog, detailText](bool on) {
    detailText->setVisible(on);
    dialog.adjustSize();
  });
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  dialog.exec();
}

void QtHostServices::activeShowAvi(QWidget* form, int /*animation*/, const QString& caption) {
  ++busyDepth_;
  if (busy_) {
    busy_->setCaption(caption);
    return;
  }
  busy_ = new BusyOverlay(form, caption);
}

void QtHostServices::deactiveShowAvi() {
  if (busyDepth_ == 0) return;
  if (--busyDepth_ > 0) return;
  delete busy_.data();
}

QString QtHostServices::dbPict(int pictureType) { return pictureType == 0 ? session_.productTreePicture : QString(); }

QString QtHostServices::pictPess(const QString& personType) {
  const QString type = personType.trimmed().toUpper();
  if (type == QLatin1String("F")) return QStringLiteral("999.999.999-99;0;_");
  if (type == QLatin1String("J")) return QStringLiteral("99.999.999/9999-99;0;_");
  return {};
}

bool QtHostServices::pesquisaLista(TDataSource* source, const QString& keyField, const QString& caption, bool /*flag*/,
                                   QString& list) {
  TDataSet* dataset = source ? source->DataSet() : nullptr;
  if (!dataset) throw EHostError(QStringLiteral("Lista de pesquisa sem conjunto de dados."));
  const qsizetype bar = caption.indexOf(QLatin1Char('|'));
  const QString title = bar < 0 ? caption : caption.left(bar);
  const QString emptyText = bar < 0 ? QString() : caption.mid(bar + 1);
  openIfClosed(dataset);
  const TField* key = dataset->FieldByName(keyField);
  if (dataset->IsEmpty() && !emptyText.isEmpty()) {
    messageDlg(emptyText, MsgDlgType::Information, mbOK, 0);
    return false;
  }

  ListDialog d = makeListDialog(dialogParent(), QStringLiteral("dlgPesquisaLista"), title);
  std::unique_ptr<QDialog> owner(d.dialog);
  auto* rows = new TDataSetModel(dataset, d.dialog);
  rows->setColumns(pickerColumns(*dataset));
  auto* checks = new CheckableRows(d.dialog);
  checks->setSourceModel(rows);
  for (int r = 0; r < dataset->RecordCount(); ++r) {
    const QString k = key->textAt(r);
    if (!k.isEmpty() && listContainsKey(list, k)) checks->mark(r, true);
  }
  auto* filter = quickFilter(d.dialog, checks, d.filter);
  d.view->setModel(filter);
  applyColumnWidths(d.view);
  d.view->setColumnWidth(0, d.view->columnWidth(0) + 24);  // room for the check box
  fitToContents(d);

  auto sourceRow = [filter](const QModelIndex& index) { return filter->mapToSource(index).row(); };
  auto markShown = [filter, checks](bool on) {
    for (int r = 0; r < filter->rowCount(); ++r) checks->mark(filter->mapToSource(filter->index(r, 0)).row(), on);
  };
  auto* all = button(d.dialog, QStringLiteral("btnMarcarTodos"), QStringLiteral("Marcar todos"));
  auto* none = button(d.dialog, QStringLiteral("btnDesmarcarTodos"), QStringLiteral("Desmarcar todos"));
  d.buttons->addWidget(all);
  d.buttons->addWidget(none);
  QObject::connect(all, &QPushButton::clicked, d.dialog, [markShown] { markShown(true); });
  QObject::connect(none, &QPushButton::clicked, d.dialog, [markShown] { markShown(false); });
  addOkCancel(d);
  new ListKeys(d.dialog, d.view, d.filter, [d, checks, sourceRow] {
    if (d.view->currentIndex().isValid()) checks->toggle(sourceRow(d.view->currentIndex()));
  });
  if (filter->rowCount() > 0) d.view->setCurrentIndex(filter->index(0, 0));
  d.view->setFocus();

  if (d.dialog->exec() != QDialog::Accepted) return false;
  QString chosen;
  for (int r = 0; r < dataset->RecordCount(); ++r)
    if (checks->isMarked(r)) chosen = appendKey(chosen, key->textAt(r));
  list = chosen;
  return true;
}

bool QtHostServices::pickRecord(TDataSet* dataset, const QString& title, const QString& emptyError) {
  if (!dataset) throw EHostError(QStringLiteral("Pesquisa sem conjunto de dados."));
  openIfClosed(dataset);
  if (dataset->IsEmpty()) {
    messageDlg(emptyError.isEmpty() ? QStringLiteral("Não há registros.") : emptyError, MsgDlgType::Error, mbOK, 0);
    return false;
  }
  ListDialog d = makeListDialog(dialogParent(), QStringLiteral("dlgPesquisa"),
                                title.isEmpty() ? QStringLiteral("Pesquisa") : title);
  std::unique_ptr<QDialog> owner(d.dialog);
  auto* rows = new TDataSetModel(dataset, d.dialog);
  rows->setColumns(pickerColumns(*dataset));
  auto* filter = quickFilter(d.dialog, rows, d.filter);
  d.view->setModel(filter);
  applyColumnWidths(d.view);
  fitToContents(d);
  addOkCancel(d);
  new ListKeys(d.dialog, d.view, d.filter, nullptr);
  QObject::connect(d.view, &QAbstractItemView::doubleClicked, d.dialog, &QDialog::accept);
  const int start = std::max(0, dataset->RecNo());
  d.view->setCurrentIndex(filter->mapFromSource(rows->index(start, 0)));
  d.filter->setFocus();

  if (d.dialog->exec() != QDialog::Accepted) return false;
  const QModelIndex current = d.view->currentIndex();
  if (!current.isValid()) return false;
  dataset->SetRecNo(filter->mapToSource(current).row());
  return true;
}

void QtHostServices::procura(TDataSet* dataset, QWidget* parent, const QList<SearchColumn>& columns) {
  if (!dataset || !dataset->Active()) return;
  QDialog dialog(dialogParent(parent));
  dialog.setObjectName(QStringLiteral("dlgProcura"));
  dialog.setWindowTitle(QStringLiteral("Procurar"));
  auto* layout = new QVBoxLayout(&dialog);
  auto* row = new QHBoxLayout;
  auto* column = new QComboBox(&dialog);
  column->setObjectName(QStringLiteral("cbbCampo"));
  if (columns.isEmpty()) {
    for (int i = 0; i < dataset->FieldCount(); ++i)
      if (dataset->Fields(i)->Visible()) column->addItem(dataset->Fields(i)->DisplayLabel(), i);
  }
  for (const SearchColumn& c : columns)
    if (const TField* field = dataset->FindField(c.field)) column->addItem(c.title, field->index());
  auto* text = new QLineEdit(&dialog);
  text->setObjectName(QStringLiteral("edtTexto"));
  row->addWidget(new QLabel(QStringLiteral("Campo"), &dialog));
  row->addWidget(column);
  row->addWidget(new QLabel(QStringLiteral("Texto"), &dialog));
  row->addWidget(text, 1);
  layout->addLayout(row);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  auto* find = button(&dialog, QStringLiteral("btnProcurar"), QStringLiteral("Procurar"));
  find->setDefault(true);
  auto* close = button(&dialog, QStringLiteral("btnFechar"), QStringLiteral("Fechar"));
  buttons->addWidget(find);
  buttons->addWidget(close);
  layout->addLayout(buttons);
  QObject::connect(close, &QPushButton::clicked, &dialog, &QDialog::reject);
  QObject::connect(find, &QPushButton::clicked, &dialog, [&] {
    guarded([&] {
      if (text->text().isEmpty()) return;
      const int found = findNextRow(*dataset, column->currentData().toInt(), text->text(), dataset->RecNo());
      if (found < 0)
        messageDlg(QStringLiteral("Não encontrado."), MsgDlgType::Information, mbOK, 0);
      else
        dataset->SetRecNo(found);
    });
  });
  dialog.exec();
}

void QtHostServices::criaLancIrreg(const QString& postingNumber, QWidget* owner) {
  showRunList(owner, dialogParent(owner), irregularStockScreen(postingNumber));
}

void QtHostServices::criaBloqConsolida(QWidget* owner) {
  showRunList(owner, dialogParent(owner), blockedProductsScreen());
}

void QtHostServices::showHelp(int helpContext, QWidget* parent) {
  if (const Status shown = openHelp(helpCollection(), helpContext, parent); !shown.ok()) showError(shown.error());
}

bool QtHostServices::inputQuery(const QString& caption, const QString& prompt, QString& value, QWidget* parent) {
  bool ok = false;
  const QString text = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, value, &ok);
  if (ok) value = text;
  return ok;
}

}  // namespace hostkit
