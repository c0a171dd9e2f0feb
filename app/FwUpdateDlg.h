// The updater dialog's behaviour: connecting, the update run and its verdict, the version
// query. It reaches its window only through DialogWindow, so the same class runs behind the
// real windows, the console of the command-line program and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include <vector>

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
  // Testing seams: allocating the device link (empty: out of memory) and creating the
  // worker thread (false: no thread).
  std::function<std::unique_ptr<CHidApp>(hid::Bus&)> allocateLink;
  std::function<bool(TransferEngine&)> startWorker;
};

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
  // Outcome::ReadDone (the bytes in engine().ReadBack()) without comparing or telling the
  // user. Nothing is written.
  void OnReadBack();
  void OnExit();
  // Esc or the window manager's close: acts as Exit while Exit is enabled, else ignored.
  void OnCancel();
  void OnTimer(unsigned timerId);
  // One tick of the update timer, for front ends that run their own loop.
  void OnUpdateTimer();

  bool Connect();
  // Ends the phase under way at once (a read waiting on a silent unit is cancelled), closes
  // the unit and enables the buttons.
  void StopWorker();
  void StartReadBack();
  void ShowImageVersion();
  bool ReadRegister(std::uint8_t reg, std::uint8_t parameter, std::uint8_t& value);

  TransferEngine& engine() { return engine_; }
  const TransferEngine& engine() const { return engine_; }
  Outcome outcome() const { return result_.outcome; }
  // How the last action ended, with its typed reasons.
  const RunResult& result() const { return result_; }
  // Why the last Connect failed, in words for a person (which node, what went wrong).
  const std::string& connectError() const { return result_.failure.detail; }
  // True while a phase runs.
  bool busy() const { return engine_.Snapshot().running; }
  Phase phase() const { return engine_.Snapshot().phase; }

 private:
  void SetStatus(std::uint32_t colour, const std::string& text);
  void SetDots(std::uint32_t colour, const std::string& text);
  std::uint16_t ReadIdField(int id);
  // The lock that keeps two updates apart; empty (and the user told) when another holds it.
  std::unique_ptr<RunLock> TakeRunLock();
  // Connect for the read-back: only the unit that was written; no box when it is not found.
  bool ConnectWritten();
  bool SearchUnit();
  // Takes the run lock and connects, showing "Processing..."; false when the run ended there.
  bool BeginRun(bool readOnly);
  bool StartPhase(Phase phase);
  // The link died during the phase: the run ends with the phase's words.
  void LoseLink(Phase phase);
  // The comparison failed, or the answers went out of step.
  void FailVerdict();
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
  // Set for the read-back: the unit that was written (its location, else its path).
  std::string requiredLocation_;
  std::string requiredPath_;
  std::string writtenLocation_;
  std::string writtenPath_;
  std::unique_ptr<RunLock> runLock_;
  RunResult result_;
  // The running read-back is a read-only run (OnReadBack), not an update's.
  bool readOnly_ = false;
};

}  // namespace quarnel
