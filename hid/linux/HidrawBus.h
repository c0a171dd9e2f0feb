// The HID bus on Linux: the kernel's hidraw nodes, found through sysfs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hid/DeviceBus.h"

namespace quarnel::hid {

struct HidrawConfig {
  // Holds class/hidraw/hidrawN, each with a `device` link to its HID device.
  std::string sysfsRoot = "/sys";
  // Holds the hidrawN device nodes.
  std::string deviceDir = "/dev";
  // Opens a node for reading and writing: a descriptor, or -1 with errno set.
  std::function<int(const std::string& node)> open;
  // Reads the report descriptor of an open node; false with errno set when it cannot.
  std::function<bool(int fd, std::vector<std::uint8_t>& descriptor)> readDescriptor;
};

// Empty `open` and `readDescriptor` mean open(2) with O_RDWR | O_CLOEXEC and the hidraw
// descriptor ioctls.
std::unique_ptr<Bus> MakeHidrawBus(HidrawConfig config);

}  // namespace quarnel::hid
