// The emulated device behind a real kernel HID device: creates a virtual USB HID device through
// /dev/uhid and answers its output reports with the device model, so that the program under
// test reaches it through hidraw as it would reach the real unit.
//
//   quarnel-uhid-device --pid=HEX [--fault=KIND[:N]]... [--register=N:V]... [--dump=FILE]
//                       [--eeprom=FILE] [--ready=FILE] [--report-bytes=N] [--unserved]
//                       [--composite]
//
// The EEPROM starts erased, or with the --eeprom file's bytes. --composite makes a unit of two
// HID interfaces with the same IDs and unique ID, as USB audio interfaces have: a
// consumer-control interface (phys .../input0) enumerated first, then the update interface
// (.../input1). It runs until SIGTERM or SIGINT, then destroys the device, writes the EEPROM to
// the --dump file and exits 0. Once the update interface's hidraw node exists, its path goes to
// the --ready file (a FIFO suits a shell that waits for it), or "error: ..." when the device
// could not be made.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/Products.h"
#include "tests/e2e/FrontEnd.h"
#include "tests/e2e/UnitHost.h"

namespace {

using quarnel::e2e::Errno;
using quarnel::e2e::UnitOptions;
namespace e2e = quarnel::e2e;
namespace emulated = quarnel::emulated;

constexpr auto kNodeWait = std::chrono::seconds(10);

// Into a zero-filled field of `size` bytes, keeping a terminating zero.
void CopyString(std::uint8_t* to, std::size_t size, const std::string& from) {
  std::memcpy(to, from.data(), std::min(from.size(), size - 1));
}

// One virtual HID device, one interface of the unit; destroyed with the object.
class UhidDevice {
 public:
  UhidDevice(std::uint16_t productId, std::string uniq, unsigned interface,
             std::vector<std::uint8_t> descriptor)
      : productId_(productId),
        uniq_(std::move(uniq)),
        interface_(interface),
        descriptor_(std::move(descriptor)) {}
  ~UhidDevice() { Destroy(); }
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  int fd() const { return fd_.get(); }
  bool alive() const { return created_; }
  unsigned interface() const { return interface_; }

  bool Create(std::string& error) {
    if (!fd_.valid()) {
      error = Errno("cannot open /dev/uhid");
      return false;
    }
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    CopyString(ev.u.create2.name, sizeof ev.u.create2.name, "Emulated audio interface (uhid)");
    CopyString(ev.u.create2.phys, sizeof ev.u.create2.phys,
               "uhid-" + uniq_ + "/input" + std::to_string(interface_));
    CopyString(ev.u.create2.uniq, sizeof ev.u.create2.uniq, uniq_);
    ev.u.create2.rd_size = static_cast<std::uint16_t>(descriptor_.size());
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = quarnel::kVendorId;
    ev.u.create2.product = productId_;
    ev.u.create2.version = 0x0100;
    std::memcpy(ev.u.create2.rd_data, descriptor_.data(), descriptor_.size());
    if (!Send(ev, error)) return false;
    created_ = true;
    return true;
  }

  void Destroy() {
    if (!created_) return;
    created_ = false;
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    std::string ignored;
    Send(ev, ignored);
  }

  // Reads one event; false when the uhid node failed.
  bool Receive(uhid_event& ev, std::string& error) {
    ssize_t n = 0;
    do {
      n = ::read(fd_.get(), &ev, sizeof ev);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
      error = Errno("read from /dev/uhid");
      return false;
    }
    return true;
  }

  bool SendInput(const std::vector<std::uint8_t>& report, std::string& error) {
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<std::uint16_t>(report.size());
    std::memcpy(ev.u.input2.data, report.data(), report.size());
    return Send(ev, error);
  }

  // Feature reports are not part of the device: every request for one fails.
  void RefuseReportRequest(const uhid_event& request) {
    uhid_event ev{};
    std::string ignored;
    if (request.type == UHID_GET_REPORT) {
      ev.type = UHID_GET_REPORT_REPLY;
      ev.u.get_report_reply.id = request.u.get_report.id;
      ev.u.get_report_reply.err = EIO;
    } else {
      ev.type = UHID_SET_REPORT_REPLY;
      ev.u.set_report_reply.id = request.u.set_report.id;
      ev.u.set_report_reply.err = EIO;
    }
    Send(ev, ignored);
  }

 private:
  bool Send(const uhid_event& ev, std::string& error) {
    ssize_t n = 0;
    do {
      n = ::write(fd_.get(), &ev, sizeof ev);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof ev)) {
      error = n < 0 ? Errno("write to /dev/uhid") : "short write to /dev/uhid";
      return false;
    }
    return true;
  }

  const std::uint16_t productId_;
  const std::string uniq_;
  const unsigned interface_;
  const std::vector<std::uint8_t> descriptor_;
  quarnel::UniqueFd fd_{::open("/dev/uhid", O_RDWR | O_CLOEXEC)};
  bool created_ = false;
};

class Server {
 public:
  Server(const UnitOptions& options, emulated::Device& device)
      : options_(options), device_(device) {
    const std::string uniq = "e2e-" + std::to_string(::getpid());
    if (options.composite)
      keys_.emplace(options.productId, uniq, 0, e2e::ConsumerControlDescriptor());
    unit_.emplace(options.productId, uniq, options.composite ? 1 : 0,
                  e2e::UpdateDescriptor(options.reportBytes));
  }

  // Serves until a signal arrives on `signals`; false when a uhid node failed.
  bool Run(int signals, std::string& error) {
    if (!uevents_.Open(error)) return false;
    const auto deadline = std::chrono::steady_clock::now() + kNodeWait;
    std::string node;
    for (;;) {
      // The interfaces are made one after the other, each once the one before has its node,
      // so that they are numbered in their order.
      if (node.empty()) {
        node = NextInterface(error);
        if (!error.empty()) return false;
        if (!node.empty()) e2e::Announce(options_, node);
      }
      std::vector<pollfd> fds = {{signals, POLLIN, 0}};
      std::vector<UhidDevice*> polled;
      for (UhidDevice* d : {keys_ ? &*keys_ : nullptr, &*unit_}) {
        if (d == nullptr || !d->alive()) continue;
        fds.push_back({d->fd(), POLLIN, 0});
        polled.push_back(d);
      }
      // Until the node shows, its uevent is awaited, but not for ever.
      int timeoutMs = -1;
      if (node.empty()) {
        fds.push_back({uevents_.fd(), POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          error = "no hidraw node appeared for the device (is hid-generic loaded?)";
          return false;
        }
        timeoutMs = static_cast<int>(left.count());
      }
      if (::poll(fds.data(), fds.size(), timeoutMs) < 0) {
        if (errno == EINTR) continue;
        error = Errno("poll");
        return false;
      }
      if (fds[0].revents != 0) return true;
      for (std::size_t i = 0; i < polled.size(); ++i)
        if (fds[i + 1].revents != 0 && polled[i]->alive() && !HandleEvent(*polled[i], error))
          return false;
      if (node.empty() && fds.back().revents != 0) uevents_.Drain();
    }
  }

 private:
  // Makes the next interface when the one before has its node; the update interface's node
  // once every interface has one, empty before.
  std::string NextInterface(std::string& error) {
    for (UhidDevice* d : {keys_ ? &*keys_ : nullptr, &*unit_}) {
      if (d == nullptr) continue;
      if (!made_.contains(d->interface())) {
        if (!d->Create(error)) return {};
        made_.insert(d->interface());
      }
      const std::string node =
          e2e::FindHidrawNode("e2e-" + std::to_string(::getpid()), d->interface());
      if (node.empty()) return {};
      if (d == &*unit_) return node;
    }
    return {};
  }

  bool HandleEvent(UhidDevice& from, std::string& error) {
    uhid_event ev{};
    if (!from.Receive(ev, error)) return false;
    switch (ev.type) {
      case UHID_OUTPUT:
        // The consumer-control interface has no output report to take.
        return &from != &*unit_ || HandleOutput(ev.u.output, error);
      case UHID_GET_REPORT:
      case UHID_SET_REPORT:
        from.RefuseReportRequest(ev);
        return true;
      default:  // start, stop, open, close: nothing to do
        return true;
    }
  }

  bool HandleOutput(const uhid_output_req& output, std::string& error) {
    if (!options_.serve) return true;
    const std::size_t size = std::min<std::size_t>(output.size, sizeof output.data);
    const auto request = e2e::ModelRequest(std::span(output.data, size));
    if (!request) {
      std::fprintf(stderr, "quarnel-uhid-device: ignored an output report of %zu bytes\n", size);
      return true;
    }
    const auto outcome = e2e::Serve(device_, *request);
    for (const auto& answer : outcome.answers)
      if (!unit_->SendInput(e2e::InputReport(answer, options_.reportBytes), error)) return false;
    // Unplugged: every interface of the unit goes.
    if (outcome.vanish) {
      unit_->Destroy();
      if (keys_) keys_->Destroy();
    }
    return true;
  }

  const UnitOptions& options_;
  emulated::Device& device_;
  e2e::UeventSocket uevents_;
  std::optional<UhidDevice> keys_;  // the consumer-control interface of a composite unit
  std::optional<UhidDevice> unit_;  // the update interface
  std::set<unsigned> made_;
};

}  // namespace

int main(int argc, char** argv) {
  return e2e::FrontEndMain(
      argc, argv, "quarnel-uhid-device",
      "--pid=HEX [--fault=KIND[:N]]... [--register=N:V]... [--dump=FILE] [--eeprom=FILE] "
      "[--ready=FILE] [--report-bytes=N] [--unserved] [--composite]",
      [](const UnitOptions& options, emulated::Device& device, int signals, std::string& error) {
        if (!options.udc.empty()) {
          error = "--udc is for USB gadgets (quarnel-hidg-device)";
          return false;
        }
        Server server(options, device);
        return server.Run(signals, error);
      });
}
