// The emulated device seen as a HID bus with one interface on it.
#pragma once

#include <memory>

#include "hid/DeviceBus.h"
#include "hid/emulated/EmulatedDevice.h"

namespace quarnel::emulated {

class EmulatedBus final : public hid::Bus {
 public:
  explicit EmulatedBus(std::shared_ptr<Device> device) : device_(std::move(device)) {}

  std::vector<hid::InterfaceInfo> Enumerate() override;
  bool Open(const hid::InterfaceInfo& info, hid::OpenedInterface& out,
            std::string& reason) override;

  Device& device() { return *device_; }

 private:
  std::shared_ptr<Device> device_;
};

// A channel whose far end is served by `device` on a thread of its own, over the platform's
// transport (defined in the platform's backend). The channel's reads and writes run the
// platform's real HID I/O code.
std::unique_ptr<hid::Channel> OpenTransport(std::shared_ptr<Device> device, std::string& reason);

}  // namespace quarnel::emulated
