// The exit codes of the programs, the same for the windowed program and the command line.
#pragma once

namespace quarnel {

enum ExitCode : int {
  kExitOk = 0,
  kExitVerifyFailed = 1,  // also: version not read
  kExitNoDevice = 2,
  kExitStoppedAnswering = 3,
  kExitInterrupted = 4,
  kExitNotVerified = 5,
  kExitBusy = 6,
  kExitUsage = 64,
  kExitInternal = 70,
  kExitNoPermission = 77,  // the unit is there but this user may not open it
};

}  // namespace quarnel
