#include "datasetmodel.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QTableView>
#include <QToolTip>

#include <hostkit/core/abort.h>
#include <hostkit/core/routines.h>

namespace hostkit {

TDataSetModel::TDataSetModel(QObject* parent) : QAbstractTableModel(parent) {}

TDataSetModel::TDataSetModel(TDataSet* dataset, QObject* parent) : QAbstractTableModel(parent) { setDataSet(dataset); }

TDataSetModel::TDataSetModel(TDataSource* source, QObject* parent) : QAbstractTableModel(parent) {
  setDataSource(source);
}

void TDataSetModel::setDataSet(TDataSet* dataset) {
  disconnect(sourceConnection_);
  source_ = nullptr;
  attach(dataset);
}

void TDataSetModel::setDataSource(TDataSource* source) {
  disconnect(sourceConnection_);
  source_ = source;
  attach(source ? source->DataSet() : nullptr);
  if (!source) return;
  // A data source says nothing when it is bound to another dataset; its next
  // notification tells, and the model follows.
  auto follow = [this] {
    if (source_ && source_->DataSet() != dataset_) attach(source_->DataSet());
  };
  sourceConnection_ = connect(source, &TDataSource::StateChange, this, follow);
}

void TDataSetModel::attach(TDataSet* dataset) {
  for (const auto& c : datasetConnections_) disconnect(c);
  datasetConnections_.clear();
  dataset_ = dataset;
  if (dataset) {
    datasetConnections_ << connect(dataset, &TDataSet::dataReset, this, &TDataSetModel::reload)
                        << connect(dataset, &TDataSet::stateChanged, this, &TDataSetModel::onStateChanged)
                        << connect(dataset, &TDataSet::rowAppended, this, &TDataSetModel::onRowAppended)
                        << connect(dataset, &QObject::destroyed, this, [this] { attach(nullptr); });
  }
  reload();
}

void TDataSetModel::setColumns(const QList<GridColumn>& columns) {
  beginResetModel();
  defaultColumns_ = columns.isEmpty();
  columns_ = columns;
  if (defaultColumns_) columns_ = visibleFieldColumns();
  resolveFields();
  endResetModel();
}

// Rows replaced, emptied, opened or closed: the view starts over. The field
// list may have changed too (a packet brings its own fields).
void TDataSetModel::reload() {
  beginResetModel();
  active_ = dataset_ && dataset_->Active();
  rows_ = active_ ? dataset_->RecordCount() : 0;
  if (defaultColumns_) columns_ = visibleFieldColumns();
  resolveFields();
  endResetModel();
}

// Only opening and closing change what the view shows; edit and insert
// states are followed by the row signals.
void TDataSetModel::onStateChanged() {
  const bool active = dataset_ && dataset_->Active();
  if (active != active_) reload();
}

void TDataSetModel::onRowAppended(int row) {
  if (!dataset_ || !active_) return;
  if (row >= rows_) {
    beginInsertRows({}, rows_, row);
    rows_ = row + 1;
    endInsertRows();
  } else {
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  }
}

QList<GridColumn> TDataSetModel::visibleFieldColumns() const {
  QList<GridColumn> columns;
  if (!dataset_) return columns;
  for (int i = 0; i < dataset_->FieldCount(); ++i) {
    const TField* f = dataset_->Fields(i);
    if (!f->Visible()) continue;
    GridColumn c;
    c.fieldName = f->FieldName();
    c.title = f->DisplayLabel();
    const bool numeric = f->DataType() == FieldType::Float || f->DataType() == FieldType::Integer;
    c.alignment = (numeric ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
    columns << c;
  }
  return columns;
}

// Columns keep field indexes, not pointers: a packet load replaces the
// dataset's field objects.
void TDataSetModel::resolveFields() {
  fieldIndexes_.clear();
  for (const auto& c : columns_) {
    const TField* f = dataset_ ? dataset_->FindField(c.fieldName) : nullptr;
    fieldIndexes_ << (f ? f->index() : -1);
  }
}

TField* TDataSetModel::fieldAt(int column) const {
  if (!dataset_ || column < 0 || column >= fieldIndexes_.size()) return nullptr;
  const int i = fieldIndexes_.at(column);
  return i >= 0 && i < dataset_->FieldCount() ? dataset_->Fields(i) : nullptr;
}

int TDataSetModel::columnOfField(const QString& fieldName) const {
  for (int i = 0; i < columns_.size(); ++i)
    if (columns_.at(i).fieldName.compare(fieldName, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

namespace {

constexpr int kCellPadding = 8;
// Fields up to this many characters always show whole: codes, numbers of
// sales and postings, dates.
constexpr int kShortField = 20;

// The widest value of a short field, as digits (codes are digits mostly);
// 0 for longer fields and for numbers, whose columns say how much they show.
QString widestShortValue(const TField& field) {
  switch (field.DataType()) {
    case FieldType::DateTime:
      return QStringLiteral("00/00/0000 00:00:00");
    case FieldType::Text: {
      const QString mask = field.EditMask();
      const int chars = mask.isEmpty() ? field.DisplayWidth() : int(FormatMaskText(mask, {}).size());
      return chars <= kShortField ? QString(chars, u'0') : QString();
    }
    default:
      return {};
  }
}

}  // namespace

int TDataSetModel::columnWidth(int column, const QFontMetrics& metrics) const {
  if (column < 0 || column >= columns_.size()) return 0;
  const GridColumn& c = columns_.at(column);
  const TField* f = fieldAt(column);
  int width = 0;
  if (c.width > 0) {
    width = (c.width * metrics.averageCharWidth() + kLayoutCharWidth - 1) / kLayoutCharWidth;
  } else {
    const int chars = f ? f->DisplayWidth() : 10;
    width = std::max(metrics.averageCharWidth() * chars, metrics.horizontalAdvance(c.title) + 4) + kCellPadding;
  }
  if (f) width = std::max(width, metrics.horizontalAdvance(widestShortValue(*f)) + kCellPadding);
  return width;
}

int TDataSetModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int TDataSetModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(columns_.size()); }

QVariant TDataSetModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_) return {};
  const TField* f = fieldAt(index.column());
  switch (role) {
    case Qt::DisplayRole:
      return f ? f->displayTextAt(index.row()) : QString();
    case Qt::EditRole:
      return f ? f->valueAt(index.row()) : QVariant();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(columns_.at(index.column()).alignment);
    case FieldNameRole:
      return columns_.at(index.column()).fieldName;
    default:
      return {};
  }
}

QVariant TDataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columns_.size()) return {};
  switch (role) {
    case Qt::DisplayRole:
      return columns_.at(section).title;
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(columns_.at(section).alignment);
    case FieldNameRole:
      return columns_.at(section).fieldName;
    default:
      return {};
  }
}

Qt::ItemFlags TDataSetModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---- grid helpers -------------------------------------------------------------

bool TGridDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                              const QModelIndex& index) {
  if (event->type() != QEvent::ToolTip || !index.isValid())
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QString hint = cellHint(opt, index);
  if (hint.isEmpty()) {
    QToolTip::hideText();
    return QStyledItemDelegate::helpEvent(event, view, option, index);
  }
  QToolTip::showText(event->globalPos(), hint, view->viewport(), view->visualRect(index));
  return true;
}

QString TGridDelegate::cellHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  const QString text = index.data(Qt::DisplayRole).toString();
  const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
  // the room Qt's item view drawing leaves for the text
  QStyleOptionViewItem opt = option;
  const QRect room = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, option.widget);
  const int margin = (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1) * 2;
  return option.fontMetrics.horizontalAdvance(text) > room.width() - margin ? text : QString();
}

void setupGrid(QTableView* view) {
  if (!qobject_cast<TGridDelegate*>(view->itemDelegate())) view->setItemDelegate(new TGridDelegate(view));
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  view->setWordWrap(false);
  view->setAlternatingRowColors(false);
  view->setShowGrid(true);
  view->setSortingEnabled(false);
  QHeaderView* rows = view->verticalHeader();
  rows->setVisible(false);
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(view->fontMetrics().height() + 6);
  rows->setMinimumSectionSize(view->fontMetrics().height() + 2);
  QHeaderView* columns = view->horizontalHeader();
  columns->setVisible(true);
  columns->setSectionResizeMode(QHeaderView::Interactive);
  columns->setHighlightSections(false);
  columns->setStretchLastSection(false);
}

void applyColumnWidths(QTableView* view) {
  auto* model = qobject_cast<TDataSetModel*>(view->model());
  if (!model) return;
  const QFontMetrics metrics = view->fontMetrics();
  const QHeaderView* header = view->horizontalHeader();
  for (int c = 0; c < model->columnCount(); ++c)
    view->setColumnWidth(c, std::max(model->columnWidth(c, metrics), header->sectionSizeHint(c)));
}

namespace {

// Keeps the view's current row and the dataset cursor in step, both ways.
class GridCursorLink : public QObject {
 public:
  static constexpr const char* kName = "gridCursorLink";

  GridCursorLink(QTableView* view, TDataSetModel* model) : QObject(view), view_(view), model_(model) {
    setObjectName(QLatin1String(kName));
    connect(view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { viewMoved(current); });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
      applyColumnWidths(view_);
      datasetMoved();
    });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { datasetMoved(); });
    if (model->dataSet()) attachDataSet();
    connect(model, &QAbstractItemModel::modelReset, this, [this] { attachDataSet(); });
    datasetMoved();
  }

 private:
  void attachDataSet() {
    if (model_->dataSet() == dataset_) return;
    disconnect(cursorConnection_);
    dataset_ = model_->dataSet();
    if (dataset_) cursorConnection_ = connect(dataset_, &TDataSet::cursorMoved, this, [this] { datasetMoved(); });
  }

  void viewMoved(const QModelIndex& current) {
    if (syncing_ || !current.isValid() || !model_ || !model_->dataSet()) return;
    if (model_->dataSet()->RecNo() == current.row()) return;
    syncing_ = true;
    guarded([&] { model_->dataSet()->SetRecNo(current.row()); });
    syncing_ = false;
  }

  void datasetMoved() {
    if (syncing_ || !view_ || !model_) return;
    TDataSet* ds = model_->dataSet();
    const int row = ds ? ds->RecNo() : -1;
    if (row < 0 || row >= model_->rowCount()) return;
    const QModelIndex current = view_->currentIndex();
    if (current.isValid() && current.row() == row) return;
    syncing_ = true;
    const int column = current.isValid() ? current.column() : 0;
    view_->setCurrentIndex(model_->index(row, std::max(0, column)));
    view_->scrollTo(view_->currentIndex());
    syncing_ = false;
  }

  QPointer<QTableView> view_;
  QPointer<TDataSetModel> model_;
  QPointer<TDataSet> dataset_;
  QMetaObject::Connection cursorConnection_;
  bool syncing_ = false;
};

}  // namespace

void bindGrid(QTableView* view, TDataSetModel* model) {
  const auto links = view->findChildren<QObject*>(QLatin1String(GridCursorLink::kName), Qt::FindDirectChildrenOnly);
  qDeleteAll(links);
  view->setModel(model);
  applyColumnWidths(view);
  new GridCursorLink(view, model);
}

}  // namespace hostkit
