#include "app/cli/Console.h"

#include <gtest/gtest.h>

#include <csignal>

namespace quarnel::cli {
namespace {

// Each test runs in a process of its own (ctest), so the handlers stay with this one.
TEST(Console, InterruptsRaiseTheFlagAndHangUpsAndClosedPipesKillNothing) {
  std::atomic<bool> interrupted{false};
  InstallInterruptHandlers(interrupted);
  // A closed pipe and a hung-up terminal: the run goes on with its own exit code.
  std::raise(SIGPIPE);
  std::raise(SIGHUP);
  EXPECT_FALSE(interrupted.load());
  std::raise(SIGTERM);
  EXPECT_TRUE(interrupted.load());
  interrupted = false;
  std::raise(SIGINT);
  EXPECT_TRUE(interrupted.load());
}

}  // namespace
}  // namespace quarnel::cli
