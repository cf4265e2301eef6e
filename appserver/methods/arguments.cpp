#include "methods/arguments.h"

#include "common/wire_date.h"

namespace qfx::server {

namespace {

const char* kindName(int kind) {
  switch (kind) {
    case rpc::Argument::TEXT:
      return "texto";
    case rpc::Argument::DATE:
      return "data";
    case rpc::Argument::BOOLEAN:
      return "lógico";
    default:
      return "de tipo desconhecido";
  }
}

int wireKind(ArgKind kind) {
  switch (kind) {
    case ArgKind::Text:
      return rpc::Argument::TEXT;
    case ArgKind::Date:
      return rpc::Argument::DATE;
    case ArgKind::Boolean:
      return rpc::Argument::BOOLEAN;
  }
  return -1;
}

}  // namespace

Status checkArguments(const std::string& method, const std::vector<ArgKind>& expected, const WireArguments& given) {
  if (size_t(given.size()) != expected.size()) {
    return invalidArgument(method + " espera " + std::to_string(expected.size()) + " argumentos e recebeu " +
                           std::to_string(given.size()));
  }
  for (size_t i = 0; i < expected.size(); ++i) {
    const rpc::Argument& arg = given.Get(int(i));
    const std::string position = method + ": argumento " + std::to_string(i + 1);
    if (arg.kind() != wireKind(expected[i])) {
      return invalidArgument(position + " deve ser " + kindName(wireKind(expected[i])) + ", recebido " +
                             kindName(arg.kind()));
    }
    if (expected[i] == ArgKind::Date && !wiredate::isValidWireDate(arg.date()))
      return invalidArgument(position + " não é uma data válida");
  }
  return success();
}

QDate Arguments::day(int position) const { return wiredate::toDate(date(position)); }

}  // namespace qfx::server
