// Positional arguments of a remote call, checked against the method's
// declared kinds before the method runs, and read by the 1-based positions
// the contract names (contract_methods.h).
#pragma once

#include <QDate>
#include <QString>
#include <string>
#include <vector>

#include "common/result.h"
#include <proto/contract_methods.h>
#include <proto/qfx31700.pb.h>

namespace qfx::server {

using contract::ArgKind;

using WireArguments = google::protobuf::RepeatedPtrField<rpc::Argument>;

// Count, kinds and date values; the message names the method, the position
// and what was expected.
Status checkArguments(const std::string& method, const std::vector<ArgKind>& expected, const WireArguments& given);

class Arguments {
 public:
  explicit Arguments(const WireArguments& wire) : wire_(wire) {}

  const std::string& text(int position) const { return at(position).text(); }
  QString qtext(int position) const { return QString::fromStdString(text(position)); }
  double date(int position) const { return at(position).date(); }
  QDate day(int position) const;
  bool boolean(int position) const { return at(position).boolean(); }
  // "T" in a flag argument means all.
  bool isAllFlag(int position) const { return text(position) == "T"; }
  // "S" in a letter flag taken from the client's S/N table.
  bool isYes(int position) const { return text(position) == "S"; }
  int count() const { return wire_.size(); }

 private:
  const rpc::Argument& at(int position) const { return wire_.Get(position - 1); }
  const WireArguments& wire_;
};

}  // namespace qfx::server
