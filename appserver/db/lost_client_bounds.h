// How long a server that stops in the middle of a transaction (frozen,
// killed without its sockets closing, cut off from the network) can keep
// PostgreSQL's locks: a posting holds its branch's number series and items
// locked, and every other server's posting for that branch waits for them.
// PostgreSQL ends such a session by itself, so the locks go with it:
// - idle_in_transaction_session_timeout: a transaction that waits for its
//   client longer than the bound (the usual case: the client stopped
//   between two statements) is ended;
// - tcp_user_timeout and keepalives: a client whose machine or network is
//   gone is dropped even while PostgreSQL is sending it a result.
// A running server never waits that long between two statements of one
// transaction: its work between them is a matter of milliseconds.
#pragma once

#include <QSqlDatabase>

#include "common/result.h"

namespace qfx::server {

// Sets the bounds on a fresh PostgreSQL session; a setting the server does
// not know (an older PostgreSQL) is left out.
Status boundLostClientHold(QSqlDatabase& db, int holdMs);

}  // namespace qfx::server
