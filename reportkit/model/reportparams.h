// A report's query parameters as the report screens prepare them, and the
// definition files a report code offers.
#pragma once

#include <QList>
#include <QString>
#include <QVariant>

namespace reportkit {

// One query parameter of a report.
struct ReportParam {
  enum class Type { Text, Date, DateTime, Float, Integer, Boolean };
  QString name;
  Type type = Type::Text;
  QVariant value;  // null until set

  void SetAsString(const QString& v) { set(Type::Text, v); }
  void SetAsDate(double days) { set(Type::Date, days); }
  void SetAsDateTime(double days) { set(Type::DateTime, days); }
  void SetAsFloat(double v) { set(Type::Float, v); }
  void SetAsInteger(qint64 v) { set(Type::Integer, v); }
  void SetAsBoolean(bool v) { set(Type::Boolean, v); }
  void Clear() { value = QVariant(); }
  bool IsNull() const { return !value.isValid(); }

 private:
  void set(Type t, const QVariant& v) {
    type = t;
    value = v;
  }
};

// The query parameters of a report, by name (case ignored).
class ReportParams {
 public:
  ReportParam& add(const QString& name, ReportParam::Type type = ReportParam::Type::Text);
  bool exists(const QString& name) const { return find(name) != nullptr; }
  ReportParam* find(const QString& name);
  const ReportParam* find(const QString& name) const;
  // Throws EHostError naming the parameter when the query lacks it.
  ReportParam& ParamByName(const QString& name);
  int count() const { return int(items_.size()); }
  const QList<ReportParam>& items() const { return items_; }

 private:
  QList<ReportParam> items_;
};

// A report definition file below the reports folder.
struct ReportDefinition {
  QString title;
  QString fileName;
  QString path;
  QString parameterSet;  // the definition's own, see ReportTemplate
  bool user = false;     // the operator's, in his data folder; else shipped (read-only)
};

}  // namespace reportkit
