#include "query.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUrlQuery>

#include "abort.h"

namespace hostkit {

static const char* kHostConnection = "qfx_host";

// ---- SQLite functions ---------------------------------------------------------

static void sqliteNvl(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 2) return sqlite3_result_null(ctx);
  sqlite3_result_value(ctx, sqlite3_value_type(argv[0]) == SQLITE_NULL ? argv[1] : argv[0]);
}

// SQLite's own UPPER folds ASCII only; names with accents must compare
// ignoring case as well ("joão" and "JOÃO").
static void sqliteUpper(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc != 1 || sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const QByteArray upper = QString::fromUtf8(text, sqlite3_value_bytes(argv[0])).toUpper().toUtf8();
  sqlite3_result_text(ctx, upper.constData(), int(upper.size()), SQLITE_TRANSIENT);
}

bool registerSqliteFunctions(QSqlDatabase& db) {
  const QVariant handle = db.driver()->handle();
  if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0) return false;
  auto* sqlite = *static_cast<sqlite3* const*>(handle.data());
  if (!sqlite) return false;
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  return sqlite3_create_function(sqlite, "NVL", 2, flags, nullptr, sqliteNvl, nullptr, nullptr) == SQLITE_OK &&
         sqlite3_create_function(sqlite, "NVLSTR", 2, flags, nullptr, sqliteNvl, nullptr, nullptr) == SQLITE_OK &&
         sqlite3_create_function(sqlite, "UPPER", 1, flags, nullptr, sqliteUpper, nullptr, nullptr) == SQLITE_OK;
}

// Every later transaction of the session starts read-only; a statement
// that writes fails with "cannot execute ... in a read-only transaction".
static Status makeSessionReadOnly(QSqlDatabase& db) {
  QSqlQuery q(db);
  if (q.exec(QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"))) return success();
  return Status::failure(
      QStringLiteral("Não foi possível tornar a conexão somente leitura: %1").arg(q.lastError().text()));
}

// The libpq options of the URL's query as Qt's driver takes them
// ("sslmode=require;connect_timeout=5"), or why one cannot be taken.
static Result<QString> connectOptionsOf(const QUrl& url) {
  static const QStringList inTheAddress = {QStringLiteral("host"), QStringLiteral("hostaddr"), QStringLiteral("port"),
                                           QStringLiteral("user"), QStringLiteral("dbname")};
  const QUrlQuery query(url);
  QStringList parts;
  for (const auto& [key, value] : query.queryItems(QUrl::FullyDecoded)) {
    if (key == QLatin1String("password"))
      return Result<QString>::failure(QStringLiteral(
          "A senha do banco não vai no endereço: use --db-password-file (arquivo só do dono) ou ~/.pgpass."));
    if (inTheAddress.contains(key))
      return Result<QString>::failure(
          QStringLiteral("A opção %1 do endereço do banco vai na sua própria parte (usuario@host:porta/banco).")
              .arg(key));
    // one connection string holds them all: plain words only
    const auto plain = [](const QString& text) {
      return !text.isEmpty() && !text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('=')) &&
             !text.contains(QLatin1Char(' ')) && !text.contains(QLatin1Char('\''));
    };
    if (!plain(key) || !plain(value))
      return Result<QString>::failure(QStringLiteral("Opção de conexão inválida no endereço do banco: %1").arg(key));
    parts << key + QLatin1Char('=') + value;
  }
  if (!query.hasQueryItem(QStringLiteral("connect_timeout"))) parts << QStringLiteral("connect_timeout=10");
  // names the host in pg_stat_activity
  if (!query.hasQueryItem(QStringLiteral("application_name"))) parts << QStringLiteral("application_name=qfxhost");
  return parts.join(QLatin1Char(';'));
}

Status openDatabaseUrl(const QString& url, const QString& connectionName, DatabaseAccess access,
                       const QString& password) {
  if (QSqlDatabase::contains(connectionName)) QSqlDatabase::removeDatabase(connectionName);
  const bool readOnly = access == DatabaseAccess::ReadOnly;
  if (url.startsWith(QLatin1String("sqlite:"))) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    db.setDatabaseName(url.mid(7));
    // read-only: SQLite refuses every write, PRAGMA and ATTACH of a new file alike
    db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY")
                                  : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
      return Status::failure(
          QStringLiteral("Não foi possível abrir o banco %1: %2").arg(url.mid(7), db.lastError().text()));
    if (!registerSqliteFunctions(db))
      return Status::failure(QStringLiteral("Não foi possível registrar NVL no SQLite."));
    return success();
  }
  const QUrl u(url);
  if (u.scheme() != QLatin1String("postgresql") && u.scheme() != QLatin1String("postgres"))
    return Status::failure(
        QStringLiteral("Endereço de banco de dados não reconhecido: %1").arg(u.toDisplayString(QUrl::RemovePassword)));
  if (!u.password().isEmpty())
    return Status::failure(
        QStringLiteral(
            "O endereço do banco %1 traz a senha: tire-a de lá e use --db-password-file (arquivo só do dono) ou "
            "~/.pgpass.")
            .arg(u.toDisplayString(QUrl::RemovePassword)));
  const Result<QString> options = connectOptionsOf(u);
  if (!options.ok()) return Status::failure(options.error());
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
  db.setHostName(u.host());
  db.setPort(u.port(5432));
  db.setUserName(u.userName());
  db.setPassword(password);
  db.setDatabaseName(u.path().mid(1));
  db.setConnectOptions(*options);
  if (!db.open())
    return Status::failure(QStringLiteral("Não foi possível conectar ao banco %1: %2")
                               .arg(u.toDisplayString(QUrl::RemovePassword), db.lastError().text()));
  if (readOnly) return makeSessionReadOnly(db);
  return success();
}

Status openHostDatabase(const DatabaseSettings& settings) {
  return openDatabaseUrl(settings.url, QString::fromLatin1(kHostConnection), DatabaseAccess::ReadOnly,
                         settings.password);
}

QString hostConnectionName() { return QString::fromLatin1(kHostConnection); }

QSqlDatabase hostDatabase() { return QSqlDatabase::database(QString::fromLatin1(kHostConnection), false); }

void closeHostDatabase() {
  {
    QSqlDatabase db = hostDatabase();
    if (db.isValid()) db.close();
  }
  QSqlDatabase::removeDatabase(QString::fromLatin1(kHostConnection));
}

// ---- parameters -----------------------------------------------------------------

void TParam::SetAsDate(double v) { Value = fromDateTime(v); }

PositionalSql toPositional(const QString& sql) {
  PositionalSql out;
  QChar quote;
  for (qsizetype i = 0; i < sql.size(); ++i) {
    const QChar c = sql[i];
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      out.sql += c;
      continue;
    }
    if (c == u'\'' || c == u'"') {
      quote = c;
      out.sql += c;
      continue;
    }
    if (c == u':' && i + 1 < sql.size() && sql[i + 1] == u':') {
      out.sql += QStringLiteral("::");
      ++i;
      continue;
    }
    if (c == u':' && i + 1 < sql.size() && (sql[i + 1].isLetter() || sql[i + 1] == u'_')) {
      qsizetype j = i + 1;
      while (j < sql.size() && (sql[j].isLetterOrNumber() || sql[j] == u'_')) ++j;
      out.names << sql.mid(i + 1, j - i - 1).toUpper();
      out.sql += u'?';
      i = j - 1;
      continue;
    }
    out.sql += c;
  }
  return out;
}

// ---- TADOIBQuery -----------------------------------------------------------------

TADOIBQuery::TADOIBQuery(QObject* parent, const QString& name)
    : TDataSet(parent, name), connection_(QString::fromLatin1(kHostConnection)) {}

void TADOIBQuery::setText(DatabaseKind kind, const QStringList& lines) {
  texts_[kind] = lines.join(u'\n');
  for (const auto& n : toPositional(texts_[kind]).names)
    if (!params_.contains(n)) params_.insert(n, TParam{n, QVariant()});
}

QString TADOIBQuery::text(DatabaseKind kind) const {
  return texts_.contains(kind) ? texts_.value(kind) : texts_.value(DatabaseKind::Generic);
}

QStringList TADOIBQuery::paramNames() const { return toPositional(text(DatabaseKind::Generic)).names; }

bool TADOIBQuery::hasParam(const QString& name) const { return params_.contains(name.toUpper()); }

TParam& TADOIBQuery::ParamByName(const QString& name) {
  auto it = params_.find(name.toUpper());
  if (it == params_.end())
    throw EDatabaseError(QStringLiteral("%1: parâmetro '%2' não encontrado.").arg(objectName(), name));
  return it.value();
}

DatabaseKind TADOIBQuery::kindOf(const QSqlDatabase& db) {
  const QString driver = db.driverName();
  if (driver == QLatin1String("QOCI")) return DatabaseKind::Oracle;
  if (driver == QLatin1String("QODBC") || driver == QLatin1String("QTDS")) return DatabaseKind::SQLServer;
  if (driver == QLatin1String("QIBASE")) return DatabaseKind::InterBase;
  return DatabaseKind::Generic;
}

static packet::FieldType fieldTypeOf(QMetaType type) {
  switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
      return packet::FieldType::Integer;
    case QMetaType::Double:
    case QMetaType::Float:
      return packet::FieldType::Float;
    case QMetaType::QDate:
    case QMetaType::QDateTime:
      return packet::FieldType::DateTime;
    case QMetaType::Bool:
      return packet::FieldType::Boolean;
    default:
      return packet::FieldType::Text;
  }
}

static void appendCell(packet::Column& c, const QVariant& v) {
  if (!v.isValid() || v.isNull()) return c.appendNull();
  switch (c.type()) {
    case packet::FieldType::Text:
      c.appendText(v.toString().toStdString());
      break;
    case packet::FieldType::DateTime:
      c.appendNumber(v.typeId() == QMetaType::QDate ? toDateTime(v.toDate()) : toDateTime(v.toDateTime()));
      break;
    case packet::FieldType::Float:
      c.appendNumber(v.toDouble());
      break;
    case packet::FieldType::Integer:
      c.appendInteger(v.toLongLong());
      break;
    case packet::FieldType::Boolean:
      c.appendBoolean(v.toBool());
      break;
  }
}

ReadOnlyTransaction::~ReadOnlyTransaction() {
  if (open_) db_.rollback();
}

Status ReadOnlyTransaction::begin() {
  if (db_.driverName() != QLatin1String("QPSQL")) return success();
  if (!db_.transaction()) return Status::failure(db_.lastError().text());
  open_ = true;
  QSqlQuery q(db_);
  if (!q.exec(QStringLiteral("SET TRANSACTION READ ONLY"))) return Status::failure(q.lastError().text());
  return success();
}

Status TADOIBQuery::tryOpen() {
  if (Active()) return success();
  if (BeforeOpen) BeforeOpen(*this);
  QSqlDatabase db = QSqlDatabase::database(connection_, false);
  const auto failed = [this](const QString& why) {
    return Status::failure(QStringLiteral("%1: %2").arg(objectName(), why));
  };
  if (!db.isValid() || !db.isOpen()) return failed(QStringLiteral("banco de dados não conectado."));
  const PositionalSql statement = toPositional(text(kindOf(db)));
  // the query outlives the transaction: its prepared statement is freed
  // after the rollback, not inside a transaction a failed text has aborted
  QSqlQuery q(db);
  q.setForwardOnly(true);
  ReadOnlyTransaction transaction(db);
  if (readOnlyTransaction_)
    if (const Status begun = transaction.begin(); !begun.ok()) return failed(begun.error());
  if (!q.prepare(statement.sql)) return failed(q.lastError().text());
  for (const auto& name : statement.names) {
    const TParam& p = params_.value(name);
    q.addBindValue(p.IsNull() ? QVariant(QMetaType(QMetaType::QString)) : p.Value);
  }
  if (!q.exec()) return failed(q.lastError().text());

  const QSqlRecord record = q.record();
  std::vector<packet::FieldDef> defs;
  for (int i = 0; i < record.count(); ++i) {
    auto type = fieldTypeOf(record.field(i).metaType());
    if (const TField* fixed = FindField(record.fieldName(i))) type = fixed->DataType();
    defs.push_back(packet::FieldDef{record.fieldName(i).toUpper().toStdString(), type, 0});
  }
  packet::Packet data(std::move(defs));
  constexpr qint64 kProgressEvery = 4096;
  qint64 rows = 0;
  while (q.next()) {
    for (int i = 0; i < record.count(); ++i) appendCell(data.columns[size_t(i)], q.value(i));
    if (++rows % kProgressEvery == 0 && OnRowsRead && !OnRowsRead(rows))
      return failed(QStringLiteral("leitura interrompida."));
  }
  // a failure while stepping (an interrupt, a lost connection) ends the rows
  // early: the rows read so far are no result
  if (q.lastError().isValid()) return failed(q.lastError().text());
  if (OnRowsRead && !OnRowsRead(rows)) return failed(QStringLiteral("leitura interrompida."));
  Status loaded = LoadPacket(std::move(data));
  if (loaded.ok()) applyShownColumns();
  return loaded;
}

void TADOIBQuery::applyShownColumns() {
  if (shown_.isEmpty()) return;
  for (int i = 0; i < FieldCount(); ++i) Fields(i)->SetVisible(false);
  for (const ShownColumn& c : shown_) {
    TField* field = FindField(c.field);
    if (!field) continue;
    field->SetVisible(true);
    field->SetDisplayLabel(c.label);
    field->SetDisplayWidth(c.width);
  }
}

void TADOIBQuery::Open() {
  if (const Status opened = tryOpen(); !opened.ok()) throw EDatabaseError(opened.error());
}

}  // namespace hostkit
