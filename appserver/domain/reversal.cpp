#include "domain/reversal.h"

#include <QSqlQuery>
#include <chrono>
#include <optional>
#include <set>
#include <thread>

#include "common/wire_date.h"
#include "db/rows.h"
#include "db/sql.h"
#include "domain/checks.h"
#include "domain/number_series.h"
#include "domain/packets.h"
#include <proto/contract_refusals.h>

namespace qfx::server::reversal {

namespace {

constexpr int kAttempts = 6;

using namespace contract::refusals::reversal;
Error refusal(std::string_view key) { return refused(std::string(key)); }

bool worthRetrying(const Error& error) {
  return error.kind == ErrorKind::Unavailable || error.kind == ErrorKind::Conflict;
}

QString textOf(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

// What the reversal reads of the posting and its fiscal-note entry.
struct Posting {
  QDate day;
  QString warehouse, place, withdrawalType, sector, store;
  QString noteBranch, note;
  int64_t items = 0;
};

// One attempt, inside one transaction.
class Run {
 public:
  Run(QSqlDatabase& db, Dialect dialect, const Request& request, const CallLimits& limits)
      : db_(db), dialect_(dialect), request_(request), limits_(limits) {}

  Result<Outcome> execute();

 private:
  Status readPosting();
  Status checkNotReversed();
  Status checkPeriods();
  Status checkLaterImplantation();
  Status releaseItems();
  Status postReversal();
  Status markNote();
  Status record();

  QSqlDatabase& db_;
  Dialect dialect_;
  const Request& request_;
  const CallLimits& limits_;
  Posting posting_;
  Outcome outcome_;
};

// Only a posting the consolidation made (a sales withdrawal with its
// fiscal-note entry) of the branch asked for may be reversed here.
Status Run::readPosting() {
  auto q = sql::run(db_,
                    QStringLiteral("SELECT L.IDTIPOLANC, L.CDFILIALVENDA, L.DTLANCESTQ, L.CDALMOXARIFE, "
                                   "L.CDLOCALESTOQ, L.CDTIPORETI, L.CDSETOR, L.CDLOJA, N.CDFILIAL, N.NRLANCTONF, "
                                   "N.QTITENS FROM LANCESTQ L LEFT JOIN LANCTONF N ON N.CDFILIALEST = L.CDFILIAL "
                                   "AND N.NRLANCESTQ = L.NRLANCESTQ WHERE L.CDFILIAL = ? AND L.NRLANCESTQ = ?"),
                    {request_.stockBranch, request_.posting});
  if (!q) return q.error();
  if (!q->next()) return refusal(kNotARun);
  if (textOf(q->value(0)) != QLatin1String("V") || textOf(q->value(1)) != request_.branch || q->value(9).isNull())
    return refusal(kNotARun);
  const auto day = wiredate::dayFromDatabase(q->value(2));
  if (!day) return internalError("lançamento " + request_.posting.toStdString() + " com data inválida no banco");
  posting_ = Posting{*day,
                     textOf(q->value(3)),
                     textOf(q->value(4)),
                     textOf(q->value(5)),
                     textOf(q->value(6)),
                     textOf(q->value(7)),
                     textOf(q->value(8)),
                     textOf(q->value(9)),
                     q->value(10).toLongLong()};
  return success();
}

Status Run::checkNotReversed() {
  auto q = sql::run(db_, QStringLiteral("SELECT 1 FROM ESTORNOLANCESTQ WHERE CDFILIAL = ? AND NRLANCESTQ = ?"),
                    {request_.stockBranch, request_.posting});
  if (!q) return q.error();
  if (q->next()) return refusal(kAlreadyReversed);
  return success();
}

// The day must still be open: in the branch's accounting and in the stock of
// both the branch and the branch that keeps its stock.
Status Run::checkPeriods() {
  auto open = checks::periodOpen(db_, request_.branch, posting_.day, posting_.day);
  if (!open) return open.error();
  if (!*open) return refusal(kAccountingClosed);
  for (const QString& branch : std::set<QString>{request_.branch, request_.stockBranch}) {
    auto q = sql::run(db_, QStringLiteral("SELECT DTFECHAESTQ FROM PARAMFILIAL WHERE CDFILIAL = ?"), {branch});
    if (!q) return q.error();
    if (!q->next()) continue;
    const auto closed = wiredate::dayFromDatabase(q->value(0));
    if (closed && *closed >= posting_.day) return refusal(kStockClosed);
  }
  return success();
}

// An implantation or an inventory adjustment of the warehouse after the
// posting (a later day, or later on its day) counted the stock anew: the
// quantities the reversal would put back are already in that count.
Status Run::checkLaterImplantation() {
  const QString day = wiredate::dayText(posting_.day);
  auto q = sql::run(db_,
                    QStringLiteral("SELECT 1 FROM LANCESTQ WHERE CDFILIAL = ? AND CDALMOXARIFE = ? AND IDTIPOLANC IN "
                                   "('I', 'A') AND (DTLANCESTQ > ? OR (DTLANCESTQ = ? AND NRLANCESTQ > ?))"),
                    {request_.stockBranch, posting_.warehouse, day, day, request_.posting});
  if (!q) return q.error();
  if (q->next()) return refusal(kCountedAfter);
  return success();
}

// The posting's items become pending again; they must be exactly those its
// fiscal-note entry counted.
Status Run::releaseItems() {
  auto q = sql::run(db_,
                    QStringLiteral("UPDATE ITVENDA SET CDFILIALEST = NULL, NRLANCESTQ = NULL, CDFILIALNF = NULL, "
                                   "NRLANCTONF = NULL WHERE CDFILIALEST = ? AND NRLANCESTQ = ?"),
                    {request_.stockBranch, request_.posting});
  if (!q) return q.error();
  outcome_.items = q->numRowsAffected();
  if (outcome_.items != posting_.items)
    return internalError("o lançamento " + request_.posting.toStdString() + " tem " + std::to_string(posting_.items) +
                         " itens na nota, mas " + std::to_string(outcome_.items) +
                         " itens de venda o apontam; nada foi estornado");
  return success();
}

// The reversing posting: the same lines negated, on the posting's day, and
// the balances moved back by them, in product order as a run moves them.
Status Run::postReversal() {
  auto number = series::allocate(db_, request_.stockBranch, series::kStock, 1, QStringLiteral("LANCESTQ"),
                                 QStringLiteral("NRLANCESTQ"));
  if (!number) return number.error();
  outcome_.reversal = series::number10(*number);
  auto header = sql::run(
      db_,
      QStringLiteral("INSERT INTO LANCESTQ (CDFILIAL, NRLANCESTQ, DTLANCESTQ, IDTIPOLANC, CDALMOXARIFE, "
                     "CDLOCALESTOQ, CDTIPORETI, CDSETOR, CDOPERADOR, CDFILIALVENDA, CDLOJA, DTINCLUSAO) "
                     "VALUES (?, ?, ?, 'R', ?, ?, ?, ?, ?, ?, ?, ?)"),
      {request_.stockBranch, outcome_.reversal, wiredate::dayText(posting_.day), posting_.warehouse, posting_.place,
       sql::textOrNull(posting_.withdrawalType), sql::textOrNull(posting_.sector), request_.operatorCode,
       request_.branch, sql::textOrNull(posting_.store), wiredate::momentText(request_.now)});
  if (!header) return header.error();
  auto lines = sql::run(db_,
                        QStringLiteral("INSERT INTO ITLANCESTQ (CDFILIAL, NRLANCESTQ, CDPRODUTO, QTLANCESTQ) "
                                       "SELECT CDFILIAL, ?, CDPRODUTO, -QTLANCESTQ FROM ITLANCESTQ "
                                       "WHERE CDFILIAL = ? AND NRLANCESTQ = ?"),
                        {outcome_.reversal, request_.stockBranch, request_.posting});
  if (!lines) return lines.error();
  auto balances =
      sql::run(db_,
               QStringLiteral("INSERT INTO SALDOESTQ (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, CDPRODUTO, QTSALDOESTQ) "
                              "SELECT ?, ?, ?, CDPRODUTO, QTLANCESTQ FROM ITLANCESTQ WHERE CDFILIAL = ? AND "
                              "NRLANCESTQ = ? ORDER BY CDPRODUTO ON CONFLICT (CDFILIAL, CDALMOXARIFE, CDLOCALESTOQ, "
                              "CDPRODUTO) DO UPDATE SET QTSALDOESTQ = SALDOESTQ.QTSALDOESTQ + EXCLUDED.QTSALDOESTQ"),
               {request_.stockBranch, posting_.warehouse, posting_.place, request_.stockBranch, request_.posting});
  if (!balances) return balances.error();
  return success();
}

Status Run::markNote() {
  auto q = sql::run(db_,
                    QStringLiteral("UPDATE LANCTONF SET IDESTORNADO = 'S' WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                                   "IDESTORNADO = 'N'"),
                    {posting_.noteBranch, posting_.note});
  if (!q) return q.error();
  if (q->numRowsAffected() != 1) return refusal(kAlreadyReversed);
  return success();
}

Status Run::record() {
  auto q = sql::run(db_,
                    QStringLiteral("INSERT INTO ESTORNOLANCESTQ (CDFILIAL, NRLANCESTQ, NRLANCESTQESTORNO, CDOPERADOR, "
                                   "DTESTORNO, DSMOTIVO) VALUES (?, ?, ?, ?, ?, ?)"),
                    {request_.stockBranch, request_.posting, outcome_.reversal, request_.operatorCode,
                     wiredate::momentText(request_.now), request_.reason.trimmed()});
  if (!q) return q.error();
  return success();
}

Result<Outcome> Run::execute() {
  auto tx = sql::Transaction::begin(db_, dialect_);
  if (!tx) return tx.error();
  // before anything is read: a run or reversal of this stock commits first
  if (auto s = series::lock(db_, request_.stockBranch, series::kStock); !s) return s.error();
  for (auto step : {&Run::readPosting, &Run::checkNotReversed, &Run::checkPeriods, &Run::checkLaterImplantation,
                    &Run::releaseItems, &Run::postReversal, &Run::markNote, &Run::record}) {
    if (auto s = (this->*step)(); !s) return s.error();
  }
  // a client that gave up saw a failure: it must find nothing reversed
  if (limits_.cancelled()) return Error{ErrorKind::Unavailable, "chamada cancelada pelo cliente; nada foi estornado"};
  if (auto s = tx->commit(); !s) return s.error();
  return outcome_;
}

bool connectionUsable(QSqlDatabase& db) {
  QSqlQuery probe(db);
  return probe.exec(QStringLiteral("SELECT 1"));
}

}  // namespace

Result<Outcome> reverse(QSqlDatabase& db, Dialect dialect, const Request& request, const CallLimits& limits) {
  const QString reason = request.reason.trimmed();
  if (reason.isEmpty() || reason.size() > kReasonLength) return refusal(kReasonMissing);
  const CallLimits::Scope scope(limits);
  for (int attempt = 1;; ++attempt) {
    auto outcome = Run(db, dialect, request, limits).execute();
    const bool retry = !outcome.ok() && worthRetrying(outcome.error()) && attempt < kAttempts && !limits.shouldStop() &&
                       connectionUsable(db);
    if (!retry) return outcome;
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt * attempt));
  }
}

Result<packet::Packet> runsOf(QSqlDatabase& db, const QString& branch, const QDate& first, const QDate& last) {
  if (first > last) return contract::emptyPacket(contract::fields::consolidationRuns);
  // in the order of contract::fields::consolidationRuns
  static const std::string text =
      "SELECT L.CDFILIAL, L.NRLANCESTQ, L.DTLANCESTQ, L.CDOPERADOR, L.CDLOJA, L.CDTIPORETI, L.CDSETOR, N.QTITENS, "
      "N.VRTOTLANCTONF, N.CDFILIAL, N.NRLANCTONF, L.DTINCLUSAO, E.NRLANCESTQESTORNO, E.CDOPERADOR, E.DTESTORNO, "
      "E.DSMOTIVO FROM LANCESTQ L JOIN LANCTONF N ON N.CDFILIALEST = L.CDFILIAL AND N.NRLANCESTQ = L.NRLANCESTQ "
      "LEFT JOIN ESTORNOLANCESTQ E ON E.CDFILIAL = L.CDFILIAL AND E.NRLANCESTQ = L.NRLANCESTQ "
      "WHERE L.CDFILIALVENDA = ? AND L.DTLANCESTQ BETWEEN ? AND ? AND L.IDTIPOLANC = 'V' "
      "ORDER BY L.DTLANCESTQ, L.CDFILIAL, L.NRLANCESTQ";
  auto rows = sql::openRows(
      db, text, {branch.toStdString(), wiredate::dayText(first).toStdString(), wiredate::dayText(last).toStdString()});
  if (!rows) return rows.error();
  packet::Packet packet = contract::emptyPacket(contract::fields::consolidationRuns);
  if (auto done = packets::appendRows(packet, **rows); !done) return done.error();
  return packet;
}

}  // namespace qfx::server::reversal
