// The words the dialog shows, in one place: the status line, the message boxes, and the
// verdicts the command line repeats on its last line.
#pragma once

namespace quarnel::text {

// The status line.
inline constexpr const char* kReady = "Ready";
inline constexpr const char* kProcessing = "Processing...";
inline constexpr const char* kUpdateOk = "FW UPDATE OK!";
inline constexpr const char* kUpdateFail = "FW UPDATE FAIL!";
inline constexpr const char* kConnectFail = "Fail to connect device!";
inline constexpr const char* kVersionFail = "Fail to get firmware version!";
inline constexpr const char* kFormalRelease = "  (Formal Release)";
inline constexpr const char* kBetaRelease = "  (BETA Release)";

// The message boxes.
inline constexpr const char* kUpdateFailBox = "Fail to update firmware!! Try to update again.";
inline constexpr const char* kUsbConnectFailBox = "Fail to connect USB device!";
inline constexpr const char* kNoResourceBox = "Not enough resource!!";
inline constexpr const char* kAnotherUpdateBox = "Another firmware update is running.";
// Followed by why, and a full stop.
inline constexpr const char* kLockFailedBox =
    "Cannot make sure that no other firmware update is running: ";
inline constexpr const char* kNotFoundAgainBox =
    "The firmware was written but could not be verified: the device was not found again. "
    "Reconnect the device and run the update again.";
inline constexpr const char* kLostDuringWriteBox =
    "The connection to the device was lost while the firmware was being written. The firmware "
    "may be partly written. Keep the device connected, or reconnect it, and run the update "
    "again.";
inline constexpr const char* kLostDuringReadBackBox =
    "The connection to the device was lost while the firmware was being verified. The firmware "
    "was written but not verified. Reconnect the device and run the update again.";
// The read-back could not use the written unit, which was found but is held or refused.
// Followed by the device's path and why.
inline constexpr const char* kNotVerifiedBoxHead =
    "The firmware was written but could not be verified: the device at ";
inline constexpr const char* kNotVerifiedBoxTail = " Run the update again.";
// Exit, Esc or the close button ended a run before its verdict.
inline constexpr const char* kStoppedDuringWriteBox =
    "The update was stopped before it finished. The firmware may be partly written: keep the "
    "device connected and run the update again.";
inline constexpr const char* kStoppedDuringReadBackBox =
    "The update was stopped while the firmware was being verified. The firmware was written but "
    "not verified: run the update again.";

// A read-only run (the command line's verify and backup): nothing is written, so none of the
// update's words fit.
inline constexpr const char* kLostDuringReadBox =
    "The connection to the device was lost while its EEPROM was being read. Nothing was "
    "written.";
inline constexpr const char* kReadOutOfStepBox =
    "The device's answers went out of step with the requests, so what was read cannot be "
    "trusted. Nothing was written.";

}  // namespace quarnel::text
