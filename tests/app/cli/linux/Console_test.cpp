#include "app/cli/Console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/ExitCodes.h"
#include "base/linux/UniqueFd.h"

namespace quarnel::cli {
namespace {

// Each test runs in a process of its own (ctest), so the handlers stay with this one.
TEST(Console, InterruptsRaiseTheFlagAndHangUpsAndClosedPipesKillNothing) {
  // As a parent may leave them: blocked. The handlers take them all the same.
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, signal);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, nullptr), 0);
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

// The program itself, started by a parent that blocks SIGINT, SIGTERM and SIGHUP: each of
// the first two still stops a write that hangs on a silent unit, with the interrupted exit
// code. The signal is sent once the write phase has begun, as its JSON line says.
TEST(Console, ProgramStartedWithSignalsBlockedStillStops) {
  for (const int signal : {SIGINT, SIGTERM}) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, s);
    posix_spawnattr_setsigmask(&attributes, &blocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> args = {QUARNEL_CLI_PROGRAM,
                                     "--json",
                                     "--quiet",
                                     "--timeout=20",
                                     "--simulate-fault=silent-after:3",
                                     "update"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, QUARNEL_CLI_PROGRAM, &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ASSERT_EQ(spawned, 0);
    writeEnd.reset();
    std::string out;
    char buffer[256];
    while (out.find(R"({"event":"phase","phase":"write"})") == std::string::npos) {
      const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_NE(out.find(R"("phase":"write")"), std::string::npos) << out;
    ASSERT_EQ(::kill(pid, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << signal;
    EXPECT_EQ(WEXITSTATUS(status), kExitInterrupted) << "signal " << signal;
  }
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
