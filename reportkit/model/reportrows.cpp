#include "reportrows.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

#include <hostkit/core/query.h>
#include <hostkit/core/routines.h>

namespace reportkit {

using namespace hostkit;

namespace {

// The dataset's type of a field of that Qt type.
FieldType fieldTypeOf(QMetaType type) {
  switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return FieldType::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
      return FieldType::Float;
    case QMetaType::QDate:
    case QMetaType::QDateTime:
      return FieldType::DateTime;
    case QMetaType::Bool:
      return FieldType::Boolean;
    default:
      return FieldType::Text;
  }
}

// ---- through Qt's driver ----

class QtRows final : public QueryRows {
 public:
  // the query outlives the transaction: its prepared statement is freed
  // after the rollback, not inside a transaction a failed text has aborted
  QtRows(const QSqlDatabase& db, const QString& name) : name_(name), query_(db), transaction_(db) {}

  Status run(const PositionalSql& statement, const QMap<QString, QVariant>& values) {
    query_.setForwardOnly(true);
    if (Status begun = transaction_.begin(); !begun.ok()) return begun;
    if (!query_.prepare(statement.sql)) return Status::failure(query_.lastError().text());
    for (const QString& name : statement.names) {
      const QVariant value = values.value(name);
      query_.addBindValue(value.isNull() ? QVariant(QMetaType(QMetaType::QString)) : value);
    }
    if (!query_.exec()) return Status::failure(query_.lastError().text());
    const QSqlRecord record = query_.record();
    for (int i = 0; i < record.count(); ++i) {
      names_ << record.fieldName(i).toUpper();
      types_.push_back(fieldTypeOf(record.field(i).metaType()));
    }
    return success();
  }

  bool next() override {
    if (query_.next()) return true;
    // a failure while stepping (an interrupt, a lost connection) ends the
    // rows early: the rows read so far are no result
    if (query_.lastError().isValid()) error_ = QStringLiteral("%1: %2").arg(name_, query_.lastError().text());
    return false;
  }
  bool isNull(int field) const override { return query_.isNull(field); }

 protected:
  QVariant raw(int field) const override { return query_.value(field); }
  std::optional<QByteArrayView> rawText(int) const override { return std::nullopt; }

 private:
  QString name_;
  QSqlQuery query_;
  ReadOnlyTransaction transaction_;
};

// ---- straight from SQLite ----

// Qt's SQLite driver types a field by its declared type, or by the first
// row's value when it has none (an expression); the same here.
QMetaType::Type declaredType(const char* declared) {
  const QString type = QString::fromUtf8(declared).toLower();
  if (type == QLatin1String("integer") || type == QLatin1String("int")) return QMetaType::Int;
  if (type == QLatin1String("double") || type == QLatin1String("float") || type == QLatin1String("real") ||
      type.startsWith(QLatin1String("numeric")))
    return QMetaType::Double;
  if (type == QLatin1String("blob")) return QMetaType::QByteArray;
  if (type == QLatin1String("boolean") || type == QLatin1String("bool")) return QMetaType::Bool;
  return QMetaType::QString;
}

QMetaType::Type storedType(int storage) {
  switch (storage) {
    case SQLITE_INTEGER:
      return QMetaType::Int;
    case SQLITE_FLOAT:
      return QMetaType::Double;
    case SQLITE_BLOB:
      return QMetaType::QByteArray;
    case SQLITE_TEXT:
      return QMetaType::QString;
    default:
      return QMetaType::UnknownType;
  }
}

class SqliteRows final : public QueryRows {
 public:
  SqliteRows(sqlite3* db, const QString& name) : db_(db), name_(name) {}
  ~SqliteRows() override { sqlite3_finalize(statement_); }

  Status run(const PositionalSql& statement, const QMap<QString, QVariant>& values) {
    const QByteArray sql = statement.sql.toUtf8();
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(db_, sql.constData(), int(sql.size()), &statement_, &tail) != SQLITE_OK)
      return Status::failure(lastError());
    if (tail && !QByteArrayView(tail).trimmed().isEmpty())
      return Status::failure(QStringLiteral("Unable to execute multiple statements at a time"));
    if (!statement_) return Status::failure(QStringLiteral("a consulta está vazia"));
    // a report only reads, whatever its text says
    if (!sqlite3_stmt_readonly(statement_))
      return Status::failure(QStringLiteral("a consulta alteraria o banco de dados"));
    for (int i = 0; i < int(statement.names.size()); ++i)
      if (Status bound = bind(i + 1, values.value(statement.names[i])); !bound.ok()) return bound;
    // stepped once before the fields are known, as Qt's driver does: a
    // field without declared type takes the type of its first value
    firstRow_ = step();
    if (error_) return Status::failure(*error_);
    const int fields = sqlite3_column_count(statement_);
    for (int i = 0; i < fields; ++i) {
      names_ << QString::fromUtf8(sqlite3_column_name(statement_, i)).remove(u'"').toUpper();
      const char* declared = sqlite3_column_decltype(statement_, i);
      const QMetaType::Type type = declared && *declared ? declaredType(declared)
                                   : *firstRow_          ? storedType(sqlite3_column_type(statement_, i))
                                                         : QMetaType::UnknownType;
      types_.push_back(fieldTypeOf(QMetaType(type)));
    }
    return success();
  }

  bool next() override {
    if (firstRow_) return *std::exchange(firstRow_, std::nullopt);
    return step();
  }
  bool isNull(int field) const override { return sqlite3_column_type(statement_, field) == SQLITE_NULL; }

 protected:
  QVariant raw(int field) const override {
    switch (sqlite3_column_type(statement_, field)) {
      case SQLITE_INTEGER:
        return qlonglong(sqlite3_column_int64(statement_, field));
      case SQLITE_FLOAT:
        return sqlite3_column_double(statement_, field);
      case SQLITE_NULL:
        return QVariant(QMetaType(QMetaType::QString));
      case SQLITE_BLOB:
        return QByteArray(static_cast<const char*>(sqlite3_column_blob(statement_, field)),
                          sqlite3_column_bytes(statement_, field));
      default:
        return QString::fromUtf8(*rawText(field));
    }
  }
  std::optional<QByteArrayView> rawText(int field) const override {
    if (sqlite3_column_type(statement_, field) != SQLITE_TEXT) return std::nullopt;
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, field));
    return QByteArrayView(text, sqlite3_column_bytes(statement_, field));
  }

 private:
  QString lastError() const { return QString::fromUtf8(sqlite3_errmsg(db_)); }

  Status bind(int index, const QVariant& value) {
    int rc = SQLITE_OK;
    if (value.isNull()) {
      rc = sqlite3_bind_null(statement_, index);
    } else {
      switch (value.typeId()) {
        case QMetaType::Double:
        case QMetaType::Float:
          rc = sqlite3_bind_double(statement_, index, value.toDouble());
          break;
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Bool:
          rc = sqlite3_bind_int64(statement_, index, value.toLongLong());
          break;
        default: {
          const QByteArray text = value.toString().toUtf8();
          rc = sqlite3_bind_text(statement_, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
      }
    }
    if (rc != SQLITE_OK) return Status::failure(lastError());
    return success();
  }

  bool step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) error_ = QStringLiteral("%1: %2").arg(name_, lastError());
    return false;
  }

  sqlite3* db_;
  QString name_;
  sqlite3_stmt* statement_ = nullptr;
  std::optional<bool> firstRow_;  // stepped, not yet handed out
};

// The driver's connection handle (sqlite3*, PGconn*).
void* driverHandle(const QSqlDatabase& db) {
  if (!db.isValid() || !db.driver()) return nullptr;
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid()) return nullptr;
  return *static_cast<void* const*>(handle.constData());
}

sqlite3* sqliteHandle(const QSqlDatabase& db) {
  if (db.driverName() != QLatin1String("QSQLITE")) return nullptr;
  return static_cast<sqlite3*>(driverHandle(db));
}

}  // namespace

std::function<void()> databaseInterrupter(const QSqlDatabase& db) {
  if (sqlite3* handle = sqliteHandle(db)) return [handle] { sqlite3_interrupt(handle); };
  if (db.driverName() != QLatin1String("QPSQL")) return {};
  auto* handle = static_cast<PGconn*>(driverHandle(db));
  if (!handle) return {};
  return [handle] {
    if (PGcancel* request = PQgetCancel(handle)) {
      char reason[256];
      PQcancel(request, reason, sizeof reason);  // a failed request only means the query runs to its end
      PQfreeCancel(request);
    }
  };
}

Result<std::unique_ptr<QueryRows>> QueryRows::open(const QSqlDatabase& db, const QString& sql,
                                                   const QMap<QString, QVariant>& values, const QString& name) {
  using Opened = Result<std::unique_ptr<QueryRows>>;
  if (!db.isValid() || !db.isOpen())
    return Opened::failure(QStringLiteral("%1: banco de dados não conectado.").arg(name));
  const PositionalSql statement = toPositional(sql);
  Status failed = success();
  std::unique_ptr<QueryRows> rows;
  if (sqlite3* handle = sqliteHandle(db)) {
    auto sqlite = std::make_unique<SqliteRows>(handle, name);
    failed = sqlite->run(statement, values);
    rows = std::move(sqlite);
  } else {
    auto qt = std::make_unique<QtRows>(db, name);
    failed = qt->run(statement, values);
    rows = std::move(qt);
  }
  if (failed.ok()) return rows;
  const QString& why = failed.error();
  return Opened::failure(why.startsWith(name + QStringLiteral(": ")) ? why : QStringLiteral("%1: %2").arg(name, why));
}

int QueryRows::fieldIndex(const QString& name) const { return int(names_.indexOf(name.toUpper())); }

QVariant QueryRows::value(int field) const {
  if (isNull(field)) return {};
  const QVariant v = raw(field);
  switch (types_[size_t(field)]) {
    case FieldType::Text:
      return v.toString();
    case FieldType::DateTime: {
      const double days = v.typeId() == QMetaType::QDate ? toDateTime(v.toDate()) : toDateTime(v.toDateTime());
      const QDateTime moment = fromDateTime(days);
      return moment.isValid() ? QVariant(moment) : QVariant();  // no date: read as null
    }
    case FieldType::Float:
      return v.toDouble();
    case FieldType::Integer:
      return v.toLongLong();
    case FieldType::Boolean:
      return v.toBool();
  }
  return {};
}

QString QueryRows::text(int field) const {
  if (isNull(field)) return {};
  if (types_[size_t(field)] == FieldType::Text)
    if (const auto bytes = rawText(field)) return QString::fromUtf8(*bytes);
  return valueText(value(field), types_[size_t(field)]);
}

QByteArrayView QueryRows::textBytes(int field, QByteArray& buffer) const {
  if (types_[size_t(field)] == FieldType::Text && !isNull(field))
    if (const auto bytes = rawText(field)) return *bytes;
  buffer = text(field).toUtf8();
  return buffer;
}

}  // namespace reportkit
