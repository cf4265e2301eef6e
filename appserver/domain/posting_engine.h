// The consolidation run behind SemGeraNF: the pending items a filter selects
// become stock postings (one per sale day), their fiscal-note entries, moved
// balances and stamped items, in one transaction.
//
// Exactly once: a run first locks its branch's number series (so runs of a
// branch take turns) and then claims each item with a conditional update
// (only while it is pending: salerules::pending), checking the rows it
// touched; an item claimed by someone else aborts and retries the whole run,
// which then no longer sees it. All or nothing: every write is in the one transaction.
#pragma once

#include <QDate>
#include <QSqlDatabase>
#include <QString>

#include "common/result.h"
#include "db/call_limits.h"
#include "db/database.h"
#include "domain/selection.h"
#include <proto/packet_codec.h>

namespace qfx::server::posting {

struct Request {
  QString branch, store;
  SaleFilter filter;  // pending items of the branch and store
  QString withdrawalType, sector, operatorCode;
  bool checkStock = true;
  QDate today = QDate::currentDate();  // the processing date when the branch has none
  // The client's name for this run (contract::kRunMetadata); empty: none.
  // A run of an identifier that already committed answers that run's outcome.
  QString runId;
};

struct Outcome {
  packet::Packet errors;     // contract::fields::postingErrors: items that leave stock negative
  int64_t firstPosting = 0;  // number of the first stock posting made; 0: nothing posted
  int64_t lastPosting = 0;   // number of the last stock posting made; 0: nothing posted
  int64_t itemsPosted = 0;   // sale items the run stamped
  packet::Packet blocked;    // contract::fields::blockedProducts: inactive or unregistered products
  QString messageKey;        // "ULT_LANC_DIA" or empty
  QString details;           // beside the message key: the days left out
  bool replayed = false;     // the outcome kept from the run's first answer, nothing posted now
};

// Runs the consolidation; refusals come back as ErrorKind::Refused with the
// key the screen knows. Retries by itself when it loses a race or finds the
// database busy, but not past the call's stop point nor for a client that
// has gone: then the last error is the answer.
Result<Outcome> consolidate(QSqlDatabase& db, Dialect dialect, const Request& request, const CallLimits& limits);

// The update that stamps a run's items on SQLite (parameters: the JSON array
// of [ROWID, day's place] pairs, stock branch, first stock number, branch,
// first note number, branch), for its query plan to be checked.
std::string sqliteStampText();
// Its PostgreSQL counterpart (parameters: stock branch, the days' stock
// numbers, branch, the days' note numbers, then per item its ctid, sale,
// item and day's place, as arrays, and the branch).
std::string postgresStampText();

packet::Packet emptyErrorList();
packet::Packet emptyBlockedList();

}  // namespace qfx::server::posting
