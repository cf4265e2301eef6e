#include "domain/lookups.h"

#include "db/rows.h"
#include "domain/packets.h"

namespace qfx::server::lookups {

namespace {

using namespace packets;

Result<packet::Packet> queryPacket(QSqlDatabase& db, std::vector<packet::FieldDef> fields, const std::string& text,
                                   const std::vector<std::optional<std::string>>& values) {
  auto rows = sql::openRows(db, text, values);
  if (!rows) return rows.error();
  packet::Packet packet(std::move(fields));
  if (auto done = appendRows(packet, **rows); !done) return done.error();
  return packet;
}

Result<packet::Packet> codeLookup(QSqlDatabase& db, std::vector<packet::FieldDef> fields, const std::string& select,
                                  const std::string& keyColumn, const std::optional<QString>& code) {
  if (!code) return queryPacket(db, std::move(fields), select + " ORDER BY " + keyColumn, {});
  return queryPacket(db, std::move(fields), select + " WHERE " + keyColumn + " = ? ORDER BY " + keyColumn,
                     {code->toStdString()});
}

}  // namespace

Result<packet::Packet> branchParameters(QSqlDatabase& db, const QString& branch) {
  return queryPacket(db,
                     {text("IDUTILALMOX", 1), text("IDUTILLCESTQ", 1), text("IDCTRLESTQ", 1), text("IDPERMESTNEG", 1),
                      text("IDMENSESTNEG", 1), text("CDFILIAL", 4)},
                     "SELECT IDUTILALMOX, IDUTILLCESTQ, IDCTRLESTQ, IDPERMESTNEG, IDMENSESTNEG, CDFILIAL "
                     "FROM PARAMFILIAL WHERE CDFILIAL = ?",
                     {branch.toStdString()});
}

Result<packet::Packet> salesParameters(QSqlDatabase& db, const QString& branch) {
  return queryPacket(
      db,
      {text("IDCONSUMIOBR", 1), dateTime("DTINITESCONS"), text("CDLOJA", 10), text("NMLOJA", 50), text("IDATUEST", 1),
       text("IDGERANFVENPROD", 1), text("IDBLOQCONSOLIDA", 1), text("CDTIPORETI", 2), text("NMTIPORETI", 40),
       text("IDPERCONVESTNEG", 1), text("CDSETOR", 4), text("NMSETOR", 30), text("CONSOIMPAJUS", 1),
       text("IDUTILESTCENT", 1), text("CDFILIESTCENT", 4), text("CDALMOXESTCENT", 6), text("CDLOCALESTCENT", 6)},
      "SELECT P.IDCONSUMIOBR, P.DTINITESCONS, P.CDLOJA, L.NMLOJA, P.IDATUEST, P.IDGERANFVENPROD, "
      "P.IDBLOQCONSOLIDA, P.CDTIPORETI, T.NMTIPORETI, P.IDPERCONVESTNEG, P.CDSETOR, S.NMSETOR, "
      "P.CONSOIMPAJUS, P.IDUTILESTCENT, P.CDFILIESTCENT, P.CDALMOXESTCENT, P.CDLOCALESTCENT "
      "FROM PARAVEND P "
      "LEFT JOIN LOJA L ON L.CDFILIAL = P.CDFILIAL AND L.CDLOJA = P.CDLOJA "
      "LEFT JOIN TIPORETI T ON T.CDTIPORETI = P.CDTIPORETI "
      "LEFT JOIN SETOR S ON S.CDSETOR = P.CDSETOR "
      "WHERE P.CDFILIAL = ?",
      {branch.toStdString()});
}

Result<packet::Packet> withdrawalTypes(QSqlDatabase& db, const std::optional<QString>& code) {
  return codeLookup(db, {text("CDTIPORETI", 2), text("NMTIPORETI", 40)}, "SELECT CDTIPORETI, NMTIPORETI FROM TIPORETI",
                    "CDTIPORETI", code);
}

Result<packet::Packet> sectors(QSqlDatabase& db, const std::optional<QString>& code) {
  return codeLookup(db, {text("CDSETOR", 4), text("SGSETOR", 10), text("NMSETOR", 30)},
                    "SELECT CDSETOR, SGSETOR, NMSETOR FROM SETOR", "CDSETOR", code);
}

}  // namespace qfx::server::lookups
