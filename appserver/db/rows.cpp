#include "db/rows.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>

#include "db/postgres_rows.h"
#include "db/sql.h"
#include "db/sqlite_rows.h"

namespace qfx::server::sql {

namespace {

// A query's rows through QSqlQuery, each cell as Qt gives it (value() exactly
// as QSqlQuery::value(): on PostgreSQL a date is a QDate): the reader for a
// driver the C-library readers do not serve, and the reference the tests
// hold those readers to.
class QueryRows : public Rows {
 public:
  explicit QueryRows(QSqlQuery query) : query_(std::move(query)) {}

  Result<bool> next() override {
    texts_.assign(size_t(query_.record().count()), std::nullopt);
    if (query_.next()) return true;
    if (query_.lastError().isValid()) return toError(query_.lastError(), QStringLiteral("erro ao ler as linhas"));
    return false;
  }
  bool isNull(int column) const override { return query_.value(column).isNull(); }
  std::string_view text(int column) const override {
    auto& text = texts_[size_t(column)];
    if (!text) text = query_.value(column).toString().toStdString();
    return *text;
  }
  double number(int column) const override { return query_.value(column).toDouble(); }
  QVariant value(int column) const override { return query_.value(column); }
  int64_t changes() const override { return query_.numRowsAffected(); }

 private:
  QSqlQuery query_;
  mutable std::vector<std::optional<std::string>> texts_;  // the current row's texts, made when asked for
};

Result<std::unique_ptr<Rows>> queryRows(QSqlDatabase& db, const std::string& text,
                                        const std::vector<std::optional<std::string>>& values) {
  QVariantList bound;
  for (const auto& value : values) bound << (value ? QVariant(QString::fromStdString(*value)) : nullText());
  auto query = run(db, QString::fromStdString(text), bound);
  if (!query) return query.error();
  return std::unique_ptr<Rows>(std::make_unique<QueryRows>(std::move(*query)));
}

}  // namespace

bool readsCells(const QSqlDatabase& db) {
  return isSqlite(db) || (db.driver() && db.driver()->dbmsType() == QSqlDriver::PostgreSQL);
}

Result<std::unique_ptr<Rows>> openRows(QSqlDatabase& db, const std::string& text,
                                       const std::vector<std::optional<std::string>>& values, Reuse reuse,
                                       RowReader reader, Delivery delivery) {
  if (reader == RowReader::Qt || !readsCells(db)) return queryRows(db, text, values);
  if (isSqlite(db)) {
    auto rows = SqliteRows::run(db, text, values, reuse);
    if (!rows) return rows.error();
    return std::unique_ptr<Rows>(std::make_unique<SqliteRows>(std::move(*rows)));
  }
  auto rows = PostgresRows::run(db, text, values, reuse, delivery);
  if (!rows) return rows.error();
  return std::unique_ptr<Rows>(std::move(*rows));
}

Result<std::unique_ptr<Rows>> openRows(QSqlDatabase& db, const QString& text, const QVariantList& values) {
  std::vector<std::optional<std::string>> texts;
  texts.reserve(size_t(values.size()));
  for (const QVariant& v : values)
    texts.push_back(v.isNull() ? std::nullopt : std::optional<std::string>(v.toString().toStdString()));
  return openRows(db, text.toStdString(), texts);
}

}  // namespace qfx::server::sql
