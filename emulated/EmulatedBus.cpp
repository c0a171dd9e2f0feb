#include "emulated/EmulatedBus.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "emulated/Descriptor.h"
#include "engine/Products.h"

namespace quarnel::emulated {

std::vector<hid::InterfaceInfo> EmulatedBus::Enumerate() {
  if (device_->vanished()) return {};
  char path[32];
  std::snprintf(path, sizeof path, "emulated:%04x", unsigned{device_->productId()});
  const std::string location = "emulated unit " + std::to_string(unit_);
  return {hid::InterfaceInfo{path, location, kVendorId, device_->productId()}};
}

unsigned EmulatedBus::NextUnit() {
  static std::atomic<unsigned> next{1};
  return next++;
}

Result<hid::OpenedInterface, hid::LinkFailure> EmulatedBus::Open(const hid::InterfaceInfo& info) {
  if (device_->vanished())
    return Fail(
        hid::LinkFailure{hid::FailureKind::Gone, info.path, info.path + ": device is gone"});
  return hid::OpenServedInterface(transport_, device_, kReportLength, kReportLength);
}

}  // namespace quarnel::emulated
