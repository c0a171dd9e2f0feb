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
TEST(Console, InterruptsRaiseTheFlagsAndHangUpsEndOnlyAWait) {
  // As a parent may leave them: blocked. The handlers take them all the same.
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, signal);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, nullptr), 0);
  std::signal(SIGHUP, SIG_DFL);  // as when not started under nohup
  std::atomic<bool> interrupted{false};
  std::atomic<bool> waitEnds{false};
  InstallInterruptHandlers(interrupted, waitEnds);
  // A closed pipe kills nothing; a hung-up terminal ends a wait, and only that: the run goes
  // on with its own exit code.
  std::raise(SIGPIPE);
  EXPECT_FALSE(waitEnds.load());
  std::raise(SIGHUP);
  EXPECT_FALSE(interrupted.load());
  EXPECT_TRUE(waitEnds.load());
  for (const int signal : {SIGTERM, SIGINT}) {
    interrupted = false;
    waitEnds = false;
    std::raise(signal);
    EXPECT_TRUE(interrupted.load()) << signal;
    EXPECT_TRUE(waitEnds.load()) << signal;
  }
  // Under nohup a hang-up is ignored, as nohup asks: a wait goes on.
  std::signal(SIGHUP, SIG_IGN);
  waitEnds = false;
  InstallInterruptHandlers(interrupted, waitEnds);
  std::raise(SIGHUP);
  EXPECT_FALSE(waitEnds.load());
}

// The program itself, started by a parent that blocks SIGINT, SIGTERM and SIGHUP: each of
// the first two still stops a write that hangs on a silent unit, and a hang-up a wait for a
// unit that never comes, with the interrupted exit code. The signal is sent once the write
// phase has begun, or the wait, as their lines say.
TEST(Console, ProgramStartedWithSignalsBlockedStillStops) {
  struct Case {
    int signal;
    std::vector<std::string> args;
    const char* begun;  // the line that says the run is where the signal is meant to come
  };
  const std::vector<std::string> silentWrite = {"--json", "--quiet", "--timeout=20",
                                                "--simulate-fault=silent-after:3", "update"};
  // The emulated unit is 7029: the one named never comes.
  const std::vector<std::string> neverComes = {"--json", "--simulate", "--device=emulated:2004",
                                               "--wait=20", "update"};
  for (const Case& c : {Case{SIGINT, silentWrite, R"({"event":"phase","phase":"write"})"},
                        Case{SIGTERM, silentWrite, R"({"event":"phase","phase":"write"})"},
                        Case{SIGHUP, neverComes, "waiting for a unit of vendor 0x1852"}}) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, s);
    posix_spawnattr_setsigmask(&attributes, &blocked);
    // Not ignored, even where the tests run under nohup.
    posix_spawnattr_setsigdefault(&attributes, &blocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), QUARNEL_CLI_PROGRAM);
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
    while (out.find(c.begun) == std::string::npos) {
      const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
      if (n <= 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_NE(out.find(c.begun), std::string::npos) << out;
    ASSERT_EQ(::kill(pid, c.signal), 0);
    for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) {
      out.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << c.signal;
    EXPECT_EQ(WEXITSTATUS(status), kExitInterrupted) << "signal " << c.signal << "\n" << out;
    EXPECT_NE(out.find(R"("outcome":"interrupted")"), std::string::npos) << out;
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
