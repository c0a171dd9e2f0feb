#include "app/WindowedProgram.h"
#include "engine/Products.h"

#include <gtest/gtest.h>

#include "base/Version.h"
#include "tests/support/HeadlessWindow.h"

namespace quarnel::windowed {
namespace {

std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Both platforms' programs act on this; what each argument list must come to.
TEST(WindowedProgram, ArgumentsDecideDialogTextAndExitCode) {
  const std::string usageLine = "usage: quarnel-fwupdate [options]";
  const std::string versionLine = std::string("quarnel-fwupdate ") + kProgramVersion;
  struct Case {
    std::vector<std::string> args;
    bool dialog;
    int code;
    std::string firstLine;  // empty: any message of the option parser
  };
  const Case cases[] = {
      {{}, true, kExitOk, ""},
      {{"--simulate", "--simulate-fault=delay:1", "--report=r.txt"}, true, kExitOk, ""},
      {{"-h"}, false, kExitOk, usageLine},
      {{"--help", "--bogus"}, false, kExitOk, usageLine},
      {{"--simulate", "--version", "--bogus"}, false, kExitOk, versionLine},
      {{"--bogus"}, false, kExitUsage, "quarnel-fwupdate: unknown option '--bogus'"},
      {{"--bogus", "--help"}, false, kExitUsage, "quarnel-fwupdate: unknown option '--bogus'"},
      {{"update"}, false, kExitUsage, "quarnel-fwupdate: unknown option 'update'"},
      {{"--simulate=xyz"}, false, kExitUsage, ""},
      {{"--simulate-fault=flip"}, false, kExitUsage, ""},
      {{"--report="}, false, kExitUsage, ""},
  };
  for (const Case& c : cases) {
    const std::string args = ::testing::PrintToString(c.args);
    const Start start = ParseArguments(c.args);
    EXPECT_EQ(start.showDialog, c.dialog) << args;
    EXPECT_EQ(start.exitCode, c.code) << args;
    if (c.dialog) {
      EXPECT_TRUE(start.text.empty()) << args;
      continue;
    }
    if (c.firstLine.empty()) {
      EXPECT_EQ(start.text.rfind("quarnel-fwupdate: ", 0), 0u) << args << start.text;
    } else {
      EXPECT_EQ(FirstLine(start.text), c.firstLine) << args;
    }
    if (c.firstLine == versionLine) {
      EXPECT_EQ(start.text,
                versionLine + "\nVer. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]\n");
    } else {
      // Help and every mistake show the whole usage.
      EXPECT_TRUE(EndsWith(start.text, Usage())) << args << start.text;
    }
  }
}

TEST(WindowedProgram, OptionsReachTheDialog) {
  const Start start = ParseArguments({"--simulate=2004", "--report=r.txt"});
  ASSERT_TRUE(start.showDialog);
  EXPECT_EQ(start.options.simulateProduct, 0x2004);
  EXPECT_EQ(start.options.reportFile, "r.txt");
}

TEST(WindowedProgram, ReportFileThatCannotBeWrittenStopsTheProgram) {
  SharedOptions options;
  options.simulateProduct = kDefaultEmulatedProduct;
  options.reportFile = ::testing::TempDir() + "no-such-directory/report.txt";
  testing::HeadlessWindow window;
  const Session session(options, window);
  EXPECT_FALSE(session.ok());
  EXPECT_NE(session.error().find(options.reportFile), std::string::npos) << session.error();
}

}  // namespace
}  // namespace quarnel::windowed
