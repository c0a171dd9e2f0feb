// The emulated device as a real USB device: makes a USB gadget through configfs, plugs it into
// a USB device controller (dummy_hcd's, whose host side is on the same machine) and answers the
// output reports its HID function receives with the device model. The kernel's USB stack
// enumerates it, usbhid binds it, and the program under test reaches it through hidraw as it
// would reach the real unit.
//
//   quarnel-hidg-device --pid=HEX [--fault=KIND[:N]]... [--register=N:V]... [--dump=FILE]
//                       [--eeprom=FILE] [--ready=FILE] [--report-bytes=N] [--unserved]
//                       [--composite] [--udc=NAME]
//
// One configuration with one HID function per interface: with --composite a consumer-control
// function (one 1-byte input report, no output report) first, then the update interface; the
// serial number is unique to the process. --udc names the controller (default: the first free
// one in /sys/class/udc). The EEPROM starts erased, or with the --eeprom file's bytes. Once the
// host has a hidraw node for every interface, the update interface's goes to the --ready file
// (or "error: ..."). A vanish-after fault unplugs the gadget (unbinds it from the controller)
// and says when on stderr ("unplugged at SECONDS", as /proc/uptime counts). It runs until
// SIGTERM or SIGINT, then unplugs and removes the gadget, writes the EEPROM to the --dump file
// and exits 0.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
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
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "quarnel-hidg-device";
const fs::path kGadgets = "/sys/kernel/config/usb_gadget";
constexpr auto kNodeWait = std::chrono::seconds(15);
// Answers the host has not fetched yet, beyond the one the controller holds.
constexpr std::size_t kMaxWaitingAnswers = 16;
// How long a unit that is about to vanish waits for the host to fetch its last answer.
constexpr auto kLastAnswerWait = std::chrono::seconds(1);

bool WriteAttribute(const fs::path& path, const void* data, std::size_t size, std::string& error) {
  const quarnel::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  ssize_t n = -1;
  if (fd.valid()) n = ::write(fd.get(), data, size);
  if (n != static_cast<ssize_t>(size)) {
    error = Errno("cannot write " + path.string());
    return false;
  }
  return true;
}

bool WriteAttribute(const fs::path& path, const std::string& text, std::string& error) {
  return WriteAttribute(path, text.data(), text.size(), error);
}

// A gadget in configfs: the directories and links it is made of go again with the object,
// unplugged first.
class Gadget {
 public:
  explicit Gadget(const UnitOptions& options)
      : options_(options),
        serial_("e2e-" + std::to_string(::getpid())),
        root_(kGadgets / serial_) {}
  ~Gadget() {
    Unplug();
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      const bool gone =
          it->second ? ::unlink(it->first.c_str()) == 0 : ::rmdir(it->first.c_str()) == 0;
      if (!gone)
        std::fprintf(stderr, "%s: %s\n", kProgram,
                     Errno("cannot remove " + it->first.string()).c_str());
    }
  }
  Gadget(const Gadget&) = delete;
  Gadget& operator=(const Gadget&) = delete;

  const std::string& serial() const { return serial_; }
  unsigned interfaces() const { return options_.composite ? 2 : 1; }
  unsigned updateInterface() const { return interfaces() - 1; }
  bool plugged() const { return !udc_.empty(); }

  bool Make(std::string& error) {
    if (!fs::is_directory(kGadgets)) {
      error = kGadgets.string() + " is missing (configfs mounted? libcomposite loaded?)";
      return false;
    }
    const fs::path english = root_ / "strings/0x409";
    const fs::path config = root_ / "configs/c.1";
    if (!Dir(root_, error) || !Set("idVendor", Hex(quarnel::kVendorId), error) ||
        !Set("idProduct", Hex(options_.productId), error) || !Set("bcdDevice", "0x0100", error) ||
        !Set("bcdUSB", "0x0200", error) || !Dir(english, error) ||
        !WriteAttribute(english / "serialnumber", serial_, error) ||
        !WriteAttribute(english / "manufacturer", "Emulated", error) ||
        !WriteAttribute(english / "product", "Emulated audio interface (USB gadget)", error) ||
        !Dir(config, error) || !Dir(config / "strings/0x409", error) ||
        !WriteAttribute(config / "strings/0x409/configuration", "Update", error) ||
        !WriteAttribute(config / "MaxPower", "100", error))
      return false;
    // The configuration's interfaces are numbered in the order their functions are linked.
    if (options_.composite && !Function("hid.keys", e2e::ConsumerControlDescriptor(),
                                        e2e::kConsumerControlBytes, true, error))
      return false;
    return Function("hid.unit", e2e::UpdateDescriptor(options_.reportBytes), options_.reportBytes,
                    false, error);
  }

  // Plugs the gadget into the named controller, or into the first free one.
  bool Plug(std::string& error) {
    std::vector<std::string> controllers;
    if (!options_.udc.empty()) {
      controllers.push_back(options_.udc);
    } else {
      std::error_code ec;
      for (fs::directory_iterator it("/sys/class/udc", ec), end; !ec && it != end; it.increment(ec))
        controllers.push_back(it->path().filename().string());
      std::sort(controllers.begin(), controllers.end());
    }
    std::string why = "there is none (is dummy_hcd loaded?)";
    for (const std::string& udc : controllers) {
      if (WriteAttribute(root_ / "UDC", udc + "\n", why)) {
        udc_ = udc;
        return true;
      }
    }
    error = "no free USB device controller: " + why;
    return false;
  }

  // The gadget leaves the bus as a unit does when its cable is pulled.
  void Unplug() {
    if (udc_.empty()) return;
    std::string error;
    if (!WriteAttribute(root_ / "UDC", "\n", error))
      std::fprintf(stderr, "%s: %s\n", kProgram, error.c_str());
    udc_.clear();
  }

  // The gadget's end of the update interface: /dev/hidgN, N the function's minor number.
  std::string UpdateNode(std::string& error) const {
    std::ifstream dev(root_ / "functions/hid.unit/dev");
    std::string line;
    std::getline(dev, line);
    const auto colon = line.find(':');
    if (colon == std::string::npos) {
      error = "cannot read the device number of the update function";
      return {};
    }
    return "/dev/hidg" + line.substr(colon + 1);
  }

 private:
  static std::string Hex(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", id);
    return text;
  }

  bool Dir(const fs::path& path, std::string& error) {
    if (::mkdir(path.c_str(), 0755) != 0) {
      error = Errno("cannot make " + path.string());
      return false;
    }
    made_.emplace_back(path, false);
    return true;
  }

  bool Set(const char* attribute, const std::string& value, std::string& error) {
    return WriteAttribute(root_ / attribute, value, error);
  }

  bool Function(const std::string& name, const std::vector<std::uint8_t>& descriptor,
                std::uint32_t reportBytes, bool inputOnly, std::string& error) {
    const fs::path f = root_ / "functions" / name;
    if (!Dir(f, error) || !WriteAttribute(f / "protocol", "0", error) ||
        !WriteAttribute(f / "subclass", "0", error) ||
        !WriteAttribute(f / "report_length", std::to_string(reportBytes), error) ||
        !WriteAttribute(f / "report_desc", descriptor.data(), descriptor.size(), error))
      return false;
    // Kernels that know it leave out the OUT endpoint of an interface without output reports.
    if (inputOnly && fs::exists(f / "no_out_endpoint") &&
        !WriteAttribute(f / "no_out_endpoint", "1", error))
      return false;
    const fs::path link = root_ / "configs/c.1" / name;
    if (::symlink(f.c_str(), link.c_str()) != 0) {
      error = Errno("cannot link " + link.string());
      return false;
    }
    made_.emplace_back(link, true);
    return true;
  }

  const UnitOptions& options_;
  const std::string serial_;
  const fs::path root_;
  std::vector<std::pair<fs::path, bool>> made_;  // path, whether it is a link
  std::string udc_;
};

class Server {
 public:
  Server(const UnitOptions& options, emulated::Device& device, Gadget& gadget)
      : options_(options), device_(device), gadget_(gadget) {}

  bool Start(std::string& error) {
    if (!uevents_.Open(error) || !gadget_.Make(error) || !gadget_.Plug(error)) return false;
    const std::string hidg = gadget_.UpdateNode(error);
    if (hidg.empty()) return false;
    const auto exists = [&] { return ::access(hidg.c_str(), F_OK) == 0 ? hidg : std::string(); };
    if (e2e::WaitForNode(uevents_, exists, kNodeWait).empty()) {
      error = hidg + " did not appear";
      return false;
    }
    hidg_.reset(::open(hidg.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!hidg_.valid()) {
      error = Errno("cannot open " + hidg);
      return false;
    }
    // The host has enumerated the unit when every interface has its hidraw node.
    const auto hostNodes = [&]() -> std::string {
      for (unsigned i = 0; i < gadget_.interfaces(); ++i)
        if (e2e::FindHidrawNode(gadget_.serial(), i).empty()) return {};
      return e2e::FindHidrawNode(gadget_.serial(), gadget_.updateInterface());
    };
    const std::string node = e2e::WaitForNode(uevents_, hostNodes, kNodeWait);
    if (node.empty()) {
      error =
          "the host made no hidraw node for some interface of the unit (are dummy_hcd and "
          "usbhid loaded?)";
      return false;
    }
    e2e::Announce(options_, node);
    return true;
  }

  // Serves until a signal arrives on `signals`; false when the gadget's node failed.
  bool Run(int signals, std::string& error) {
    for (;;) {
      pollfd fds[2] = {
          {signals, POLLIN, 0},
          {hidg_.get(),
           static_cast<short>(POLLIN | (waiting_.empty() && !unplugging_ ? 0 : POLLOUT)), 0}};
      int timeoutMs = -1;
      if (unplugging_)
        timeoutMs = static_cast<int>(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(unplugBy_ - Clock::now())
                   .count()));
      const int ready = ::poll(fds, hidg_.valid() ? 2 : 1, timeoutMs);
      if (ready < 0) {
        if (errno == EINTR) continue;
        error = Errno("poll");
        return false;
      }
      if (fds[0].revents != 0) break;
      if (!hidg_.valid()) continue;
      const bool writable = (fds[1].revents & POLLOUT) != 0;
      // The host has fetched every answer: the controller holds none, none waits here.
      const bool fetched = writable && waiting_.empty();
      if (writable && !waiting_.empty()) SendWaiting();
      if ((fds[1].revents & POLLIN) != 0) Receive();
      // The unit goes once the host has fetched its last answer (or has not for a while).
      if (unplugging_ && ((fetched && waiting_.empty()) || Clock::now() >= unplugBy_)) {
        gadget_.Unplug();
        hidg_.reset();
        unplugging_ = false;
        std::fprintf(stderr, "%s: unplugged at %.2f\n", kProgram, e2e::Uptime());
      }
    }
    if (oddTransfers_ != 0)
      std::fprintf(stderr, "%s: %u transfers were not one report (the first %zu bytes)\n", kProgram,
                   oddTransfers_, firstOddSize_);
    return true;
  }

 private:
  void Receive() {
    std::uint8_t transfer[4096];
    const ssize_t n = ::read(hidg_.get(), transfer, sizeof transfer);
    if (n < 0) {
      // A host that resets the unit takes the transfers the controller held.
      if (errno != EAGAIN && errno != EINTR && !readErrorTold_) {
        readErrorTold_ = true;
        std::fprintf(stderr, "%s: %s\n", kProgram, Errno("read from the gadget's node").c_str());
      }
      return;
    }
    const auto size = static_cast<std::size_t>(n);
    const auto request = e2e::TransferRequest(std::span(transfer, size), options_.reportBytes);
    if (!request) {
      if (oddTransfers_++ == 0) firstOddSize_ = size;
      return;
    }
    if (!options_.serve || unplugging_) return;
    const auto outcome = e2e::Serve(device_, *request);
    for (const auto& answer : outcome.answers) {
      if (waiting_.size() < kMaxWaitingAnswers) {
        waiting_.push_back(e2e::InputReport(answer, options_.reportBytes));
      } else if (!overflowTold_) {
        overflowTold_ = true;
        std::fprintf(stderr, "%s: the host fetches no answers; later ones are dropped\n", kProgram);
      }
    }
    if (outcome.vanish) {
      unplugging_ = true;
      unplugBy_ = Clock::now() + kLastAnswerWait;
    }
  }

  // The controller holds one input report until the host polls for it; the next waits here.
  void SendWaiting() {
    const auto& report = waiting_.front();
    const ssize_t n = ::write(hidg_.get(), report.data(), report.size());
    if (n < 0 && errno == EAGAIN) return;
    if (n < 0 && !shutdownTold_) {
      shutdownTold_ = true;
      std::fprintf(stderr, "%s: %s\n", kProgram, Errno("an answer was lost").c_str());
    }
    waiting_.pop_front();
  }

  const UnitOptions& options_;
  emulated::Device& device_;
  Gadget& gadget_;
  e2e::UeventSocket uevents_;
  quarnel::UniqueFd hidg_;
  std::deque<std::vector<std::uint8_t>> waiting_;
  bool unplugging_ = false;
  Clock::time_point unplugBy_{};
  unsigned oddTransfers_ = 0;
  std::size_t firstOddSize_ = 0;
  bool overflowTold_ = false;
  bool shutdownTold_ = false;
  bool readErrorTold_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  return e2e::FrontEndMain(
      argc, argv, kProgram,
      "--pid=HEX [--fault=KIND[:N]]... [--register=N:V]... [--dump=FILE] [--eeprom=FILE] "
      "[--ready=FILE] [--report-bytes=N] [--unserved] [--composite] [--udc=NAME]",
      [](const UnitOptions& options, emulated::Device& device, int signals, std::string& error) {
        Gadget gadget(options);
        Server server(options, device, gadget);
        return server.Start(error) && server.Run(signals, error);
      });
}
