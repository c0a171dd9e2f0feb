// Report I/O on Windows file handles opened for overlapped I/O: HID interfaces, and the
// named pipe that carries the emulated device. Reads deliver the report-ID byte first and
// count it, as the HID class driver does.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "hid/DeviceBus.h"

namespace quarnel::win {

// Owns one kernel handle; a null or INVALID_HANDLE_VALUE handle is "none".
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
  }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// The handles of one opened interface. `read` and `write` are opened for overlapped I/O;
// `query` (opened without access rights, for HidD_ calls) may be none.
struct InterfaceHandles {
  UniqueHandle query;
  UniqueHandle write;
  UniqueHandle read;
};

// A channel that owns `handles` and closes them in the order read, write, query. `name`
// starts every error text. Empty, with `reason` set, when its events cannot be made.
std::unique_ptr<hid::Channel> MakeWinChannel(InterfaceHandles handles, std::string name,
                                             std::string& reason);

}  // namespace quarnel::win
