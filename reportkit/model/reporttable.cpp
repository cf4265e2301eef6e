// A report's rows kept once per cell, printed on demand.
#include "reporttable.h"

#include <QHashFunctions>
#include <cmath>
#include <limits>

#include <hostkit/core/routines.h>

namespace reportkit {

using namespace hostkit;

namespace {

constexpr qint64 kMsPerDay = 24 * 60 * 60 * 1000;
constexpr qint64 kNotAMoment = std::numeric_limits<qint64>::min();

qint64 momentCode(const QDateTime& moment) {
  return moment.date().toJulianDay() * kMsPerDay + moment.time().msecsSinceStartOfDay();
}

QDateTime momentFromCode(qint64 code) {
  qint64 day = code / kMsPerDay;
  qint64 ms = code % kMsPerDay;
  if (ms < 0) {  // days before the Julian epoch
    --day;
    ms += kMsPerDay;
  }
  return QDateTime(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(ms)));
}

}  // namespace

// ---- TextPool ----

QByteArrayView TextPool::bytes(uint32_t id) const {
  return QByteArrayView(chars_.data() + starts_[id], qsizetype(starts_[id + 1] - starts_[id]));
}

QString TextPool::text(uint32_t id) const { return QString::fromUtf8(bytes(id)); }

void TextPool::rehash(size_t count) {
  slots_.assign(count, 0);
  const size_t mask = count - 1;
  for (uint32_t id = 0; id + 1 < starts_.size(); ++id) {
    size_t at = qHash(bytes(id)) & mask;
    while (slots_[at]) at = (at + 1) & mask;
    slots_[at] = id + 1;
  }
}

uint32_t TextPool::intern(QByteArrayView utf8) {
  if (slots_.empty()) rehash(64);
  const size_t mask = slots_.size() - 1;
  size_t at = qHash(utf8) & mask;
  for (; slots_[at]; at = (at + 1) & mask)
    if (bytes(slots_[at] - 1) == utf8) return slots_[at] - 1;
  const auto id = uint32_t(size());
  chars_.insert(chars_.end(), utf8.begin(), utf8.end());
  starts_.push_back(uint32_t(chars_.size()));
  slots_[at] = id + 1;
  if (2 * size_t(size()) > slots_.size()) rehash(2 * slots_.size());  // at most half full
  return id;
}

qsizetype TextPool::memoryBytes() const {
  return qsizetype(chars_.capacity() + 4 * (starts_.capacity() + slots_.capacity()));
}

// ---- values ----

double reportNumberOf(const QVariant& value) {
  if (value.typeId() == QMetaType::QString) return value.toString().trimmed().toDouble();
  return value.toDouble();
}

QDateTime reportMomentOf(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::QDate:
      return QDateTime(value.toDate(), QTime(0, 0));
    case QMetaType::QDateTime:
      return value.toDateTime();
    case QMetaType::Double:
    case QMetaType::Int:
    case QMetaType::LongLong:
      return fromDateTime(value.toDouble());
    default:
      break;
  }
  const QString text = value.toString().trimmed();
  QDateTime moment = QDateTime::fromString(text, Qt::ISODate);
  if (!moment.isValid()) moment = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (!moment.isValid()) moment = QDateTime(QDate::fromString(text.left(10), Qt::ISODate), QTime(0, 0));
  return moment;
}

std::optional<PictureDecimals> pictureDecimals(const QString& picture) {
  if (picture.trimmed().isEmpty()) return std::nullopt;
  const QString positive = picture.section(u';', 0, 0);  // the picture of positive numbers
  PictureDecimals decimals;
  const qsizetype point = positive.indexOf(u'.');
  if (point < 0) return decimals;
  for (qsizetype i = point + 1; i < positive.size(); ++i) {
    const QChar c = positive[i];
    if (c == u'0') {
      ++decimals.least;
      ++decimals.most;
    } else if (c == u'#') {
      ++decimals.most;
    } else if (c == u'E' || c == u'e') {
      break;
    }
  }
  return decimals;
}

std::optional<int> keptDecimals(const ReportColumn& column) {
  if (column.format.contains(u'E') || column.format.contains(u'e')) return std::nullopt;
  const std::optional<PictureDecimals> decimals = pictureDecimals(column.format);
  return decimals ? std::optional<int>(decimals->most) : std::nullopt;
}

double reportShownNumber(const ReportColumn& column, double value) {
  if (!std::isfinite(value)) return value;
  if (const std::optional<int> decimals = keptDecimals(column)) {
    const double scale = std::pow(10.0, *decimals);
    // beyond 2^53 units a double holds no fraction left to round
    if (std::fabs(value * scale) < 9.0e15) return double(std::llround(value * scale)) / scale;
    return value;
  }
  return QString::number(value, 'g', 15).toDouble();
}

QString reportNumberText(const ReportColumn& column, double value) {
  if (!column.format.isEmpty()) return FormatFloat(column.format, value);
  return productLocale().toString(value, 'g', 15);
}

QString reportMomentText(const ReportColumn& column, const QDateTime& moment) {
  if (!column.format.isEmpty()) return productLocale().toString(moment, column.format);
  return moment.time() == QTime(0, 0) ? moment.toString(QStringLiteral("dd/MM/yyyy"))
                                      : moment.toString(QStringLiteral("dd/MM/yyyy HH:mm"));
}

// ---- ReportTable ----

ReportTable::ReportTable(QList<ReportColumn> columns_, QStringList masks) : columns(std::move(columns_)) {
  cells_.resize(size_t(columns.size()));
  for (qsizetype c = 0; c < columns.size(); ++c) {
    cells_[size_t(c)].type = columns[c].type;
    cells_[size_t(c)].mask = masks.value(c);
  }
}

bool ReportTable::isNull(int row, int column) const { return cellsOf(column).nulls[size_t(row)]; }

QString ReportTable::printedText(const Cells& cells, const ReportColumn& column, int row) const {
  const auto r = size_t(row);
  if (cells.nulls[r]) return {};
  switch (cells.type) {
    case ReportColumn::Type::Number:
      return reportNumberText(column, cells.numbers[r]);
    case ReportColumn::Type::Date:
      if (cells.moments[r] == kNotAMoment) return cells.notMoments.value(row);
      return reportMomentText(column, momentFromCode(cells.moments[r]));
    case ReportColumn::Type::Text:
      break;
  }
  const QString text = cells.pool.text(cells.ids[r]);
  return cells.mask.isEmpty() ? text : FormatMaskText(cells.mask, text);
}

QString ReportTable::text(int row, int column) const { return printedText(cellsOf(column), columns[column], row); }

QVariant ReportTable::value(int row, int column) const {
  const Cells& cells = cellsOf(column);
  const auto r = size_t(row);
  if (cells.nulls[r]) return {};
  switch (cells.type) {
    case ReportColumn::Type::Number:
      return cells.numbers[r];
    case ReportColumn::Type::Date:
      if (cells.moments[r] == kNotAMoment) return cells.notMoments.value(row);
      return momentFromCode(cells.moments[r]);
    case ReportColumn::Type::Text:
      break;
  }
  return printedText(cells, columns[column], row);
}

qint64 ReportTable::textId(int row, int column) const {
  const Cells& cells = cellsOf(column);
  if (cells.type != ReportColumn::Type::Text || cells.nulls[size_t(row)]) return -1;
  return cells.ids[size_t(row)];
}

QStringList ReportTable::rowTexts(int row) const {
  QStringList texts;
  texts.reserve(columns.size());
  for (int c = 0; c < int(columns.size()); ++c) texts << text(row, c);
  return texts;
}

QList<QStringList> ReportTable::texts() const {
  QList<QStringList> all;
  all.reserve(rows_);
  for (int row = 0; row < rows_; ++row) all << rowTexts(row);
  return all;
}

qsizetype ReportTable::memoryBytes() const {
  qsizetype bytes = 0;
  for (const Cells& c : cells_)
    bytes +=
        qsizetype(4 * c.ids.capacity() + 8 * (c.numbers.capacity() + c.moments.capacity()) + c.nulls.capacity() / 8) +
        c.pool.memoryBytes();
  return bytes;
}

void ReportTable::markNull(Cells& cells, bool null) {
  cells.nulls.push_back(null);
  if (!null) return;
  switch (cells.type) {
    case ReportColumn::Type::Number:
      cells.numbers.push_back(0);
      break;
    case ReportColumn::Type::Date:
      cells.moments.push_back(0);
      break;
    case ReportColumn::Type::Text:
      cells.ids.push_back(0);
      break;
  }
}

void ReportTable::appendNull(int column) { markNull(cells_[size_t(column)], true); }

void ReportTable::appendText(int column, QByteArrayView utf8) {
  Cells& cells = cells_[size_t(column)];
  Q_ASSERT(cells.type == ReportColumn::Type::Text);
  markNull(cells, false);
  cells.ids.push_back(cells.pool.intern(utf8));
}

void ReportTable::appendNumber(int column, double value) {
  Cells& cells = cells_[size_t(column)];
  Q_ASSERT(cells.type == ReportColumn::Type::Number);
  markNull(cells, false);
  cells.numbers.push_back(value);
}

void ReportTable::appendMoment(int column, const QDateTime& moment, const QString& textIfInvalid) {
  Cells& cells = cells_[size_t(column)];
  Q_ASSERT(cells.type == ReportColumn::Type::Date);
  markNull(cells, false);
  if (moment.isValid()) {
    cells.moments.push_back(momentCode(moment));
    return;
  }
  cells.moments.push_back(kNotAMoment);
  cells.notMoments.insert(rows_, textIfInvalid);
}

}  // namespace reportkit
