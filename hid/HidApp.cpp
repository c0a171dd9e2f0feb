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
  for (const auto& info : interfaces_) {
    if (info.vendorId != vendorId || info.productId != productId) continue;
    if (chosen == nullptr) chosen = &info;
    if (preferredLocation_.empty() || info.location == preferredLocation_) {
      chosen = &info;
      break;
    }
  }
  if (chosen == nullptr) {
    lastFailure_ = {
        hid::FailureKind::NotFound, {}, "no HID device " + IdPair(vendorId, productId) + " found"};
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
  lastFailure_ = {};
  return true;
}

std::uint32_t CHidApp::Read(Report& buffer) {
  if (opened_.channel == nullptr) return 0;
  hid::IoResult r = opened_.channel->Read(buffer, opened_.inputLength, readTimeoutMs_);
  if (r.status == hid::IoStatus::Failed) {
    Fail(std::move(r.failure));
    return 0;
  }
  if (r.status == hid::IoStatus::TimedOut) return 0;
  if (tracer_) tracer_('R', buffer, r.count);
  return r.count;
}

std::uint32_t CHidApp::Write(const Report& buffer) {
  if (opened_.channel == nullptr) return 0;
  if (tracer_) tracer_('W', buffer, opened_.outputLength);
  hid::IoResult r = opened_.channel->Write(buffer, opened_.outputLength, writeTimeoutMs_);
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
  Close();
  connected_ = false;
  lastFailure_ = std::move(failure);
}

void CHidApp::Close() {
  opened_ = hid::OpenedInterface{};
}

}  // namespace quarnel
