// A table model over an in-memory dataset: the view asks for a cell and only
// then is its QVariant built, so a list of a million rows costs no copy.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QPointer>

#include <hostkit/core/dataset.h>

#include <QStyledItemDelegate>

class QTableView;
class QFontMetrics;

namespace hostkit {

// The screens' column widths are pixels of the font they were laid out with,
// whose average character is this wide; grids scale them to their own font.
inline constexpr int kLayoutCharWidth = 5;

// One grid column: the field it shows, its title, its width in layout pixels
// (above; 0: the width that follows from the field) and the alignment of
// title and cells.
struct GridColumn {
  QString fieldName;
  QString title;
  int width = 0;
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter;
};

class TDataSetModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  // The field name of a column, for delegates that draw by field.
  static constexpr int FieldNameRole = Qt::UserRole + 1;

  explicit TDataSetModel(QObject* parent = nullptr);
  TDataSetModel(TDataSet* dataset, QObject* parent);
  TDataSetModel(TDataSource* source, QObject* parent);

  void setDataSet(TDataSet* dataset);
  // Follows the data source, also when it is later bound to another dataset.
  void setDataSource(TDataSource* source);
  TDataSet* dataSet() const { return dataset_; }

  // Explicit columns; an empty list goes back to the default (every visible
  // field, titled by its label), which follows the fields of each packet.
  void setColumns(const QList<GridColumn>& columns);
  const QList<GridColumn>& columns() const { return columns_; }
  bool hasDefaultColumns() const { return defaultColumns_; }

  // The field behind a column; null when the dataset lacks it.
  TField* fieldAt(int column) const;
  int columnOfField(const QString& fieldName) const;
  // The column's width in pixels of `metrics`' font: its own scaled to that
  // font, else from the field's display width; never narrower than a short
  // field's whole value (a code, a date and time).
  int columnWidth(int column, const QFontMetrics& metrics) const;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  void attach(TDataSet* dataset);
  void reload();
  void onStateChanged();
  void onRowAppended(int row);
  QList<GridColumn> visibleFieldColumns() const;
  void resolveFields();

  QPointer<TDataSet> dataset_;
  QPointer<TDataSource> source_;
  QList<GridColumn> columns_;
  QList<int> fieldIndexes_;  // per column; -1 when the field is missing
  bool defaultColumns_ = true;
  bool active_ = false;
  int rows_ = 0;
  QList<QMetaObject::Connection> datasetConnections_;
  QMetaObject::Connection sourceConnection_;
};

// Draws grid cells as Qt does (text that does not fit ends in "…") and shows
// in a tool tip what a cell cuts short.
class TGridDelegate : public QStyledItemDelegate {
  Q_OBJECT
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

 protected:
  // The tool tip of a cell: by default its whole text when the cell cuts it short.
  virtual QString cellHint(const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

// Grid look shared by every screen: fixed row heights (never resized to the
// contents of all rows), no row indicator, read-only, titled columns, whole
// rows selected one at a time, cut texts whole in a tool tip.
void setupGrid(QTableView* view);

// Shows the model in the view with its column widths and keeps the view's
// current row and the dataset's cursor in step, both ways. The link lives as
// long as the view.
void bindGrid(QTableView* view, TDataSetModel* model);
// Sets every column to the model's width, widened where the title would not
// show whole.
void applyColumnWidths(QTableView* view);

}  // namespace hostkit
