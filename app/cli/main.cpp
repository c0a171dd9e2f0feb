// quarnel-fwupdate-cli: the updater on a console.
#include <atomic>
#include <csignal>
#include <iostream>

#include "app/Terminal.h"
#include "app/cli/Cli.h"

namespace {
std::atomic<bool> g_interrupted{false};
extern "C" void OnInterrupt(int) {
  g_interrupted = true;
}
}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const quarnel::cli::Environment env{std::cout, std::cerr, quarnel::StderrIsTerminal(),
                                      &g_interrupted};
  return quarnel::cli::RunCli(args, env);
}
