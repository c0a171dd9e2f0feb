#include "tests/e2e/UnitHost.h"

#include <linux/netlink.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

namespace quarnel::e2e {

namespace fs = std::filesystem;

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

void SleepUs(std::uint64_t us) {
  timespec t{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
  while (::nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

double Uptime() {
  timespec t{};
  ::clock_gettime(CLOCK_BOOTTIME, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string FindHidrawNode(const std::string& uniq, unsigned interface) {
  const std::string wantedUniq = "HID_UNIQ=" + uniq;
  const std::string physEnd = "/input" + std::to_string(interface);
  std::error_code ec;
  for (fs::directory_iterator it("/sys/class/hidraw", ec), end; !ec && it != end;
       it.increment(ec)) {
    std::ifstream uevent(it->path() / "device" / "uevent");
    bool uniqMatches = false;
    bool physMatches = false;
    for (std::string line; std::getline(uevent, line);) {
      uniqMatches = uniqMatches || line == wantedUniq;
      physMatches = physMatches || (line.starts_with("HID_PHYS=") && line.ends_with(physEnd));
    }
    if (uniqMatches && physMatches) return "/dev/" + it->path().filename().string();
  }
  return {};
}

bool UeventSocket::Open(std::string& error) {
  fd_.reset(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT));
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = 1;
  if (!fd_.valid() ||
      ::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = Errno("kernel uevent socket");
    return false;
  }
  return true;
}

void UeventSocket::Drain() {
  char message[4096];
  while (::recv(fd_.get(), message, sizeof message, MSG_DONTWAIT) > 0) {
  }
}

std::string WaitForNode(UeventSocket& uevents, const std::function<std::string()>& find,
                        std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::string node = find();
    if (!node.empty()) return node;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd fds[1] = {{uevents.fd(), POLLIN, 0}};
    if (::poll(fds, 1, static_cast<int>(left.count())) > 0) uevents.Drain();
  }
}

void Announce(const UnitOptions& options, const std::string& line) {
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

hid::ServedAnswer Serve(emulated::Device& device, const Report& request) {
  auto outcome = device.Serve(request);
  if (outcome.delayMs != 0 || outcome.delayUs != 0)
    SleepUs(std::uint64_t{outcome.delayMs} * 1000 + outcome.delayUs);
  return outcome;
}

namespace {

bool LoadEeprom(const std::string& path, emulated::Device& device, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (bytes.size() > kEepromSize) {
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

}  // namespace

int FrontEndMain(int argc, char** argv, const char* program, const char* usage,
                 const RunUnit& run) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  UnitOptions options;
  std::string error;
  const auto fail = [&](int code) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    if (code == 64) std::fprintf(stderr, "usage: %s %s\n", program, usage);
    Announce(options, "error: " + error);
    return code;
  };
  if (!ParseUnitOptions(args, options, error)) return fail(64);

  // Signals are taken as events, so that the device is removed and the dump written in order.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGINT);
  if (::sigprocmask(SIG_BLOCK, &stop, nullptr) != 0) {
    error = Errno("sigprocmask");
    return fail(1);
  }
  const UniqueFd signals(::signalfd(-1, &stop, SFD_CLOEXEC));
  if (!signals.valid()) {
    error = Errno("signalfd");
    return fail(1);
  }

  emulated::Device device(options.productId, options.faults);
  for (const auto& [reg, value] : options.registers) device.SetRegister(reg, value);
  if (!options.eepromPath.empty() && !LoadEeprom(options.eepromPath, device, error)) return fail(1);
  if (!run(options, device, signals.get(), error)) return fail(1);
  if (!options.dumpPath.empty() && !WriteDump(options.dumpPath, device, error)) return fail(1);
  std::fprintf(stderr, "%s: %04X served %u requests\n", program, options.productId,
               device.requests());
  return 0;
}

}  // namespace quarnel::e2e
