// Rows appended to one table inside the caller's transaction, the fastest
// way each database takes them: on SQLite one prepared INSERT stepped on the
// connection's own handle (no Qt binding per value), on PostgreSQL COPY by
// way of BatchInsert. Rows reach the table in the order they were added.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/result.h"
#include "db/database.h"

struct sqlite3_stmt;

namespace qfx::server::sql {

class BatchInsert;

// A value's text as UTF-8 into `out` (its storage reused from row to row):
// the row writers' conversion, without a QByteArray for each plain ASCII text.
void utf8Into(std::string& out, const QVariant& value);

class RowWriter {
 public:
  RowWriter(QSqlDatabase db, Dialect dialect, const QString& table, const QStringList& columns);
  ~RowWriter();
  RowWriter(const RowWriter&) = delete;
  RowWriter& operator=(const RowWriter&) = delete;

  Status add(const QVariantList& row);
  // Writes what is pending (PostgreSQL); call before commit.
  Status flush();
  // Runs before PostgreSQL writes a batch: a child table flushes its parent here.
  void setBeforeWrite(std::function<Status()> hook);

 private:
  Status prepareSqlite();

  QSqlDatabase db_;
  QString table_;
  QStringList columns_;
  std::unique_ptr<BatchInsert> batch_;  // PostgreSQL
  sqlite3_stmt* statement_ = nullptr;   // SQLite
  std::vector<std::string> scratch_;    // SQLite: the texts of the row being stepped
};

}  // namespace qfx::server::sql
