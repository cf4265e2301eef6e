// Checks made before a consolidation: open accounting period and earlier
// sales still waiting.
#include <QSqlQuery>

#include "common/wire_date.h"
#include "db/sql.h"
#include "domain/sale_rules.h"
#include "methods/methods.h"

namespace qfx::server::methods {

Result<Reply> getPeriodoCTBOK(CallContext& call, const Arguments& args) {
  const QDate first = args.day(2);
  const QDate last = args.day(3);
  if (first > last) return Reply::ofBoolean(false);  // not a period: nothing may be posted under it
  auto q = sql::run(call.db,
                    QStringLiteral("SELECT DTINIPERCTB, DTFIMPERCTB FROM PERIODOCTB "
                                   "WHERE CDFILIAL = ? AND IDSITPERCTB = 'A' AND DTFIMPERCTB >= ? AND DTINIPERCTB <= ? "
                                   "ORDER BY DTINIPERCTB"),
                    {args.qtext(1), wiredate::dayText(first), wiredate::dayText(last)});
  if (!q) return q.error();
  // Walk the open periods in order; every day from first to last must be in one.
  QDate uncovered = first;
  while (q->next() && uncovered <= last) {
    const auto start = wiredate::dayFromDatabase(q->value(0));
    const auto end = wiredate::dayFromDatabase(q->value(1));
    if (!start || !end) return internalError("período contábil com data inválida na filial " + args.text(1));
    if (*start > uncovered) break;
    if (*end >= uncovered) uncovered = end->addDays(1);
  }
  return Reply::ofBoolean(uncovered > last);
}

// Refuses with "VENDA_CONSOL" when an item still waiting for a run (see
// salerules::workLeft) dated from the start date up to the day before the period
// exists for the branch (and its warehouse or location, where the branch
// uses them). Items no run ever posts are left out: they would block forever.
Result<Reply> verificaVendaAnterior(CallContext& call, const Arguments& args) {
  QString text = QStringLiteral(
                     "SELECT 1 FROM VENDA V "
                     "JOIN ITVENDA I ON I.CDFILIAL = V.CDFILIAL AND I.NRSEQVENDA = V.NRSEQVENDA "
                     "JOIN LOJA L ON L.CDFILIAL = V.CDFILIAL AND L.CDLOJA = V.CDLOJA "
                     "LEFT JOIN PRODUTO P ON P.CDPRODUTO = I.CDPRODUTO "
                     "WHERE V.CDFILIAL = ? AND V.DTVENDA >= ? AND V.DTVENDA < ? AND ") +
                 QString::fromStdString(salerules::workLeft());
  QVariantList values{args.qtext(1), wiredate::dayText(args.day(4)), wiredate::dayText(args.day(2))};
  if (args.isYes(5)) {
    text += QStringLiteral(" AND L.CDALMOXARIFE = ?");
    values << args.qtext(7);
  }
  if (args.isYes(6)) {
    text += QStringLiteral(" AND L.CDLOCALESTOQ = ?");
    values << args.qtext(8);
  }
  auto q = sql::run(call.db, text + QStringLiteral(" LIMIT 1"), values);
  if (!q) return q.error();
  if (q->next()) return refused("VENDA_CONSOL");
  return Reply::ofBoolean(true);
}

}  // namespace qfx::server::methods
