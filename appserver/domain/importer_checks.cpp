// The import's checks of a row: the operator's branch, the rows it names
// existing, its day not settled; and how a stored value compares.

#include "domain/importer_state.h"

#include <QDate>
#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "db/sql.h"

namespace qfx::server {

namespace {

using importing::BranchDays;
using importing::ColumnType;
using importing::joinKey;
using importing::Row;

QString dayText(const QDate& d) { return d.toString(QStringLiteral("yyyy-MM-dd")); }
QString brDay(const QString& iso) {
  return QDate::fromString(iso, QStringLiteral("yyyy-MM-dd")).toString("dd/MM/yyyy");
}

// A stored value as comparable text: days and moments as ISO text whatever
// the driver hands back, numbers as numbers.
std::string normalized(const QVariant& v, ColumnType type) {
  if (v.isNull()) return "\x01";
  switch (type) {
    case ColumnType::Day:
      if (v.typeId() == QMetaType::QDate) return dayText(v.toDate()).toStdString();
      if (v.typeId() == QMetaType::QDateTime) return dayText(v.toDateTime().date()).toStdString();
      return v.toString().left(10).toStdString();
    case ColumnType::Moment:
      if (v.typeId() == QMetaType::QDateTime) return v.toDateTime().toString("yyyy-MM-dd HH:mm:ss").toStdString();
      return v.toString().replace('T', ' ').left(19).toStdString();
    case ColumnType::Number: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.9g", v.toDouble());
      return buf;
    }
    case ColumnType::Integer:
      return std::to_string(v.toLongLong());
    case ColumnType::Text:
      return v.toString().toStdString();
  }
  return {};
}

}  // namespace

namespace importing {

bool sameValue(const QVariant& stored, const QVariant& imported, ColumnType type) {
  // the usual case, a line of a sale against the sale's first line: the same types, no text made
  const int storedType = stored.typeId();
  if (storedType == imported.typeId() && stored.isNull() == imported.isNull()) {
    if (stored.isNull()) return true;
    if (storedType == QMetaType::QString)
      return *static_cast<const QString*>(stored.constData()) == *static_cast<const QString*>(imported.constData());
  }
  if (type == ColumnType::Number && !stored.isNull() && !imported.isNull())
    return std::fabs(stored.toDouble() - imported.toDouble()) <= 1e-9 * std::max(1.0, std::fabs(imported.toDouble()));
  return normalized(stored, type) == normalized(imported, type);
}

}  // namespace importing

bool Importer::State::mayUseBranch(const Row& row) {
  if (boundBranch.empty()) return true;
  if (!kind->branchColumn) {
    problem(row.line, "",
            std::string("o operador está preso à filial ") + boundBranch + " e " + kind->name +
                " é um cadastro de todas as filiais: peça a importação a um operador de todas as filiais");
    return false;
  }
  const QString branch = text(row, kind->branchColumn);
  if (branch.toStdString() == boundBranch) return true;
  problem(row.line, kind->branchColumn,
          "a filial " + branch.toStdString() + " não é a do operador (" + boundBranch + ")");
  return false;
}

bool Importer::State::exists(const importing::Reference& ref, const QStringList& values) {
  auto& keys = known[ref.table];
  const std::string key = joinKey(values);
  if (keys.count(key)) return true;
  QString where;
  for (size_t i = 0; i < ref.keys.size(); ++i)
    where += (i ? QStringLiteral(" AND ") : QString()) + QLatin1String(ref.keys[i]) + QStringLiteral(" = ?");
  QVariantList bound;
  for (const auto& v : values) bound << v;
  auto q = sql::run(db, QStringLiteral("SELECT 1 FROM %1 WHERE %2").arg(QLatin1String(ref.table), where), bound);
  if (!q) return failed(q.error());
  if (!q->next()) return false;
  keys.insert(key);
  return true;
}

// Whether the row's values of `ref` are those found last time: rows one
// after the other name the same branch, store or customer again and again.
bool Importer::State::sameAsFound(size_t refAt, const Row& row) const {
  if (refAt >= lastFound.size() || lastFound[refAt].empty()) return false;
  const auto& ref = kind->references[refAt];
  for (size_t i = 0; i < ref.columns.size(); ++i) {
    const int c = column(ref.columns[i]);
    if (c < 0 || !sameValue(lastFound[refAt][i], row.values[size_t(c)], ColumnType::Text)) return false;
  }
  return true;
}

void Importer::State::rememberFound(size_t refAt, const Row& row) {
  if (lastFound.size() != kind->references.size()) lastFound.assign(kind->references.size(), {});
  auto& values = lastFound[refAt];
  values.clear();
  for (const char* name : kind->references[refAt].columns) values.push_back(row.values[size_t(column(name))]);
}

bool Importer::State::referencesExist(const Row& row) {
  bool sound = true;
  for (size_t refAt = 0; refAt < kind->references.size(); ++refAt) {
    const auto& ref = kind->references[refAt];
    if (sameAsFound(refAt, row)) continue;
    QStringList values;
    bool complete = true;
    for (const char* c : ref.columns) {
      const QString v = text(row, c);
      if (v.isEmpty()) complete = false;
      values << v;
    }
    if (!complete) continue;
    if (exists(ref, values)) {
      rememberFound(refAt, row);
      continue;
    }
    if (failure) return false;
    problem(row.line, ref.columns.back(),
            std::string(ref.what) + " " + values.join('/').toStdString() +
                (std::string(ref.what) == "filial" || std::string(ref.what) == "loja" ? " não cadastrada"
                                                                                      : " não cadastrado"));
    sound = false;
  }
  return sound;
}

Result<BranchDays*> Importer::State::daysOf(const QString& branch) {
  const std::string key = branch.toStdString();
  if (auto it = branchDays.find(key); it != branchDays.end()) return &it->second;
  BranchDays days;
  auto closing = sql::run(db, QStringLiteral("SELECT DTFECHAESTQ FROM PARAMFILIAL WHERE CDFILIAL = ?"), {branch});
  if (!closing) return closing.error();
  if (closing->next() && !closing->value(0).isNull())
    days.stockClosing = QString::fromStdString(normalized(closing->value(0), ColumnType::Day));
  auto periods = sql::run(db,
                          QStringLiteral("SELECT DTINIPERCTB, DTFIMPERCTB FROM PERIODOCTB "
                                         "WHERE CDFILIAL = ? AND IDSITPERCTB = 'F'"),
                          {branch});
  if (!periods) return periods.error();
  while (periods->next())
    days.closed.emplace_back(QString::fromStdString(normalized(periods->value(0), ColumnType::Day)),
                             QString::fromStdString(normalized(periods->value(1), ColumnType::Day)));
  return &branchDays.emplace(key, std::move(days)).first->second;
}

bool Importer::State::dayAllowed(const Row& row) {
  if (!kind->dayColumn) return true;
  const QString branch = text(row, kind->branchColumn);
  const QString day = text(row, kind->dayColumn);
  if (day.isEmpty()) return true;
  auto days = daysOf(branch);
  if (!days) return failed(days.error());
  if (!(*days)->stockClosing.isEmpty() && day <= (*days)->stockClosing) {
    problem(row.line, kind->dayColumn,
            "o dia " + brDay(day).toStdString() + " não é posterior ao fechamento do estoque da filial " +
                branch.toStdString() + " (" + brDay((*days)->stockClosing).toStdString() + ")");
    return false;
  }
  for (const auto& [first, last] : (*days)->closed) {
    if (day >= first && day <= last) {
      problem(row.line, kind->dayColumn,
              "o dia " + brDay(day).toStdString() + " está no período contábil fechado da filial " +
                  branch.toStdString() + " (" + brDay(first).toStdString() + " a " + brDay(last).toStdString() + ")");
      return false;
    }
  }
  return true;
}

void Importer::State::forget(const std::string& table) {
  // a branch's settled days are read again after its parameters or periods change
  if (table == "PARAMFILIAL" || table == "PERIODOCTB") branchDays.clear();
}

}  // namespace qfx::server
