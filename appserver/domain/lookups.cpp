#include "domain/lookups.h"

#include "db/rows.h"
#include "domain/packets.h"

namespace qfx::server::lookups {

namespace {

using namespace packets;

// The query's columns fill the packet's fields in order: its select list
// comes from the same field list (see selectList).
Result<packet::Packet> queryPacket(QSqlDatabase& db, std::span<const contract::Field> fields, const std::string& text,
                                   const std::vector<std::optional<std::string>>& values) {
  auto rows = sql::openRows(db, text, values);
  if (!rows) return rows.error();
  packet::Packet packet = contract::emptyPacket(fields);
  if (auto done = appendRows(packet, **rows); !done) return done.error();
  return packet;
}

Result<packet::Packet> codeLookup(QSqlDatabase& db, std::span<const contract::Field> fields, const std::string& table,
                                  const std::optional<QString>& code) {
  const std::string keyColumn(fields.front().name);
  const std::string select = "SELECT " + selectList(fields) + " FROM " + table;
  if (!code) return queryPacket(db, fields, select + " ORDER BY " + keyColumn, {});
  return queryPacket(db, fields, select + " WHERE " + keyColumn + " = ? ORDER BY " + keyColumn, {code->toStdString()});
}

}  // namespace

Result<packet::Packet> branchParameters(QSqlDatabase& db, const QString& branch) {
  static const std::string text =
      "SELECT " + selectList(contract::fields::branchParameters) + " FROM PARAMFILIAL WHERE CDFILIAL = ?";
  return queryPacket(db, contract::fields::branchParameters, text, {branch.toStdString()});
}

Result<packet::Packet> salesParameters(QSqlDatabase& db, const QString& branch) {
  static const std::string text =
      "SELECT " +
      selectList(contract::fields::salesParameters, "P", {{"NMLOJA", "L"}, {"NMTIPORETI", "T"}, {"NMSETOR", "S"}}) +
      " FROM PARAVEND P "
      "LEFT JOIN LOJA L ON L.CDFILIAL = P.CDFILIAL AND L.CDLOJA = P.CDLOJA "
      "LEFT JOIN TIPORETI T ON T.CDTIPORETI = P.CDTIPORETI "
      "LEFT JOIN SETOR S ON S.CDSETOR = P.CDSETOR "
      "WHERE P.CDFILIAL = ?";
  return queryPacket(db, contract::fields::salesParameters, text, {branch.toStdString()});
}

// Both keyed by their first field.
Result<packet::Packet> withdrawalTypes(QSqlDatabase& db, const std::optional<QString>& code) {
  return codeLookup(db, contract::fields::withdrawalTypes, "TIPORETI", code);
}

Result<packet::Packet> sectors(QSqlDatabase& db, const std::optional<QString>& code) {
  return codeLookup(db, contract::fields::sectors, "SETOR", code);
}

}  // namespace qfx::server::lookups
