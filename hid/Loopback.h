// A channel whose far end is served inside the program, on a thread of its own, over the
// platform's own I/O path (a socket pair on Linux, a message-mode named pipe on Windows), so
// that the reports cross the same read and write code as a real HID interface's.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "hid/DeviceBus.h"

namespace quarnel::hid {

// What the far end sends back for one output report.
struct ServedAnswer {
  std::vector<Report> answers;  // report-ID byte first
  std::uint32_t delayMs = 0;    // they are sent this late
  std::uint32_t delayUs = 0;    // ... and this many microseconds later still
  // Each answer leaves this long after the report came and after the answer before it, as
  // input reports reach the host one interrupt poll apart (so an answer sent twice can come
  // after the next request went out). Transports that serve in the writer's thread ignore it.
  std::uint32_t latencyUs = 0;
  bool vanish = false;  // the far end goes away after sending them
};

class ReportServer {
 public:
  virtual ~ReportServer() = default;
  // Takes one output report (report-ID byte first); called on the serving thread.
  virtual ServedAnswer Serve(std::span<const std::uint8_t> report) = 0;
};

// Makes a channel served by `server`.
using LoopbackFactory = std::function<ChannelResult(std::shared_ptr<ReportServer>)>;

// The platform's loopback; defined in the platform's backend.
ChannelResult OpenLoopback(std::shared_ptr<ReportServer> server);

// An interface served by `server` over a channel `transport` makes, with the report lengths
// (report-ID byte counted) it says it has.
inline Result<OpenedInterface, LinkFailure> OpenServedInterface(
    const LoopbackFactory& transport, std::shared_ptr<ReportServer> server,
    std::uint32_t inputLength, std::uint32_t outputLength) {
  auto channel = transport(std::move(server));
  if (!channel) return Fail(std::move(channel.error()));
  OpenedInterface out;
  out.channel = std::move(channel.value());
  out.inputLength = inputLength;
  out.outputLength = outputLength;
  return out;
}

}  // namespace quarnel::hid
