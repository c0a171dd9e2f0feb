// Report I/O on Windows file handles opened for overlapped I/O: HID interfaces, and the
// named pipe that carries the emulated device. Reads deliver the report-ID byte first and
// count it, as the HID class driver does.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "base/windows/UniqueHandle.h"
#include "hid/DeviceBus.h"

namespace quarnel::win {

// The handles of one opened interface. `read` and `write` are opened for overlapped I/O;
// `query` (opened without access rights, for HidD_ calls) may be none.
struct InterfaceHandles {
  UniqueHandle query;
  UniqueHandle write;
  UniqueHandle read;
};

// A channel that owns `handles` and closes them in the order read, write, query. `name`
// starts every error text. Fails when its events cannot be made.
hid::ChannelResult MakeWinChannel(InterfaceHandles handles, std::string name);

// The kind of failure a Win32 error code means for a unit.
hid::FailureKind FailureKindOf(std::uint32_t code);

}  // namespace quarnel::win
