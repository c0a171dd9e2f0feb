// Any arguments, split at zero bytes, as the command line's whole argument list.
#include <string>
#include <vector>

#include "app/cli/CliOptions.h"
#include "base/Text.h"
#include "fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  using fuzz::Require;
  using Action = cli::ParsedArgs::Action;
  const std::vector<std::string> args = fuzz::SplitArguments(data, size);
  const auto parsed = cli::ParseArgs(args);
  if (!parsed) {
    const std::string& error = parsed.error().detail;
    Require(!error.empty(), "a usage error says what is wrong");
    // A message quotes an argument by at most 32 characters and the quotes and dots around it.
    Require(error.size() <= 512, "a usage error stays one short line");
    Require(error.find('\n') == std::string::npos, "a usage error is one line");
  } else if (parsed->action == Action::Run) {
    const cli::CliOptions& o = parsed->options;
    // Below a millisecond a limit could round to 0, which is no limit at all.
    Require(o.timeoutSeconds >= cli::kLeastLimitSeconds, "a run has a time limit");
    Require(!o.waitSeconds || *o.waitSeconds >= cli::kLeastLimitSeconds,
            "a wait with SECONDS has a time limit");
    Require((o.command == cli::Command::Backup) == !o.backupFile.empty(),
            "backup, and only backup, has its file");
  }
  for (const std::string& arg : args) {
    const std::string quoted = Quoted(arg);
    Require(arg.size() > 64 ? quoted.size() <= 32 + 5 : quoted.size() == arg.size() + 2,
            "long arguments are cut in quotes");
  }
  return 0;
}
