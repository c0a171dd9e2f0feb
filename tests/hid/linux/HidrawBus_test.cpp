#include "hid/linux/HidrawBus.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "emulated/Descriptor.h"
#include "hid/HidApp.h"
#include "tests/support/ConsumerControl.h"

namespace quarnel::hid {
namespace {

namespace fs = std::filesystem;
using emulated::VendorDescriptor;

constexpr std::uint16_t kVendor = 0x1852;

// A sysfs tree and a device directory in a temporary directory, laid out as the kernel lays
// them out: class/hidraw/hidrawN/device links to the HID device, which sits in the
// directory of the USB interface it came from.
class HidrawBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "hidrawXXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "sys/class/hidraw");
    fs::create_directories(root_ / "dev");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  // Adds hidraw<number> below the USB interface `unit`; `uevent` empty: no uevent file.
  void AddNode(unsigned number, const std::string& unit, const std::string& uevent) {
    const std::string name = "hidraw" + std::to_string(number);
    const fs::path hid = root_ / "sys/devices/pci0000:00/usb1" / unit /
                         ("0003:1852:5028.000" + std::to_string(number));
    fs::create_directories(hid / "hidraw" / name);
    if (!uevent.empty()) std::ofstream(hid / "uevent") << "DRIVER=hid-generic\n" << uevent;
    fs::create_directory(root_ / "sys/class/hidraw" / name);
    fs::create_directory_symlink(hid, root_ / "sys/class/hidraw" / name / "device");
    std::ofstream(Node(number));  // a plain file stands in for the device node
  }
  // Makes `unit` below the USB bus a whole USB device, with `serial` unless it is empty.
  void AddUsbDevice(const std::string& unit, const std::string& serial) {
    const fs::path device = root_ / "sys/devices/pci0000:00/usb1" / unit;
    fs::create_directories(device);
    std::ofstream(device / "uevent") << "MAJOR=189\nMINOR=1\nDEVNAME=bus/usb/001/002\n"
                                        "DEVTYPE=usb_device\nDRIVER=usb\n";
    if (!serial.empty()) std::ofstream(device / "serial") << serial << "\n";
  }
  static std::string HidId(std::uint16_t vendor, std::uint16_t product) {
    char text[64];
    std::snprintf(text, sizeof text, "HID_ID=0003:%08X:%08X\nHID_NAME=Test\n", unsigned{vendor},
                  unsigned{product});
    return text;
  }
  std::string Node(unsigned number) const {
    return (root_ / "dev" / ("hidraw" + std::to_string(number))).string();
  }
  // The identity of a unit whose uevent names neither port nor serial: its HID device.
  std::string Unit(const std::string& unit, unsigned number) const {
    return fs::canonical(root_ / "sys/devices/pci0000:00/usb1" / unit /
                         ("0003:1852:5028.000" + std::to_string(number)))
        .string();
  }

  // The tree's paths; the real opener and descriptor ioctls.
  HidrawConfig Config() const {
    HidrawConfig config;
    config.sysfsRoot = (root_ / "sys").string();
    config.deviceDir = (root_ / "dev").string();
    return config;
  }
  // A bus whose nodes are the plain files, opened for real, with `descriptor` as what every
  // node describes.
  std::unique_ptr<Bus> MakeBus(std::vector<std::uint8_t> descriptor = VendorDescriptor(63, 63)) {
    HidrawConfig config = Config();
    config.readDescriptor = [descriptor](int, std::vector<std::uint8_t>& out) {
      out = descriptor;
      return true;
    };
    return MakeHidrawBus(std::move(config));
  }

  fs::path root_;
};

TEST_F(HidrawBusTest, EnumeratesReadableNodesInNumericOrder) {
  AddNode(10, "1-1/1-1:1.0", HidId(kVendor, 0x5028));
  AddNode(2, "1-2/1-2:1.0", HidId(kVendor, 0x5028));
  AddNode(3, "1-3/1-3:1.0", "");                                 // no uevent
  AddNode(4, "1-4/1-4:1.0", "HID_ID=0003:00001852\n");           // cut short
  AddNode(5, "1-5/1-5:1.0", "HID_ID=0003:0001852:5028x\n");      // not hex
  AddNode(6, "1-6/1-6:1.0", "HID_ID=0003:00011852:00005028\n");  // beyond 16 bits
  AddNode(7, "1-7/1-7:1.0", HidId(0x046D, 0xC52B));
  AddNode(11, "1-1/1-1:1.1", HidId(kVendor, 0x2004));
  fs::create_directory(root_ / "sys/class/hidraw/hidrawX");  // not a node
  fs::create_directory(root_ / "sys/class/hidraw/hidraw");

  const auto found = MakeBus()->Enumerate();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].path, Node(2));
  EXPECT_EQ(found[0].location, Unit("1-2/1-2:1.0", 2));
  EXPECT_EQ(found[0].vendorId, kVendor);
  EXPECT_EQ(found[0].productId, 0x5028);
  EXPECT_EQ(found[1].path, Node(7));
  EXPECT_EQ(found[1].vendorId, 0x046D);
  EXPECT_EQ(found[1].productId, 0xC52B);
  EXPECT_EQ(found[2].path, Node(10));
  EXPECT_EQ(found[2].location, Unit("1-1/1-1:1.0", 10));
  EXPECT_EQ(found[3].path, Node(11));
  EXPECT_EQ(found[3].productId, 0x2004);

  HidrawConfig missing;
  missing.sysfsRoot = (root_ / "nothing").string();
  EXPECT_TRUE(MakeHidrawBus(missing)->Enumerate().empty());
}

TEST_F(HidrawBusTest, LinkOpensTheFirstMatchOrOnlyTheRequiredUnit) {
  AddNode(10, "1-1/1-1:1.0", HidId(kVendor, 0x5028));
  AddNode(3, "1-3/1-3:1.0", "");
  AddNode(1, "1-4/1-4:1.0", HidId(kVendor, 0x7030));  // right vendor, wrong product
  AddNode(2, "1-2/1-2:1.0", HidId(kVendor, 0x5028));
  const auto bus = MakeBus();
  CHidApp link(*bus);
  ASSERT_TRUE(link.Open(kVendor, 0x5028)) << link.LastFailure().detail;
  EXPECT_EQ(link.Location(), Unit("1-2/1-2:1.0", 2));
  // The node is a plain file here: the whole output report the descriptor gives lands in it.
  EXPECT_EQ(link.Write(Report{}), 64u);
  link.Close();

  CHidApp again(*bus);
  again.RequireLocation(Unit("1-1/1-1:1.0", 10));
  ASSERT_TRUE(again.Open(kVendor, 0x5028)) << again.LastFailure().detail;
  EXPECT_EQ(again.Location(), Unit("1-1/1-1:1.0", 10));
  again.Close();

  CHidApp byPath(*bus);
  byPath.RequirePath(Node(10));
  ASSERT_TRUE(byPath.Open(kVendor, 0x5028)) << byPath.LastFailure().detail;
  EXPECT_EQ(byPath.Path(), Node(10));

  // Units with the IDs are there, but none is the one asked for: nothing is opened.
  for (const bool path : {false, true}) {
    CHidApp other(*bus);
    if (path) {
      other.RequirePath(Node(1));
    } else {
      other.RequireLocation(Unit("1-3/1-3:1.0", 3));
    }
    EXPECT_FALSE(other.Open(kVendor, 0x5028));
    EXPECT_EQ(other.LastFailure().kind, FailureKind::NotFound);
    EXPECT_FALSE(other.connected());
  }

  CHidApp none(*bus);
  EXPECT_FALSE(none.Open(kVendor, 0x7029));
  EXPECT_FALSE(none.LastFailure().detail.empty());
}

// uhid units all sit below the same virtual folder: the port path and serial of the uevent tell
// them apart, and a unit plugged into the same port again is the same unit.
TEST_F(HidrawBusTest, UnitsAreToldApartByPortAndSerial) {
  const auto uevent = [](const char* phys, const char* uniq) {
    return HidId(kVendor, 0x5028) + "HID_PHYS=" + phys + "\nHID_UNIQ=" + uniq + "\n";
  };
  AddNode(0, "virtual/misc/uhid", uevent("uhid-a/input0", "e2e-1"));
  AddNode(1, "virtual/misc/uhid", uevent("uhid-b/input0", "e2e-1"));
  AddNode(2, "virtual/misc/uhid", uevent("uhid-a/input0", "e2e-2"));
  AddNode(3, "usb-2/2-1:1.0", uevent("usb-0000:00:14.0-1/input0", ""));
  AddNode(4, "usb-3/2-1:1.0", uevent("usb-0000:00:14.0-1/input0", ""));  // replugged
  const auto found = MakeBus()->Enumerate();
  ASSERT_EQ(found.size(), 5u);
  EXPECT_NE(found[0].location, found[1].location);
  EXPECT_NE(found[0].location, found[2].location);
  EXPECT_NE(found[1].location, found[2].location);
  EXPECT_NE(found[0].location, found[3].location);
  EXPECT_EQ(found[3].location, found[4].location);
}

// Reports cross as long as the descriptor makes them, never longer: a longer write would be an
// extra packet on a USB interrupt endpoint, and a longer answer is cut to the input report.
TEST_F(HidrawBusTest, ReportsMoveThroughTheOpenedNodeAtTheirOwnLengths) {
  struct Case {
    std::uint8_t inBytes, outBytes;  // data bytes of the descriptor's reports
  };
  for (const Case c : {Case{63, 63}, Case{10, 16}, Case{18, 22}}) {
    SCOPED_TRACE(c.outBytes);
    AddNode(0, "1-1/1-1:1.0", HidId(kVendor, 0x5028));
    int peer = -1;
    std::string opened;
    HidrawConfig config = Config();
    config.open = [&](const std::string& node) {
      opened = node;
      int fds[2];
      if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return -1;
      peer = fds[1];
      return fds[0];
    };
    config.readDescriptor = [&c](int, std::vector<std::uint8_t>& out) {
      out = VendorDescriptor(c.inBytes, c.outBytes);
      return true;
    };
    const auto bus = MakeHidrawBus(std::move(config));
    CHidApp link(*bus);
    ASSERT_TRUE(link.Open(kVendor, 0x5028)) << link.LastFailure().detail;
    EXPECT_EQ(opened, Node(0));

    Report out{};
    out.fill(0x77);
    EXPECT_EQ(link.Write(out), c.outBytes + 1u);
    std::uint8_t packet[kReportSize + 1];
    ASSERT_EQ(::recv(peer, packet, sizeof packet, 0), c.outBytes + 1);
    EXPECT_EQ(packet[c.outBytes], 0x77);

    std::uint8_t answer[kReportSize - 1];
    for (std::size_t i = 0; i < sizeof answer; ++i) answer[i] = static_cast<std::uint8_t>(i + 1);
    ASSERT_EQ(::send(peer, answer, sizeof answer, 0), static_cast<ssize_t>(sizeof answer));
    Report in{};
    EXPECT_EQ(link.Read(in), c.inBytes + 1u);
    EXPECT_EQ(in[c.inBytes], c.inBytes);
    if (c.inBytes + 1u < kReportSize) {
      EXPECT_EQ(in[c.inBytes + 1u], 0);  // nothing beyond the report
    }
    ::close(peer);
    std::error_code ec;
    fs::remove_all(root_ / "sys/devices", ec);
    fs::remove_all(root_ / "sys/class/hidraw/hidraw0", ec);
  }
}

// A unit with a consumer-control interface (its volume keys) before the interface that takes
// our reports, both with the same IDs, serial and USB device: one unit, whose fitting
// interface is opened. Another unit with the same serial on another port is another unit.
TEST_F(HidrawBusTest, CompositeUnitIsOneUnitAndItsFittingInterfaceOpens) {
  const auto uevent = [](const char* phys) {
    return HidId(kVendor, 0x7029) + "HID_PHYS=" + phys + "\nHID_UNIQ=SN-7\n";
  };
  AddUsbDevice("2-1", "SN-7");
  AddNode(0, "2-1/2-1:1.0", uevent("usb-0000:00:14.0-1/input0"));
  AddNode(1, "2-1/2-1:1.1", uevent("usb-0000:00:14.0-1/input1"));
  AddUsbDevice("2-2", "SN-7");
  AddNode(2, "2-2/2-2:1.1", uevent("usb-0000:00:14.0-2/input1"));
  AddUsbDevice("2-3", "");
  AddNode(3, "2-3/2-3:1.0", uevent("usb-0000:00:14.0-3/input0"));
  std::string opened;
  HidrawConfig config = Config();
  config.open = [&](const std::string& node) {
    opened = node;
    return ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  };
  config.readDescriptor = [&](int, std::vector<std::uint8_t>& out) {
    out = opened == Node(0) ? testing::ConsumerControlDescriptor() : VendorDescriptor(63, 63);
    return true;
  };
  const auto bus = MakeHidrawBus(std::move(config));
  const auto found = bus->Enumerate();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].location, "usb pci0000:00/usb1/2-1\nSN-7");
  EXPECT_EQ(found[1].location, found[0].location);
  EXPECT_NE(found[2].location, found[0].location);
  EXPECT_EQ(found[3].location, "usb pci0000:00/usb1/2-3");

  for (const bool byLocation : {false, true}) {
    CHidApp link(*bus);
    link.RequireReports(11, 17);
    if (byLocation) link.RequireLocation(found[0].location);
    ASSERT_TRUE(link.Open(kVendor, 0x7029)) << link.LastFailure().detail;
    EXPECT_EQ(link.Path(), Node(1));
    EXPECT_EQ(link.Location(), found[0].location);
  }
}

// Without a USB device above it (uhid), a unit is its port path and serial, the same for each
// of its interfaces.
TEST_F(HidrawBusTest, InterfacesOfAUnitWithoutAUsbDeviceShareItsPortPath) {
  const auto uevent = [](const char* phys) {
    return HidId(kVendor, 0x7029) + "HID_PHYS=" + phys + "\nHID_UNIQ=e2e-1\n";
  };
  AddNode(0, "virtual/misc/uhid", uevent("uhid-e2e-1/input0"));
  AddNode(1, "virtual/misc/uhid", uevent("uhid-e2e-1/input1"));
  AddNode(2, "virtual/misc/uhid", uevent("uhid-e2e-2/input1"));
  const auto found = MakeBus()->Enumerate();
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].location, "uhid-e2e-1\ne2e-1");
  EXPECT_EQ(found[1].location, found[0].location);
  EXPECT_NE(found[2].location, found[0].location);
}

TEST_F(HidrawBusTest, OpenFailuresSayWhatWentWrong) {
  AddNode(3, "1-1/1-1:1.0", HidId(kVendor, 0x5028));
  const auto reasonFor = [&](std::unique_ptr<Bus> bus) {
    CHidApp link(*bus);
    EXPECT_FALSE(link.Open(kVendor, 0x5028));
    EXPECT_FALSE(link.connected());
    return link.LastFailure().detail;
  };
  const auto withOpener = [&](int error) {
    HidrawConfig config = Config();
    config.open = [error](const std::string&) {
      errno = error;
      return -1;
    };
    return MakeHidrawBus(std::move(config));
  };
  // Running as root, mode 000 would not keep the node shut: the opener says no instead.
  EXPECT_EQ(reasonFor(withOpener(EACCES)).rfind("permission denied on " + Node(3), 0), 0u);
  EXPECT_NE(reasonFor(withOpener(ENOENT)).find(Node(3)), std::string::npos);

  // The real descriptor ioctls on a plain file.
  EXPECT_NE(reasonFor(MakeHidrawBus(Config())).find("report descriptor of " + Node(3)),
            std::string::npos);

  EXPECT_NE(reasonFor(MakeBus(VendorDescriptor(63, 63, true))).find("numbered"), std::string::npos);
  EXPECT_NE(reasonFor(MakeBus(VendorDescriptor(64, 63))).find("65"), std::string::npos);
  EXPECT_NE(reasonFor(MakeBus(VendorDescriptor(63, 0))).find("no output"), std::string::npos);
  EXPECT_NE(reasonFor(MakeBus({0x06, 0x00})).find(Node(3)), std::string::npos);
}

TEST_F(HidrawBusTest, OpenNodeIsLockedAgainstOtherPrograms) {
  AddNode(3, "1-1/1-1:1.0", HidId(kVendor, 0x5028));
  const auto bus = MakeBus();
  {
    // Another program holds the node.
    const int other = ::open(Node(3).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    CHidApp link(*bus);
    EXPECT_FALSE(link.Open(kVendor, 0x5028));
    EXPECT_EQ(link.LastFailure().detail, Node(3) + " is in use by another program");
    ::close(other);
    EXPECT_TRUE(link.Open(kVendor, 0x5028)) << link.LastFailure().detail;
  }
  CHidApp first(*bus);
  ASSERT_TRUE(first.Open(kVendor, 0x5028));
  CHidApp second(*bus);
  EXPECT_FALSE(second.Open(kVendor, 0x5028));
  first.Close();  // the lock goes with the node
  EXPECT_TRUE(second.Open(kVendor, 0x5028)) << second.LastFailure().detail;
}

}  // namespace
}  // namespace quarnel::hid
