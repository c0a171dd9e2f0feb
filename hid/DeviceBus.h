// The seam between the device link and whatever carries reports: the platform's HID
// interfaces or the built-in emulated device.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"
#include "hid/LinkFailure.h"
#include "hid/Report.h"

namespace quarnel::hid {

inline constexpr std::uint32_t kReadTimeoutMs = 5000;
inline constexpr std::uint32_t kWriteTimeoutMs = 5000;

// TimedOut: nothing moved within the limit. A read may be tried again; a write that timed out
// means the unit takes no reports, and `failure` says so.
// Cancelled: Channel::Cancel ended the wait; nothing moved.
enum class IoStatus : std::uint8_t { Ok, TimedOut, Failed, Cancelled };

struct IoResult {
  IoStatus status = IoStatus::Failed;
  std::uint32_t count = 0;  // bytes of the report, report-ID byte included
  LinkFailure failure;      // why a Failed result, or a timed-out write, failed
};

// What every channel answers for a write that did not finish within `timeoutMs`.
inline IoResult WriteTimedOut(const std::string& name, std::uint32_t timeoutMs) {
  return {IoStatus::TimedOut,
          0,
          {FailureKind::TimedOut, name,
           name + ": write timed out after " + std::to_string(timeoutMs) + " ms"}};
}

// One open HID interface. Reports are handed over in 64-byte buffers whose byte 0 is the
// report ID; counts include that byte, as the Windows HID stack counts them.
class Channel {
 public:
  virtual ~Channel() = default;
  // Waits at most timeoutMs for one input report of up to `length` bytes. Nothing is
  // written into `report` once the call has returned.
  virtual IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) = 0;
  // Sends `length` bytes of `report`, giving up after timeoutMs.
  virtual IoResult Write(const Report& report, std::uint32_t length, std::uint32_t timeoutMs) = 0;
  // One input report that is already waiting, without waiting for one: TimedOut at once when
  // none is there (a read with no time to wait: on Linux a poll that finds none ready, on
  // Windows a read that is cancelled unless it completes at once).
  virtual IoResult ReadWaiting(Report& report, std::uint32_t length) {
    return Read(report, length, 0);
  }
  // Ends a Read or Write that is waiting, at once, and every later one (IoStatus::Cancelled).
  // Safe to call from another thread while one of them waits.
  virtual void Cancel() {}
};

// A channel, or why none could be made.
using ChannelResult = Result<std::unique_ptr<Channel>, LinkFailure>;

struct InterfaceInfo {
  std::string path;  // what Open opens: a device node or an interface path
  // Which physical unit this is: the same for every interface of one unit, different for
  // every other unit, kept when the unit is plugged into the same port again.
  std::string location;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
};

struct OpenedInterface {
  std::unique_ptr<Channel> channel;
  std::uint32_t inputLength = 0;   // report-ID byte included
  std::uint32_t outputLength = 0;  // report-ID byte included
};

class Bus {
 public:
  virtual ~Bus() = default;
  // The interfaces whose IDs could be read, in a stable order. Interfaces that could not be
  // queried are left out.
  virtual std::vector<InterfaceInfo> Enumerate() = 0;
  // Opens an interface for reading and writing and learns its report lengths; or says why it
  // could not: the kind, the node, and what went wrong in words for a person.
  virtual Result<OpenedInterface, LinkFailure> Open(const InterfaceInfo& info) = 0;
  // True when no other process can reach these interfaces (the built-in emulated unit): runs
  // on them need no lock that keeps the copies of the program apart.
  virtual bool PrivateToProcess() const { return false; }
  // Returns when the interfaces may have changed (one came or went), after at most
  // `timeout`, or soon after `*cancel` (may be null) is raised; callers list them again.
  // This one looks again every quarter of a second; a backend that the system tells of new
  // interfaces returns when told.
  virtual void WaitForChange(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel);
  // How long ago the interface appeared, where the bus can tell.
  virtual std::optional<std::chrono::milliseconds> Age(const InterfaceInfo&) const {
    return std::nullopt;
  }
};

// The longest a backend that polls waits before the interfaces are listed again.
inline constexpr std::chrono::milliseconds kPollInterval{250};

// The platform's HID interfaces; defined in the platform's backend file.
std::unique_ptr<Bus> MakeSystemBus();

}  // namespace quarnel::hid
