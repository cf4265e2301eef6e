// The late-bound object "Qfx31700.rdmGeraNF": methods by name, each with its
// declared argument kinds and the positions that name a branch. The
// dispatcher refuses an unknown object or method, a wrong argument list, and
// a branch the session's operator may not use, before any method runs.
#pragma once

#include <proto/contract.h>

#include <QSqlDatabase>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "auth/sessions.h"
#include "common/result.h"
#include "db/call_limits.h"
#include "db/database.h"
#include "methods/arguments.h"
#include "methods/reply.h"

namespace qfx::server {

inline constexpr std::string_view kObjectName = contract::kObjectName;

struct CallContext {
  Database& database;
  QSqlDatabase db;  // the handler thread's connection
  const Session& session;
  CallLimits limits{};  // the client's deadline, and whether it gave up
  std::string runId{};  // the posting run the call belongs to (contract::kRunMetadata); empty: none
  // Set for the methods that stream (MethodEntry::streams): where the reply
  // goes while the method reads. Null: the method answers a whole Reply.
  ReplySink* sink = nullptr;
};

using Handler = std::function<Result<Reply>(CallContext&, const Arguments&)>;

struct MethodEntry {
  std::string name;
  std::vector<ArgKind> kinds;
  std::vector<int> branchArguments;  // 1-based positions holding a branch code
  Handler handler;
  // Reads a few rows by key and writes nothing: cheap enough to be answered
  // on the thread that received it (see Dispatcher::answersInPlace).
  bool keyRead = false;
  // Refusal key of a branch named outside the operator's binding, for a
  // method whose screen tells that case in its own words; empty: a readable
  // message naming the operator, method and branch.
  std::string branchRefusal;
  // Sends its rows while its query yields them (CallContext::sink), for the
  // lists whose size the selection decides.
  bool streams = false;
};

class Dispatcher {
 public:
  void add(MethodEntry method);
  // Names compare ignoring case, as late binding does.
  const MethodEntry* find(std::string_view method) const;
  // Every method, in the order added.
  const std::vector<MethodEntry>& methods() const { return methods_; }
  Result<Reply> invoke(CallContext& context, const rpc::InvokeRequest& request) const;
  // As invoke, for a read by key whose session is checked along with its
  // read: the method runs before the session is known (context.session is
  // empty; such a read does not look at who asks) and its reply is given
  // only once `session` allows the call. Dropping the reply of a read that
  // writes nothing undoes it. A wrong call is refused after the session
  // check, as invoke refuses it, so a caller without one learns nothing else.
  Result<Reply> invokeAlongSession(CallContext& context, const rpc::InvokeRequest& request,
                                   const std::function<Result<Session>()>& session) const;
  // Whether a call of `method` is answered on gRPC's thread that received
  // it, with that thread's own connection, instead of by a database worker.
  // On SQLite a read by key is: the hand-over to a worker and back (two
  // thread wake-ups) cost more than the read itself, and a connection is
  // only an open file. On PostgreSQL each connection is a process of the
  // database server, and the workers bound how many a server opens.
  bool answersInPlace(std::string_view method, Dialect dialect) const;
  // Whether a call of `method` checks its session along with its read
  // (invokeAlongSession): on PostgreSQL the reads by key, where the check
  // and the read then share one round trip to the database.
  bool checksSessionAlong(std::string_view method, Dialect dialect) const;
  // Whether a call of `method` streams its reply (MethodEntry::streams).
  bool streams(std::string_view method) const;

 private:
  // The method a request names, with its arguments checked.
  Result<const MethodEntry*> resolve(const rpc::InvokeRequest& request) const;
  bool isKeyRead(std::string_view method) const;

  std::vector<MethodEntry> methods_;
};

// The methods of the consolidation object.
Dispatcher makeConsolidationObject();

}  // namespace qfx::server
