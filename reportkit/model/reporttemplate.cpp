#include "reporttemplate.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>

#include "readonlysql.h"
#include <hostkit/core/abort.h>

namespace reportkit {

using namespace hostkit;

namespace {

// A definition is a few kilobytes; anything far larger is not one.
constexpr qint64 kMaxDefinitionBytes = 1024 * 1024;

[[noreturn]] void damaged(const QString& origin, const QString& problem) {
  throw EHostError(
      QStringLiteral("O arquivo de definição do relatório '%1' está danificado: %2.").arg(origin, problem));
}

QString queryText(const QJsonValue& value, const QString& origin, const QString& kind) {
  if (value.isString()) return value.toString();
  if (value.isUndefined() || value.isNull()) return {};
  if (!value.isArray()) damaged(origin, QStringLiteral("a consulta \"%1\" não é um texto").arg(kind));
  QStringList lines;
  for (const QJsonValue& line : value.toArray()) {
    if (!line.isString()) damaged(origin, QStringLiteral("a consulta \"%1\" tem uma linha que não é texto").arg(kind));
    lines << line.toString();
  }
  return lines.join(u'\n');
}

Qt::Alignment alignmentOf(const QString& key, const QString& origin) {
  if (key.isEmpty() || key == QLatin1String("left")) return Qt::AlignLeft;
  if (key == QLatin1String("center")) return Qt::AlignHCenter;
  if (key == QLatin1String("right")) return Qt::AlignRight;
  damaged(origin, QStringLiteral("alinhamento \"%1\" desconhecido").arg(key));
}

ReportColumn::Type columnTypeOf(const QString& key, const QString& origin) {
  if (key.isEmpty() || key == QLatin1String("text")) return ReportColumn::Type::Text;
  if (key == QLatin1String("number")) return ReportColumn::Type::Number;
  if (key == QLatin1String("date")) return ReportColumn::Type::Date;
  damaged(origin, QStringLiteral("tipo de coluna \"%1\" desconhecido").arg(key));
}

ReportColumn columnOf(const QJsonValue& value, const QString& origin) {
  if (!value.isObject()) damaged(origin, QStringLiteral("uma coluna não é um objeto"));
  const QJsonObject o = value.toObject();
  ReportColumn c;
  c.field = o.value(QLatin1String("field")).toString().trimmed().toUpper();
  c.title = o.value(QLatin1String("title")).toString();
  c.width = o.value(QLatin1String("width")).toInt(10);
  c.alignment = alignmentOf(o.value(QLatin1String("align")).toString(), origin);
  c.type = columnTypeOf(o.value(QLatin1String("type")).toString(), origin);
  c.format = o.value(QLatin1String("format")).toString();
  c.total = o.value(QLatin1String("total")).toBool(false);
  c.totalBy = o.value(QLatin1String("totalBy")).toString().trimmed().toUpper();
  c.printed = o.value(QLatin1String("print")).toBool(true);
  return c;
}

ReportGroup groupOf(const QJsonValue& value, const QString& origin) {
  if (!value.isObject()) damaged(origin, QStringLiteral("um grupo não é um objeto"));
  const QJsonObject o = value.toObject();
  ReportGroup g;
  for (const QJsonValue& field : o.value(QLatin1String("fields")).toArray())
    g.fields << field.toString().trimmed().toUpper();
  g.header = o.value(QLatin1String("header")).toString();
  g.footer = o.value(QLatin1String("footer")).toString();
  return g;
}

ReportParamText paramTextOf(const QJsonValue& value, const QString& origin) {
  if (!value.isObject()) damaged(origin, QStringLiteral("um parâmetro não é um objeto"));
  const QJsonObject o = value.toObject();
  ReportParamText p;
  p.name = o.value(QLatin1String("name")).toString().trimmed().toUpper();
  p.label = o.value(QLatin1String("label")).toString();
  p.emptyText = o.value(QLatin1String("empty")).toString();
  p.nameQuery = queryText(o.value(QLatin1String("nameQuery")), origin, p.name);
  const QJsonObject values = o.value(QLatin1String("values")).toObject();
  for (auto it = values.begin(); it != values.end(); ++it) p.values.insert(it.key(), it.value().toString());
  return p;
}

QJsonValue linesOf(const QString& text) {
  QJsonArray lines;
  for (const QString& line : text.split(u'\n')) lines.append(line);
  return lines;
}

}  // namespace

const QList<DatabaseKind>& databaseKinds() {
  static const QList<DatabaseKind> kinds = {DatabaseKind::Generic, DatabaseKind::Oracle, DatabaseKind::SQLServer,
                                            DatabaseKind::InterBase};
  return kinds;
}

QString databaseKindKey(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::Generic:
      return QStringLiteral("generic");
    case DatabaseKind::Oracle:
      return QStringLiteral("oracle");
    case DatabaseKind::SQLServer:
      return QStringLiteral("sqlserver");
    case DatabaseKind::InterBase:
      return QStringLiteral("interbase");
  }
  return {};
}

QString alignmentKey(Qt::Alignment alignment) {
  if (alignment & Qt::AlignRight) return QStringLiteral("right");
  if (alignment & Qt::AlignHCenter) return QStringLiteral("center");
  return QStringLiteral("left");
}

QString columnTypeKey(ReportColumn::Type type) {
  switch (type) {
    case ReportColumn::Type::Text:
      return QStringLiteral("text");
    case ReportColumn::Type::Number:
      return QStringLiteral("number");
    case ReportColumn::Type::Date:
      return QStringLiteral("date");
  }
  return {};
}

QStringList placeholderFields(const QString& text) {
  static const QRegularExpression placeholder(QStringLiteral("\\{([A-Za-z_][A-Za-z0-9_]*)\\}"));
  QStringList fields;
  for (auto it = placeholder.globalMatch(text); it.hasNext();) fields << it.next().captured(1).toUpper();
  return fields;
}

QList<ReportColumn> ReportTemplate::tableColumns() const {
  QList<ReportColumn> out = columns;
  const auto named = [&out](const QString& field) {
    return std::any_of(out.begin(), out.end(), [&field](const ReportColumn& c) { return c.field == field; });
  };
  for (const ReportGroup& g : groups)
    for (const QString& f : g.fields + placeholderFields(g.header) + placeholderFields(g.footer))
      if (!f.isEmpty() && !named(f)) {
        ReportColumn c;
        c.field = f;
        c.title = f;
        c.printed = false;
        out << c;
      }
  return out;
}

QStringList ReportTemplate::fieldsUsed() const {
  QStringList fields;
  const auto add = [&fields](const QString& f) {
    if (!f.isEmpty() && !fields.contains(f)) fields << f;
  };
  for (const ReportColumn& c : columns) {
    add(c.field);
    add(c.totalBy);
  }
  for (const ReportGroup& g : groups) {
    for (const QString& f : g.fields) add(f);
    for (const QString& f : placeholderFields(g.header) + placeholderFields(g.footer)) add(f);
  }
  return fields;
}

Status checkFieldsReturned(const ReportTemplate& report, const QStringList& queryFields) {
  QStringList returned;
  for (const QString& f : queryFields) returned << f.toUpper();
  for (const QString& field : report.fieldsUsed())
    if (!returned.contains(field))
      return Status::failure(QStringLiteral("o campo %1 não está no resultado da consulta (campos: %2)")
                                 .arg(field, queryFields.join(QStringLiteral(", "))));
  return success();
}

QString ReportTemplate::queryFor(DatabaseKind kind) const {
  const QString own = queries.value(kind);
  return own.trimmed().isEmpty() ? queries.value(DatabaseKind::Generic) : own;
}

QStringList ReportTemplate::paramNames(DatabaseKind kind) const {
  QStringList names;
  for (const QString& name : toPositional(queryFor(kind)).names)
    if (!names.contains(name)) names << name;
  return names;
}

Status checkReportTemplate(const ReportTemplate& report) {
  if (report.title.trimmed().isEmpty()) return Status::failure(QStringLiteral("falta o título"));
  if (report.queries.value(DatabaseKind::Generic).trimmed().isEmpty())
    return Status::failure(QStringLiteral("falta a consulta genérica"));
  if (report.columns.isEmpty()) return Status::failure(QStringLiteral("nenhuma coluna definida"));
  for (qsizetype i = 0; i < report.columns.size(); ++i) {
    const ReportColumn& c = report.columns.at(i);
    if (c.field.isEmpty()) return Status::failure(QStringLiteral("a coluna %1 não tem campo").arg(i + 1));
    if (c.width <= 0) return Status::failure(QStringLiteral("a coluna %1 tem largura inválida").arg(c.field));
  }
  for (const ReportParamText& p : report.parameters)
    if (p.name.isEmpty()) return Status::failure(QStringLiteral("um parâmetro não tem nome"));
  for (qsizetype i = 0; i < report.groups.size(); ++i)
    if (report.groups.at(i).fields.isEmpty() || report.groups.at(i).fields.contains(QString()))
      return Status::failure(QStringLiteral("o grupo %1 não tem campos").arg(i + 1));
  for (const ReportColumn& c : report.columns)
    if (!c.totalBy.isEmpty() && !c.total)
      return Status::failure(QStringLiteral("a coluna %1 separa um total que não soma").arg(c.field));
  return success();
}

// "consulta genérica", "consulta Oracle", ...: how the message names a text.
static QString queryNameOf(DatabaseKind kind) {
  switch (kind) {
    case DatabaseKind::Generic:
      return QStringLiteral("A consulta genérica");
    case DatabaseKind::Oracle:
      return QStringLiteral("A consulta Oracle");
    case DatabaseKind::SQLServer:
      return QStringLiteral("A consulta SQL Server");
    case DatabaseKind::InterBase:
      return QStringLiteral("A consulta InterBase");
  }
  return QStringLiteral("A consulta");
}

Status checkReportQuery(const ReportTemplate& report) {
  for (DatabaseKind kind : databaseKinds()) {
    const QString text = report.queries.value(kind);
    if (kind != DatabaseKind::Generic && text.trimmed().isEmpty()) continue;  // runs the generic one
    if (const Status readOnly = checkReadOnlySql(text); !readOnly.ok())
      return Status::failure(
          QStringLiteral("%1 do relatório '%2' foi recusada: %3. Um relatório só lê dados: escreva uma única consulta "
                         "SELECT (ou WITH ... SELECT).")
              .arg(queryNameOf(kind), report.title, readOnly.error()));
  }
  for (const ReportParamText& p : report.parameters) {
    if (p.nameQuery.trimmed().isEmpty()) continue;
    if (const Status readOnly = checkReadOnlySql(p.nameQuery); !readOnly.ok())
      return Status::failure(QStringLiteral("A consulta do nome do parâmetro %1 do relatório '%2' foi recusada: %3.")
                                 .arg(p.name, report.title, readOnly.error()));
  }
  return success();
}

ReportTemplate parseReportTemplate(const QByteArray& json, const QString& origin) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError)
    damaged(origin, QStringLiteral("JSON inválido na posição %1 (%2)").arg(error.offset).arg(error.errorString()));
  if (!doc.isObject()) damaged(origin, QStringLiteral("o conteúdo não é um objeto JSON"));
  const QJsonObject root = doc.object();

  ReportTemplate report;
  report.title = root.value(QLatin1String("title")).toString();
  report.answers = root.value(QLatin1String("answers")).toString();
  report.parameterSet = root.value(QLatin1String("parameterSet")).toString();
  const QString orientation = root.value(QLatin1String("orientation")).toString();
  if (orientation == QLatin1String("landscape"))
    report.orientation = QPageLayout::Landscape;
  else if (!orientation.isEmpty() && orientation != QLatin1String("portrait"))
    damaged(origin, QStringLiteral("orientação \"%1\" desconhecida").arg(orientation));

  const QJsonValue queries = root.value(QLatin1String("queries"));
  if (!queries.isObject()) damaged(origin, QStringLiteral("faltam as consultas"));
  for (DatabaseKind kind : databaseKinds()) {
    const QString key = databaseKindKey(kind);
    const QJsonValue text = queries.toObject().value(key);
    if (!text.isUndefined() && !text.isNull()) report.queries.insert(kind, queryText(text, origin, key));
  }

  for (const QJsonValue& p : root.value(QLatin1String("parameters")).toArray())
    report.parameters << paramTextOf(p, origin);
  for (const QJsonValue& g : root.value(QLatin1String("groups")).toArray()) report.groups << groupOf(g, origin);
  const QJsonValue columns = root.value(QLatin1String("columns"));
  if (!columns.isArray()) damaged(origin, QStringLiteral("faltam as colunas"));
  for (const QJsonValue& c : columns.toArray()) report.columns << columnOf(c, origin);

  if (const Status complete = checkReportTemplate(report); !complete.ok()) damaged(origin, complete.error());
  return report;
}

ReportTemplate readReportTemplate(const QString& path) {
  const QString origin = QFileInfo(path).fileName();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw EHostError(QStringLiteral("Não foi possível ler o arquivo de definição do relatório '%1': %2.")
                         .arg(path, file.errorString()));
  if (file.size() > kMaxDefinitionBytes) damaged(origin, QStringLiteral("o arquivo é grande demais"));
  return parseReportTemplate(file.readAll(), origin);
}

QByteArray serializeReportTemplate(const ReportTemplate& report) {
  QJsonObject root;
  root.insert(QLatin1String("title"), report.title);
  if (!report.answers.isEmpty()) root.insert(QLatin1String("answers"), report.answers);
  if (!report.parameterSet.isEmpty()) root.insert(QLatin1String("parameterSet"), report.parameterSet);
  root.insert(QLatin1String("orientation"),
              report.orientation == QPageLayout::Landscape ? QStringLiteral("landscape") : QStringLiteral("portrait"));
  QJsonObject queries;
  for (DatabaseKind kind : databaseKinds())
    if (!report.queries.value(kind).trimmed().isEmpty())
      queries.insert(databaseKindKey(kind), linesOf(report.queries.value(kind)));
  root.insert(QLatin1String("queries"), queries);

  QJsonArray parameters;
  for (const ReportParamText& p : report.parameters) {
    QJsonObject o{{QLatin1String("name"), p.name}, {QLatin1String("label"), p.label}};
    if (!p.emptyText.isEmpty()) o.insert(QLatin1String("empty"), p.emptyText);
    if (!p.nameQuery.isEmpty()) o.insert(QLatin1String("nameQuery"), p.nameQuery);
    if (!p.values.isEmpty()) {
      QJsonObject values;
      for (auto it = p.values.begin(); it != p.values.end(); ++it) values.insert(it.key(), it.value());
      o.insert(QLatin1String("values"), values);
    }
    parameters.append(o);
  }
  root.insert(QLatin1String("parameters"), parameters);

  if (!report.groups.isEmpty()) {
    QJsonArray groups;
    for (const ReportGroup& g : report.groups) {
      QJsonObject o{{QLatin1String("fields"), QJsonArray::fromStringList(g.fields)}};
      if (!g.header.isEmpty()) o.insert(QLatin1String("header"), g.header);
      if (!g.footer.isEmpty()) o.insert(QLatin1String("footer"), g.footer);
      groups.append(o);
    }
    root.insert(QLatin1String("groups"), groups);
  }

  QJsonArray columns;
  for (const ReportColumn& c : report.columns) {
    QJsonObject o{{QLatin1String("field"), c.field},
                  {QLatin1String("title"), c.title},
                  {QLatin1String("width"), c.width},
                  {QLatin1String("align"), alignmentKey(c.alignment)},
                  {QLatin1String("type"), columnTypeKey(c.type)},
                  {QLatin1String("total"), c.total}};
    if (!c.format.isEmpty()) o.insert(QLatin1String("format"), c.format);
    if (!c.totalBy.isEmpty()) o.insert(QLatin1String("totalBy"), c.totalBy);
    if (!c.printed) o.insert(QLatin1String("print"), false);
    columns.append(o);
  }
  root.insert(QLatin1String("columns"), columns);
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

void writeReportTemplate(const QString& path, const ReportTemplate& report) {
  if (const Status complete = checkReportTemplate(report); !complete.ok())
    throw EHostError(QStringLiteral("A definição do relatório está incompleta: %1.").arg(complete.error()));
  if (const Status readOnly = checkReportQuery(report); !readOnly.ok()) throw EHostError(readOnly.error());
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(serializeReportTemplate(report)) < 0 || !file.commit())
    throw EHostError(
        QStringLiteral("Não foi possível gravar a definição do relatório em '%1': %2.").arg(path, file.errorString()));
}

}  // namespace reportkit
