#include "harness.h"

#include <gtest/gtest.h>

namespace qfx::test {

ServerHarness::ServerHarness(Backend backend, bool withFixture, server::ServerOptions options) {
  testDb_ = std::make_unique<TestDatabase>(backend);
  database_ = testDb_->open();
  if (withFixture) {
    QSqlDatabase db = sql();
    loadFixture(db);
  }
  options.listen = "127.0.0.1:0";
  auto started = server::AppServer::start(*database_, server::makeConsolidationObject(), options);
  if (!started) {
    ADD_FAILURE() << "servidor não iniciou: " << started.error().message;
    return;
  }
  server_ = std::move(*started);
}

ServerHarness::~ServerHarness() { stop(); }

void ServerHarness::stop() {
  if (server_) server_->shutdown(std::chrono::milliseconds(2000));
  server_.reset();
}

QSqlDatabase ServerHarness::sql() {
  auto db = database_->connection();
  EXPECT_TRUE(db.ok()) << (db ? "" : db.error().message);
  return db ? *db : QSqlDatabase();
}

std::unique_ptr<TestClient> ServerHarness::client() { return std::make_unique<TestClient>(port()); }

std::unique_ptr<TestClient> ServerHarness::loggedIn(const std::string& op, const std::string& password) {
  auto c = client();
  const grpc::Status status = c->login(op, password);
  EXPECT_TRUE(status.ok()) << "login de " << op << ": " << status.error_message();
  return c;
}

std::string dataFile(const char* name) {
  return qfxtest::sourcePath(QStringLiteral("tests/appserver/data/") + QLatin1String(name)).toStdString();
}

}  // namespace qfx::test
