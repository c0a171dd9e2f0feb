#include "hid/windows/WinChannel.h"

#include <algorithm>
#include <cstring>

#include "base/windows/WinError.h"

namespace quarnel::win {

namespace {

using hid::IoResult;
using hid::IoStatus;

// One direction of overlapped I/O. The buffer and the OVERLAPPED record live as long as the
// channel, and every operation has finished or been cancelled before Read or Write returns,
// so nothing is written into memory the caller owns once it has its answer.
struct Transfer {
  UniqueHandle event;  // manual reset
  OVERLAPPED overlapped{};
  Report buffer{};

  // ReadFile and WriteFile reset the event themselves.
  void Start() {
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event.get();
  }
};

class WinChannel final : public hid::Channel {
 public:
  WinChannel(InterfaceHandles handles, std::string name, UniqueHandle readEvent,
             UniqueHandle writeEvent, UniqueHandle cancelEvent)
      : handles_(std::move(handles)), name_(std::move(name)), cancel_(std::move(cancelEvent)) {
    read_.event = std::move(readEvent);
    write_.event = std::move(writeEvent);
  }
  ~WinChannel() override {
    handles_.read.reset();
    handles_.write.reset();
    handles_.query.reset();
  }
  WinChannel(const WinChannel&) = delete;
  WinChannel& operator=(const WinChannel&) = delete;

  IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    const HANDLE h = handles_.read.get();
    const auto want = static_cast<DWORD>(std::clamp<std::uint32_t>(length, 1, kReportSize));
    read_.Start();
    const BOOL done = ReadFile(h, read_.buffer.data(), want, nullptr, &read_.overlapped);
    if (!done && GetLastError() != ERROR_IO_PENDING) return Failure("read");
    DWORD count = 0;
    switch (done ? WAIT_OBJECT_0 : WaitFor(read_, timeoutMs)) {
      case WAIT_OBJECT_0 + 1:
        // Cancelled; a report that landed meanwhile still counts.
        CancelIoEx(h, &read_.overlapped);
        if (GetOverlappedResult(h, &read_.overlapped, &count, TRUE) && count != 0)
          return Deliver(report, count);
        return {IoStatus::Cancelled, 0, {}};
      case WAIT_OBJECT_0:
        if (!GetOverlappedResult(h, &read_.overlapped, &count, FALSE)) return Failure("read");
        if (count == 0)
          return {IoStatus::Failed,
                  0,
                  {hid::FailureKind::Gone, name_, name_ + ": device disconnected"}};
        return Deliver(report, count);
      case WAIT_TIMEOUT:
        // The report may land while the read is being cancelled: then it counts.
        CancelIoEx(h, &read_.overlapped);
        if (GetOverlappedResult(h, &read_.overlapped, &count, TRUE) && count != 0)
          return Deliver(report, count);
        return {IoStatus::TimedOut, 0, {}};
      default: {
        const IoResult failed = Failure("waiting for a report");
        CancelIoEx(h, &read_.overlapped);
        GetOverlappedResult(h, &read_.overlapped, &count, TRUE);
        return failed;
      }
    }
  }

  IoResult Write(const Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    const HANDLE h = handles_.write.get();
    const auto n = static_cast<DWORD>(std::clamp<std::uint32_t>(length, 1, kReportSize));
    write_.Start();
    write_.buffer = report;
    const BOOL done = WriteFile(h, write_.buffer.data(), n, nullptr, &write_.overlapped);
    if (!done && GetLastError() != ERROR_IO_PENDING) return Failure("write");
    DWORD count = 0;
    const DWORD wait = done ? WAIT_OBJECT_0 : WaitFor(write_, timeoutMs);
    if (wait == WAIT_OBJECT_0) {
      if (!GetOverlappedResult(h, &write_.overlapped, &count, FALSE)) return Failure("write");
      return {IoStatus::Ok, count, {}};
    }
    if (wait == WAIT_OBJECT_0 + 1) {
      CancelIoEx(h, &write_.overlapped);
      if (GetOverlappedResult(h, &write_.overlapped, &count, TRUE))
        return {IoStatus::Ok, count, {}};
      return {IoStatus::Cancelled, 0, {}};
    }
    // A write that does not finish in time: the device is not taking reports.
    const IoResult failed = wait == WAIT_TIMEOUT ? hid::WriteTimedOut(name_, timeoutMs)
                                                 : Failure("waiting for a write");
    CancelIoEx(h, &write_.overlapped);
    GetOverlappedResult(h, &write_.overlapped, &count, TRUE);
    return failed;
  }

  void Cancel() override { SetEvent(cancel_.get()); }

 private:
  // WAIT_OBJECT_0: the transfer finished; WAIT_OBJECT_0 + 1: Cancel was called (it stays
  // signalled, so every later wait ends at once too).
  DWORD WaitFor(const Transfer& transfer, std::uint32_t timeoutMs) const {
    const HANDLE events[] = {transfer.event.get(), cancel_.get()};
    return WaitForMultipleObjects(2, events, FALSE, timeoutMs);
  }

  IoResult Deliver(Report& report, DWORD count) const {
    const std::size_t n = std::min<std::size_t>(count, kReportSize);
    std::memcpy(report.data(), read_.buffer.data(), n);
    return {IoStatus::Ok, static_cast<std::uint32_t>(n), {}};
  }

  IoResult Failure(const char* what) const {
    const DWORD code = GetLastError();
    return {IoStatus::Failed, 0, {FailureKindOf(code), name_, name_ + ": " + LastErrorText(what)}};
  }

  InterfaceHandles handles_;
  std::string name_;
  Transfer read_;
  Transfer write_;
  UniqueHandle cancel_;  // manual reset
};

}  // namespace

hid::FailureKind FailureKindOf(std::uint32_t code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
      return hid::FailureKind::PermissionDenied;
    case ERROR_SHARING_VIOLATION:
      return hid::FailureKind::InUse;
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_BROKEN_PIPE:
    case ERROR_PIPE_NOT_CONNECTED:
    case ERROR_NO_DATA:
    case ERROR_INVALID_HANDLE:
    case ERROR_OPERATION_ABORTED:
      return hid::FailureKind::Gone;
    default:
      return hid::FailureKind::IoError;
  }
}

hid::ChannelResult MakeWinChannel(InterfaceHandles handles, std::string name) {
  UniqueHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle writeEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  UniqueHandle cancelEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  if (!readEvent.valid() || !writeEvent.valid() || !cancelEvent.valid()) {
    return Fail(hid::LinkFailure{hid::FailureKind::OutOfResources, name,
                                 name + ": " + LastErrorText("CreateEvent")});
  }
  return std::unique_ptr<hid::Channel>(
      std::make_unique<WinChannel>(std::move(handles), std::move(name), std::move(readEvent),
                                   std::move(writeEvent), std::move(cancelEvent)));
}

}  // namespace quarnel::win
