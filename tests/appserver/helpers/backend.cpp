#include <gtest/gtest.h>

#include "backend.h"

#include <unistd.h>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <atomic>
#include <cstdlib>

#include "db/migrations.h"

namespace qfx::test {

namespace {

std::atomic<int> counter{0};

std::string pgBaseUrl() {
  const char* url = std::getenv("QFX_TEST_PG_URL");
  return url ? std::string(url) : std::string();
}

// Runs one statement on the base test database (CREATE/DROP DATABASE cannot
// run inside a transaction, and need a connection to another database).
void adminStatement(const QString& statement) {
  const QString name = QStringLiteral("qfx-test-admin");
  {
    QUrl url(QString::fromStdString(pgBaseUrl()));
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(url.host());
    db.setPort(url.port(5432));
    db.setUserName(url.userName());
    db.setPassword(url.password());
    db.setDatabaseName(url.path().mid(1));
    const bool fresh = !db.isOpen();
    ASSERT_TRUE(db.isOpen() || db.open()) << db.lastError().text().toStdString();
    QSqlQuery q(db);
    if (fresh) q.exec(QStringLiteral("SET client_min_messages TO WARNING"));  // no "does not exist, skipping"
    ASSERT_TRUE(q.exec(statement)) << statement.toStdString() << ": " << q.lastError().text().toStdString();
  }
}

}  // namespace

std::string backendName(Backend backend) { return backend == Backend::SQLite ? "SQLite" : "PostgreSQL"; }

bool postgresAvailable() { return !pgBaseUrl().empty(); }

TestDatabase::TestDatabase(Backend backend) : backend_(backend) {
  if (backend == Backend::SQLite) {
    dir_ = std::make_unique<QTemporaryDir>();
    path_ = dir_->filePath(QStringLiteral("test.db"));
    url_ = "sqlite:" + path_.toStdString();
    return;
  }
  pgName_ = "qfx_t_" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
  adminStatement(QString::fromStdString("DROP DATABASE IF EXISTS " + pgName_ + " WITH (FORCE)"));
  adminStatement(QString::fromStdString("CREATE DATABASE " + pgName_));
  QUrl url(QString::fromStdString(pgBaseUrl()));
  url.setPath(QString::fromStdString("/" + pgName_));
  url_ = url.toString().toStdString();
}

TestDatabase::~TestDatabase() {
  if (!pgName_.empty()) adminStatement(QString::fromStdString("DROP DATABASE IF EXISTS " + pgName_ + " WITH (FORCE)"));
}

std::unique_ptr<server::Database> TestDatabase::open() const {
  auto config = server::DbConfig::parse(url_);
  EXPECT_TRUE(config.ok()) << (config ? "" : config.error().message);
  auto db = std::make_unique<server::Database>(*config);
  auto migrated = server::migrations::migrate(*db);
  EXPECT_TRUE(migrated.ok()) << (migrated ? "" : migrated.error().message);
  return db;
}

}  // namespace qfx::test
