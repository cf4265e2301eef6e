#include "reportparams.h"

#include <hostkit/core/abort.h>

namespace reportkit {

ReportParam& ReportParams::add(const QString& name, ReportParam::Type type) {
  if (ReportParam* existing = find(name)) return *existing;
  ReportParam p;
  p.name = name;
  p.type = type;
  items_ << p;
  return items_.last();
}

ReportParam* ReportParams::find(const QString& name) {
  for (auto& p : items_)
    if (p.name.compare(name, Qt::CaseInsensitive) == 0) return &p;
  return nullptr;
}

const ReportParam* ReportParams::find(const QString& name) const {
  for (const auto& p : items_)
    if (p.name.compare(name, Qt::CaseInsensitive) == 0) return &p;
  return nullptr;
}

ReportParam& ReportParams::ParamByName(const QString& name) {
  if (ReportParam* p = find(name)) return *p;
  throw hostkit::EHostError(QStringLiteral("Parâmetro '%1' não encontrado na consulta do relatório.").arg(name));
}

}  // namespace reportkit
