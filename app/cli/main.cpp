// quarnel-fwupdate-cli: the updater on a console.
#include <atomic>
#include <iostream>

#include "app/ExitCodes.h"
#include "app/StandardStreams.h"
#include "app/Terminal.h"
#include "app/cli/Cli.h"
#include "app/cli/Console.h"

namespace {
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_waitEnds{false};
}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened, so that no unit's link becomes standard output or error.
  if (!quarnel::OpenStandardStreams()) return quarnel::kExitInternal;
  quarnel::cli::InstallInterruptHandlers(g_interrupted, g_waitEnds);
  const std::vector<std::string> args(argv + 1, argv + argc);
  quarnel::cli::Environment env{std::cout, std::cerr, quarnel::StderrIsTerminal(), &g_interrupted};
  env.waitEnds = &g_waitEnds;
  env.columns = quarnel::cli::StderrColumns;
  return quarnel::cli::RunCli(args, env);
}
