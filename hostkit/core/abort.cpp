#include "abort.h"

#include "hostservices.h"

namespace hostkit {

void Abort() { throw EAbort(); }

QString errorMessage(const std::exception& e) {
  if (auto* host = dynamic_cast<const EHostError*>(&e)) return host->message();
  return QString::fromUtf8(e.what());
}

bool guarded(const std::function<void()>& handler) {
  try {
    handler();
    return true;
  } catch (const EAbort&) {
    return false;
  } catch (const std::exception& e) {
    const auto* host = dynamic_cast<const EHostError*>(&e);
    if (hasHostServices()) hostServices().showException(errorMessage(e), host ? host->details() : QString());
    return false;
  } catch (...) {
    if (hasHostServices()) hostServices().showException(QStringLiteral("Erro desconhecido."), {});
    return false;
  }
}

}  // namespace hostkit
