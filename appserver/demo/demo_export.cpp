#include "demo/demo_export.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QStringList>

#include "db/sql.h"
#include "domain/import_tables.h"

namespace qfx::server::demo {

namespace {

using importing::ColumnType;
using importing::Kind;

// A text field quoted when the reader would otherwise change it: the
// separator, a quote, a line break, or blanks at either end.
QString textField(const QString& text) {
  const bool plain = !text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) &&
                     !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')) && text.trimmed() == text;
  if (plain) return text;
  QString quoted = text;
  quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The forms a Brazilian export writes: dd/mm/aaaa, decimal comma.
QString field(const QVariant& v, ColumnType type) {
  if (v.isNull()) return {};
  switch (type) {
    case ColumnType::Day: {
      const QDate d = v.typeId() == QMetaType::QDate
                          ? v.toDate()
                          : QDate::fromString(v.toString().left(10), QStringLiteral("yyyy-MM-dd"));
      return d.toString(QStringLiteral("dd/MM/yyyy"));
    }
    case ColumnType::Moment: {
      const QDateTime m =
          v.typeId() == QMetaType::QDateTime
              ? v.toDateTime()
              : QDateTime::fromString(v.toString().left(19).replace('T', ' '), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
      return m.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    case ColumnType::Number:
      return QString::number(v.toDouble(), 'g', 17).replace(QLatin1Char('.'), QLatin1Char(','));
    case ColumnType::Integer:
      return QString::number(v.toLongLong());
    case ColumnType::Text:
      return textField(v.toString());
  }
  return {};
}

QString selectOf(const Kind& kind) {
  QStringList columns, keys;
  for (const auto& c : kind.columns) {
    const bool item = kind.name == std::string(importing::kSales) && importing::isItemColumn(c.name);
    columns << (item ? QStringLiteral("I.") : QStringLiteral("T.")) + QLatin1String(c.name);
    if (c.key) keys << (item ? QStringLiteral("I.") : QStringLiteral("T.")) + QLatin1String(c.name);
  }
  QString from = QStringLiteral("%1 T").arg(QLatin1String(kind.table));
  if (kind.name == std::string(importing::kSales))
    from += QStringLiteral(" JOIN ITVENDA I ON I.CDFILIAL = T.CDFILIAL AND I.NRSEQVENDA = T.NRSEQVENDA");
  return QStringLiteral("SELECT %1 FROM %2 ORDER BY %3").arg(columns.join(", "), from, keys.join(", "));
}

Status writeKind(QSqlDatabase& db, const Kind& kind, const QString& folder) {
  QFile file(QDir(folder).filePath(QLatin1String(kind.name) + QStringLiteral(".csv")));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return internalError("não foi possível gravar " + file.fileName().toStdString());
  QStringList header;
  for (const auto& c : kind.columns) header << QLatin1String(c.name);
  file.write((header.join(QLatin1Char(';')) + QLatin1Char('\n')).toUtf8());
  auto rows = sql::run(db, selectOf(kind));
  if (!rows) return rows.error();
  QString line;
  while (rows->next()) {
    line.clear();
    for (int i = 0; i < int(kind.columns.size()); ++i) {
      if (i) line += QLatin1Char(';');
      line += field(rows->value(i), kind.columns[size_t(i)].type);
    }
    line += QLatin1Char('\n');
    if (file.write(line.toUtf8()) < 0) return internalError("erro ao gravar " + file.fileName().toStdString());
  }
  return success();
}

}  // namespace

Status writeImportFiles(QSqlDatabase& db, const QString& folder) {
  if (!QDir().mkpath(folder)) return internalError("não foi possível criar a pasta " + folder.toStdString());
  for (const auto& kind : importing::kinds()) {
    if (kind.name == std::string(importing::kNfce)) continue;  // the demo's sales travel as VENDA files
    if (auto written = writeKind(db, kind, folder); !written) return written;
  }
  return success();
}

}  // namespace qfx::server::demo
