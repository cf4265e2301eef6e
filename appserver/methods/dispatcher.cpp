#include "methods/dispatcher.h"

#include <algorithm>
#include <cctype>

namespace qfx::server {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

Status checkBranches(const MethodEntry& method, const Arguments& args, const Session& session) {
  for (int position : method.branchArguments) {
    const std::string& branch = args.text(position);
    if (!session.mayUseBranch(branch)) {
      return Error{ErrorKind::PermissionDenied, "o operador " + session.operatorCode + " só pode atuar na filial " +
                                                    session.boundBranch + " (" + method.name + " pediu a filial '" +
                                                    branch + "')"};
    }
  }
  return success();
}

}  // namespace

void Dispatcher::add(MethodEntry method) { methods_.push_back(std::move(method)); }

const MethodEntry* Dispatcher::find(std::string_view method) const {
  for (const auto& m : methods_)
    if (equalsIgnoringCase(m.name, method)) return &m;
  return nullptr;
}

bool Dispatcher::answersInPlace(std::string_view method, Dialect dialect) const {
  if (dialect != Dialect::SQLite) return false;
  const MethodEntry* entry = find(method);
  return entry && entry->keyRead;
}

Result<Reply> Dispatcher::invoke(CallContext& context, const rpc::InvokeRequest& request) const {
  if (!equalsIgnoringCase(request.object(), kObjectName))
    return Error{ErrorKind::NotFound, "objeto '" + request.object() + "' não existe neste servidor"};
  const MethodEntry* method = find(request.method());
  if (!method)
    return Error{ErrorKind::NotFound, "método '" + request.method() + "' não existe em " + std::string(kObjectName)};
  if (auto checked = checkArguments(method->name, method->kinds, request.arguments()); !checked) return checked.error();
  const Arguments args(request.arguments());
  if (auto allowed = checkBranches(*method, args, context.session); !allowed) return allowed.error();
  return method->handler(context, args);
}

}  // namespace qfx::server
