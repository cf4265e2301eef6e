// SQL lookups on the host's shared database.
//
// A query keeps one text per database kind (generic, Oracle, SQL Server,
// InterBase) and runs the one of the connected kind; SQLite and PostgreSQL run
// the generic text verbatim (the connection registers NVL on SQLite, the
// schema installs it on PostgreSQL). Parameters are named (":P_CDFILIAL"),
// may be null, and always reach the database as bound values.
#pragma once

#include <QMap>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>
#include <functional>

#include "dataset.h"
#include "result.h"

namespace hostkit {

enum class DatabaseKind { Generic, Oracle, SQLServer, InterBase };

// The host's shared database connection.
struct DatabaseSettings {
  DatabaseSettings(QString url, QString password = {}) : url(std::move(url)), password(std::move(password)) {}
  // "sqlite:/path/file.db" or "postgresql://user@host:port/name[?sslmode=require&...]"
  QString url;
  // PostgreSQL: from an owner-only file; empty: libpq's own (~/.pgpass, PGPASSWORD)
  QString password = {};
};
// Opens (or reopens) the host's connection; the readable message on failure. The
// host only reads: a SQLite file is opened read-only (it must exist), and a
// PostgreSQL session starts every transaction read-only.
Status openHostDatabase(const DatabaseSettings& settings);
QSqlDatabase hostDatabase();
// The Qt connection name of the host's database, open or not.
QString hostConnectionName();
void closeHostDatabase();
// Registers NVL (and NVLSTR) on a SQLite connection opened through Qt.
bool registerSqliteFunctions(QSqlDatabase& db);
enum class DatabaseAccess { ReadWrite, ReadOnly };
// Opens a Qt connection named `connectionName` from a URL like the above.
// A URL carrying a password is refused (it would sit in settings files and
// process lists); the query's libpq options (sslmode, sslrootcert,
// connect_timeout, ...) reach the connection, and libpq refuses one it does
// not know by name.
Status openDatabaseUrl(const QString& url, const QString& connectionName,
                       DatabaseAccess access = DatabaseAccess::ReadWrite, const QString& password = {});

// BEGIN; SET TRANSACTION READ ONLY ... ROLLBACK around one query on
// PostgreSQL; nothing on SQLite, whose host connection is read-only itself.
class ReadOnlyTransaction {
 public:
  explicit ReadOnlyTransaction(QSqlDatabase db) : db_(std::move(db)) {}
  ~ReadOnlyTransaction();
  ReadOnlyTransaction(const ReadOnlyTransaction&) = delete;
  ReadOnlyTransaction& operator=(const ReadOnlyTransaction&) = delete;

  Status begin();

 private:
  QSqlDatabase db_;
  bool open_ = false;
};

class TParam {
 public:
  QString Name;
  QVariant Value;  // invalid or null: SQL NULL
  void SetAsString(const QString& v) { Value = v; }
  void SetAsDate(double v);
  void SetAsDateTime(double v) { SetAsDate(v); }
  void Clear() { Value = QVariant(); }
  bool IsNull() const { return !Value.isValid() || Value.isNull(); }
};

class TADOIBQuery : public TDataSet {
  Q_OBJECT
 public:
  explicit TADOIBQuery(QObject* parent = nullptr, const QString& name = {});

  // Query texts; the lines are joined with line breaks.
  void SetSQL(const QStringList& lines) { setText(DatabaseKind::Generic, lines); }
  void setText(DatabaseKind kind, const QStringList& lines);
  QString text(DatabaseKind kind) const;
  QStringList paramNames() const;  // in order of first appearance

  // The columns a search over this query shows, in this order: title and
  // width in characters. Every other column stays hidden (and readable).
  struct ShownColumn {
    QString field;
    QString label;
    int width = 0;
  };
  void SetShownColumns(const QList<ShownColumn>& columns) { shown_ = columns; }

  TParam& ParamByName(const QString& name);
  bool hasParam(const QString& name) const;

  // Opens: runs the text of the connected database kind and loads its rows.
  // Throws EDatabaseError with a readable message on failure.
  void Open() override;
  // Same, the readable message as a value.
  Status tryOpen();
  // Runs the text inside a read-only transaction where the database has
  // them (PostgreSQL), rolled back once the rows are read: a text that tries
  // to write fails there instead of writing.
  void SetReadOnlyTransaction(bool on) { readOnlyTransaction_ = on; }
  TDataSet* Query() { return this; }
  // Called while the rows are read, every few thousand rows and at the end,
  // with the count so far; returning false stops the reading (an error).
  std::function<bool(qint64 rowsRead)> OnRowsRead;

  // Which text runs on `db`.
  static DatabaseKind kindOf(const QSqlDatabase& db);
  void setDatabase(const QString& connectionName) { connection_ = connectionName; }

 private:
  QMap<DatabaseKind, QString> texts_;
  QMap<QString, TParam> params_;  // upper-case name
  QList<ShownColumn> shown_;
  void applyShownColumns();
  QString connection_;
  bool readOnlyTransaction_ = false;
};

// Splits a statement with ":NAME" parameters into one with "?" placeholders
// and the ordered list of names (a name used twice appears twice). Quoted
// text and "::" casts are left alone.
struct PositionalSql {
  QString sql;
  QStringList names;
};
PositionalSql toPositional(const QString& sql);

}  // namespace hostkit
