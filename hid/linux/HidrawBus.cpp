#include "hid/linux/HidrawBus.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <utility>

#include "base/linux/UniqueFd.h"
#include "hid/ReportDescriptor.h"
#include "hid/linux/FdChannel.h"
#include "hid/linux/NodeWatch.h"
#include "hid/linux/Uevent.h"

namespace quarnel::hid {

namespace {

namespace fs = std::filesystem;

int OpenNode(const std::string& node) {
  return ::open(node.c_str(), O_RDWR | O_CLOEXEC);
}

bool ReadDescriptorIoctl(int fd, std::vector<std::uint8_t>& descriptor) {
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) != 0) return false;
  if (size < 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    errno = EPROTO;
    return false;
  }
  hidraw_report_descriptor raw{};
  raw.size = static_cast<std::uint32_t>(size);
  if (::ioctl(fd, HIDIOCGRDESC, &raw) != 0) return false;
  descriptor.assign(raw.value, raw.value + raw.size);
  return true;
}

// Everything before the last slash of a path ("/" for "/x", empty for a bare name); the
// paths below are plain strings, which spares a connect over many interfaces most of its
// allocations.
std::string_view ParentOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return path.substr(0, slash == 0 ? 1 : slash);
}

// Joins a folder and a name with one slash between them.
std::string Joined(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

// A small sysfs file read with plain system calls (this runs for every HID interface on every
// connect); empty when it cannot be read.
std::string ReadSysfsFile(const std::string& file) {
  char buffer[4096];
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  ::close(fd);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// The USB device a HID device belongs to: the usbhid driver makes the HID device a child of
// the USB interface it drives, itself a child of the USB device (.../usb1/1-2/1-2:1.1/0003:
// 1852:7029.0005), so the ancestor of the usb_device type is its grandparent. Empty when there
// is none, as for uhid devices; only USB HID devices are looked at.
std::string UsbDeviceOf(const std::string& hidDevice, const HidUevent& u,
                        const std::string& devices) {
  constexpr std::uint32_t kBusUsb = 0x03;
  if (!u.ids || u.ids->bus != kBusUsb) return {};
  const std::string_view device = ParentOf(ParentOf(hidDevice));
  if (device.size() <= devices.size() + 1 || !device.starts_with(devices) ||
      device[devices.size()] != '/')
    return {};
  std::string usb(device);
  return IsUsbDevice(ReadSysfsFile(usb + "/uevent")) ? usb : std::string();
}

// Which unit an interface belongs to, the same for every interface of it and kept when it is
// plugged into the same port again: the USB device's place in sysfs (its port path) and its
// serial where it has one. Without a USB device, the port path and serial of the HID uevent
// (without the /inputN that tells interfaces apart); where the kernel knows neither, the HID
// device itself.
std::string UnitLocation(const std::string& hidDevice, const HidUevent& u,
                         const std::string& devices) {
  if (const std::string usb = UsbDeviceOf(hidDevice, u, devices); !usb.empty()) {
    std::string serial = ReadSysfsFile(usb + "/serial");
    while (!serial.empty() && (serial.back() == '\n' || serial.back() == '\0')) serial.pop_back();
    const std::string port = usb.substr(devices.size() + 1);
    return "usb " + port + (serial.empty() ? "" : "\n" + serial);
  }
  if (u.phys.empty() && u.uniq.empty()) return hidDevice;
  return std::string(WithoutInputNumber(u.phys)) + "\n" + u.uniq;
}

// The IDs and the identity of the unit from the HID device's uevent; false without its IDs.
bool ReadUevent(const std::string& hidDevice, const std::string& devices, InterfaceInfo& info) {
  const HidUevent u = ParseHidUevent(ReadSysfsFile(hidDevice + "/uevent"));
  if (!u.ids) return false;
  info.vendorId = u.ids->vendorId;
  info.productId = u.ids->productId;
  info.location = UnitLocation(hidDevice, u, devices);
  return true;
}

// Follows one symbolic link (sysfs links are relative); a path that is no link stays. One
// readlink, without the lstat std::filesystem makes first: this runs twice per interface.
std::string FollowLink(const std::string& path) {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return path;
  return NormalJoin(ParentOf(path), std::string_view(buffer, static_cast<std::size_t>(n)));
}

// hidrawN's number; false for anything else.
bool NodeNumber(std::string_view name, unsigned& number) {
  constexpr std::string_view kPrefix = "hidraw";
  if (!name.starts_with(kPrefix)) return false;
  name.remove_prefix(kPrefix.size());
  if (name.empty() ||
      !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), number);
  return ec == std::errc{} && end == name.data() + name.size();
}

LinkFailure OpenError(const std::string& node, int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return {FailureKind::PermissionDenied, node,
              "permission denied on " + node +
                  " (to allow access, see \"Linux device access\" in the README)"};
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return {FailureKind::Gone, node, node + " is gone (was the device unplugged?)"};
    case EBUSY:
      return {FailureKind::InUse, node, node + " is in use by another program"};
    case 0:
      return {FailureKind::IoError, node, "cannot open " + node};
    default:
      return {FailureKind::IoError, node, "cannot open " + node + ": " + std::strerror(error)};
  }
}

class HidrawBus final : public Bus {
 public:
  explicit HidrawBus(HidrawConfig config) : config_(std::move(config)) {
    if (!config_.open) config_.open = OpenNode;
    if (!config_.readDescriptor) config_.readDescriptor = ReadDescriptorIoctl;
  }

  std::vector<InterfaceInfo> Enumerate() override {
    const std::string classFolder = NormalJoin(config_.sysfsRoot, "class/hidraw");
    std::vector<std::pair<unsigned, std::string>> nodes;
    std::error_code ec;
    for (fs::directory_iterator it(classFolder, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      unsigned number = 0;
      if (NodeNumber(name, number)) nodes.emplace_back(number, std::move(name));
    }
    std::sort(nodes.begin(), nodes.end());

    const std::string devices = NormalJoin(config_.sysfsRoot, "devices");
    std::vector<InterfaceInfo> found;
    for (const auto& [number, name] : nodes) {
      // Two link reads find the HID device; sysfs has no further links below /sys/devices.
      const std::string hidDevice =
          FollowLink(Joined(FollowLink(Joined(classFolder, name)), "device"));
      InterfaceInfo info;
      if (!ReadUevent(hidDevice, devices, info)) continue;
      info.path = Joined(config_.deviceDir, name);
      found.push_back(std::move(info));
    }
    return found;
  }

  Result<OpenedInterface, LinkFailure> Open(const InterfaceInfo& info) override {
    const std::string& node = info.path;
    errno = 0;
    UniqueFd fd(config_.open(node));
    if (fd.get() < 0) return Fail(OpenError(node, errno));
    // Held as long as the descriptor stays open, so two programs never talk to it at once.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      return Fail(errno == EWOULDBLOCK
                      ? OpenError(node, EBUSY)
                      : LinkFailure{FailureKind::IoError, node,
                                    "cannot lock " + node + ": " + std::strerror(errno)});
    }
    std::vector<std::uint8_t> descriptor;
    if (!config_.readDescriptor(fd.get(), descriptor)) {
      return Fail(LinkFailure{
          FailureKind::IoError, node,
          "cannot read the report descriptor of " + node + ": " + std::strerror(errno)});
    }
    std::string why;
    const auto layout = ParseReportDescriptor(descriptor, why);
    if (!layout) {
      return Fail(LinkFailure{FailureKind::UnsupportedReports, node,
                              node + ": unusable report descriptor: " + why});
    }
    if (!FitsReportBuffers(*layout, kReportSize, why))
      return Fail(LinkFailure{FailureKind::UnsupportedReports, node, node + ": " + why});
    OpenedInterface out;
    out.inputLength = static_cast<std::uint32_t>(layout->InputLength());
    out.outputLength = static_cast<std::uint32_t>(layout->OutputLength());
    out.channel = MakeFdChannel(fd.release(), node);
    return out;
  }

  // New nodes are noticed as they come (NodeWatch.cpp).
  void WaitForChange(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel) override {
    WaitForNodes(config_.deviceDir, timeout, cancel);
  }
  std::optional<std::chrono::milliseconds> Age(const InterfaceInfo& info) const override {
    return NodeAge(info.path);
  }

 private:
  HidrawConfig config_;
};

}  // namespace

std::unique_ptr<Bus> MakeHidrawBus(HidrawConfig config) {
  return std::make_unique<HidrawBus>(std::move(config));
}

std::unique_ptr<Bus> MakeSystemBus() {
  return MakeHidrawBus({});
}

}  // namespace quarnel::hid
