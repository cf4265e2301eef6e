#include "db/query_rows.h"

#include <QSqlRecord>

#include "db/sql.h"

namespace qfx::server::sql {

Result<std::unique_ptr<QueryRows>> QueryRows::run(QSqlDatabase& db, const std::string& text,
                                                  const std::vector<std::optional<std::string>>& values) {
  QVariantList bound;
  for (const auto& value : values) bound << (value ? QVariant(QString::fromStdString(*value)) : nullText());
  auto query = sql::run(db, QString::fromStdString(text), bound);
  if (!query) return query.error();
  return std::unique_ptr<QueryRows>(new QueryRows(std::move(*query)));
}

Result<bool> QueryRows::next() {
  texts_.assign(size_t(query_.record().count()), std::nullopt);
  if (query_.next()) return true;
  if (query_.lastError().isValid()) return toError(query_.lastError(), QStringLiteral("erro ao ler as linhas"));
  return false;
}

bool QueryRows::isNull(int column) const { return query_.value(column).isNull(); }

std::string_view QueryRows::text(int column) const {
  auto& text = texts_[size_t(column)];
  if (!text) text = query_.value(column).toString().toStdString();
  return *text;
}

double QueryRows::number(int column) const { return query_.value(column).toDouble(); }

QVariant QueryRows::value(int column) const { return query_.value(column); }

int64_t QueryRows::changes() const { return query_.numRowsAffected(); }

}  // namespace qfx::server::sql
