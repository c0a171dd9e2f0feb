// The emulated unit seen as a HID bus with one interface on it: a second implementation of
// the device link's seam, next to the platform's.
#pragma once

#include <memory>
#include <string>

#include "emulated/EmulatedDevice.h"
#include "hid/DeviceBus.h"
#include "hid/Loopback.h"

namespace quarnel::emulated {

class EmulatedBus final : public hid::Bus {
 public:
  // Each Open serves `device` through a channel that `transport` makes (the platform's
  // loopback unless told otherwise), so that the platform's real report I/O runs.
  explicit EmulatedBus(std::shared_ptr<Device> device,
                       hid::LoopbackFactory transport = hid::OpenLoopback)
      : device_(std::move(device)), transport_(std::move(transport)), unit_(NextUnit()) {}

  std::vector<hid::InterfaceInfo> Enumerate() override;
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override;
  // The unit lives in this process: no other copy of the program can reach it.
  bool PrivateToProcess() const override { return true; }

  Device& device() { return *device_; }

 private:
  // Each bus is a unit of its own: where several are listed together, the read-back can tell
  // the one written from the others.
  static unsigned NextUnit();

  std::shared_ptr<Device> device_;
  hid::LoopbackFactory transport_;
  unsigned unit_;
};

}  // namespace quarnel::emulated
