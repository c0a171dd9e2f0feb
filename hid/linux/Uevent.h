// The text of a HID device's uevent file in sysfs, read without touching the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quarnel::hid {

struct HidIds {
  std::uint32_t bus = 0;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

struct HidUevent {
  // From HID_ID=bus:vendor:product (hex); empty when that line is missing or malformed.
  std::optional<HidIds> ids;
  // HID_PHYS= (the physical path of the port) and HID_UNIQ= (the serial), as written; empty
  // when missing.
  std::string phys;
  std::string uniq;
};

// Lines of KEY=VALUE separated by '\n'; the first line of each key counts.
HidUevent ParseHidUevent(std::string_view text);

// Whether a sysfs device's uevent text says it is a whole USB device (DEVTYPE=usb_device), as
// opposed to one of its interfaces or anything else.
bool IsUsbDevice(std::string_view text);

// A HID_PHYS without the "/inputN" that tells the interfaces of one unit apart.
std::string_view WithoutInputNumber(std::string_view phys);

// Where `path` leads from `folder` (a symbolic link's text from the link's folder, or names
// below a folder), with "." and ".." steps and repeated slashes taken out: std::filesystem's
// lexically_normal in plain strings, as this runs twice for every HID interface on every
// connect. An absolute `path` replaces the folder; ".." above the root stays at the root.
std::string NormalJoin(std::string_view folder, std::string_view path);

}  // namespace quarnel::hid
