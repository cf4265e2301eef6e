// A real application server on loopback (port 0) over a fresh, migrated test
// database, optionally loaded with the fixture.
#pragma once

#include <memory>

#include "backend.h"
#include "client.h"
#include "db/database.h"
#include "fixture.h"
#include "rpc/server.h"

namespace qfx::test {

class ServerHarness {
 public:
  explicit ServerHarness(Backend backend, bool withFixture = true, server::ServerOptions options = {});
  ~ServerHarness();

  TestDatabase& testDatabase() { return *testDb_; }
  server::Database& database() { return *database_; }
  // This thread's connection to the same database, for arranging and checking.
  QSqlDatabase sql();
  int port() const { return server_->port(); }
  server::AppServer& server() { return *server_; }

  std::unique_ptr<TestClient> client();
  // A client logged in as the operator; fails the test when login fails.
  std::unique_ptr<TestClient> loggedIn(const std::string& op = kManager,
                                       const std::string& password = kManagerPassword);

  void stop();

 private:
  std::unique_ptr<TestDatabase> testDb_;
  std::unique_ptr<server::Database> database_;
  std::unique_ptr<server::AppServer> server_;
};

// A file of tests/appserver/data: certificates, keys.
std::string dataFile(const char* name);

// Skips a PostgreSQL variant when no test server is configured.
#define QFX_REQUIRE_BACKEND(backend)                                                        \
  do {                                                                                      \
    if ((backend) == ::qfx::test::Backend::PostgreSQL && !::qfx::test::postgresAvailable()) \
      GTEST_SKIP() << "QFX_TEST_PG_URL não definida: variante PostgreSQL pulada";           \
  } while (0)

}  // namespace qfx::test
