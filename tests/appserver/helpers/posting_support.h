// Calling SemGeraNF from the tests and checking what a run left behind.
#pragma once

#include <QSqlDatabase>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "client.h"
#include "db/database.h"
#include "domain/posting_engine.h"
#include "domain/reversal.h"

namespace qfx::test {

// A run: the 24 arguments of SemGeraNF, or the posting engine's request, all
// restrictions off unless set.
struct Consolidation {
  std::string workBranch = "0001", branch = "0001", store = "01";
  QDate first = QDate(2024, 3, 10), last = QDate(2024, 3, 11);
  std::string sales, registers, customers, consumptionTypes, costCentres, products;  // empty: all
  bool customerInterval = false;
  std::string nameFrom, nameTo;
  std::string withdrawalType = "01", sector = "0001", operatorCode = "gerente";
  bool checkStock = true;

  std::vector<rpc::Argument> args() const;
  server::posting::Request request() const;
};

struct PostingReply {
  CallResult call;
  int64_t lastPosting = -1;
  std::string messageKey;
  const packet::Packet& errors() const { return call.listPacket(0); }
  const packet::Packet& blocked() const { return call.listPacket(2); }
};

PostingReply consolidate(TestClient& client, const Consolidation& c,
                         std::chrono::milliseconds deadline = std::chrono::seconds(300));

// A reversal: the 6 arguments of EstornaGeraNF, or the engine's request.
struct Reversal {
  std::string workBranch = "0001", branch = "0001", stockBranch = "0001", posting;
  std::string reason = "Tipo de retirada errado", operatorCode = "gerente";

  std::vector<rpc::Argument> args() const;
  server::reversal::Request request() const;
};
// The call and, when it went through, the reversing posting and how many
// items are pending again.
struct ReversalReply {
  CallResult call;
  std::string reversal;
  int64_t items = -1;
};
ReversalReply reverse(TestClient& client, const Reversal& r,
                      std::chrono::milliseconds deadline = std::chrono::seconds(300));

// Checks the books after any number of runs, killed or not:
// - every stamped item names an existing sales posting and its fiscal note;
// - each posting's lines equal, per stock product, its stamped items
//   (returns counted back in);
// - each balance equals its value in `before` less the lines of the sales
//   postings made since (those not in `postingsBefore`), plus the lines of
//   every reversal made since;
// - a reversed posting has its reversal's lines, its negation, and its
//   fiscal note marked reversed; its items are pending again.
// Returns a description of the first inconsistency, empty when all hold.
struct Books {
  std::map<std::string, double> balances;  // "branch|warehouse|location|product"
  std::vector<std::string> postings;       // "branch|number" of sales postings
};
Books readBooks(QSqlDatabase& db);
std::string checkBooks(QSqlDatabase& db, const Books& before);

int64_t countPending(QSqlDatabase& db, const std::string& branch);

// Adds `count` sales of three items (rice, beans, the rice combo; every
// tenth sale returned) to branch 0001 store 01, numbered from `firstSale`,
// spread over `days` days from 12 March 2024.
void addSales(QSqlDatabase& db, int firstSale, int count, int days = 5);

// Stock-controlled items of branch 0001 from 12 March on: how many and how
// many of them are posted.
struct Progress {
  int64_t items = 0, posted = 0;
};
Progress progress(QSqlDatabase& db);

// Balances so large that the stock check stays quiet.
void plentyOfStock(QSqlDatabase& db);

// A connection of its own to a scene's database, holding locks for a test.
class OtherWriter {
 public:
  explicit OtherWriter(const std::string& url);
  // Unprepared: PostgreSQL prepares no BEGIN or LOCK.
  void exec(const QString& statement);
  int backendPid();
  QSqlDatabase& sql() { return db_; }

 private:
  server::Database database_;
  QSqlDatabase db_;
};

// PostgreSQL: waits until a session of the database is blocked by `holder`
// (the call reached the lock) and returns its process id; 0 when the call
// ended first or never got there.
int waitForBlockedSession(QSqlDatabase& observer, int holder, const std::function<bool()>& callEnded);
// The same for `sessions` sessions at once; false when the calls ended first.
bool waitForBlockedSessions(QSqlDatabase& observer, int holder, int sessions, const std::function<bool()>& callsEnded);

}  // namespace qfx::test
