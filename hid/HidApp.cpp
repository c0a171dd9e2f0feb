#include "hid/HidApp.h"

#include <cstdio>

namespace quarnel {

namespace {

std::string IdPair(std::uint16_t vendorId, std::uint16_t productId) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", unsigned{vendorId}, unsigned{productId});
  return text;
}

}  // namespace

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
    lastError_ = "no HID device " + IdPair(vendorId, productId) + " found";
    return false;
  }
  hid::OpenedInterface opened;
  std::string reason;
  if (!bus_.Open(*chosen, opened, reason)) {
    lastError_ = reason.empty() ? "cannot open " + chosen->path : reason;
    return false;
  }
  if (opened.channel == nullptr || opened.inputLength == 0 || opened.outputLength == 0 ||
      opened.inputLength > kReportSize || opened.outputLength > kReportSize) {
    lastError_ = chosen->path + ": report lengths do not fit 64-byte reports";
    return false;
  }
  opened_ = std::move(opened);
  location_ = chosen->location;
  connected_ = true;
  lastError_.clear();
  return true;
}

std::uint32_t CHidApp::Read(Report& buffer) {
  if (opened_.channel == nullptr) return 0;
  hid::IoResult r = opened_.channel->Read(buffer, opened_.inputLength, readTimeoutMs_);
  if (r.status == hid::IoStatus::Failed) {
    Fail(std::move(r.error));
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
    Fail(r.status == hid::IoStatus::TimedOut ? "write timed out" : std::move(r.error));
    return 0;
  }
  return r.count;
}

void CHidApp::Fail(std::string error) {
  Close();
  connected_ = false;
  lastError_ = std::move(error);
}

void CHidApp::Close() {
  opened_ = hid::OpenedInterface{};
}

}  // namespace quarnel
