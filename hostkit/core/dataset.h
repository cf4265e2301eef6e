// In-memory datasets: typed column vectors (the wire's columnar layout kept
// as is), a cursor, the open/browse/edit/insert states with a state-change
// signal, and calculated fields. A QVariant is built only when a view asks
// for a cell.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include <proto/packet_codec.h>

#include "result.h"

namespace hostkit {

namespace packet = ::qfx::packet;

using packet::FieldType;
class TDataSet;

enum class DataSetState { Inactive, Browse, Edit, Insert, CalcFields };

struct FieldSpec {
  QString name;
  FieldType type = FieldType::Text;
  int size = 0;  // text: characters (0 means the default of 20)
  QString label;
  bool visible = true;
  bool calculated = false;
  QString displayFormat;
  QString editMask;
  int displayWidth = 0;
  bool required = false;
};

class TField {
 public:
  TField(TDataSet* owner, FieldSpec definition, int index);

  const QString& FieldName() const { return spec_.name; }
  FieldType DataType() const { return spec_.type; }
  int Size() const { return spec_.size; }
  QString DisplayLabel() const { return spec_.label.isEmpty() ? spec_.name : spec_.label; }
  bool Visible() const { return spec_.visible; }
  bool Calculated() const { return spec_.calculated; }
  const QString& DisplayFormat() const { return spec_.displayFormat; }
  const QString& EditMask() const { return spec_.editMask; }
  void SetEditMask(const QString& mask) { spec_.editMask = mask; }
  void SetDisplayLabel(const QString& label) { spec_.label = label; }
  void SetVisible(bool visible) { spec_.visible = visible; }
  void SetDisplayWidth(int characters) { spec_.displayWidth = characters; }
  int DisplayWidth() const;
  const FieldSpec& definition() const { return spec_; }
  int index() const { return index_; }

  // Values of the current record (or of the record being inserted).
  bool IsNull() const;
  bool IsBlank() const;  // null, or an empty text
  QString AsString() const;
  double AsFloat() const;
  double AsDateTime() const { return AsFloat(); }
  qint64 AsInteger() const;
  bool AsBoolean() const;
  QVariant Value() const;
  // Edit text: the value as text, without display format.
  QString Text() const { return textAt(currentRow()); }
  QString DisplayText() const { return displayTextAt(currentRow()); }

  void SetAsString(const QString& v) { setValue(v); }
  void SetAsFloat(double v) { setValue(v); }
  void SetAsDateTime(double v) { setValue(v); }
  void SetAsInteger(qint64 v) { setValue(v); }
  void SetAsBoolean(bool v) { setValue(v); }
  void Clear() { setValue(QVariant()); }
  void setValue(const QVariant& v);

  // Row-addressed access for views (no cursor move).
  bool isNullAt(int row) const;
  QVariant valueAt(int row) const;
  QString textAt(int row) const;
  QString displayTextAt(int row) const;

  // Shown text of a row in place of the mask or format, for displays that
  // depend on other fields of the row (a document number masked by the
  // row's person type). The stored value is not touched.
  std::function<QString(int row)> OnGetText;

 private:
  int currentRow() const;
  TDataSet* owner_;
  FieldSpec spec_;
  int index_;
};

class TDataSet : public QObject {
  Q_OBJECT
 public:
  explicit TDataSet(QObject* parent = nullptr, const QString& name = {});
  ~TDataSet() override;

  // Field definitions. Fixed fields stay whatever packet is loaded; a dataset
  // without fixed fields takes its fields from each packet.
  TField* AddField(const FieldSpec& definition);
  void ClearFields();
  bool HasFixedFields() const { return fixedFields_; }
  int FieldCount() const { return int(fields_.size()); }
  TField* Fields(int i) const { return fields_.at(size_t(i)).get(); }
  TField* FindField(const QString& name) const;
  // Throws EDatabaseError naming the field when it does not exist.
  TField* FieldByName(const QString& name) const;

  // Loads a data packet: replaces every row and opens the dataset. A fixed
  // field missing from the packet, or of an incompatible type, is an error
  // naming it; the dataset then keeps what it held.
  Status LoadPacket(packet::Packet&& data);
  // Same, throwing EDatabaseError.
  void SetData(packet::Packet&& data);

  // States.
  DataSetState State() const { return state_; }
  bool Active() const { return state_ != DataSetState::Inactive; }
  virtual void Open();  // opens with its current rows (empty when it had none)
  void Close();
  void CreateDataSet() { Open(); }
  void EmptyDataSet();

  // Cursor.
  int RecordCount() const { return rowCount_; }
  bool IsEmpty() const { return rowCount_ == 0; }
  int RecNo() const { return row_; }  // 0-based; -1 when empty
  void SetRecNo(int row);
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }

  // Editing: Append/Insert start a new record, Edit the current one; Post stores it.
  void Append();
  void Edit();
  void Post();
  void Cancel();

  // Called for every row after a load and for each posted row.
  std::function<void(TDataSet&)> OnCalcFields;
  // Called before every Open (also by a packet load).
  std::function<void(TDataSet&)> BeforeOpen;

  // Storage access (views, tests, memory accounting).
  const packet::Column& column(int field) const { return columns_.at(size_t(field)); }
  size_t valueBytes() const;
  int cursorRowForField() const;

 signals:
  void stateChanged();
  void dataReset();  // rows replaced or emptied
  void rowAppended(int row);
  void cursorMoved(int row);

 private:
  friend class TField;
  void setState(DataSetState s);
  void recalcRows(int first, int last);
  void resetCursor();
  bool isCompatible(FieldType fixed, FieldType wire) const;
  packet::Column convertColumn(const packet::Column& in, FieldType to) const;

  std::vector<std::unique_ptr<TField>> fields_;
  std::vector<packet::Column> columns_;
  bool fixedFields_ = false;
  DataSetState state_ = DataSetState::Inactive;
  int rowCount_ = 0;
  int row_ = -1;
  bool eof_ = true, bof_ = true;
  std::vector<QVariant> buffer_;  // record being inserted or edited
  int calcRow_ = -1;
};

// Binds a dataset to controls and reports its state changes.
class TDataSource : public QObject {
  Q_OBJECT
 public:
  explicit TDataSource(QObject* parent = nullptr, const QString& name = {});
  void SetDataSet(TDataSet* ds);
  TDataSet* DataSet() const { return dataset_; }

 signals:
  void StateChange();
  void DataChange();

 private:
  TDataSet* dataset_ = nullptr;
  QMetaObject::Connection stateConn_, dataConn_, cursorConn_;
};

// Dates: days since 1899-12-30 with the time as the fraction.
double toDateTime(const QDateTime& dt);
double toDateTime(const QDate& d);
QDateTime fromDateTime(double value);
// The calendar day of a value, and whether it has a time besides: read off
// the number, with no time zone to consult (a local QDateTime asks one).
QDate dayOf(double value);
bool hasTimeOfDay(double value);
double Date();  // today, no time

// A value as a field of that type shows it (AsString): dates and numbers in
// the product's language, booleans "True"/"False", a null as empty text.
QString valueText(const QVariant& value, FieldType type);

// The text of a field of the current row; empty when the dataset is closed
// or holds no row.
QString fieldText(const TDataSet* ds, const char* name);

}  // namespace hostkit
