// The import's registrations: a row inserted or updated by its key, left
// alone when it equals the stored one.

#include "domain/importer_state.h"

#include <QSqlQuery>
#include <QVariant>
#include <cstring>

#include "db/sql.h"

namespace qfx::server {

namespace {

using importing::joinKey;
using importing::Kind;
using importing::Row;
using importing::sameValue;

QString placeholders(size_t n) {
  QString text;
  for (size_t i = 0; i < n; ++i) text += i ? QStringLiteral(", ?") : QStringLiteral("?");
  return text;
}

QString keyCondition(const Kind& kind) {
  QString where;
  for (const auto& c : kind.columns)
    if (c.key) where += (where.isEmpty() ? QString() : QStringLiteral(" AND ")) + QLatin1String(c.name) + " = ?";
  return where;
}

}  // namespace

Result<std::optional<std::vector<QVariant>>> Importer::State::stored(const Row& row) {
  QStringList columns;
  QVariantList keys;
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (present(int(c))) columns << QLatin1String(kind->columns[c].name);
    if (kind->columns[c].key) keys << row.values[c];
  }
  auto q = sql::run(db,
                    QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                        .arg(columns.join(", "), QLatin1String(kind->table), keyCondition(*kind)),
                    keys);
  if (!q) return q.error();
  if (!q->next()) return std::optional<std::vector<QVariant>>();
  std::vector<QVariant> values(kind->columns.size());
  int at = 0;
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (present(int(c))) values[c] = q->value(at++);
  return std::optional<std::vector<QVariant>>(std::move(values));
}

Status Importer::State::insert(const Row& row) {
  QStringList columns;
  QVariantList values;
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (!present(int(c))) continue;
    columns << QLatin1String(kind->columns[c].name);
    values << row.values[c];
  }
  auto q = sql::run(db,
                    QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                        .arg(QLatin1String(kind->table), columns.join(", "), placeholders(size_t(columns.size()))),
                    values);
  if (!q) return q.error();
  return success();
}

Status Importer::State::update(const Row& row) {
  QStringList sets;
  QVariantList values, keys;
  for (size_t c = 0; c < kind->columns.size(); ++c) {
    if (kind->columns[c].key) {
      keys << row.values[c];
    } else if (present(int(c))) {
      sets << QLatin1String(kind->columns[c].name) + QStringLiteral(" = ?");
      values << row.values[c];
    }
  }
  values << keys;
  auto q = sql::run(
      db,
      QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(QLatin1String(kind->table), sets.join(", "), keyCondition(*kind)),
      values);
  if (!q) return q.error();
  return success();
}

void Importer::State::remember(const Row& row) {
  QStringList key;
  for (size_t c = 0; c < kind->columns.size(); ++c)
    if (kind->columns[c].key) key << row.values[c].toString();
  known[kind->table].insert(joinKey(key));
  if (std::strcmp(kind->table, "CAIXA") == 0)
    registerStore[joinKey({text(row, "CDFILIAL"), text(row, "CDCAIXA")})] = text(row, "CDLOJA").toStdString();
  forget(kind->table);
}

bool Importer::State::importRegistration(Row row) {
  auto& counts = count();
  if (!mayUseBranch(row) || !referencesExist(row) || !dayAllowed(row)) {
    ++counts.refused;
    return !failure;
  }
  auto before = stored(row);
  if (!before) return failed(before.error());
  if (!*before) {
    if (auto done = insert(row); !done) return failed(done.error());
    ++counts.inserted;
    remember(row);
    return true;
  }
  bool same = true;
  for (size_t c = 0; c < kind->columns.size() && same; ++c)
    if (present(int(c)) && !sameValue((**before)[c], row.values[c], kind->columns[c].type)) same = false;
  if (same) {
    ++counts.unchanged;
    return true;
  }
  // a key alone has nothing to change
  if (auto done = update(row); !done) return failed(done.error());
  ++counts.updated;
  remember(row);
  return true;
}

}  // namespace qfx::server
