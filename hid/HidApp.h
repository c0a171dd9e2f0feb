// The device link: finds one HID interface by vendor and product ID and moves single
// reports to and from it.
#pragma once

#include <atomic>
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
  // are listed by the first call; later calls on the same link search that list. Of the
  // interfaces with the IDs, one whose reports are too short for RequireReports (or unusable
  // otherwise) is passed over and the search goes on; the first one that fits is opened.
  bool Open(std::uint16_t vendorId, std::uint16_t productId);
  // One input report into `buffer`; the byte count (report-ID byte included), 0 on time-out
  // or failure. A failure other than a time-out ends the link for good (Lost()).
  std::uint32_t Read(Report& buffer);
  // The same, waiting at most timeoutMs instead of the link's read time-out.
  std::uint32_t Read(Report& buffer, std::uint32_t timeoutMs);
  // Reads and drops every input report already waiting on the link, without waiting for one,
  // so that an answer that came before a request was sent is never taken for its answer. The
  // dropped reports are traced as reads and, when `dropped` is given, shown to it with their
  // byte counts; a failure ends the link as a read's does.
  using Dropped = std::function<void(const Report& report, std::uint32_t count)>;
  void Drain(const Dropped& dropped = nullptr);
  // One output report from `buffer`, exactly as long as the interface's output report; the
  // byte count written, 0 on failure or time-out (the link is then lost for good).
  std::uint32_t Write(const Report& buffer);
  // Ends a waiting Read or Write at once, and every later one, as timed out. May be called
  // from another thread than the one reading, but not at the same time as Open or Close.
  void Cancel();
  // Releases the interface; `connected` is left as it is.
  void Close();

  bool connected() const { return connected_; }
  // True once a read or write has failed for another reason than a time-out: the unit is
  // gone or unusable until it is opened again.
  bool Lost() const { return lost_.load(); }
  // Why the last Open, Read or Write failed (kind None when it did not).
  const hid::LinkFailure& LastFailure() const { return lastFailure_; }
  // The physical unit of the opened interface (InterfaceInfo::location).
  const std::string& Location() const { return location_; }
  // The node or interface path that was opened.
  const std::string& Path() const { return path_; }

  // Non-empty: Open takes only an interface of the unit at this location (InterfaceInfo::
  // location); interfaces of any other unit count as not found.
  void RequireLocation(std::string location) { requiredLocation_ = std::move(location); }
  // Non-empty: Open takes only the interface with this node or interface path.
  void RequirePath(std::string path) { requiredPath_ = std::move(path); }
  // Open takes only an interface whose input and output reports hold at least this many bytes
  // (report-ID byte included), and never more than a Report: what the next attempt's requests
  // and answers need. Until told, any length from 1 byte does.
  void RequireReports(std::uint32_t leastInput, std::uint32_t leastOutput);
  void SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs);
  std::uint32_t ReadTimeoutMs() const { return readTimeoutMs_; }
  void SetTracer(Tracer tracer) { tracer_ = std::move(tracer); }

 private:
  bool Usable() const { return opened_.channel != nullptr && !lost_.load(); }
  void ListInterfaces();
  // The listed interfaces with the IDs that are the ones asked for, in the bus's order; none,
  // with `lastFailure_` saying why, when there is none.
  std::vector<const hid::InterfaceInfo*> Candidates(std::uint16_t vendorId,
                                                    std::uint16_t productId);
  Result<hid::OpenedInterface, hid::LinkFailure> OpenInterface(const hid::InterfaceInfo& info);
  // Why an opened interface cannot carry the reports asked for; kind None when it can.
  hid::LinkFailure CheckReports(const std::string& path, const hid::OpenedInterface& o) const;
  // The failure of an attempt whose every candidate was passed over for its reports.
  hid::LinkFailure NoneFits(const std::vector<hid::LinkFailure>& passedOver) const;
  void Take(const hid::InterfaceInfo& info, hid::OpenedInterface opened);
  void LoseLink(hid::LinkFailure failure);

  hid::Bus& bus_;
  std::vector<hid::InterfaceInfo> interfaces_;
  bool listed_ = false;
  bool connected_ = false;
  hid::OpenedInterface opened_;
  std::string location_;
  std::string path_;
  std::string requiredLocation_;
  std::string requiredPath_;
  std::uint32_t leastInput_ = 1;
  std::uint32_t leastOutput_ = 1;
  std::atomic<bool> lost_{false};
  hid::LinkFailure lastFailure_;
  std::uint32_t readTimeoutMs_ = hid::kReadTimeoutMs;
  std::uint32_t writeTimeoutMs_ = hid::kWriteTimeoutMs;
  Tracer tracer_;
};

}  // namespace quarnel
