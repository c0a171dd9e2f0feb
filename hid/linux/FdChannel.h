// Report I/O on a file descriptor that behaves like a hidraw node: one report per read and
// write, reads without the report-ID byte, writes starting with it.
#pragma once

#include <memory>

#include "hid/DeviceBus.h"

namespace quarnel::hid {

// Takes ownership of `fd` (and any advisory lock held through it).
std::unique_ptr<Channel> MakeFdChannel(int fd, std::string name);

}  // namespace quarnel::hid
