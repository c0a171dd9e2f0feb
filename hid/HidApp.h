// The device link: finds one HID interface by vendor and product ID and moves single
// reports to and from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "hid/DeviceBus.h"
#include "hid/Report.h"

namespace quarnel {

class CHidApp {
 public:
  // Called with every report that crosses the link: direction 'W' or 'R', the report and
  // the count of bytes that moved.
  using Tracer = std::function<void(char direction, const Report& report, std::uint32_t count)>;

  explicit CHidApp(hid::Bus& bus);
  virtual ~CHidApp();
  CHidApp(const CHidApp&) = delete;
  CHidApp& operator=(const CHidApp&) = delete;

  // True when the wanted device is open. Returns at once while connected. The interfaces
  // are listed by the first call; later calls on the same link search that list.
  bool Open(std::uint16_t vendorId, std::uint16_t productId);
  // One input report into `buffer`; the byte count (report-ID byte included), 0 on time-out
  // or failure. A failure other than a time-out closes the link for good.
  std::uint32_t Read(Report& buffer);
  // One output report from `buffer`; the byte count written, 0 on failure (the link then
  // closes for good).
  std::uint32_t Write(const Report& buffer);
  // Releases the interface; `connected` is left as it is.
  void Close();

  bool connected() const { return connected_; }
  bool IsOpen() const { return opened_.channel != nullptr; }
  std::uint32_t InputLength() const { return opened_.inputLength; }
  std::uint32_t OutputLength() const { return opened_.outputLength; }
  // Why the last Open, Read or Write failed.
  const hid::LinkFailure& LastFailure() const { return lastFailure_; }
  // The same in words for a person, for diagnostics.
  const std::string& LastError() const { return lastFailure_.detail; }
  // The physical unit of the opened interface.
  const std::string& Location() const { return location_; }
  // What was opened: the node or interface path.
  const std::string& Path() const { return path_; }

  // Among matching interfaces, take the one at this location first.
  void SetPreferredLocation(std::string location) { preferredLocation_ = std::move(location); }
  void SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs);
  void SetTracer(Tracer tracer) { tracer_ = std::move(tracer); }

 private:
  void Fail(hid::LinkFailure failure);

  hid::Bus& bus_;
  std::vector<hid::InterfaceInfo> interfaces_;
  bool listed_ = false;
  bool connected_ = false;
  hid::OpenedInterface opened_;
  std::string location_;
  std::string path_;
  std::string preferredLocation_;
  hid::LinkFailure lastFailure_;
  std::uint32_t readTimeoutMs_ = hid::kReadTimeoutMs;
  std::uint32_t writeTimeoutMs_ = hid::kWriteTimeoutMs;
  Tracer tracer_;
};

}  // namespace quarnel
