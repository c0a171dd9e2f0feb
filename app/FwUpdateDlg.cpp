#include "app/FwUpdateDlg.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <utility>

#include "base/Text.h"
#include "engine/ImageVersion.h"
#include "engine/Products.h"
#include "resources/resource.h"

namespace quarnel {

namespace {

constexpr unsigned kTimerPeriodMs = 10;
constexpr std::int32_t kExitTicksStandard = 3000;
constexpr std::int32_t kExitTicksAlternate = 1200;
constexpr std::int32_t kBlinkTicks = 20;
constexpr std::size_t kIdFieldChars = 31;

std::unique_ptr<CHidApp> MakeLink(hid::Bus& bus) {
  // Running out of memory here is answered with a message, not an exception.
  return std::unique_ptr<CHidApp>(new (std::nothrow) CHidApp(bus));
}

// Runs on a unit no other process can reach need no lock against other copies.
class NoLock final : public RunLock {};

constexpr const char* kConnectFailed = "Fail to connect USB device!";

// The connect failure's box: the designed words, and where the unit was there but could not
// be used, why.
std::string ConnectFailureText(const hid::LinkFailure& failure) {
  const std::string at = "The device at " + failure.path;
  switch (failure.kind) {
    case hid::FailureKind::PermissionDenied:
      return std::string(kConnectFailed) + "\n\n" + at +
             " was found, but this user may not open it. Install the package quarnel-fwupdate "
             "or the udev rule 70-quarnel-audio.rules (see the README), then unplug the device "
             "and plug it in again.";
    case hid::FailureKind::InUse:
      return std::string(kConnectFailed) + "\n\n" + at + " is in use by another program.";
    case hid::FailureKind::UnsupportedReports:
      return std::string(kConnectFailed) + "\n\n" + at +
             " uses reports this program cannot handle.";
    default:
      return kConnectFailed;
  }
}

}  // namespace

CFwUpdateDlg::CFwUpdateDlg(DialogWindow& window, DialogOptions options)
    : window_(window),
      options_(std::move(options)),
      events_(options_.events != nullptr ? *options_.events : noEvents_),
      engine_(options_.image) {
  engine_.SetPauses(options_.writePauseMs, options_.idlePauseMs);
}

CFwUpdateDlg::~CFwUpdateDlg() {
  // The window may already be gone: end the worker and the link without touching it.
  engine_.JoinWorker();
  engine_.SetLink(nullptr);
}

bool CFwUpdateDlg::OnInitDialog() {
  window_.SetItemText(IDC_CONNECT_DOTS, "");
  window_.SetItemText(IDC_VENDOR_ID, Hex4(kVendorId));
  window_.SetItemText(IDC_PRODUCT_ID, Hex4(kProducts[0].productId));
  window_.SetProgressRange(0, 100);
  window_.SetProgressPos(0);
  shownProgress_ = 0;

  link_.reset();
  engine_.Reset();

  if (options_.bus->PrivateToProcess()) window_.SetCaption(kEmulatedCaption);
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
  requiredLocation_.clear();
  requiredPath_.clear();
  if (SearchUnit()) return true;
  // Without a link, the search has already said that memory ran out.
  if (link_ != nullptr) window_.MessageBox(ConnectFailureText(result_.failure));
  return false;
}

bool CFwUpdateDlg::ConnectWritten() {
  requiredLocation_ = writtenLocation_;
  requiredPath_ = writtenLocation_.empty() ? writtenPath_ : std::string();
  return SearchUnit();
}

bool CFwUpdateDlg::SearchUnit() {
  StopWorker();
  window_.EnableItem(IDC_START_UPDATE, false);
  window_.EnableItem(IDC_EXIT, false);
  window_.EnableItem(IDC_CHECK_VERSION, false);
  result_.failure = {};
  result_.attempts.clear();
  vendorId_ = ReadIdField(IDC_VENDOR_ID);
  productId_ = ReadIdField(IDC_PRODUCT_ID);

  link_ = options_.allocateLink ? options_.allocateLink(*options_.bus) : MakeLink(*options_.bus);
  if (link_ == nullptr) {
    result_.failure = {hid::FailureKind::OutOfResources, {}, "out of memory for the device link"};
    window_.MessageBox("Not enough resource!!");
    return false;
  }
  link_->SetTimeouts(options_.readTimeoutMs, options_.writeTimeoutMs);
  link_->RequireLocation(requiredLocation_);
  link_->RequirePath(!options_.devicePath.empty() ? options_.devicePath : requiredPath_);
  if (options_.tracer) link_->SetTracer(options_.tracer);

  engine_.SetFraming(Framing::Standard, kStandardChunk);
  for (std::size_t i = 0; i < kProducts.size(); ++i) {
    const Product& product = kProducts[i];
    // The first attempt takes the ID fields' values and shows no dots.
    const bool fromFields = i == 0;
    if (!fromFields) SetDots(product.dotsColour, product.dots);
    const std::uint16_t vid = fromFields ? vendorId_ : kVendorId;
    const std::uint16_t pid = fromFields ? productId_ : product.productId;
    link_->RequireReports(LeastInputLength(product), LeastOutputLength(product));
    engine_.SetDeviceOpen(link_->Open(vid, pid));
    if (engine_.deviceOpen()) {
      engine_.SetFraming(product.framing, product.chunkSize);
      engine_.SetLink(link_.get());
      result_.failure = {};
      result_.attempts.clear();
      events_.UnitChosen({vid, pid, product.framing, link_->Path()});
      return true;
    }
    const hid::LinkFailure& failure = link_->LastFailure();
    result_.attempts.push_back({vid, pid, failure});
    // A device that is there but could not be opened says more than a missing one.
    if (!result_.failure.failed() || result_.failure.kind == hid::FailureKind::NotFound)
      result_.failure = failure;
  }
  return false;
}

void CFwUpdateDlg::StopWorker() {
  window_.KillTimer(UPDATE_TIMER_ID);
  engine_.JoinWorker();
  if (link_ != nullptr) {
    if (engine_.deviceOpen()) link_->Close();
    engine_.SetDeviceOpen(false);
    engine_.SetLink(nullptr);
    link_.reset();
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
  runLock_.reset();
  Finish(outcome);
}

void CFwUpdateDlg::Finish(Outcome outcome) {
  result_.outcome = outcome;
  if (outcome != Outcome::Running) events_.Finished(result_);
}

bool CFwUpdateDlg::StartPhase(Phase phase) {
  result_.phase = phase;
  window_.SetTimer(UPDATE_TIMER_ID, kTimerPeriodMs);
  engine_.SetupPhase(phase);
  const bool started = options_.startWorker ? options_.startWorker(engine_) : engine_.StartWorker();
  if (!started) {
    engine_.JoinWorker();
    window_.MessageBox("Not enough resource!!");
    FailRun(Outcome::WorkerFailed, kDarkRed, "FW UPDATE FAIL!");
    return false;
  }
  result_.outcome = Outcome::Running;
  reportedBytes_ = 0;
  events_.PhaseStarted(phase, engine_.Snapshot().totalBytes);
  return true;
}

std::unique_ptr<RunLock> CFwUpdateDlg::TakeRunLock() {
  LockFailure failure;
  auto lock = options_.bus->PrivateToProcess() ? std::make_unique<NoLock>()
                                               : RunLock::TryAcquire(options_.runLockName, failure);
  if (lock == nullptr) {
    result_.failure = {};
    result_.attempts.clear();
    const bool held = failure.kind == LockFailureKind::HeldByAnother;
    window_.MessageBox(held ? std::string("Another firmware update is running.")
                            : "Cannot make sure that no other firmware update is running: " +
                                  failure.detail + ".");
    result_.lockFailure = std::move(failure);
    SetStatus(kDarkRed, "Fail to connect device!");
    Finish(held ? Outcome::Busy : Outcome::LockFailed);
  } else {
    result_.lockFailure = {};
  }
  return lock;
}

bool CFwUpdateDlg::BeginRun(bool readOnly) {
  runLock_ = TakeRunLock();
  if (runLock_ == nullptr) return false;
  readOnly_ = readOnly;
  result_.phase = readOnly ? Phase::ReadBack : Phase::Write;
  result_.compared = false;
  result_.outOfStep = false;
  if (!Connect()) {
    readOnly_ = false;
    FailRun(Outcome::ConnectFailed, kDarkRed, "Fail to connect device!");
    return false;
  }
  blinkState_ = 1;
  SetStatus(kDarkRed, "Processing...");
  blinkCounter_ = 0;
  return true;
}

void CFwUpdateDlg::OnStartUpdate() {
  if (!BeginRun(false)) return;
  writtenLocation_ = link_->Location();
  writtenPath_ = link_->Path();
  exitCountdown_ =
      engine_.framing() == Framing::Alternate ? kExitTicksAlternate : kExitTicksStandard;
  StartPhase(Phase::Write);
}

void CFwUpdateDlg::OnReadBack() {
  if (!BeginRun(true)) return;
  exitCountdown_ = 0;
  StartPhase(Phase::ReadBack);
}

void CFwUpdateDlg::StartReadBack() {
  // Only the unit that was written is read back: another one proves nothing about it.
  result_.phase = Phase::ReadBack;
  if (!ConnectWritten()) {
    if (link_ != nullptr) {
      window_.MessageBox(
          "The firmware was written but could not be verified: the device was not found again. "
          "Reconnect the device and run the update again.");
    }
    FailRun(Outcome::ReadBackConnectFailed, kDarkRed, "Fail to connect device!");
    return;
  }
  StartPhase(Phase::ReadBack);
}

void CFwUpdateDlg::LoseLink(Phase phase) {
  StopWorker();
  window_.MessageBox(
      phase == Phase::Write
          ? "The connection to the device was lost while the firmware was being written. The "
            "firmware may be partly written. Keep the device connected, or reconnect it, and run "
            "the update again."
          : "The connection to the device was lost while the firmware was being verified. The "
            "firmware was written but not verified. Reconnect the device and run the update "
            "again.");
  SetStatus(kDarkRed, "FW UPDATE FAIL!");
  result_.phase = phase;
  EndRun(Outcome::LinkLost);
}

void CFwUpdateDlg::FailVerdict() {
  window_.MessageBox("Fail to update firmware!! Try to update again.");
  SetStatus(kDarkRed, "FW UPDATE FAIL!");
  EndRun(Outcome::VerifyFailed);
}

void CFwUpdateDlg::ShowLatestProgress() {
  const TransferSnapshot snap = engine_.Snapshot();
  if (snap.bytesDone != reportedBytes_) {
    reportedBytes_ = snap.bytesDone;
    events_.Progress(snap.phase, snap.bytesDone, snap.totalBytes);
  }
  if (snap.progress < 0 || snap.progress == shownProgress_) return;
  shownProgress_ = snap.progress;
  window_.SetProgressPos(std::clamp(snap.progress, 0, 100));
}

void CFwUpdateDlg::OnTimer(unsigned timerId) {
  if (timerId != UPDATE_TIMER_ID) return;
  if (--exitCountdown_ < 0) window_.EnableItem(IDC_EXIT, true);
  // The worker publishes progress before it raises `finished`: the snapshot reads the flags
  // before the progress, so the position shown below is at least the phase's last one.
  const TransferSnapshot flags = engine_.Snapshot();
  const bool running = flags.running;
  const bool finished = flags.finished;
  ShowLatestProgress();
  if (running && flags.linkLost) {
    LoseLink(flags.phase);
    return;
  }
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
  // Answers out of step prove nothing: such a write phase gets no read-back.
  const bool verifyPending = engine_.TakeVerifyPending();
  if (flags.outOfStep) {
    readOnly_ = false;
    result_.outOfStep = true;
    FailVerdict();
    return;
  }
  if (verifyPending) {
    StartReadBack();
    return;
  }
  if (std::exchange(readOnly_, false)) {
    SetStatus(kDarkBlue, "Ready");
    EndRun(Outcome::ReadDone);
    return;
  }
  const auto image = engine_.image();
  const bool same = std::equal(image.begin(), image.end(), engine_.ReadBack().begin());
  result_.compared = true;
  if (!same) {
    FailVerdict();
  } else {
    SetStatus(kDarkGreen, "FW UPDATE OK!");
    EndRun(Outcome::UpdateOk);
  }
}

void CFwUpdateDlg::OnUpdateTimer() {
  OnTimer(UPDATE_TIMER_ID);
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
    Finish(Outcome::ConnectFailed);
    return;
  }
  using R = VersionRegister;
  constexpr std::array<std::uint8_t, 9> kRegisters = {
      R::versionLow, R::versionHigh, R::buildLow,     R::buildHigh,  R::dayAndIndex,
      R::monthYear,  R::revisionLow, R::revisionHigh, R::releaseKind};
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
    std::string text =
        FormatVersion(r[R::versionHigh], r[R::versionLow],
                      static_cast<std::uint16_t>(r[R::revisionLow] | r[R::revisionHigh] << 8),
                      static_cast<std::uint16_t>(r[R::buildLow] | r[R::buildHigh] << 8),
                      r[R::dayAndIndex], r[R::monthYear]);
    text += r[R::releaseKind] == kFormalRelease ? "  (Formal Release)" : "  (BETA Release)";
    SetStatus(kDarkGreen, text);
    result_.versionLine = text;
    Finish(Outcome::VersionOk);
  } else {
    SetStatus(kDarkRed, "Fail to get firmware version!");
    result_.versionLine.clear();
    Finish(Outcome::VersionFailed);
  }
}

void CFwUpdateDlg::OnExit() {
  StopWorker();
  runLock_.reset();
  if (result_.outcome == Outcome::Running) Finish(Outcome::Stopped);
  window_.EndDialog(IDC_EXIT);
}

void CFwUpdateDlg::OnCancel() {
  // While Exit is locked a write may be under way: closing is refused until it is free.
  if (!window_.IsItemEnabled(IDC_EXIT)) return;
  OnExit();
}

}  // namespace quarnel
