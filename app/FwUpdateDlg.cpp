#include "app/FwUpdateDlg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "engine/ImageVersion.h"
#include "resources/resource.h"

namespace quarnel {

namespace {

constexpr std::uint16_t kDefaultVendorId = 0x1852;
constexpr std::uint16_t kDefaultProductId = 0x5028;
constexpr unsigned kTimerPeriodMs = 10;
constexpr std::int32_t kExitTicksStandard = 3000;
constexpr std::int32_t kExitTicksAlternate = 1200;
constexpr std::int32_t kBlinkTicks = 20;
constexpr std::size_t kIdFieldChars = 31;

struct Attempt {
  bool fromFields;
  std::uint16_t vendorId;
  std::uint16_t productId;
  std::uint32_t dotsColour;
  const char* dots;
};

constexpr std::array<Attempt, 4> kAttempts = {{
    {true, 0, 0, 0, nullptr},
    {false, 0x1852, 0x7030, kDarkBlue, "."},
    {false, 0x1852, 0x7029, kDarkGreen, ".."},
    {false, 0x1852, 0x2004, kDarkRed, "..."},
}};

bool IsMissing(const std::string& error) {
  return error.rfind("no HID device", 0) == 0;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", unsigned{value});
  return text;
}

}  // namespace

CFwUpdateDlg::CFwUpdateDlg(DialogWindow& window, DialogOptions options)
    : window_(window), options_(std::move(options)), engine_(options_.image) {
  engine_.SetPauses(options_.writePauseMs, options_.idlePauseMs);
}

CFwUpdateDlg::~CFwUpdateDlg() {
  // The window may already be gone: end the worker and the link without touching it.
  engine_.JoinWorker();
  delete link_;
}

bool CFwUpdateDlg::OnInitDialog() {
  window_.SetItemText(IDC_CONNECT_DOTS, "");
  window_.SetItemText(IDC_VENDOR_ID, Hex4(kDefaultVendorId));
  window_.SetItemText(IDC_PRODUCT_ID, Hex4(kDefaultProductId));
  window_.SetProgressRange(0, 100);
  window_.SetProgressPos(0);
  shownProgress_ = 0;

  TransferState& s = engine_.state();
  link_ = nullptr;
  s.deviceOpen = 0;
  s.sequence = 1;
  s.running = 0;
  s.finished = 1;
  s.verifyPending = 0;
  s.workerThreadId = 0;

  SetStatus(kDarkBlue, "Ready");
  ShowImageVersion();
  blinkCounter_ = 0;
  return true;
}

void CFwUpdateDlg::ShowImageVersion() {
  if (const auto line = ImageVersionLine(options_.image)) window_.SetItemText(IDC_STATUS, *line);
}

void CFwUpdateDlg::SetStatus(std::uint32_t colour, const std::string& text) {
  window_.SetTextColorAndRedraw(IDC_STATUS, colour);
  window_.SetItemText(IDC_STATUS, text);
}

void CFwUpdateDlg::SetDots(std::uint32_t colour, const std::string& text) {
  window_.SetTextColorAndRedraw(IDC_CONNECT_DOTS, colour);
  window_.SetItemText(IDC_CONNECT_DOTS, text);
}

std::uint16_t CFwUpdateDlg::ReadIdField(int id) {
  const std::string text = window_.GetItemText(id, kIdFieldChars);
  if (text.empty()) return 0xFFFF;
  return static_cast<std::uint16_t>(std::strtoul(text.c_str(), nullptr, 16) & 0xFFFFu);
}

bool CFwUpdateDlg::Connect() {
  StopWorker();
  window_.EnableItem(IDC_START_UPDATE, false);
  window_.EnableItem(IDC_EXIT, false);
  window_.EnableItem(IDC_CHECK_VERSION, false);
  connectError_.clear();
  vendorId_ = ReadIdField(IDC_VENDOR_ID);
  productId_ = ReadIdField(IDC_PRODUCT_ID);

  link_ = options_.allocateLink ? options_.allocateLink(*options_.bus)
                                : new (std::nothrow) CHidApp(*options_.bus);
  if (link_ == nullptr) {
    connectError_ = "out of memory for the device link";
    window_.MessageBox("Not enough resource!!");
    return false;
  }
  link_->SetTimeouts(options_.readTimeoutMs, options_.writeTimeoutMs);
  link_->SetPreferredLocation(preferredLocation_);
  if (options_.tracer) link_->SetTracer(options_.tracer);

  TransferState& s = engine_.state();
  s.alternateFraming = 0;
  s.chunkSize = kStandardChunk;
  for (std::size_t i = 0; i < kAttempts.size(); ++i) {
    const Attempt& a = kAttempts[i];
    if (!a.fromFields) SetDots(a.dotsColour, a.dots);
    const std::uint16_t vid = a.fromFields ? vendorId_ : a.vendorId;
    const std::uint16_t pid = a.fromFields ? productId_ : a.productId;
    s.deviceOpen = link_->Open(vid, pid) ? 1 : 0;
    if (s.deviceOpen != 0) {
      if (i == kAttempts.size() - 1) {
        s.alternateFraming = 1;
        s.chunkSize = kAlternateChunk;
      }
      engine_.SetLink(link_);
      connectError_.clear();
      return true;
    }
    // A device that is there but could not be opened says more than a missing one.
    if (connectError_.empty() || IsMissing(connectError_)) connectError_ = link_->LastError();
  }
  window_.MessageBox("Fail to connect USB device!");
  return false;
}

void CFwUpdateDlg::StopWorker() {
  window_.KillTimer(UPDATE_TIMER_ID);
  engine_.JoinWorker();
  if (link_ != nullptr) {
    TransferState& s = engine_.state();
    if (s.deviceOpen != 0) link_->Close();
    s.deviceOpen = 0;
    engine_.SetLink(nullptr);
    delete link_;
    link_ = nullptr;
  }
  window_.SetItemText(IDC_CONNECT_DOTS, "");
  window_.EnableItem(IDC_START_UPDATE, true);
  window_.EnableItem(IDC_EXIT, true);
  window_.EnableItem(IDC_CHECK_VERSION, true);
}

void CFwUpdateDlg::FailRun(Outcome outcome, std::uint32_t colour, const char* status) {
  StopWorker();
  SetStatus(colour, status);
  EndRun(outcome);
}

void CFwUpdateDlg::EndRun(Outcome outcome) {
  outcome_ = outcome;
  runLock_.reset();
}

bool CFwUpdateDlg::StartPhase(Phase phase) {
  window_.SetTimer(UPDATE_TIMER_ID, kTimerPeriodMs);
  engine_.SetupPhase(phase);
  const bool started = options_.startWorker ? options_.startWorker(engine_) : engine_.StartWorker();
  if (!started) {
    engine_.state().running = 0;
    window_.MessageBox("Not enough resource!!");
    FailRun(Outcome::WorkerFailed, kDarkRed, "FW UPDATE FAIL!");
    return false;
  }
  outcome_ = Outcome::Running;
  return true;
}

std::unique_ptr<RunLock> CFwUpdateDlg::TakeRunLock() {
  std::string reason;
  auto lock = RunLock::TryAcquire(options_.runLockName, reason);
  if (lock == nullptr) {
    connectError_ = reason;
    window_.MessageBox("Another firmware update is running.");
    SetStatus(kDarkRed, "Fail to connect device!");
    outcome_ = Outcome::Busy;
  }
  return lock;
}

void CFwUpdateDlg::OnStartUpdate() {
  runLock_ = TakeRunLock();
  if (runLock_ == nullptr) return;
  preferredLocation_.clear();
  if (!Connect()) {
    FailRun(Outcome::ConnectFailed, kDarkRed, "Fail to connect device!");
    return;
  }
  writtenLocation_ = link_->Location();
  blinkState_ = 1;
  SetStatus(kDarkRed, "Processing...");
  blinkCounter_ = 0;
  exitCountdown_ = engine_.state().alternateFraming != 0 ? kExitTicksAlternate : kExitTicksStandard;
  StartPhase(Phase::Write);
}

void CFwUpdateDlg::StartReadBack() {
  // Read back the unit that was written, where it can still be told apart.
  preferredLocation_ = writtenLocation_;
  if (!Connect()) {
    FailRun(Outcome::ReadBackConnectFailed, kDarkRed, "Fail to connect device!");
    return;
  }
  StartPhase(Phase::ReadBack);
}

void CFwUpdateDlg::ShowLatestProgress() {
  const int progress = engine_.state().progress.load();
  if (progress < 0 || progress == shownProgress_) return;
  shownProgress_ = progress;
  window_.SetProgressPos(std::clamp(progress, 0, 100));
}

void CFwUpdateDlg::OnTimer(unsigned timerId) {
  if (timerId != UPDATE_TIMER_ID) return;
  TransferState& s = engine_.state();
  if (--exitCountdown_ < 0) window_.EnableItem(IDC_EXIT, true);
  // The worker publishes progress before it raises `finished`: reading the flags first
  // means the position shown below is at least the phase's last one.
  const bool running = s.running != 0;
  const bool finished = s.finished != 0;
  ShowLatestProgress();
  if (running) {
    if (blinkCounter_ < kBlinkTicks) {
      ++blinkCounter_;
    } else {
      blinkCounter_ = 0;
      blinkState_ = blinkState_ == 1 ? 0 : 1;
      window_.SetItemText(IDC_STATUS, blinkState_ == 1 ? "Processing..." : "");
    }
  }
  if (!running || !finished) return;

  StopWorker();
  if (s.verifyPending != 0) {
    s.verifyPending = 0;
    StartReadBack();
    return;
  }
  const auto image = engine_.image();
  const bool same = std::equal(image.begin(), image.end(), s.readBack.begin());
  if (!same) {
    window_.MessageBox("Fail to update firmware!! Try to update again.");
    SetStatus(kDarkRed, "FW UPDATE FAIL!");
    EndRun(Outcome::VerifyFailed);
  } else {
    SetStatus(kDarkGreen, "FW UPDATE OK!");
    EndRun(Outcome::UpdateOk);
  }
}

bool CFwUpdateDlg::ReadRegister(std::uint8_t reg, std::uint8_t parameter, std::uint8_t& value) {
  return engine_.ReadRegister(reg, parameter, value);
}

void CFwUpdateDlg::OnCheckVersion() {
  const auto lock = TakeRunLock();
  if (lock == nullptr) return;
  if (!Connect()) {
    StopWorker();
    SetStatus(kDarkRed, "Fail to connect device!");
    outcome_ = Outcome::ConnectFailed;
    return;
  }
  constexpr std::array<std::uint8_t, 9> kRegisters = {60, 61, 66, 67, 68, 69, 70, 71, 72};
  std::array<std::uint8_t, 256> r{};
  bool ok = true;
  for (const std::uint8_t reg : kRegisters) {
    if (!ReadRegister(reg, kRegisterParameter, r[reg])) {
      ok = false;
      break;
    }
  }
  StopWorker();
  if (ok) {
    std::string text = FormatVersion(r[61], r[60], static_cast<std::uint16_t>(r[70] | r[71] << 8),
                                     static_cast<std::uint16_t>(r[66] | r[67] << 8), r[68], r[69]);
    text += r[72] == 0xA0 ? "  (Formal Release)" : "  (BETA Release)";
    SetStatus(kDarkGreen, text);
    outcome_ = Outcome::VersionOk;
  } else {
    SetStatus(kDarkRed, "Fail to get firmware version!");
    outcome_ = Outcome::VersionFailed;
  }
}

void CFwUpdateDlg::OnExit() {
  StopWorker();
  if (outcome_ == Outcome::Running) outcome_ = Outcome::Stopped;
  runLock_.reset();
  window_.EndDialog(IDC_EXIT);
}

void CFwUpdateDlg::OnCancel() {
  // While Exit is locked a write may be under way: closing is refused until it is free.
  if (!window_.IsItemEnabled(IDC_EXIT)) return;
  OnExit();
}

}  // namespace quarnel
