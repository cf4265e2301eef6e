// Bulk loading with bound values. On SQLite a multi-row INSERT carries many
// rows, so a million rows cost a few thousand statements instead of a
// million. On PostgreSQL the rows travel by COPY ... FROM STDIN (text
// format), a megabyte at a time: the server neither parses nor plans a
// statement per batch.
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <optional>
#include <string>

#include "common/result.h"

namespace qfx::server::sql {

class BatchInsert {
 public:
  BatchInsert(QSqlDatabase db, const QString& table, const QStringList& columns, int rowsPerStatement = 200);

  // Adds one row (as many values as columns); writes a full batch.
  Status add(const QVariantList& row);
  // Writes what is pending. Call before commit.
  Status flush();
  qint64 written() const { return written_; }
  // Runs before each write; a child table flushes its parent here so a
  // foreign key never sees a child before its parent.
  void setBeforeWrite(std::function<Status()> hook) { beforeWrite_ = std::move(hook); }

 private:
  QString statementFor(int rows) const;
  Status write(int rows);
  Status insertRows(int rows);
  Status copyRows();

  QSqlDatabase db_;
  QString table_;
  QStringList columns_;
  int rowsPerStatement_;
  bool copy_;             // PostgreSQL: the rows go by COPY
  QVariantList pending_;  // INSERT: the values of the rows not yet written
  std::string copyText_;  // COPY: the rows not yet written, as COPY's text
  int copyRows_ = 0;
  std::optional<QSqlQuery> full_;  // prepared once for full batches
  qint64 written_ = 0;
  std::function<Status()> beforeWrite_;
};

// One value as a field of COPY's text format: \N for null, and a backslash,
// tab, newline or carriage return escaped with a backslash.
void appendCopyField(std::string& out, const QVariant& value);

}  // namespace qfx::server::sql
