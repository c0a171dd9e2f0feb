#include "app/cli/Console.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>

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

// The rule the advice prints is the packaged rule's line for that unit, word for word.
TEST(Console, AdvisedRuleIsThePackagedOne) {
  std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/packaging/linux/70-quarnel-audio.rules");
  std::stringstream rules;
  rules << in.rdbuf();
  for (const std::uint16_t pid : {std::uint16_t{0x5028}, std::uint16_t{0x2004}}) {
    const std::string advice = UdevAdvice(pid, false);
    const auto begin = advice.find("echo '") + 6;
    const std::string rule = advice.substr(begin, advice.find('\'', begin) - begin);
    EXPECT_NE(rules.str().find(rule + "\n"), std::string::npos) << rule;
  }
}

}  // namespace
}  // namespace quarnel::cli
