// The emulated device behind a real kernel HID device: creates a virtual USB HID device through
// /dev/uhid and answers its output reports with the device model, so that the program under
// test reaches it through hidraw as it would reach the real unit.
//
//   quarnel-uhid-device --pid=HEX [--fault=KIND[:N]]... [--register=N:V]... [--dump=FILE]
//                       [--eeprom=FILE] [--ready=FILE] [--report-bytes=N] [--unserved]
//
// The EEPROM starts erased, or with the --eeprom file's bytes. It runs until SIGTERM or SIGINT,
// then destroys the device, writes the EEPROM to the --dump file and exits 0. Once the device's
// hidraw node exists, its path goes to the --ready file (a FIFO suits a shell that waits for it),
// or "error: ..." when the device could not be made.
#include <fcntl.h>
#include <linux/input.h>
#include <linux/netlink.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "emulated/Descriptor.h"
#include "emulated/EmulatedDevice.h"
#include "engine/Products.h"
#include "tests/e2e/UhidFrontEnd.h"

namespace {

using quarnel::e2e::UhidOptions;
namespace emulated = quarnel::emulated;
namespace fs = std::filesystem;

constexpr auto kNodeWait = std::chrono::seconds(10);

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Into a zero-filled field of `size` bytes, keeping a terminating zero.
void CopyString(std::uint8_t* to, std::size_t size, const std::string& from) {
  std::memcpy(to, from.data(), std::min(from.size(), size - 1));
}

// One virtual HID device; destroyed with the object.
class UhidDevice {
 public:
  explicit UhidDevice(const UhidOptions& options) : options_(options) {}
  ~UhidDevice() { Destroy(); }
  UhidDevice(const UhidDevice&) = delete;
  UhidDevice& operator=(const UhidDevice&) = delete;

  int fd() const { return fd_.get(); }
  bool alive() const { return created_; }
  const std::string& uniq() const { return uniq_; }

  bool Create(std::string& error) {
    if (fd_.get() < 0) {
      error = Errno("cannot open /dev/uhid");
      return false;
    }
    uniq_ = "e2e-" + std::to_string(::getpid());
    // Vendor-defined, without report IDs: the layout the real unit has (or a wider one).
    const auto bytes = static_cast<std::uint8_t>(options_.reportBytes);
    const auto descriptor = quarnel::emulated::VendorDescriptor(bytes, bytes);
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    CopyString(ev.u.create2.name, sizeof ev.u.create2.name, "Emulated audio interface (uhid)");
    CopyString(ev.u.create2.phys, sizeof ev.u.create2.phys, "uhid-" + uniq_ + "/input0");
    CopyString(ev.u.create2.uniq, sizeof ev.u.create2.uniq, uniq_);
    ev.u.create2.rd_size = static_cast<std::uint16_t>(descriptor.size());
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = quarnel::kVendorId;
    ev.u.create2.product = options_.productId;
    ev.u.create2.version = 0x0100;
    std::memcpy(ev.u.create2.rd_data, descriptor.data(), descriptor.size());
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

  const UhidOptions& options_;
  UniqueFd fd_{::open("/dev/uhid", O_RDWR | O_CLOEXEC)};
  bool created_ = false;
  std::string uniq_;
};

// The hidraw node of the HID device whose unique ID is `uniq`, or empty.
std::string FindHidrawNode(const std::string& uniq) {
  const std::string wanted = "HID_UNIQ=" + uniq;
  std::error_code ec;
  for (fs::directory_iterator it("/sys/class/hidraw", ec), end; !ec && it != end;
       it.increment(ec)) {
    std::ifstream uevent(it->path() / "device" / "uevent");
    for (std::string line; std::getline(uevent, line);)
      if (line == wanted) return "/dev/" + it->path().filename().string();
  }
  return {};
}

// Announces the node (or why there is none) to whoever waits on the --ready file, once: no one
// reads a FIFO twice.
void Announce(const UhidOptions& options, const std::string& line) {
  static bool announced = false;
  if (std::exchange(announced, true)) return;
  if (options.readyPath.empty()) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return;
  }
  std::ofstream ready(options.readyPath);
  ready << line << '\n';
}

bool LoadEeprom(const std::string& path, emulated::Device& device, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (bytes.size() > quarnel::kEepromSize) {
    error = path + " is larger than the EEPROM";
    return false;
  }
  device.SetEeprom(0, bytes);
  return true;
}

bool WriteDump(const std::string& path, const emulated::Device& device, std::string& error) {
  const auto eeprom = device.Eeprom();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(eeprom.data()),
            static_cast<std::streamsize>(eeprom.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

void SleepUs(std::uint64_t us) {
  timespec t{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

class Server {
 public:
  Server(const UhidOptions& options, emulated::Device& device, UhidDevice& uhid)
      : options_(options), device_(device), uhid_(uhid) {}

  // Serves until a signal arrives on `signals`; false when the uhid node failed.
  bool Run(int signals, int uevents, std::string& error) {
    const auto deadline = std::chrono::steady_clock::now() + kNodeWait;
    std::string node = FindHidrawNode(uhid_.uniq());
    if (!node.empty()) Announce(options_, node);
    for (;;) {
      pollfd fds[3] = {{signals, POLLIN, 0}, {uhid_.fd(), POLLIN, 0}, {uevents, POLLIN, 0}};
      // Until the node shows, its uevent is awaited, but not for ever.
      int timeoutMs = -1;
      if (node.empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
          error = "no hidraw node appeared for the device (is hid-generic loaded?)";
          return false;
        }
        timeoutMs = static_cast<int>(left.count());
      }
      const nfds_t count = node.empty() ? 3 : uhid_.alive() ? 2 : 1;
      if (::poll(fds, count, timeoutMs) < 0) {
        if (errno == EINTR) continue;
        error = Errno("poll");
        return false;
      }
      if (fds[0].revents != 0) return true;
      if (count > 1 && fds[1].revents != 0 && !HandleEvent(error)) return false;
      if (count > 2 && fds[2].revents != 0) {
        char message[4096];
        while (::recv(uevents, message, sizeof message, MSG_DONTWAIT) > 0) {
        }
        node = FindHidrawNode(uhid_.uniq());
        if (!node.empty()) Announce(options_, node);
      }
    }
  }

 private:
  bool HandleEvent(std::string& error) {
    uhid_event ev{};
    if (!uhid_.Receive(ev, error)) return false;
    switch (ev.type) {
      case UHID_OUTPUT:
        return HandleOutput(ev.u.output, error);
      case UHID_GET_REPORT:
      case UHID_SET_REPORT:
        uhid_.RefuseReportRequest(ev);
        return true;
      default:  // start, stop, open, close: nothing to do
        return true;
    }
  }

  bool HandleOutput(const uhid_output_req& output, std::string& error) {
    if (!options_.serve) return true;
    const std::size_t size = std::min<std::size_t>(output.size, sizeof output.data);
    const auto request = quarnel::e2e::ModelRequest(std::span(output.data, size));
    if (!request) {
      std::fprintf(stderr, "quarnel-uhid-device: ignored an output report of %zu bytes\n", size);
      return true;
    }
    const auto outcome = device_.Serve(*request);
    if (outcome.delayMs != 0 || outcome.delayUs != 0)
      SleepUs(std::uint64_t{outcome.delayMs} * 1000 + outcome.delayUs);
    for (const auto& answer : outcome.answers)
      if (!uhid_.SendInput(quarnel::e2e::InputReport(answer, options_.reportBytes), error))
        return false;
    if (outcome.vanish) uhid_.Destroy();
    return true;
  }

  const UhidOptions& options_;
  emulated::Device& device_;
  UhidDevice& uhid_;
};

int Fail(const UhidOptions& options, const std::string& error) {
  std::fprintf(stderr, "quarnel-uhid-device: %s\n", error.c_str());
  Announce(options, "error: " + error);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  UhidOptions options;
  std::string error;
  if (!quarnel::e2e::ParseUhidOptions(args, options, error)) {
    std::fprintf(stderr,
                 "quarnel-uhid-device: %s\n"
                 "usage: quarnel-uhid-device --pid=HEX [--fault=KIND[:N]]... "
                 "[--register=N:V]... [--dump=FILE] [--eeprom=FILE] [--ready=FILE] "
                 "[--report-bytes=N] [--unserved]\n",
                 error.c_str());
    Announce(options, "error: " + error);
    return 64;
  }

  // Signals are taken as events, so that the device is destroyed and the dump written in order.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  if (::sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) return Fail(options, Errno("sigprocmask"));
  const UniqueFd signals(::signalfd(-1, &stop, SFD_CLOEXEC));
  if (signals.get() < 0) return Fail(options, Errno("signalfd"));

  // Kernel uevents tell when the hidraw node has been made.
  const UniqueFd uevents(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT));
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1;
  if (uevents.get() < 0 ||
      ::bind(uevents.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    return Fail(options, Errno("kernel uevent socket"));

  emulated::Device device(options.productId, options.faults);
  for (const auto& [reg, value] : options.registers) device.SetRegister(reg, value);
  if (!options.eepromPath.empty() && !LoadEeprom(options.eepromPath, device, error))
    return Fail(options, error);

  bool served = false;
  {
    UhidDevice uhid(options);
    if (!uhid.Create(error)) return Fail(options, error);
    Server server(options, device, uhid);
    served = server.Run(signals.get(), uevents.get(), error);
  }
  if (!served) return Fail(options, error);
  if (!options.dumpPath.empty() && !WriteDump(options.dumpPath, device, error))
    return Fail(options, error);
  std::fprintf(stderr, "quarnel-uhid-device: %04X served %u requests\n", options.productId,
               device.requests());
  return 0;
}
