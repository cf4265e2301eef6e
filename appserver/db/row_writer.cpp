#include "db/row_writer.h"

#include <sqlite3.h>

#include "db/batch_insert.h"
#include "db/sqlite_functions.h"

namespace qfx::server::sql {

void utf8Into(std::string& out, const QVariant& value) {
  out.clear();
  if (value.typeId() != QMetaType::QString) {
    out = value.toString().toStdString();
    return;
  }
  const QString& text = *static_cast<const QString*>(value.constData());
  out.reserve(size_t(text.size()));
  for (QChar c : text) {
    if (c.unicode() >= 0x80) {
      out = text.toStdString();
      return;
    }
    out += char(c.unicode());
  }
}

RowWriter::RowWriter(QSqlDatabase db, Dialect dialect, const QString& table, const QStringList& columns)
    : db_(std::move(db)), table_(table), columns_(columns) {
  if (dialect == Dialect::PostgreSQL) batch_ = std::make_unique<BatchInsert>(db_, table, columns);
}

RowWriter::~RowWriter() {
  if (statement_) sqlite3_finalize(statement_);
}

void RowWriter::setBeforeWrite(std::function<Status()> hook) {
  if (batch_) batch_->setBeforeWrite(std::move(hook));
}

Status RowWriter::prepareSqlite() {
  auto handle = rawHandle(db_);
  if (!handle) return handle.error();
  QStringList marks;
  for (qsizetype i = 0; i < columns_.size(); ++i) marks << QStringLiteral("?");
  const QByteArray text =
      QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)").arg(table_, columns_.join(", "), marks.join(", ")).toUtf8();
  if (sqlite3_prepare_v2(*handle, text.constData(), int(text.size()), &statement_, nullptr) != SQLITE_OK)
    return internalError("erro ao preparar a gravação em " + table_.toStdString() + ": " + sqlite3_errmsg(*handle));
  return success();
}

Status RowWriter::add(const QVariantList& row) {
  if (batch_) return batch_->add(row);
  if (!statement_)
    if (auto prepared = prepareSqlite(); !prepared) return prepared;
  if (scratch_.size() < size_t(row.size())) scratch_.resize(size_t(row.size()));
  for (int i = 0; i < int(row.size()); ++i) {
    const QVariant& v = row[i];
    const int type = v.typeId();
    if (v.isNull()) {
      sqlite3_bind_null(statement_, i + 1);
    } else if (type == QMetaType::Double) {
      sqlite3_bind_double(statement_, i + 1, *static_cast<const double*>(v.constData()));
    } else if (type == QMetaType::Int || type == QMetaType::LongLong) {
      sqlite3_bind_int64(statement_, i + 1, v.toLongLong());
    } else {
      // bound from a text kept for the step: no copy of it by SQLite, none of the QString
      std::string& text = scratch_[size_t(i)];
      utf8Into(text, v);
      sqlite3_bind_text(statement_, i + 1, text.data(), int(text.size()), SQLITE_STATIC);
    }
  }
  const int stepped = sqlite3_step(statement_);
  sqlite3_reset(statement_);
  if (stepped != SQLITE_DONE) {
    const bool busy = stepped == SQLITE_BUSY || stepped == SQLITE_LOCKED;
    return Error{busy ? ErrorKind::Unavailable : ErrorKind::Internal,
                 "erro ao gravar em " + table_.toStdString() + ": " + sqlite3_errmsg(sqlite3_db_handle(statement_))};
  }
  return success();
}

Status RowWriter::flush() { return batch_ ? batch_->flush() : success(); }

}  // namespace qfx::server::sql
