// A report query's rows, read one at a time as they come from the database
// and never held together: the report keeps what it prints and lets each
// row go. On SQLite the statement is stepped on the connection's own
// handle; elsewhere a forward-only QSqlQuery reads them inside a read-only
// transaction. Either way a field reads as the host's datasets read it:
// typed by the field's declared type (text, number, integer, date, boolean).
#pragma once

#include <QByteArrayView>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>

#include <hostkit/core/dataset.h>

namespace reportkit {

class QueryRows {
 public:
  virtual ~QueryRows() = default;

  // Runs one statement with ":NAME" parameters on the connection, each bound
  // from `values` by name (missing or null: SQL NULL). `name` prefixes the
  // error text ("rpddPadrao: ..."). An error value when it does not run.
  static hostkit::Result<std::unique_ptr<QueryRows>> open(const QSqlDatabase& db, const QString& sql,
                                                          const QMap<QString, QVariant>& values, const QString& name);

  const QStringList& fieldNames() const { return names_; }
  // The field of that name (any case); -1 when the query has none.
  int fieldIndex(const QString& name) const;

  // Steps to the next row: false at the end and on error (error() says).
  virtual bool next() = 0;
  const std::optional<QString>& error() const { return error_; }

  virtual bool isNull(int field) const = 0;
  // The value as the dataset holds it: QString, double, qlonglong, QDateTime
  // or bool by the field's type; null for NULL.
  QVariant value(int field) const;
  // The value as the dataset's text shows it; empty for NULL.
  QString text(int field) const;
  // The same text as UTF-8, valid until the next row; `buffer` holds it when
  // it had to be made.
  QByteArrayView textBytes(int field, QByteArray& buffer) const;

 protected:
  // The value as the database driver hands it (before the field's type).
  virtual QVariant raw(int field) const = 0;
  // A text field's UTF-8 as the database has it, when it has it so.
  virtual std::optional<QByteArrayView> rawText(int field) const = 0;

  QStringList names_;                      // upper-case
  std::vector<hostkit::FieldType> types_;  // per field
  std::optional<QString> error_;
};

// Stops the work under way on that connection from another thread
// (sqlite3_interrupt, PostgreSQL's cancel request): the query fails at once
// instead of at its next row. Empty for other databases.
std::function<void()> databaseInterrupter(const QSqlDatabase& db);

}  // namespace reportkit
