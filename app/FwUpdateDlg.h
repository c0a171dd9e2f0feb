// The updater dialog's behaviour: connecting, the update run and its verdict, the version
// query. It reaches its window only through DialogWindow, so the same class runs behind the
// real windows, the console of the command-line program and the tests.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "app/DialogEvents.h"
#include "app/DialogWindow.h"
#include "app/RunLock.h"
#include "engine/TransferEngine.h"
#include "hid/HidApp.h"

namespace quarnel {

struct DialogOptions {
  // Where devices are found; must outlive the dialog.
  hid::Bus* bus = nullptr;
  std::span<const std::uint8_t> image = FirmwareImage();
  std::uint32_t readTimeoutMs = hid::kReadTimeoutMs;
  std::uint32_t writeTimeoutMs = hid::kWriteTimeoutMs;
  std::uint32_t writePauseMs = kWritePauseMs;
  std::uint32_t idlePauseMs = kIdlePauseMs;
  // Non-empty: the one interface (node or interface path) both phases may use; no other
  // interface is opened.
  std::string devicePath;
  // Name of the lock that keeps two updates apart.
  std::string runLockName = "quarnel-fwupdate";
  CHidApp::Tracer tracer;
  // The semantic outlet, beside the window; may be null. Must outlive the dialog.
  DialogEvents* events = nullptr;
  // For front ends with no one at the window: a run ends with Outcome::TimedOut once no byte
  // has moved for this long (zero: never), and with Outcome::Interrupted on the first tick
  // after `interrupt` is raised (null: never; it must outlive the dialog). The version query
  // gives up on both as well.
  std::chrono::steady_clock::duration stallLimit{};
  const std::atomic<bool>* interrupt = nullptr;
  // Testing seams: allocating the device link (empty: out of memory) and creating the
  // worker thread (false: no thread).
  std::function<std::unique_ptr<CHidApp>(hid::Bus&)> allocateLink;
  std::function<bool(TransferEngine&)> startWorker;
};

// Why a run was ended before its verdict.
enum class AbortReason : std::uint8_t { TimedOut, Interrupted };

class CFwUpdateDlg {
 public:
  CFwUpdateDlg(DialogWindow& window, DialogOptions options);
  ~CFwUpdateDlg();
  CFwUpdateDlg(const CFwUpdateDlg&) = delete;
  CFwUpdateDlg& operator=(const CFwUpdateDlg&) = delete;

  // Message handlers, all on the user-interface thread.
  bool OnInitDialog();
  void OnStartUpdate();
  void OnCheckVersion();
  // A read-only run: reads back as many bytes as the image holds from the unit, through the
  // same connection search, worker and timer as an update's read-back, and ends with
  // Outcome::ReadDone (the bytes and their comparison with the image in the result) without
  // telling the user. Nothing is written.
  void OnReadBack();
  void OnExit();
  // Esc or the window manager's close: acts as Exit while Exit is enabled, else ignored.
  void OnCancel();
  void OnTimer(unsigned timerId);
  // One tick of the update timer, for front ends that run their own loop.
  void OnUpdateTimer();
  // Ends the run under way at once, without a verdict: the outcome says why. Nothing happens
  // when no run is under way.
  void Abort(AbortReason reason);

  bool Connect();
  // Ends the phase under way at once (a read waiting on a silent unit is cancelled), closes
  // the unit and enables the buttons.
  void StopWorker();
  void StartReadBack();
  void ShowImageVersion();
  bool ReadRegister(std::uint8_t reg, std::uint8_t parameter, std::uint8_t& value);

  const TransferEngine& engine() const { return engine_; }
  Outcome outcome() const { return result_.outcome; }
  // How the last action ended, with its typed reasons.
  const RunResult& result() const { return result_; }

 private:
  void SetStatus(std::uint32_t colour, const std::string& text);
  void SetDots(std::uint32_t colour, const std::string& text);
  std::uint16_t ReadIdField(int id);
  // The lock that keeps two updates apart; empty (and the user told) when another holds it.
  std::unique_ptr<RunLock> TakeRunLock();
  // Connect for the read-back: only the unit that was written; no box when it is not found.
  bool ConnectWritten();
  bool SearchUnit();
  // A fresh device link set up for the search; false (and the user told) without memory.
  bool MakeSearchLink();
  // Opens the unit of kProducts[index], showing its dots; false when it did not answer.
  bool TryProduct(std::size_t index);
  // Takes the run lock and connects, showing "Processing..."; false when the run ended there.
  bool BeginRun(bool readOnly);
  bool StartPhase(Phase phase);
  // The link died during the phase: the run ends with the phase's words.
  void LoseLink(Phase phase);
  // The comparison failed, or the answers went out of step.
  void FailVerdict();
  // A phase has ended by itself: on to the read-back, or the run's verdict.
  void EndPhase(const TransferSnapshot& flags);
  // Compares the bytes read back with the image, into the result.
  void CompareReadBack();
  // The stall limit has passed or the interrupt was raised: the run is ended.
  bool AbortIfDue();
  void Blink();
  bool ReadVersionRegisters(std::array<std::uint8_t, 256>& registers);
  void FailRun(Outcome outcome, std::uint32_t colour, const char* status);
  void EndRun(Outcome outcome);
  // Records how the action ended and tells the outlet.
  void Finish(Outcome outcome);
  void ShowLatestProgress();

  DialogWindow& window_;
  DialogOptions options_;
  DialogEvents noEvents_;
  DialogEvents& events_;
  TransferEngine engine_;
  std::unique_ptr<CHidApp> link_;
  std::uint16_t vendorId_ = 0;
  std::uint16_t productId_ = 0;
  std::int32_t exitCountdown_ = 0;
  std::int32_t blinkCounter_ = 0;
  std::uint8_t blinkState_ = 0;
  int shownProgress_ = -1;
  std::uint32_t reportedBytes_ = 0;
  // The bytes done when they last moved, and when that was (the stall limit).
  std::uint32_t stallBytes_ = 0;
  std::chrono::steady_clock::time_point lastMove_{};
  // Set for the read-back: the unit that was written (its location, else its path).
  std::string requiredLocation_;
  std::string requiredPath_;
  std::string writtenLocation_;
  // The unit the last search chose, and the unit that was written.
  UnitChoice chosen_;
  UnitChoice written_;
  std::unique_ptr<RunLock> runLock_;
  RunResult result_;
  // The running read-back is a read-only run (OnReadBack), not an update's.
  bool readOnly_ = false;
};

}  // namespace quarnel
