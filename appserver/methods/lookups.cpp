// Parameter and code lookups: one row per code, or every row for "T".
#include <QSqlQuery>

#include "db/sql.h"
#include "domain/packets.h"
#include "methods/methods.h"

namespace qfx::server::methods {

namespace {

using namespace packets;

Result<Reply> queryPacket(CallContext& call, std::vector<packet::FieldDef> fields, const QString& text,
                          const QVariantList& values) {
  auto q = sql::run(call.db, text, values);
  if (!q) return q.error();
  packet::Packet packet(std::move(fields));
  appendRows(packet, *q);
  return Reply::ofPacket(std::move(packet));
}

// A code lookup: the row of the code, or all rows when the flag is "T".
Result<Reply> codeLookup(CallContext& call, const Arguments& args, std::vector<packet::FieldDef> fields,
                         const QString& select, const QString& keyColumn) {
  if (args.isAllFlag(2)) return queryPacket(call, std::move(fields), select + " ORDER BY " + keyColumn, {});
  return queryPacket(call, std::move(fields), select + " WHERE " + keyColumn + " = ? ORDER BY " + keyColumn,
                     {args.qtext(1)});
}

}  // namespace

Result<Reply> getParamFilial(CallContext& call, const Arguments& args) {
  return queryPacket(
      call,
      {text("IDUTILALMOX", 1), text("IDUTILLCESTQ", 1), text("IDCTRLESTQ", 1), text("IDPERMESTNEG", 1),
       text("IDMENSESTNEG", 1), text("CDFILIAL", 4)},
      QStringLiteral("SELECT IDUTILALMOX, IDUTILLCESTQ, IDCTRLESTQ, IDPERMESTNEG, IDMENSESTNEG, CDFILIAL "
                     "FROM PARAMFILIAL WHERE CDFILIAL = ?"),
      {args.qtext(1)});
}

Result<Reply> getParamVend(CallContext& call, const Arguments& args) {
  return queryPacket(
      call,
      {text("IDCONSUMIOBR", 1), dateTime("DTINITESCONS"), text("CDLOJA", 10), text("NMLOJA", 50), text("IDATUEST", 1),
       text("IDGERANFVENPROD", 1), text("IDBLOQCONSOLIDA", 1), text("CDTIPORETI", 2), text("NMTIPORETI", 40),
       text("IDPERCONVESTNEG", 1), text("CDSETOR", 4), text("NMSETOR", 30), text("CONSOIMPAJUS", 1),
       text("IDUTILESTCENT", 1), text("CDFILIESTCENT", 4), text("CDALMOXESTCENT", 6), text("CDLOCALESTCENT", 6)},
      QStringLiteral("SELECT P.IDCONSUMIOBR, P.DTINITESCONS, P.CDLOJA, L.NMLOJA, P.IDATUEST, P.IDGERANFVENPROD, "
                     "P.IDBLOQCONSOLIDA, P.CDTIPORETI, T.NMTIPORETI, P.IDPERCONVESTNEG, P.CDSETOR, S.NMSETOR, "
                     "P.CONSOIMPAJUS, P.IDUTILESTCENT, P.CDFILIESTCENT, P.CDALMOXESTCENT, P.CDLOCALESTCENT "
                     "FROM PARAVEND P "
                     "LEFT JOIN LOJA L ON L.CDFILIAL = P.CDFILIAL AND L.CDLOJA = P.CDLOJA "
                     "LEFT JOIN TIPORETI T ON T.CDTIPORETI = P.CDTIPORETI "
                     "LEFT JOIN SETOR S ON S.CDSETOR = P.CDSETOR "
                     "WHERE P.CDFILIAL = ?"),
      {args.qtext(1)});
}

Result<Reply> getTipoReti(CallContext& call, const Arguments& args) {
  return codeLookup(call, args, {text("CDTIPORETI", 2), text("NMTIPORETI", 40)},
                    QStringLiteral("SELECT CDTIPORETI, NMTIPORETI FROM TIPORETI"), QStringLiteral("CDTIPORETI"));
}

Result<Reply> getSetor(CallContext& call, const Arguments& args) {
  return codeLookup(call, args, {text("CDSETOR", 4), text("SGSETOR", 10), text("NMSETOR", 30)},
                    QStringLiteral("SELECT CDSETOR, SGSETOR, NMSETOR FROM SETOR"), QStringLiteral("CDSETOR"));
}

}  // namespace qfx::server::methods
