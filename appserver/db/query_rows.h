// A query's rows through QSqlQuery, each cell as Qt gives it: the reader for a
// driver the C-library readers do not serve, and the reference the tests hold
// those readers to (RowReader::Qt).
#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/rows.h"

namespace qfx::server::sql {

class QueryRows : public Rows {
 public:
  // Runs `text` with `values` bound as texts (none: a null text).
  static Result<std::unique_ptr<QueryRows>> run(QSqlDatabase& db, const std::string& text,
                                                const std::vector<std::optional<std::string>>& values);

  Result<bool> next() override;
  bool isNull(int column) const override;
  std::string_view text(int column) const override;
  double number(int column) const override;
  // exactly as QSqlQuery::value() gives it (on PostgreSQL a date is a QDate)
  QVariant value(int column) const override;
  int64_t changes() const override;

 private:
  explicit QueryRows(QSqlQuery query) : query_(std::move(query)) {}
  QSqlQuery query_;
  mutable std::vector<std::optional<std::string>> texts_;  // the current row's texts, made when asked for
};

}  // namespace qfx::server::sql
