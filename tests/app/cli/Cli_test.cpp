#include "app/cli/Cli.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "app/RunLock.h"

namespace quarnel::cli {
namespace {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;

  std::vector<std::string> OutLines() const {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

std::string LockName() {
  return std::string("quarnel-cli-test-") +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
         std::to_string(::getpid());
}

CliRun Cli(std::vector<std::string> args, const std::atomic<bool>* interrupted = nullptr) {
  std::ostringstream out;
  std::ostringstream err;
  Environment env{out, err};
  env.interrupted = interrupted;
  env.writePauseMs = 0;
  env.runLockName = LockName();
  CliRun r;
  r.code = RunCli(args, env);
  r.out = out.str();
  r.err = err.str();
  return r;
}

TEST(Cli, UpdateUnderEachProduct) {
  for (const char* pid : {"5028", "7030", "7029", "2004"}) {
    const CliRun r = Cli({std::string("--simulate=") + pid, "update"});
    EXPECT_EQ(r.code, kExitOk) << pid << r.err;
    const std::vector<std::string> expected = {
        "Ready", "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]", "Processing...",
        "FW UPDATE OK!"};
    EXPECT_EQ(r.OutLines(), expected) << pid;
    EXPECT_NE(r.err.find("progress 60%"), std::string::npos);
    EXPECT_NE(r.err.find("progress 100%"), std::string::npos);
  }
}

TEST(Cli, VerdictFailAndConnectFailuresHaveTheirCodes) {
  const CliRun flip = Cli({"--simulate", "--simulate-fault=flip:12287", "update"});
  EXPECT_EQ(flip.code, kExitVerifyFailed);
  EXPECT_EQ(flip.OutLines().back(), "FW UPDATE FAIL!");
  EXPECT_EQ(flip.OutLines().at(3), "Fail to update firmware!! Try to update again.");

  const CliRun none = Cli({"--simulate=1234", "update"});
  EXPECT_EQ(none.code, kExitNoDevice);
  EXPECT_EQ(none.OutLines().back(), "Fail to connect device!");
  EXPECT_NE(none.err.find("no HID device"), std::string::npos);

  const CliRun gone = Cli({"--simulate-fault=vanish-after:1536", "update"});
  EXPECT_EQ(gone.code, kExitNotVerified);
  EXPECT_EQ(gone.OutLines().back(), "Fail to connect device!");
}

TEST(Cli, SilentDeviceEndsAtTheTimeout) {
  const CliRun r = Cli({"--simulate-fault=silent-after:20", "--timeout=0.2", "update"});
  EXPECT_EQ(r.code, kExitStoppedAnswering);
  EXPECT_NE(r.err.find("stopped answering"), std::string::npos);
  const CliRun v = Cli({"--simulate-fault=silent-after:0", "--timeout=0.1", "version"});
  EXPECT_EQ(v.code, kExitVerifyFailed);
  EXPECT_EQ(v.OutLines().back(), "Fail to get firmware version!");
}

TEST(Cli, InterruptStopsCleanly) {
  const std::atomic<bool> interrupted{true};
  const CliRun r = Cli({"--simulate", "update"}, &interrupted);
  EXPECT_EQ(r.code, kExitInterrupted);
}

TEST(Cli, EmulatedRunsTakeNoMachineWideLock) {
  LockFailure reason;
  const auto held = RunLock::TryAcquire(LockName(), reason);
  ASSERT_NE(held, nullptr);
  const CliRun r = Cli({"--simulate", "update"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
}

TEST(Cli, VersionInfoAndList) {
  const CliRun v = Cli({"--simulate", "version"});
  EXPECT_EQ(v.code, kExitOk);
  EXPECT_EQ(v.OutLines().back(), "Ver. 23.07.0110.0001  2014-01-20.[0]  (Formal Release)");

  const CliRun i = Cli({"info"});
  EXPECT_EQ(i.code, kExitOk);
  EXPECT_EQ(i.out, "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]\n");

  const CliRun l = Cli({"--simulate=2004", "list"});
  EXPECT_EQ(l.code, kExitOk);
  EXPECT_EQ(l.out, "1852:2004  emulated:2004  alternate framing, 16-byte chunks\n");
  // Another product of the same vendor is listed, but not as something to update.
  const CliRun other = Cli({"--simulate=1234", "list"});
  EXPECT_EQ(other.out, "1852:1234  emulated:1234  not an audio interface this program updates\n");
}

TEST(Cli, JsonLinesEndWithAResult) {
  const CliRun r = Cli({"--json", "--simulate=2004", "update"});
  ASSERT_EQ(r.code, kExitOk);
  const auto lines = r.OutLines();
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("{\"event\":\"", 0), 0u) << line;
    EXPECT_EQ(line.back(), '}');
  }
  EXPECT_EQ(lines.back(), "{\"event\":\"result\",\"code\":0,\"text\":\"FW UPDATE OK!\"}");
  EXPECT_NE(r.out.find("{\"event\":\"dots\",\"text\":\"...\",\"colour\":\"#7F0000\"}"),
            std::string::npos);
  EXPECT_NE(r.out.find("{\"event\":\"progress\",\"percent\":100,\"phase\":\"verifying\"}"),
            std::string::npos);
  EXPECT_NE(r.out.find("\"status\",\"text\":\"FW UPDATE OK!\",\"colour\":\"#007F00\""),
            std::string::npos);
  EXPECT_TRUE(r.err.empty());
}

TEST(Cli, UsageErrors) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"--bogus", "update"},
                                             {"update", "version"},
                                             {"--timeout=0", "update"},
                                             {"--timeout=abc", "update"},
                                             {"--simulate=xyz", "update"},
                                             {"--simulate-fault=flip", "update"}}) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitUsage);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  EXPECT_EQ(Cli({"--help"}).code, kExitOk);
}

}  // namespace
}  // namespace quarnel::cli
