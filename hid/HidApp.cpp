#include "hid/HidApp.h"

#include <algorithm>

#include "base/Text.h"

namespace quarnel {

CHidApp::CHidApp(hid::Bus& bus) : bus_(bus) {}

CHidApp::~CHidApp() {
  Close();
}

void CHidApp::SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
  readTimeoutMs_ = readMs;
  writeTimeoutMs_ = writeMs;
}

void CHidApp::RequireReports(std::uint32_t leastInput, std::uint32_t leastOutput) {
  leastInput_ = std::max<std::uint32_t>(leastInput, 1);
  leastOutput_ = std::max<std::uint32_t>(leastOutput, 1);
}

bool CHidApp::Open(std::uint16_t vendorId, std::uint16_t productId) {
  if (connected_) return true;
  ListInterfaces();
  std::vector<hid::LinkFailure> passedOver;
  for (const hid::InterfaceInfo* info : Candidates(vendorId, productId)) {
    auto opened = OpenInterface(*info);
    if (opened) {
      Take(*info, std::move(opened.value()));
      return true;
    }
    // Another interface of the unit (a composite device) may be the one that takes reports.
    if (opened.error().kind != hid::FailureKind::UnsupportedReports) {
      lastFailure_ = std::move(opened.error());
      return false;
    }
    passedOver.push_back(std::move(opened.error()));
  }
  if (!passedOver.empty()) lastFailure_ = NoneFits(passedOver);
  return false;
}

void CHidApp::ListInterfaces() {
  // One link tries several ID pairs in a row: the bus is listed once for all of them.
  if (listed_) return;
  interfaces_ = bus_.Enumerate();
  listed_ = true;
}

std::vector<const hid::InterfaceInfo*> CHidApp::Candidates(std::uint16_t vendorId,
                                                           std::uint16_t productId) {
  std::vector<const hid::InterfaceInfo*> found;
  bool otherUnit = false;  // one with the IDs was there, but not the one asked for
  for (const auto& info : interfaces_) {
    if (info.vendorId != vendorId || info.productId != productId) continue;
    if ((!requiredPath_.empty() && info.path != requiredPath_) ||
        (!requiredLocation_.empty() && info.location != requiredLocation_)) {
      otherUnit = true;
      continue;
    }
    found.push_back(&info);
  }
  if (!found.empty()) return found;
  const std::string ids = IdPair(vendorId, productId);
  std::string detail = "no HID device " + ids + " found";
  if (otherUnit) {
    detail = !requiredPath_.empty()
                 ? "no HID device " + ids + " at " + requiredPath_
                 : "the HID devices " + ids + " found are other units than the one asked for";
  }
  lastFailure_ = {hid::FailureKind::NotFound, requiredPath_, std::move(detail)};
  return found;
}

Result<hid::OpenedInterface, hid::LinkFailure> CHidApp::OpenInterface(
    const hid::InterfaceInfo& info) {
  auto opened = bus_.Open(info);
  if (!opened) {
    hid::LinkFailure reason = std::move(opened.error());
    if (!reason.failed()) reason.kind = hid::FailureKind::IoError;
    if (reason.path.empty()) reason.path = info.path;
    if (reason.detail.empty()) reason.detail = "cannot open " + info.path;
    return Fail(std::move(reason));
  }
  if (hid::LinkFailure unfit = CheckReports(info.path, opened.value()); unfit.failed())
    return Fail(std::move(unfit));
  return opened;
}

namespace {

// "output reports of 13 bytes", "no input report".
std::string ReportWords(const char* kind, std::uint32_t length) {
  if (length == 0) return std::string("no ") + kind + " report";
  return std::string(kind) + " reports of " + std::to_string(length) + " bytes";
}

}  // namespace

hid::LinkFailure CHidApp::CheckReports(const std::string& path,
                                       const hid::OpenedInterface& o) const {
  const auto fits = [](std::uint32_t length, std::uint32_t least) {
    return length >= least && length <= kReportSize;
  };
  if (o.channel != nullptr && fits(o.inputLength, leastInput_) &&
      fits(o.outputLength, leastOutput_))
    return {};
  return {hid::FailureKind::UnsupportedReports, path,
          path + ": " + ReportWords("output", o.outputLength) + " and " +
              ReportWords("input", o.inputLength)};
}

hid::LinkFailure CHidApp::NoneFits(const std::vector<hid::LinkFailure>& passedOver) const {
  // Every interface says what it has; the words end with what was needed.
  std::string detail;
  for (const hid::LinkFailure& f : passedOver) detail += (detail.empty() ? "" : "; ") + f.detail;
  detail += " (needed: output reports of at least " + std::to_string(leastOutput_) +
            " bytes and input reports of at least " + std::to_string(leastInput_) +
            ", report ID included, at most " + std::to_string(kReportSize) + ")";
  return {hid::FailureKind::UnsupportedReports, passedOver.back().path, std::move(detail)};
}

void CHidApp::Take(const hid::InterfaceInfo& info, hid::OpenedInterface opened) {
  opened_ = std::move(opened);
  location_ = info.location;
  path_ = info.path;
  connected_ = true;
  lost_ = false;
  lastFailure_ = {};
}

std::uint32_t CHidApp::Read(Report& buffer) {
  return Read(buffer, readTimeoutMs_);
}

std::uint32_t CHidApp::Read(Report& buffer, std::uint32_t timeoutMs) {
  if (!Usable()) return 0;
  hid::IoResult r = opened_.channel->Read(buffer, opened_.inputLength, timeoutMs);
  if (r.status == hid::IoStatus::Failed) {
    LoseLink(std::move(r.failure));
    return 0;
  }
  if (r.status != hid::IoStatus::Ok) return 0;
  if (tracer_) tracer_('R', buffer, r.count);
  return r.count;
}

void CHidApp::Drain(const Dropped& dropped) {
  // A unit that sends without end is not waited out: a HID ring buffer holds far fewer.
  constexpr int kMostDropped = 1024;
  for (int n = 0; n < kMostDropped && Usable(); ++n) {
    Report stale{};
    hid::IoResult r = opened_.channel->ReadWaiting(stale, opened_.inputLength);
    if (r.status == hid::IoStatus::Failed) LoseLink(std::move(r.failure));
    if (r.status != hid::IoStatus::Ok) return;
    if (tracer_) tracer_('R', stale, r.count);
    if (dropped) dropped(stale, r.count);
  }
}

std::uint32_t CHidApp::Write(const Report& buffer) {
  if (!Usable()) return 0;
  if (tracer_) tracer_('W', buffer, opened_.outputLength);
  hid::IoResult r = opened_.channel->Write(buffer, opened_.outputLength, writeTimeoutMs_);
  if (r.status == hid::IoStatus::Cancelled) return 0;
  // A write that failed or timed out: the unit takes no reports.
  if (r.status != hid::IoStatus::Ok) {
    LoseLink(std::move(r.failure));
    return 0;
  }
  return r.count;
}

void CHidApp::LoseLink(hid::LinkFailure failure) {
  // The interface stays open until Close, so that Cancel from another thread never meets a
  // channel being destroyed; nothing more goes through it.
  lastFailure_ = std::move(failure);
  connected_ = false;
  lost_ = true;
}

void CHidApp::Cancel() {
  if (opened_.channel != nullptr) opened_.channel->Cancel();
}

void CHidApp::Close() {
  opened_ = hid::OpenedInterface{};
}

}  // namespace quarnel
