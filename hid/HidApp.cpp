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
  // One link tries several ID pairs in a row: the bus is listed once for all of them.
  if (!listed_) {
    interfaces_ = bus_.Enumerate();
    listed_ = true;
  }
  const hid::InterfaceInfo* chosen = nullptr;
  bool passedOver = false;
  for (const auto& info : interfaces_) {
    if (info.vendorId != vendorId || info.productId != productId) continue;
    if ((!requiredPath_.empty() && info.path != requiredPath_) ||
        (!requiredLocation_.empty() && info.location != requiredLocation_)) {
      passedOver = true;
      continue;
    }
    chosen = &info;
    break;
  }
  if (chosen == nullptr) {
    std::string detail = "no HID device " + IdPair(vendorId, productId) + " found";
    if (passedOver) {
      detail = !requiredPath_.empty()
                   ? "no HID device " + IdPair(vendorId, productId) + " at " + requiredPath_
                   : "the HID devices " + IdPair(vendorId, productId) +
                         " found are other units than the one asked for";
    }
    lastFailure_ = {hid::FailureKind::NotFound, requiredPath_, std::move(detail)};
    return false;
  }
  hid::OpenedInterface opened;
  hid::LinkFailure reason;
  if (!bus_.Open(*chosen, opened, reason)) {
    if (!reason.failed()) reason.kind = hid::FailureKind::IoError;
    if (reason.path.empty()) reason.path = chosen->path;
    if (reason.detail.empty()) reason.detail = "cannot open " + chosen->path;
    lastFailure_ = std::move(reason);
    return false;
  }
  if (opened.channel == nullptr || opened.inputLength == 0 || opened.outputLength == 0 ||
      opened.inputLength > kReportSize || opened.outputLength > kReportSize) {
    lastFailure_ = {hid::FailureKind::UnsupportedReports, chosen->path,
                    chosen->path + ": report lengths do not fit 64-byte reports"};
    return false;
  }
  opened_ = std::move(opened);
  location_ = chosen->location;
  path_ = chosen->path;
  connected_ = true;
  lost_ = false;
  lastFailure_ = {};
  return true;
}

std::uint32_t CHidApp::Read(Report& buffer) {
  return Read(buffer, readTimeoutMs_);
}

std::uint32_t CHidApp::Read(Report& buffer, std::uint32_t timeoutMs) {
  if (!IsOpen()) return 0;
  hid::IoResult r = opened_.channel->Read(buffer, opened_.inputLength, timeoutMs);
  if (r.status == hid::IoStatus::Failed) {
    Fail(std::move(r.failure));
    return 0;
  }
  if (r.status != hid::IoStatus::Ok) return 0;
  if (tracer_) tracer_('R', buffer, r.count);
  return r.count;
}

std::uint32_t CHidApp::Write(const Report& buffer) {
  if (!IsOpen()) return 0;
  if (tracer_) tracer_('W', buffer, opened_.outputLength);
  hid::IoResult r = opened_.channel->Write(buffer, opened_.outputLength, writeTimeoutMs_);
  if (r.status == hid::IoStatus::Cancelled) return 0;
  if (r.status != hid::IoStatus::Ok) {
    if (r.status == hid::IoStatus::TimedOut) {
      r.failure.kind = hid::FailureKind::TimedOut;
      r.failure.detail = "write timed out";
    }
    Fail(std::move(r.failure));
    return 0;
  }
  return r.count;
}

void CHidApp::Fail(hid::LinkFailure failure) {
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
