// The command-line front end: the dialog's behaviour on a console, for scripts, headless
// machines and support.
#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "app/ExitCodes.h"
#include "engine/TransferEngine.h"

namespace quarnel::cli {

struct Environment {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  // Raised by Ctrl-C; may be null.
  const std::atomic<bool>* interrupted = nullptr;
  // Testing seams: the pause after each accepted write, and the run lock's name.
  std::uint32_t writePauseMs = kWritePauseMs;
  std::string runLockName = "quarnel-fwupdate";
};

int RunCli(const std::vector<std::string>& args, const Environment& env);

}  // namespace quarnel::cli
