// A posting run's outcome kept under the identifier its client gave it, in
// the run's own transaction: a client that lost the reply asks again under
// the same identifier and is given that outcome, not a second run's.
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <optional>

#include "common/result.h"
#include "domain/posting_engine.h"

namespace qfx::server::posting {

// A run identifier the client may give: printable ASCII, at most
// contract::kRunIdMaxLength characters; empty means none.
Status checkRunId(const QString& runId);

// The outcome a committed run of `runId` answered; none when no run of that
// identifier committed. A run of another operator or branch under the same
// identifier is refused: an identifier names one run.
Result<std::optional<Outcome>> storedOutcome(QSqlDatabase& db, const Request& request);

// Keeps the outcome under the request's run identifier, inside the caller's
// transaction. A Conflict when another run of that identifier committed
// meanwhile: trying the run again then finds that one's outcome.
Status storeOutcome(QSqlDatabase& db, const Request& request, const Outcome& outcome);

}  // namespace qfx::server::posting
