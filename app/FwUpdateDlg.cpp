#include "app/FwUpdateDlg.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <utility>

#include "app/Texts.h"
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

// The connect failure's box: the designed words, and where the unit was there but could not
// be used, why.
std::string ConnectFailureText(const hid::LinkFailure& failure) {
  const std::string head = text::kUsbConnectFailBox;
  const std::string at = "The device at " + failure.path;
  switch (failure.kind) {
    case hid::FailureKind::PermissionDenied:
      return head + "\n\n" + at +
             " was found, but this user may not open it. Install the package quarnel-fwupdate "
             "or the udev rule 70-quarnel-audio.rules (see the README), then unplug the device "
             "and plug it in again.";
    case hid::FailureKind::InUse:
      return head + "\n\n" + at + " is in use by another program.";
    case hid::FailureKind::UnsupportedReports:
      return head + "\n\n" + at + " uses reports this program cannot handle.";
    default:
      return head;
  }
}

// The read-back's connect failure: the written unit was not found again, or why it could not
// be used.
std::string ReadBackFailureText(const hid::LinkFailure& failure) {
  const std::string at = text::kNotVerifiedBoxHead + failure.path;
  switch (failure.kind) {
    case hid::FailureKind::PermissionDenied:
      return at +
             " was found again, but this user may not open it (see the README on device "
             "access)." +
             text::kNotVerifiedBoxTail;
    case hid::FailureKind::InUse:
      return at + " is in use by another program: close it." + text::kNotVerifiedBoxTail;
    case hid::FailureKind::UnsupportedReports:
      return at + " uses reports this program cannot handle." + text::kNotVerifiedBoxTail;
    default:
      return text::kNotFoundAgainBox;
  }
}

}  // namespace

Difference Compare(std::span<const std::uint8_t> image, std::span<const std::uint8_t> readBack) {
  Difference d;
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i < readBack.size() && image[i] == readBack[i]) continue;
    if (d.count == 0) d.first = static_cast<std::uint32_t>(i);
    ++d.count;
  }
  return d;
}

CFwUpdateDlg::CFwUpdateDlg(DialogWindow& window, DialogOptions options)
    : window_(window),
      options_(std::move(options)),
      events_(options_.events != nullptr ? *options_.events : noEvents_),
      engine_(options_.image) {
  engine_.SetPauses(options_.writePauseMs, options_.idlePauseMs);
  engine_.SetAbortFlag(options_.interrupt);
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
  SetStatus(kDarkBlue, text::kReady);
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
  requiredPath_ = writtenLocation_.empty() ? written_.path : std::string();
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
  if (!MakeSearchLink()) return false;
  engine_.SetFraming(Framing::Standard, kStandardChunk);
  for (std::size_t i = 0; i < kProducts.size(); ++i) {
    if (TryProduct(i)) return true;
  }
  return false;
}

bool CFwUpdateDlg::MakeSearchLink() {
  link_ = options_.allocateLink ? options_.allocateLink(*options_.bus) : MakeLink(*options_.bus);
  if (link_ == nullptr) {
    result_.failure = {hid::FailureKind::OutOfResources, {}, "out of memory for the device link"};
    window_.MessageBox(text::kNoResourceBox);
    return false;
  }
  link_->SetTimeouts(options_.readTimeoutMs, options_.writeTimeoutMs);
  link_->RequireLocation(requiredLocation_);
  link_->RequirePath(!options_.devicePath.empty() ? options_.devicePath : requiredPath_);
  if (options_.tracer) link_->SetTracer(options_.tracer);
  return true;
}

bool CFwUpdateDlg::TryProduct(std::size_t index) {
  const Product& product = kProducts[index];
  // The first attempt takes the ID fields' values and shows no dots.
  const bool fromFields = index == 0;
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
    chosen_ = {vid, pid, product.framing, link_->Path()};
    events_.UnitChosen(chosen_);
    return true;
  }
  const hid::LinkFailure& failure = link_->LastFailure();
  result_.attempts.push_back({vid, pid, failure});
  // A device that is there but could not be opened says more than a missing one.
  if (!result_.failure.failed() || result_.failure.kind == hid::FailureKind::NotFound)
    result_.failure = failure;
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
    window_.MessageBox(text::kNoResourceBox);
    FailRun(Outcome::WorkerFailed, kDarkRed,
            std::exchange(readOnly_, false) ? text::kConnectFail : text::kUpdateFail);
    return false;
  }
  result_.outcome = Outcome::Running;
  // From here on a write may be under way.
  if (phase == Phase::Write) result_.eeprom = Eeprom::PartlyWritten;
  reportedBytes_ = 0;
  stallBytes_ = 0;
  lastMove_ = std::chrono::steady_clock::now();
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
    window_.MessageBox(held ? std::string(text::kAnotherUpdateBox)
                            : text::kLockFailedBox + failure.detail + ".");
    result_.lockFailure = std::move(failure);
    SetStatus(kDarkRed, text::kConnectFail);
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
  result_.eeprom = Eeprom::Untouched;
  result_.compared = false;
  result_.difference = {};
  result_.readBack.clear();
  result_.outOfStep = false;
  // A write phase ended early leaves its read-back pending: it belongs to no later run.
  (void)engine_.TakeVerifyPending();
  if (!Connect()) {
    readOnly_ = false;
    FailRun(Outcome::ConnectFailed, kDarkRed, text::kConnectFail);
    return false;
  }
  blinkState_ = 1;
  SetStatus(kDarkRed, text::kProcessing);
  blinkCounter_ = 0;
  return true;
}

void CFwUpdateDlg::OnStartUpdate() {
  if (!BeginRun(false)) return;
  writtenLocation_ = link_->Location();
  written_ = chosen_;
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
    // The search's last attempt (another product, say) is not what went wrong.
    if (result_.failure.kind == hid::FailureKind::NotFound) {
      result_.failure = {hid::FailureKind::NotFound, written_.path,
                         "the unit written, " + IdPair(written_.vendorId, written_.productId) +
                             " at " + written_.path + ", was not found again"};
    }
    if (link_ != nullptr) window_.MessageBox(ReadBackFailureText(result_.failure));
    FailRun(Outcome::ReadBackConnectFailed, kDarkRed, text::kConnectFail);
    return;
  }
  StartPhase(Phase::ReadBack);
}

void CFwUpdateDlg::LoseLink(Phase phase) {
  if (link_ != nullptr && link_->Lost()) result_.failure = link_->LastFailure();
  StopWorker();
  const bool readOnly = std::exchange(readOnly_, false);
  window_.MessageBox(readOnly                ? text::kLostDuringReadBox
                     : phase == Phase::Write ? text::kLostDuringWriteBox
                                             : text::kLostDuringReadBackBox);
  SetStatus(kDarkRed, readOnly ? text::kConnectFail : text::kUpdateFail);
  result_.phase = phase;
  EndRun(Outcome::LinkLost);
}

void CFwUpdateDlg::FailVerdict() {
  // A read-only run reaches here only with answers out of step: it updated nothing.
  const bool readOnly = std::exchange(readOnly_, false);
  window_.MessageBox(readOnly ? text::kReadOutOfStepBox : text::kUpdateFailBox);
  SetStatus(kDarkRed, readOnly ? text::kConnectFail : text::kUpdateFail);
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
  if (AbortIfDue()) return;
  if (--exitCountdown_ < 0) window_.EnableItem(IDC_EXIT, true);
  // The worker publishes progress before it raises `finished`: the snapshot reads the flags
  // before the progress, so the position shown below is at least the phase's last one.
  const TransferSnapshot flags = engine_.Snapshot();
  ShowLatestProgress();
  if (flags.running && flags.linkLost) {
    LoseLink(flags.phase);
    return;
  }
  if (flags.running) Blink();
  if (!flags.running || !flags.finished) return;
  StopWorker();
  EndPhase(flags);
}

void CFwUpdateDlg::Blink() {
  if (blinkCounter_ < kBlinkTicks) {
    ++blinkCounter_;
    return;
  }
  blinkCounter_ = 0;
  blinkState_ = blinkState_ == 1 ? 0 : 1;
  window_.SetItemText(IDC_STATUS, blinkState_ == 1 ? text::kProcessing : "");
}

void CFwUpdateDlg::EndPhase(const TransferSnapshot& flags) {
  // Answers out of step prove nothing: such a write phase gets no read-back.
  const bool verifyPending = engine_.TakeVerifyPending();
  if (flags.outOfStep) {
    result_.outOfStep = true;
    FailVerdict();
    return;
  }
  if (verifyPending) {
    result_.eeprom = Eeprom::NotVerified;
    StartReadBack();
    return;
  }
  CompareReadBack();
  if (std::exchange(readOnly_, false)) {
    SetStatus(kDarkBlue, text::kReady);
    EndRun(Outcome::ReadDone);
  } else if (result_.difference.count != 0) {
    FailVerdict();
  } else {
    SetStatus(kDarkGreen, text::kUpdateOk);
    EndRun(Outcome::UpdateOk);
  }
}

void CFwUpdateDlg::CompareReadBack() {
  const auto image = engine_.image();
  const auto read = engine_.ReadBack().first(std::min(image.size(), engine_.ReadBack().size()));
  result_.difference = Compare(image, read);
  result_.compared = true;
  result_.eeprom = result_.difference.count == 0 ? Eeprom::Matches : Eeprom::Differs;
  if (readOnly_) result_.readBack.assign(read.begin(), read.end());
}

bool CFwUpdateDlg::AbortIfDue() {
  if (result_.outcome != Outcome::Running) return false;
  if (options_.interrupt != nullptr && options_.interrupt->load()) {
    Abort(AbortReason::Interrupted);
    return true;
  }
  if (options_.stallLimit <= std::chrono::steady_clock::duration::zero()) return false;
  const auto now = std::chrono::steady_clock::now();
  // Reading on after the last chunk for answers left over is bounded by the read time-out, and
  // has no bytes to move.
  if (const TransferSnapshot snap = engine_.Snapshot();
      snap.bytesDone != stallBytes_ || snap.settling) {
    stallBytes_ = snap.bytesDone;
    lastMove_ = now;
    return false;
  }
  if (now - lastMove_ <= options_.stallLimit) return false;
  Abort(AbortReason::TimedOut);
  return true;
}

void CFwUpdateDlg::Abort(AbortReason reason) {
  if (result_.outcome != Outcome::Running) return;
  StopWorker();
  SetStatus(kDarkRed, std::exchange(readOnly_, false) ? text::kConnectFail : text::kUpdateFail);
  EndRun(reason == AbortReason::TimedOut ? Outcome::TimedOut : Outcome::Interrupted);
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
  const auto started = std::chrono::steady_clock::now();
  if (options_.stallLimit > std::chrono::steady_clock::duration::zero()) {
    engine_.SetRegisterDeadline(started + options_.stallLimit);
  }
  if (!Connect()) {
    StopWorker();
    SetStatus(kDarkRed, text::kConnectFail);
    Finish(Outcome::ConnectFailed);
    return;
  }
  std::array<std::uint8_t, 256> r{};
  const bool ok = ReadVersionRegisters(r);
  StopWorker();
  if (ok) {
    using R = VersionRegister;
    std::string line =
        FormatVersion(r[R::versionHigh], r[R::versionLow],
                      static_cast<std::uint16_t>(r[R::revisionLow] | r[R::revisionHigh] << 8),
                      static_cast<std::uint16_t>(r[R::buildLow] | r[R::buildHigh] << 8),
                      r[R::dayAndIndex], r[R::monthYear]);
    line += r[R::releaseKind] == kFormalRelease ? text::kFormalRelease : text::kBetaRelease;
    SetStatus(kDarkGreen, line);
    result_.versionLine = line;
    Finish(Outcome::VersionOk);
    return;
  }
  SetStatus(kDarkRed, text::kVersionFail);
  result_.versionLine.clear();
  const bool interrupted = options_.interrupt != nullptr && options_.interrupt->load();
  const bool late = options_.stallLimit > std::chrono::steady_clock::duration::zero() &&
                    std::chrono::steady_clock::now() > started + options_.stallLimit;
  Finish(interrupted ? Outcome::Interrupted : late ? Outcome::TimedOut : Outcome::VersionFailed);
}

bool CFwUpdateDlg::ReadVersionRegisters(std::array<std::uint8_t, 256>& registers) {
  using R = VersionRegister;
  constexpr std::array<std::uint8_t, 9> kRegisters = {
      R::versionLow, R::versionHigh, R::buildLow,     R::buildHigh,  R::dayAndIndex,
      R::monthYear,  R::revisionLow, R::revisionHigh, R::releaseKind};
  for (const std::uint8_t reg : kRegisters) {
    if (!ReadRegister(reg, kRegisterParameter, registers[reg])) return false;
  }
  return true;
}

void CFwUpdateDlg::OnExit() {
  StopWorker();
  runLock_.reset();
  if (result_.outcome == Outcome::Running) {
    // Whoever stops a run before its verdict is told what the EEPROM may hold now.
    if (!std::exchange(readOnly_, false)) {
      window_.MessageBox(result_.phase == Phase::Write ? text::kStoppedDuringWriteBox
                                                       : text::kStoppedDuringReadBackBox);
    }
    Finish(Outcome::Stopped);
  }
  window_.EndDialog(IDC_EXIT);
}

void CFwUpdateDlg::OnCancel() {
  // While Exit is locked a write may be under way: closing is refused until it is free.
  if (!window_.IsItemEnabled(IDC_EXIT)) return;
  OnExit();
}

}  // namespace quarnel
