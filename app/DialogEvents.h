// The dialog's second outlet, beside its window: what happens in a run, in terms of the run
// rather than of controls. Front ends that are no window (the command line) decide their words
// and exit codes from these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/RunLock.h"
#include "engine/Reports.h"
#include "engine/TransferEngine.h"
#include "hid/LinkFailure.h"

namespace quarnel {

// How the last action ended.
enum class Outcome : std::uint8_t {
  None,
  Running,
  UpdateOk,
  VerifyFailed,           // "FW UPDATE FAIL!": the comparison failed or answers went out of step
  ConnectFailed,          // nothing written
  ReadBackConnectFailed,  // written, but the written unit was not found again to verify it
  Busy,                   // another copy holds the run lock
  LockFailed,             // the run lock could not be taken for another reason
  LinkLost,               // the unit went away during a phase (RunResult::phase says which)
  WorkerFailed,
  Stopped,  // ended by Exit before a verdict
  VersionOk,
  VersionFailed,
  ReadDone,  // a read-only run (OnReadBack) has read the unit; nothing compared or shown
};

// The unit a connection search found.
struct UnitChoice {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  Framing framing = Framing::Standard;
  std::string path;
};

// One attempt of a connection search that found nothing.
struct ConnectAttempt {
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  hid::LinkFailure failure;
};

struct RunResult {
  Outcome outcome = Outcome::None;
  // The phase the run was in when it ended (of an update: write, then read-back).
  Phase phase = Phase::Write;
  // Why the unit could not be used: the most telling failure of the last connection search.
  hid::LinkFailure failure;
  // Every attempt of that search, in order, when it found nothing.
  std::vector<ConnectAttempt> attempts;
  // The read-back was compared with the image (UpdateOk, or VerifyFailed for a difference).
  bool compared = false;
  // The unit's answers went out of step with the requests (VerifyFailed, nothing compared).
  bool outOfStep = false;
  // Why the run lock was not taken (Busy, LockFailed).
  LockFailure lockFailure;
  // VersionOk: the version line of the firmware the unit runs.
  std::string versionLine;
};

// Every call comes from the user-interface thread, in the dialog's handlers.
class DialogEvents {
 public:
  virtual ~DialogEvents() = default;
  virtual void UnitChosen(const UnitChoice& /*unit*/) {}
  virtual void PhaseStarted(Phase /*phase*/, std::uint32_t /*totalBytes*/) {}
  virtual void Progress(Phase /*phase*/, std::uint32_t /*bytesDone*/,
                        std::uint32_t /*totalBytes*/) {}
  virtual void Finished(const RunResult& /*result*/) {}
};

}  // namespace quarnel
