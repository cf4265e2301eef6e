// The two databases every server test runs on. SQLite needs nothing; the
// PostgreSQL variants run when QFX_TEST_PG_URL names a server (the test
// command starts a throwaway one) and are skipped otherwise. Each test gets a
// database of its own, dropped at the end.
#pragma once

#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "db/database.h"

namespace qfx::test {

enum class Backend { SQLite, PostgreSQL };

std::string backendName(Backend backend);
// For INSTANTIATE_TEST_SUITE_P names.
struct BackendName {
  std::string operator()(const testing::TestParamInfo<Backend>& info) const { return backendName(info.param); }
};

// True when the PostgreSQL variants can run.
bool postgresAvailable();

class TestDatabase {
 public:
  explicit TestDatabase(Backend backend);
  ~TestDatabase();
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  Backend backend() const { return backend_; }
  const std::string& url() const { return url_; }
  // A server-side Database on it, migrated.
  std::unique_ptr<server::Database> open() const;
  // SQLite only: the file.
  QString path() const { return path_; }

 private:
  Backend backend_;
  std::string url_;
  QString path_;
  std::string pgName_;
  std::unique_ptr<QTemporaryDir> dir_;
};

}  // namespace qfx::test
