// The spreadsheet exports of a report's detail rows.
#include "reportexport.h"

#include <xlsxwriter.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

namespace reportkit {

using hostkit::Status;
using hostkit::success;

namespace {

// ---- cells ----

QString columnTitle(const ReportColumn& column) { return column.title.isEmpty() ? column.field : column.title; }

bool carriesTime(const QDateTime& moment) { return moment.time() != QTime(0, 0); }

// ---- CSV ----

// "1234,5": decimal comma, no thousands separator.
QString csvNumber(double value, const ReportColumn& column) {
  const std::optional<PictureDecimals> decimals = pictureDecimals(column.format);
  QString text = decimals ? QString::number(value, 'f', decimals->most)
                          : QString::number(value, 'f', QLocale::FloatingPointShortest);
  if (decimals && decimals->most > decimals->least) {
    const qsizetype point = text.indexOf(u'.');
    qsizetype keep = text.size();
    while (keep > point + 1 + decimals->least && text[keep - 1] == u'0') --keep;
    if (keep == point + 1) --keep;  // no decimals left: no point either
    text.truncate(keep);
  }
  return text.replace(u'.', u',');
}

QString csvDate(const QDateTime& moment) {
  return moment.toString(carriesTime(moment) ? QStringLiteral("dd/MM/yyyy HH:mm") : QStringLiteral("dd/MM/yyyy"));
}

// RFC 4180: a field with the separator, a quote or a line break goes in
// quotes, its quotes doubled.
QString csvField(QString text) {
  static const QRegularExpression needsQuotes(QStringLiteral("[;\"\r\n]"));
  if (!text.contains(needsQuotes)) return text;
  return u'"' + text.replace(u'"', QStringLiteral("\"\"")) + u'"';
}

QString csvCell(const QVariant& value, const ReportColumn& column) {
  if (value.isNull()) return {};
  switch (value.typeId()) {
    case QMetaType::Double:
      return csvNumber(value.toDouble(), column);
    case QMetaType::QDateTime:
      return csvDate(value.toDateTime());
    default:
      return csvField(value.toString());
  }
}

QByteArray csvLine(const QStringList& fields) { return fields.join(u';').toUtf8() + "\r\n"; }

// Writes the file a line at a time, through a buffer of a few hundred
// kilobytes: the whole text is never held.
bool writeCsv(const ReportTable& table, QIODevice& file) {
  constexpr qsizetype kFlushAt = 256 * 1024;
  QByteArray out("\xEF\xBB\xBF");
  QStringList fields;
  for (const ReportColumn& column : table.columns) fields << csvField(columnTitle(column));
  out += csvLine(fields);
  for (int row = 0; row < table.rowCount(); ++row) {
    fields.clear();
    for (int c = 0; c < int(table.columns.size()); ++c) fields << csvCell(table.value(row, c), table.columns[c]);
    out += csvLine(fields);
    if (out.size() < kFlushAt) continue;
    if (file.write(out) < 0) return false;
    out.clear();
  }
  return file.write(out) >= 0;
}

// ---- XLSX ----

const lxw_row_t kTitleRow = 0;
const lxw_row_t kHeaderRow = 2;
const lxw_row_t kFirstDetailRow = 3;

struct SheetFormats {
  lxw_format* title = nullptr;
  lxw_format* header = nullptr;
  lxw_format* date = nullptr;
  lxw_format* dateTime = nullptr;
  QList<lxw_format*> numbers;  // per column, null for the general format
};

lxw_format* numberFormat(lxw_workbook* book, const QString& picture) {
  lxw_format* format = workbook_add_format(book);
  format_set_num_format(format, picture.toUtf8().constData());
  return format;
}

// A FormatFloat picture reads the same in Excel ("#,##0.000"): the
// spreadsheet shows it in the reader's own separators.
SheetFormats sheetFormats(lxw_workbook* book, const QList<ReportColumn>& columns) {
  SheetFormats formats;
  formats.title = workbook_add_format(book);
  format_set_bold(formats.title);
  format_set_font_size(formats.title, 14);
  formats.header = workbook_add_format(book);
  format_set_bold(formats.header);
  formats.date = numberFormat(book, QStringLiteral("dd/mm/yyyy"));
  formats.dateTime = numberFormat(book, QStringLiteral("dd/mm/yyyy hh:mm"));
  QHash<QString, lxw_format*> byPicture;
  for (const ReportColumn& column : columns) {
    const bool pictured = column.type == ReportColumn::Type::Number && !column.format.trimmed().isEmpty();
    if (pictured && !byPicture.contains(column.format))
      byPicture.insert(column.format, numberFormat(book, column.format));
    formats.numbers << (pictured ? byPicture.value(column.format) : nullptr);
  }
  return formats;
}

lxw_error writeText(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const QString& text, lxw_format* format) {
  return worksheet_write_string(sheet, row, col, text.toUtf8().constData(), format);
}

lxw_error writeMoment(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const QDateTime& moment,
                      const SheetFormats& formats) {
  const QDate day = moment.date();
  const QTime time = moment.time();
  // Excel counts from 1900: an earlier date stays as the text it reads
  if (day.year() < 1900) return writeText(sheet, row, col, csvDate(moment), nullptr);
  lxw_datetime when{day.year(),  day.month(),   day.day(),
                    time.hour(), time.minute(), time.second() + time.msec() / 1000.0};
  return worksheet_write_datetime(sheet, row, col, &when, carriesTime(moment) ? formats.dateTime : formats.date);
}

lxw_error writeCell(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col, const QVariant& value,
                    const SheetFormats& formats) {
  if (value.isNull()) return LXW_NO_ERROR;  // NULL: a blank cell
  switch (value.typeId()) {
    case QMetaType::Double:
      return worksheet_write_number(sheet, row, col, value.toDouble(), formats.numbers.value(col));
    case QMetaType::QDateTime:
      return writeMoment(sheet, row, col, value.toDateTime(), formats);
    default:
      return writeText(sheet, row, col, value.toString(), nullptr);
  }
}

// The column's weight in characters, wide enough for its title and the
// filter button.
double columnWidth(const ReportColumn& column) {
  const qsizetype characters = std::max<qsizetype>(column.width, columnTitle(column).size());
  return double(std::min<qsizetype>(characters + 2, 60));
}

lxw_error writeHeader(lxw_worksheet* sheet, const QList<ReportColumn>& columns, const QString& title,
                      const SheetFormats& formats) {
  if (lxw_error error = writeText(sheet, kTitleRow, 0, title, formats.title)) return error;
  for (qsizetype c = 0; c < columns.size(); ++c) {
    const auto col = lxw_col_t(c);
    if (lxw_error error = worksheet_set_column(sheet, col, col, columnWidth(columns[c]), nullptr)) return error;
    if (lxw_error error = writeText(sheet, kHeaderRow, col, columnTitle(columns[c]), formats.header)) return error;
  }
  return LXW_NO_ERROR;
}

lxw_error writeSheet(lxw_workbook* book, lxw_worksheet* sheet, const ReportTable& table, const QString& title) {
  const SheetFormats formats = sheetFormats(book, table.columns);
  if (lxw_error error = writeHeader(sheet, table.columns, title, formats)) return error;
  for (int row = 0; row < table.rowCount(); ++row)
    for (int c = 0; c < int(table.columns.size()); ++c)
      if (lxw_error error =
              writeCell(sheet, kFirstDetailRow + lxw_row_t(row), lxw_col_t(c), table.value(row, c), formats))
        return error;
  worksheet_freeze_panes(sheet, kFirstDetailRow, 0);
  if (table.columns.isEmpty()) return LXW_NO_ERROR;
  return worksheet_autofilter(sheet, kHeaderRow, 0, kHeaderRow + lxw_row_t(table.rowCount()),
                              lxw_col_t(table.columns.size() - 1));
}

// Why a file could not be written, in the operator's words for the usual
// cases, else the system's.
QString writeProblem(const QString& path, const QString& systemReason) {
  const QFileInfo target(path);
  if (!target.absoluteDir().exists())
    return QStringLiteral("a pasta '%1' não existe").arg(QDir::toNativeSeparators(target.absolutePath()));
  if (target.isDir()) return QStringLiteral("já existe uma pasta com esse nome");
  return systemReason;
}

QString sheetError(const QString& path, const QString& reason) {
  return QStringLiteral("Não foi possível gravar a planilha '%1': %2").arg(path, writeProblem(path, reason));
}

// Writes the workbook at `file`; the library's error, if any. Rows go to
// the file as they are written (the library's constant memory mode: text
// inline in its cells, a row's worth held at a time), its temporary files
// beside the target.
Status writeWorkbook(const QString& file, const ReportTable& table, const QString& title) {
  QByteArray folder = QFile::encodeName(QFileInfo(file).absolutePath());
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = folder.data();
  lxw_workbook* book = workbook_new_opt(QFile::encodeName(file).constData(), &options);
  if (!book) return Status::failure(QStringLiteral("memória insuficiente"));
  QByteArray titleUtf8 = title.toUtf8();
  lxw_doc_properties properties{};
  properties.title = titleUtf8.data();
  workbook_set_properties(book, &properties);
  const QByteArray sheetName = sheetNameFor(title).toUtf8();
  lxw_error error = workbook_validate_sheet_name(book, sheetName.constData());
  lxw_worksheet* sheet = error ? nullptr : workbook_add_worksheet(book, sheetName.constData());
  if (sheet)
    error = writeSheet(book, sheet, table, title);
  else if (!error)
    error = LXW_ERROR_MEMORY_MALLOC_FAILED;
  // closing writes the file and frees the workbook, also after an error
  const lxw_error closed = workbook_close(book);
  if (error == LXW_NO_ERROR) error = closed;
  if (error != LXW_NO_ERROR) return Status::failure(QString::fromUtf8(lxw_strerror(error)));
  return success();
}

Status replaceFile(const QString& from, const QString& to) {
  std::error_code error;
  std::filesystem::rename(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString(), error);
  if (error) return Status::failure(QString::fromLocal8Bit(error.message()));
  return success();
}

}  // namespace

Status exportCsv(const ReportTable& table, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || !writeCsv(table, file) || !file.commit())
    return Status::failure(QStringLiteral("Não foi possível gravar o arquivo CSV '%1': %2")
                               .arg(path, writeProblem(path, file.errorString())));
  return success();
}

QString sheetNameFor(const QString& title) {
  static const QRegularExpression forbidden(QStringLiteral("[\\[\\]:*?/\\\\]"));
  QString name = QString(title).replace(forbidden, QStringLiteral(" ")).simplified();
  while (name.startsWith(u'\'')) name.remove(0, 1);
  name.truncate(31);
  if (!name.isEmpty() && name.back().isHighSurrogate()) name.chop(1);
  while (name.endsWith(u'\'') || name.endsWith(u' ')) name.chop(1);
  return name.isEmpty() ? QStringLiteral("Relatório") : name;
}

Status exportXlsx(const ReportTable& table, const QString& title, const QString& path) {
  // written beside the target and moved over it when complete: a failed
  // export leaves an earlier file of that name as it was
  QTemporaryFile part(QFileInfo(path).absoluteFilePath() + QStringLiteral(".XXXXXX"));
  if (!part.open()) return Status::failure(sheetError(path, part.errorString()));
  part.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
  part.close();
  if (const Status written = writeWorkbook(part.fileName(), table, title); !written.ok())
    return Status::failure(sheetError(path, written.error()));
  if (const Status moved = replaceFile(part.fileName(), path); !moved.ok())
    return Status::failure(sheetError(path, moved.error()));
  part.setAutoRemove(false);  // it is the spreadsheet now
  return success();
}

}  // namespace reportkit
