#include "dataset.h"

#include <QDateTime>

#include "abort.h"
#include "routines.h"
#include <proto/contract.h>

namespace hostkit {

using packet::Column;

// ---- dates ------------------------------------------------------------------

// Dates are the wire's own numbers (contract.h): one convention on both ends.
namespace {
QDate toQDate(const std::chrono::year_month_day& d) {
  return QDate(int(d.year()), int(unsigned(d.month())), int(unsigned(d.day())));
}
std::chrono::year_month_day fromQDate(const QDate& d) {
  return {std::chrono::year(d.year()), std::chrono::month(unsigned(d.month())), std::chrono::day(unsigned(d.day()))};
}
}  // namespace

double toDateTime(const QDate& d) { return d.isValid() ? qfx::contract::toWire(fromQDate(d)) : 0.0; }

double toDateTime(const QDateTime& dt) {
  if (!dt.isValid()) return 0.0;
  return qfx::contract::toWire(fromQDate(dt.date()), std::chrono::milliseconds(dt.time().msecsSinceStartOfDay()));
}

QDateTime fromDateTime(double value) {
  // Outside years 100 to 9999, or not a number, there is no date.
  const auto moment = qfx::contract::fromWire(value);
  if (!moment) return {};
  // the wall clock's day and time as stored: counted from midnight, a day
  // whose clocks moved would shift every later hour, and one whose midnight
  // they skipped would have no date at all
  const QDate day = toQDate(moment->day);
  const QDateTime wall(day, QTime::fromMSecsSinceStartOfDay(int(moment->timeOfDay.count())));
  if (wall.isValid()) return wall;
  return day.startOfDay().addMSecs(moment->timeOfDay.count());  // a skipped time: as long after the day began
}

QDate dayOf(double value) {
  const auto moment = qfx::contract::fromWire(value);
  return moment ? toQDate(moment->day) : QDate();
}

bool hasTimeOfDay(double value) {
  const auto moment = qfx::contract::fromWire(value);
  return moment && moment->timeOfDay.count() != 0;
}

double Date() { return toDateTime(QDate::currentDate()); }

// ---- TField ------------------------------------------------------------------

TField::TField(TDataSet* owner, FieldSpec definition, int index)
    : owner_(owner), spec_(std::move(definition)), index_(index) {}

int TField::DisplayWidth() const {
  if (spec_.displayWidth > 0) return spec_.displayWidth;
  return spec_.type == FieldType::Text ? (spec_.size > 0 ? spec_.size : 20) : 10;
}

int TField::currentRow() const { return owner_->cursorRowForField(); }

static bool editing(DataSetState s) { return s == DataSetState::Insert || s == DataSetState::Edit; }

QVariant TField::Value() const {
  if (editing(owner_->state_)) return owner_->buffer_.at(size_t(index_));
  return valueAt(currentRow());
}

bool TField::IsNull() const {
  // from the column's null marks, with no value built; a date out of range
  // also reads as null, so a date builds its value
  if (!editing(owner_->state_) && spec_.type != FieldType::DateTime) return isNullAt(currentRow());
  const QVariant v = Value();
  return !v.isValid() || v.isNull();
}

bool TField::IsBlank() const {
  if (editing(owner_->state_) || spec_.type != FieldType::Text) return IsNull() || AsString().isEmpty();
  const int row = currentRow();
  return isNullAt(row) || owner_->columns_.at(size_t(index_)).text(size_t(row)).empty();
}

QString valueText(const QVariant& v, FieldType type) {
  if (!v.isValid() || v.isNull()) return {};
  switch (type) {
    case FieldType::Text:
      return v.toString();
    case FieldType::DateTime:
      return DateTimeToStr(toDateTime(v.toDateTime()));
    case FieldType::Float:
      return FloatToStr(v.toDouble());
    case FieldType::Integer:
      return QString::number(v.toLongLong());
    case FieldType::Boolean:
      return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
  }
  return {};
}

QString TField::AsString() const { return valueText(Value(), spec_.type); }

double TField::AsFloat() const {
  // a stored date is the very number asked for: read it without the round
  // trip through a local QDateTime (two time zone conversions per read)
  if (spec_.type == FieldType::DateTime && !editing(owner_->state_)) {
    const int row = currentRow();
    if (isNullAt(row)) return 0.0;
    const auto moment = qfx::contract::fromWire(owner_->columns_.at(size_t(index_)).number(size_t(row)));
    return moment ? qfx::contract::toWire(moment->day, moment->timeOfDay) : 0.0;
  }
  const QVariant v = Value();
  if (!v.isValid() || v.isNull()) return 0.0;
  if (spec_.type == FieldType::DateTime) return toDateTime(v.toDateTime());
  if (spec_.type == FieldType::Text) return StrToFloat(v.toString());
  return v.toDouble();
}

qint64 TField::AsInteger() const { return packet::integerOf(AsFloat()); }

bool TField::AsBoolean() const {
  const QVariant v = Value();
  if (spec_.type == FieldType::Text) return v.toString().compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
  return v.toBool();
}

// A value given as text is read as the operator types it: Brazilian numbers
// and dd/MM/yyyy dates (QVariant's own conversion knows only the C form).
static QVariant fromTypedText(const QVariant& v, FieldType type) {
  if (v.typeId() != QMetaType::QString) return v;
  const QString text = v.toString();
  if (text.trimmed().isEmpty() && type != FieldType::Text) return {};
  bool ok = false;
  double value = 0;
  switch (type) {
    case FieldType::Float:
    case FieldType::Integer:
      value = StrToFloat(text, &ok);
      if (!ok) throw EDatabaseError(QStringLiteral("'%1' não é um número válido.").arg(text));
      break;
    case FieldType::DateTime:
      value = StrToDateTime(text, &ok);
      if (!ok) throw EDatabaseError(QStringLiteral("'%1' não é uma data válida.").arg(text));
      break;
    default:
      return v;
  }
  return type == FieldType::Integer ? QVariant(qlonglong(std::llround(value))) : QVariant(value);
}

void TField::setValue(const QVariant& typed) {
  auto& ds = *owner_;
  const QVariant v = fromTypedText(typed, spec_.type);
  if (editing(ds.state_)) {
    QVariant stored = v;
    if (v.isValid() && !v.isNull() && spec_.type == FieldType::DateTime && v.typeId() == QMetaType::Double)
      stored = fromDateTime(v.toDouble());
    ds.buffer_.at(size_t(index_)) = stored;
    return;
  }
  if (ds.state_ == DataSetState::CalcFields && spec_.calculated) {
    Column& c = ds.columns_.at(size_t(index_));
    const auto row = size_t(ds.calcRow_);
    if (!v.isValid() || v.isNull()) {
      c.setNull(row, true);
    } else if (spec_.type == FieldType::Boolean) {
      c.setBoolean(row, v.toBool());
    } else if (spec_.type == FieldType::Integer) {
      c.setInteger(row, v.toLongLong());
    } else if (spec_.type == FieldType::Float || spec_.type == FieldType::DateTime) {
      c.setNumber(row, v.toDouble());
    }
    return;
  }
  throw EDatabaseError(
      QStringLiteral("%1: o conjunto de dados não está em edição (campo %2).").arg(ds.objectName(), spec_.name));
}

bool TField::isNullAt(int row) const {
  if (row < 0 || row >= owner_->rowCount_) return true;
  return owner_->columns_.at(size_t(index_)).isNull(size_t(row));
}

QVariant TField::valueAt(int row) const {
  if (isNullAt(row)) return {};
  const Column& c = owner_->columns_.at(size_t(index_));
  const auto r = size_t(row);
  switch (spec_.type) {
    case FieldType::Text: {
      const auto t = c.text(r);
      return QString::fromUtf8(t.data(), qsizetype(t.size()));
    }
    case FieldType::DateTime: {
      const QDateTime moment = fromDateTime(c.number(r));
      return moment.isValid() ? QVariant(moment) : QVariant();  // no date: read as null
    }
    case FieldType::Float:
      return c.number(r);
    case FieldType::Integer:
      return qlonglong(c.integer(r));
    case FieldType::Boolean:
      return c.boolean(r);
  }
  return {};
}

QString TField::textAt(int row) const {
  if (editing(owner_->state_) && row == owner_->row_) return AsString();
  return valueText(valueAt(row), spec_.type);
}

QString TField::displayTextAt(int row) const {
  if (OnGetText) return OnGetText(row);
  const QVariant v = valueAt(row);
  if (!v.isValid()) return {};
  const bool numeric = spec_.type == FieldType::Float || spec_.type == FieldType::Integer;
  if (numeric && !spec_.displayFormat.isEmpty()) return FormatFloat(spec_.displayFormat, v.toDouble());
  if (spec_.type == FieldType::Text && !spec_.editMask.isEmpty()) return FormatMaskText(spec_.editMask, v.toString());
  return valueText(v, spec_.type);
}

// ---- TDataSet ----------------------------------------------------------------

TDataSet::TDataSet(QObject* parent, const QString& name) : QObject(parent) { setObjectName(name); }
TDataSet::~TDataSet() = default;

TField* TDataSet::AddField(const FieldSpec& definition) {
  fixedFields_ = true;
  fields_.push_back(std::make_unique<TField>(this, definition, int(fields_.size())));
  columns_.emplace_back(definition.type);
  for (int r = 0; r < rowCount_; ++r) columns_.back().appendNull();
  return fields_.back().get();
}

void TDataSet::ClearFields() {
  Close();
  fields_.clear();
  columns_.clear();
  fixedFields_ = false;
}

TField* TDataSet::FindField(const QString& name) const {
  for (const auto& f : fields_)
    if (f->FieldName().compare(name, Qt::CaseInsensitive) == 0) return f.get();
  return nullptr;
}

TField* TDataSet::FieldByName(const QString& name) const {
  if (auto* f = FindField(name)) return f;
  throw EDatabaseError(QStringLiteral("%1: campo '%2' não encontrado.").arg(objectName(), name));
}

int TDataSet::cursorRowForField() const { return state_ == DataSetState::CalcFields ? calcRow_ : row_; }

bool TDataSet::isCompatible(FieldType fixed, FieldType wire) const {
  if (fixed == wire) return true;
  const auto numeric = [](FieldType t) {
    return t == FieldType::Float || t == FieldType::Integer || t == FieldType::DateTime;
  };
  return numeric(fixed) && numeric(wire);
}

Column TDataSet::convertColumn(const Column& in, FieldType to) const {
  Column out(to);
  out.reserve(in.rows());
  for (size_t r = 0; r < in.rows(); ++r) {
    if (in.isNull(r)) {
      out.appendNull();
    } else if (to == FieldType::Integer) {
      out.appendInteger(in.integer(r));
    } else {
      out.appendNumber(in.number(r));
    }
  }
  return out;
}

Status TDataSet::LoadPacket(packet::Packet&& data) {
  std::vector<Column> columns;
  std::vector<std::unique_ptr<TField>> packetFields;
  const int rows = int(data.rowCount());
  if (fixedFields_) {
    columns.reserve(fields_.size());
    for (const auto& f : fields_) {
      if (f->Calculated()) {
        Column c(f->DataType());
        c.reserve(size_t(rows));
        for (int r = 0; r < rows; ++r) c.appendNull();
        columns.push_back(std::move(c));
        continue;
      }
      const int i = data.fieldIndex(f->FieldName().toStdString());
      if (i < 0)
        return Status::failure(
            QStringLiteral("%1: o pacote de dados não contém o campo '%2'.").arg(objectName(), f->FieldName()));
      Column& in = data.columns[size_t(i)];
      if (!isCompatible(f->DataType(), in.type()))
        return Status::failure(
            QStringLiteral("%1: o campo '%2' veio com tipo incompatível.").arg(objectName(), f->FieldName()));
      columns.push_back(in.type() == f->DataType() ? std::move(in) : convertColumn(in, f->DataType()));
    }
  } else {
    for (size_t i = 0; i < data.fields.size(); ++i) {
      const auto& def = data.fields[i];
      FieldSpec definition;
      definition.name = QString::fromStdString(def.name);
      definition.type = def.type;
      definition.size = def.size;
      packetFields.push_back(std::make_unique<TField>(this, definition, int(i)));
    }
    columns = std::move(data.columns);
  }

  if (Active()) setState(DataSetState::Inactive);
  if (!fixedFields_) fields_ = std::move(packetFields);
  columns_ = std::move(columns);
  rowCount_ = rows;
  recalcRows(0, rows);
  resetCursor();
  setState(DataSetState::Browse);
  emit dataReset();
  return success();
}

void TDataSet::SetData(packet::Packet&& data) {
  if (const Status loaded = LoadPacket(std::move(data)); !loaded.ok()) throw EDatabaseError(loaded.error());
}

void TDataSet::recalcRows(int first, int last) {
  if (!OnCalcFields || first >= last) return;
  const DataSetState saved = state_;
  state_ = DataSetState::CalcFields;
  for (int r = first; r < last; ++r) {
    calcRow_ = r;
    OnCalcFields(*this);
  }
  calcRow_ = -1;
  state_ = saved;
}

void TDataSet::resetCursor() {
  row_ = rowCount_ > 0 ? 0 : -1;
  bof_ = true;
  eof_ = rowCount_ == 0;
}

void TDataSet::setState(DataSetState s) {
  if (state_ == s) return;
  state_ = s;
  emit stateChanged();
}

void TDataSet::Open() {
  if (Active()) return;
  if (BeforeOpen) BeforeOpen(*this);
  if (columns_.size() != fields_.size()) {
    columns_.clear();
    for (const auto& f : fields_) columns_.emplace_back(f->DataType());
  }
  resetCursor();
  setState(DataSetState::Browse);
  emit dataReset();
}

void TDataSet::Close() {
  if (!Active()) return;
  buffer_.clear();
  for (auto& c : columns_) c.clear();
  rowCount_ = 0;
  resetCursor();
  setState(DataSetState::Inactive);
  emit dataReset();
}

void TDataSet::EmptyDataSet() {
  for (auto& c : columns_) c.clear();
  rowCount_ = 0;
  resetCursor();
  emit dataReset();
}

void TDataSet::SetRecNo(int row) {
  if (rowCount_ == 0) return;
  row_ = std::clamp(row, 0, rowCount_ - 1);
  bof_ = eof_ = false;
  emit cursorMoved(row_);
}

void TDataSet::First() {
  resetCursor();
  if (rowCount_ > 0) emit cursorMoved(row_);
}

void TDataSet::Next() {
  if (row_ + 1 < rowCount_) {
    ++row_;
    bof_ = false;
    emit cursorMoved(row_);
  } else {
    eof_ = true;
  }
}

void TDataSet::Prior() {
  if (row_ > 0) {
    --row_;
    eof_ = false;
    emit cursorMoved(row_);
  } else {
    bof_ = true;
  }
}

void TDataSet::Last() {
  row_ = rowCount_ - 1;
  eof_ = true;
  bof_ = rowCount_ == 0;
  if (row_ >= 0) emit cursorMoved(row_);
}

void TDataSet::Append() {
  if (!Active()) throw EDatabaseError(QStringLiteral("%1: o conjunto de dados está fechado.").arg(objectName()));
  buffer_.assign(fields_.size(), QVariant());
  setState(DataSetState::Insert);
}

void TDataSet::Edit() {
  if (!Active() || rowCount_ == 0)
    throw EDatabaseError(QStringLiteral("%1: não há registro para editar.").arg(objectName()));
  buffer_.clear();
  for (const auto& f : fields_) buffer_.push_back(f->valueAt(row_));
  setState(DataSetState::Edit);
}

static void appendValue(Column& c, FieldType type, const QVariant& v) {
  if (!v.isValid() || v.isNull()) return c.appendNull();
  switch (type) {
    case FieldType::Text:
      c.appendText(v.toString().toStdString());
      break;
    case FieldType::DateTime:
      c.appendNumber(v.typeId() == QMetaType::Double ? v.toDouble() : toDateTime(v.toDateTime()));
      break;
    case FieldType::Float:
      c.appendNumber(v.toDouble());
      break;
    case FieldType::Integer:
      c.appendInteger(v.toLongLong());
      break;
    case FieldType::Boolean:
      c.appendBoolean(v.toBool());
      break;
  }
}

void TDataSet::Post() {
  if (state_ == DataSetState::Insert) {
    for (size_t i = 0; i < fields_.size(); ++i) appendValue(columns_[i], fields_[i]->DataType(), buffer_[i]);
    row_ = rowCount_++;
    bof_ = eof_ = false;
    buffer_.clear();
    recalcRows(row_, row_ + 1);
    setState(DataSetState::Browse);
    emit rowAppended(row_);
    return;
  }
  if (state_ == DataSetState::Edit) {
    // Rebuilds the columns with the edited row: editing is rare here (the
    // lists are read-only), appends are the common case.
    for (size_t i = 0; i < fields_.size(); ++i) {
      Column rebuilt(fields_[i]->DataType());
      rebuilt.reserve(size_t(rowCount_));
      for (int r = 0; r < rowCount_; ++r)
        appendValue(rebuilt, fields_[i]->DataType(), r == row_ ? buffer_[i] : fields_[i]->valueAt(r));
      columns_[i] = std::move(rebuilt);
    }
    buffer_.clear();
    recalcRows(row_, row_ + 1);
    setState(DataSetState::Browse);
    emit dataReset();
  }
}

void TDataSet::Cancel() {
  if (!editing(state_)) return;
  buffer_.clear();
  setState(DataSetState::Browse);
}

size_t TDataSet::valueBytes() const {
  size_t total = 0;
  for (const auto& c : columns_) total += c.byteSize();
  return total;
}

// ---- TDataSource ---------------------------------------------------------------

TDataSource::TDataSource(QObject* parent, const QString& name) : QObject(parent) { setObjectName(name); }

void TDataSource::SetDataSet(TDataSet* ds) {
  disconnect(stateConn_);
  disconnect(dataConn_);
  disconnect(cursorConn_);
  dataset_ = ds;
  if (!ds) return;
  stateConn_ = connect(ds, &TDataSet::stateChanged, this, &TDataSource::StateChange);
  dataConn_ = connect(ds, &TDataSet::dataReset, this, &TDataSource::DataChange);
  cursorConn_ = connect(ds, &TDataSet::cursorMoved, this, &TDataSource::DataChange);
}

QString fieldText(const TDataSet* ds, const char* name) {
  if (!ds->Active() || ds->IsEmpty()) return {};
  return ds->FieldByName(QString::fromLatin1(name))->AsString();
}

}  // namespace hostkit
