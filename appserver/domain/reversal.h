// Undoing one stock posting of a consolidation run (EstornaGeraNF), in one
// transaction: the items it stamped become pending again, a reversing
// posting (IDTIPOLANC 'R', the same lines negated, on the same day) puts its
// quantities back into the balances it moved, its fiscal-note entry is
// marked reversed, and who, when and why are recorded.
//
// Exactly once: a reversal locks the stock branch's number series before it
// reads the posting, as a consolidation run does, so reversals and runs of
// that stock take turns; the second of two reversals of one posting then
// finds it reversed. The record's key backs this up.
#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>

#include "common/result.h"
#include "db/call_limits.h"
#include "db/database.h"
#include <proto/contract_methods.h>
#include <proto/packet_codec.h>

namespace qfx::server::reversal {

// The longest reason kept (ESTORNOLANCESTQ.DSMOTIVO).
inline constexpr int kReasonLength = contract::EstornaGeraNF::kMotivoMaximo;

struct Request {
  QString branch;       // the branch whose sales the posting consolidated
  QString stockBranch;  // the posting's key: its stock's branch and number
  QString posting;
  QString reason, operatorCode;
  QDateTime now = QDateTime::currentDateTime();
};

struct Outcome {
  QString reversal;   // number of the reversing posting
  int64_t items = 0;  // items pending again
};

// Refusals come back as ErrorKind::Refused with a key of the screen's
// catalogue (contract::refusals::reversal, all but the branch binding the
// method table checks).
// Retries by itself when it finds the database busy, as a run does.
Result<Outcome> reverse(QSqlDatabase& db, Dialect dialect, const Request& request, const CallLimits& limits);

// The runs of a branch over a period (contract::fields::consolidationRuns),
// by day and posting number.
Result<packet::Packet> runsOf(QSqlDatabase& db, const QString& branch, const QDate& first, const QDate& last);

}  // namespace qfx::server::reversal
