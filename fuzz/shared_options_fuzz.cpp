// Any arguments, split at zero bytes, as the options both programs share and as the windowed
// program's whole command line.
#include <string>
#include <vector>

#include "app/ProgramOptions.h"
#include "app/WindowedProgram.h"
#include "fuzz/FuzzInput.h"

namespace quarnel::fuzz {
namespace {

void CheckSharedOption(const std::string& arg) {
  SharedOptions options;
  const auto taken = ParseSharedOption(arg, options);
  if (!taken) {
    Require(!taken.error().detail.empty(), "a mistake says what is wrong");
  } else if (*taken) {
    Require(options.simulateProduct.has_value() || !options.reportFile.empty(),
            "an option taken sets something");
  } else {
    Require(!options.simulateProduct && options.reportFile.empty(),
            "an option not taken leaves the options as they were");
  }
}

}  // namespace
}  // namespace quarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  using fuzz::Require;
  const std::vector<std::string> args = fuzz::SplitArguments(data, size);
  for (const std::string& arg : args) fuzz::CheckSharedOption(arg);

  const windowed::Start start = windowed::ParseArguments(args);
  if (start.showDialog) {
    Require(start.exitCode == kExitOk && start.text.empty(), "the dialog starts without a word");
  } else {
    Require(start.exitCode == kExitOk || start.exitCode == kExitUsage, "ok or a usage error");
    Require(!start.text.empty() && start.text.back() == '\n', "the text ends with a newline");
    Require(start.exitCode == kExitOk || start.text.starts_with("quarnel-fwupdate: "),
            "a usage error names the program");
  }
  return 0;
}
