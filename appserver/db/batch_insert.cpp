#include "db/batch_insert.h"

#include "db/sql.h"

namespace qfx::server::sql {

BatchInsert::BatchInsert(QSqlDatabase db, const QString& table, const QStringList& columns, int rowsPerStatement)
    : db_(std::move(db)), table_(table), columns_(columns), rowsPerStatement_(rowsPerStatement) {}

QString BatchInsert::statementFor(int rows) const {
  QStringList marks;
  for (int i = 0; i < columns_.size(); ++i) marks << QStringLiteral("?");
  const QString row = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
  QStringList values;
  for (int i = 0; i < rows; ++i) values << row;
  return QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
      .arg(table_, columns_.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
}

Status BatchInsert::add(const QVariantList& row) {
  if (row.size() != columns_.size())
    return internalError("linha com número errado de colunas para " + table_.toStdString());
  pending_ += row;
  if (pending_.size() >= rowsPerStatement_ * columns_.size()) return write(rowsPerStatement_);
  return success();
}

Status BatchInsert::flush() {
  const int rows = int(pending_.size() / columns_.size());
  if (rows == 0) return success();
  return write(rows);
}

Status BatchInsert::write(int rows) {
  if (beforeWrite_) {
    if (auto ready = beforeWrite_(); !ready) return ready;
  }
  QSqlQuery partial(db_);
  QSqlQuery* query = &partial;
  if (rows == rowsPerStatement_) {
    if (!full_) {
      full_.emplace(db_);
      if (!full_->prepare(statementFor(rows)))
        return toError(full_->lastError(), QStringLiteral("erro ao preparar a carga de ") + table_);
    }
    query = &*full_;
  } else if (!partial.prepare(statementFor(rows))) {
    return toError(partial.lastError(), QStringLiteral("erro ao preparar a carga de ") + table_);
  }
  for (int i = 0; i < pending_.size(); ++i) query->bindValue(i, pending_[i]);
  if (!query->exec()) return toError(query->lastError(), QStringLiteral("erro ao gravar em ") + table_);
  written_ += rows;
  pending_.clear();
  return success();
}

}  // namespace qfx::server::sql
