// The command-line front end: the dialog's behaviour on a console, for people at a
// terminal and for scripts.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/ExitCodes.h"
#include "app/cli/UnitWait.h"
#include "engine/TransferEngine.h"
#include "hid/DeviceBus.h"

namespace quarnel::cli {

struct Environment {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  // Raised by Ctrl-C; may be null.
  const std::atomic<bool>* interrupted = nullptr;
  // Raised by Ctrl-C and by a hang-up of the terminal: it ends a wait for a unit (--wait),
  // and nothing else. Null: `interrupted` ends the wait.
  const std::atomic<bool>* waitEnds = nullptr;
  // The width of the terminal on stderr (0: unknown); may be null.
  int (*columns)() = nullptr;
  // Testing seams: the pause after each accepted write, the run lock's name, and a bus of
  // emulated units used instead of the system's or the --simulate one.
  std::uint32_t writePauseMs = kWritePauseMs;
  // ... and, unless --simulate-fault names one, the write cycle of the --simulate unit, which
  // a shorter pause needs to match (unset: the unit's own).
  std::optional<std::uint32_t> simulatedWriteCycleUs{};
  std::string runLockName = "quarnel-fwupdate";
  hid::Bus* bus = nullptr;
  // The clock and the pauses of waiting for a unit and for access to it.
  Pacing pacing{};
};

int RunCli(const std::vector<std::string>& args, const Environment& env);

}  // namespace quarnel::cli
