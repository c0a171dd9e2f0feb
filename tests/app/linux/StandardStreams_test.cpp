#include "app/StandardStreams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/ExitCodes.h"
#include "base/linux/UniqueFd.h"
#include "tests/support/TestFolder.h"

namespace quarnel {
namespace {

// The command line started with one standard descriptor closed and the others on one pipe:
// what it printed and its exit status.
struct Started {
  std::string output;
  int status = -1;
};

Started RunWithClosed(int closed, std::vector<std::string> args) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return {};
  UniqueFd readEnd(pipeFds[0]);
  UniqueFd writeEnd(pipeFds[1]);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fd == closed) {
      posix_spawn_file_actions_addclose(&actions, fd);
    } else if (fd != STDIN_FILENO) {
      posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), fd);
    }
  }
  args.insert(args.begin(), QUARNEL_CLI_PROGRAM);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned =
      ::posix_spawn(&pid, QUARNEL_CLI_PROGRAM, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  writeEnd.reset();
  Started started;
  if (spawned != 0) return started;
  char buffer[512];
  for (ssize_t n; (n = ::read(readEnd.get(), buffer, sizeof buffer)) > 0;) {
    started.output.append(buffer, static_cast<std::size_t>(n));
  }
  ::waitpid(pid, &started.status, 0);
  return started;
}

// Started without one of its standard streams, the program sends the unit its requests and
// nothing else: not its lines, its progress or its trace. The emulated unit counts whatever
// reaches it as a request and falls silent after the two a 16-byte verify needs, so one line
// of text among them leaves the second unanswered (exit 3 after the time limit).
TEST(StandardStreams, ClosedOnesNeverBecomeTheUnitsLink) {
  testing::TestFolder folder;
  const std::string image = folder.File("erased.bin");
  testing::PutFile(image, std::string(16, '\xFF'));  // what the erased unit holds
  for (const int closed : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    const Started run =
        RunWithClosed(closed, {"--simulate", "--simulate-fault=silent-after:2", "--trace",
                               "--timeout=3", "--image=" + image, "--force", "verify"});
    ASSERT_TRUE(WIFEXITED(run.status)) << "fd " << closed;
    EXPECT_EQ(WEXITSTATUS(run.status), kExitOk) << "fd " << closed << "\n" << run.output;
    if (closed != STDOUT_FILENO) {
      EXPECT_NE(run.output.find("EEPROM matches the image\n"), std::string::npos) << run.output;
    }
  }
}

}  // namespace
}  // namespace quarnel
