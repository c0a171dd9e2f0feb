// The HID bus on Windows: the HID interfaces SetupAPI lists, each with the device instances
// above its HID collection, and opened with the HID class driver's calls. The two system
// steps can be replaced, so that tests can show units as Windows lists them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hid/DeviceBus.h"

namespace quarnel::hid {

// One HID interface as the system lists it.
struct ListedInterface {
  std::string path;  // the device interface path, what Open opens
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  // The device instance IDs above the HID collection, nearest first: for a composite USB
  // device the interface (USB\VID_1852&PID_7029&MI_01\...), then the device
  // (USB\VID_1852&PID_7029\SERIAL); for a simple one the device at once.
  std::vector<std::string> parents;
};

struct SetupApiConfig {
  // Every HID interface whose IDs could be read; empty: SetupAPI and the configuration manager.
  std::function<std::vector<ListedInterface>()> list;
  // Opens one for reading and writing with its report lengths; empty: CreateFile and the
  // HID class driver's report capabilities.
  std::function<Result<OpenedInterface, LinkFailure>(const InterfaceInfo& info)> open;
};

std::unique_ptr<Bus> MakeSetupApiBus(SetupApiConfig config);

// The physical unit an interface belongs to: the first device above its collection that is
// not one interface (MI_xx) of a composite device, so the same for each interface of a unit;
// the interface path where the system names no such device.
std::string UnitLocation(const ListedInterface& listed);

}  // namespace quarnel::hid
