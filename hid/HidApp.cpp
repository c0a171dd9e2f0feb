#include "hid/HidApp.h"

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

bool CHidApp::Open(std::uint16_t vendorId, std::uint16_t productId) {
  if (connected_) return true;
  ListInterfaces();
  const hid::InterfaceInfo* chosen = Choose(vendorId, productId);
  if (chosen == nullptr) return false;
  auto opened = OpenInterface(*chosen);
  if (!opened) {
    lastFailure_ = std::move(opened.error());
    return false;
  }
  Take(*chosen, std::move(opened.value()));
  return true;
}

void CHidApp::ListInterfaces() {
  // One link tries several ID pairs in a row: the bus is listed once for all of them.
  if (listed_) return;
  interfaces_ = bus_.Enumerate();
  listed_ = true;
}

const hid::InterfaceInfo* CHidApp::Choose(std::uint16_t vendorId, std::uint16_t productId) {
  bool otherUnit = false;  // one with the IDs was there, but not the one asked for
  for (const auto& info : interfaces_) {
    if (info.vendorId != vendorId || info.productId != productId) continue;
    if ((!requiredPath_.empty() && info.path != requiredPath_) ||
        (!requiredLocation_.empty() && info.location != requiredLocation_)) {
      otherUnit = true;
      continue;
    }
    return &info;
  }
  const std::string ids = IdPair(vendorId, productId);
  std::string detail = "no HID device " + ids + " found";
  if (otherUnit) {
    detail = !requiredPath_.empty()
                 ? "no HID device " + ids + " at " + requiredPath_
                 : "the HID devices " + ids + " found are other units than the one asked for";
  }
  lastFailure_ = {hid::FailureKind::NotFound, requiredPath_, std::move(detail)};
  return nullptr;
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
  const hid::OpenedInterface& o = opened.value();
  if (o.channel == nullptr || o.inputLength == 0 || o.outputLength == 0 ||
      o.inputLength > kReportSize || o.outputLength > kReportSize) {
    return Fail(hid::LinkFailure{hid::FailureKind::UnsupportedReports, info.path,
                                 info.path + ": report lengths do not fit 64-byte reports"});
  }
  return opened;
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
