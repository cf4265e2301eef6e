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
      if (!method.branchRefusal.empty()) return Error{ErrorKind::PermissionDenied, method.branchRefusal};
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

bool Dispatcher::isKeyRead(std::string_view method) const {
  const MethodEntry* entry = find(method);
  return entry && entry->keyRead;
}

bool Dispatcher::answersInPlace(std::string_view method, Dialect dialect) const {
  return dialect == Dialect::SQLite && isKeyRead(method);
}

bool Dispatcher::checksSessionAlong(std::string_view method, Dialect dialect) const {
  return dialect == Dialect::PostgreSQL && isKeyRead(method);
}

bool Dispatcher::streams(std::string_view method) const {
  const MethodEntry* entry = find(method);
  return entry && entry->streams;
}

Result<const MethodEntry*> Dispatcher::resolve(const rpc::InvokeRequest& request) const {
  if (!equalsIgnoringCase(request.object(), kObjectName))
    return Error{ErrorKind::NotFound, "objeto '" + request.object() + "' não existe neste servidor"};
  const MethodEntry* method = find(request.method());
  if (!method)
    return Error{ErrorKind::NotFound, "método '" + request.method() + "' não existe em " + std::string(kObjectName)};
  if (auto checked = checkArguments(method->name, method->kinds, request.arguments()); !checked) return checked.error();
  return method;
}

Result<Reply> Dispatcher::invoke(CallContext& context, const rpc::InvokeRequest& request) const {
  auto method = resolve(request);
  if (!method) return method.error();
  const Arguments args(request.arguments());
  if (auto allowed = checkBranches(**method, args, context.session); !allowed) return allowed.error();
  return (*method)->handler(context, args);
}

Result<Reply> Dispatcher::invokeAlongSession(CallContext& context, const rpc::InvokeRequest& request,
                                             const std::function<Result<Session>()>& session) const {
  auto method = resolve(request);
  const Arguments args(request.arguments());
  auto reply = method ? (*method)->handler(context, args) : Result<Reply>(method.error());
  auto asker = session();
  if (!asker) return asker.error();
  if (!method) return method.error();
  if (auto allowed = checkBranches(**method, args, *asker); !allowed) return allowed.error();
  return reply;
}

}  // namespace qfx::server
