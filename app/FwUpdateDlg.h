// The updater dialog's behaviour: connecting, the update run and its verdict, the version
// query. It reaches its window only through DialogWindow, so the same class runs behind the
// real windows, the console of the command-line program and the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

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
  // Name of the lock that keeps two updates apart.
  std::string runLockName = "quarnel-fwupdate";
  CHidApp::Tracer tracer;
  // Testing seams: allocating the device link (nullptr: out of memory) and creating the
  // worker thread (false: no thread).
  std::function<CHidApp*(hid::Bus&)> allocateLink;
  std::function<bool(TransferEngine&)> startWorker;
};

// How the last action ended, for front ends that report more than the dialog shows.
enum class Outcome : std::uint8_t {
  None,
  Running,
  UpdateOk,
  VerifyFailed,           // "FW UPDATE FAIL!"
  ConnectFailed,          // nothing written
  ReadBackConnectFailed,  // written but not verified
  Busy,                   // another update is running
  WorkerFailed,
  Stopped,  // ended by Exit before a verdict
  VersionOk,
  VersionFailed,
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
  void OnExit();
  // Esc or the window manager's close: acts as Exit while Exit is enabled, else ignored.
  void OnCancel();
  void OnTimer(unsigned timerId);

  bool Connect();
  void StopWorker();
  void StartReadBack();
  void ShowImageVersion();
  bool ReadRegister(std::uint8_t reg, std::uint8_t parameter, std::uint8_t& value);

  TransferEngine& engine() { return engine_; }
  const TransferEngine& engine() const { return engine_; }
  Outcome outcome() const { return outcome_; }
  // Why the last Connect failed, as the device link saw it (which node, what went wrong).
  const std::string& connectError() const { return connectError_; }
  // True while a phase runs.
  bool busy() const { return engine_.state().running.load() != 0; }
  Phase phase() const { return engine_.state().mode == 0 ? Phase::ReadBack : Phase::Write; }

 private:
  void SetStatus(std::uint32_t colour, const std::string& text);
  void SetDots(std::uint32_t colour, const std::string& text);
  std::uint16_t ReadIdField(int id);
  // The lock that keeps two updates apart; empty (and the user told) when another holds it.
  std::unique_ptr<RunLock> TakeRunLock();
  bool StartPhase(Phase phase);
  void FailRun(Outcome outcome, std::uint32_t colour, const char* status);
  void EndRun(Outcome outcome);
  void ShowLatestProgress();

  DialogWindow& window_;
  DialogOptions options_;
  TransferEngine engine_;
  CHidApp* link_ = nullptr;
  std::uint16_t vendorId_ = 0;
  std::uint16_t productId_ = 0;
  std::int32_t exitCountdown_ = 0;
  std::int32_t blinkCounter_ = 0;
  std::uint8_t blinkState_ = 0;
  int shownProgress_ = -1;
  std::string preferredLocation_;
  std::string writtenLocation_;
  std::unique_ptr<RunLock> runLock_;
  Outcome outcome_ = Outcome::None;
  std::string connectError_;
};

}  // namespace quarnel
