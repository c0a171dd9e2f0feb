// The dialog's second outlet, beside its window: what happens in a run, in terms of the run
// rather than of controls. Front ends that are no window (the command line) decide their words
// and exit codes from these.
#pragma once

#include <cstdint>
#include <span>
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
  VerifyFailed,           // the comparison failed, or answers went out of step (also of a
                          // read-only run, which then shows none of the update's words)
  ConnectFailed,          // nothing written
  ReadBackConnectFailed,  // written, but the written unit was not found again to verify it
  Busy,                   // another copy holds the run lock
  LockFailed,             // the run lock could not be taken for another reason
  LinkLost,               // the unit went away during a phase (RunResult::phase says which)
  WorkerFailed,
  Stopped,  // ended by Exit before a verdict
  VersionOk,
  VersionFailed,
  ReadDone,     // a read-only run (OnReadBack) has read the unit; compared, nothing shown
  TimedOut,     // no byte moved for DialogOptions::stallLimit (version: the query took longer)
  Interrupted,  // DialogOptions::interrupt was raised
};

// What the unit's EEPROM may hold once a run has ended.
enum class Eeprom : std::uint8_t {
  Untouched,      // nothing was written to it
  PartlyWritten,  // the write phase did not end well: any part of the image may be in it
  NotVerified,    // the whole image was written; no read-back compared it
  Matches,        // the read-back was compared: it holds the image
  Differs,        // the read-back was compared: it does not
};

// How the bytes read back compare with the image at the same addresses.
struct Difference {
  std::uint32_t count = 0;  // bytes that differ
  std::uint32_t first = 0;  // the address of the first of them, when count > 0
};

Difference Compare(std::span<const std::uint8_t> image, std::span<const std::uint8_t> readBack);

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
  Eeprom eeprom = Eeprom::Untouched;
  // Why the unit could not be used: the most telling failure of the last connection search.
  hid::LinkFailure failure;
  // Every attempt of that search, in order, when it found nothing.
  std::vector<ConnectAttempt> attempts;
  // The read-back was compared with the image (UpdateOk, VerifyFailed for a difference,
  // ReadDone); `difference` says how it compares.
  bool compared = false;
  Difference difference;
  // ReadDone: the bytes read, as many as the image holds.
  std::vector<std::uint8_t> readBack;
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
