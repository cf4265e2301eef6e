// Qt SQL loads its drivers through the application object: every test binary
// of the server gets one for its whole run.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

#include "common/log.h"

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "appserver-tests";
    static char* argv[] = {name, nullptr};
    // the common test entry may have made the application object already
    if (!QCoreApplication::instance()) app_ = std::make_unique<QCoreApplication>(argc, argv);
    // the servers under test log refusals and failures, not every call
    qfx::server::log::setLevel(qfx::server::log::Level::Warn);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QCoreApplication> app_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
