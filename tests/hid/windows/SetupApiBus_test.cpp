// The system's HID interfaces. Under Wine these are Wine's own virtual devices, never the
// audio unit: the test checks the search, not what it finds.
#include <gtest/gtest.h>

#include "hid/windows/SetupApiBus.h"

#include "emulated/EmulatedDevice.h"
#include "engine/Products.h"
#include "hid/HidApp.h"
#include "tests/support/ServedInterface.h"

namespace quarnel::hid {
namespace {

TEST(SetupApiBus, FindsNoAudioUnitAndSaysWhyOpenFails) {
  const auto bus = MakeSystemBus();
  const auto interfaces = bus->Enumerate();
  for (const auto& info : interfaces) {
    EXPECT_NE(info.vendorId, kVendorId) << info.path;
    EXPECT_FALSE(info.path.empty());
    EXPECT_FALSE(info.location.empty());
  }
  EXPECT_EQ(bus->Enumerate().size(), interfaces.size());  // a stable list

  CHidApp app(*bus);
  EXPECT_FALSE(app.Open(kVendorId, 0x5028));
  EXPECT_FALSE(app.connected());
  EXPECT_NE(app.LastFailure().detail.find("1852:5028"), std::string::npos)
      << app.LastFailure().detail;
}

TEST(SetupApiBus, OpenReportsWhatWentWrong) {
  const auto bus = MakeSystemBus();
  const InterfaceInfo missing{"\\\\?\\hid#nothing#here", "\\\\?\\hid#nothing#here", 1, 2};
  const auto opened = bus->Open(missing);
  ASSERT_FALSE(opened);
  EXPECT_EQ(opened.error().detail.rfind(missing.path + ": ", 0), 0u) << opened.error().detail;

  // Whatever Wine offers (a virtual mouse and keyboard) either opens with lengths that fit or is
  // refused with a reason.
  for (const auto& info : bus->Enumerate()) {
    auto result = bus->Open(info);
    if (result) {
      OpenedInterface& any = result.value();
      EXPECT_NE(any.channel, nullptr);
      EXPECT_LE(any.inputLength, kReportSize);
      EXPECT_LE(any.outputLength, kReportSize);
      // Wine's virtual mouse and keyboard send nothing here: a short read gives up cleanly.
      if (any.inputLength != 0) {
        Report report{};
        const IoResult r = any.channel->Read(report, any.inputLength, 20);
        EXPECT_NE(r.status, IoStatus::Failed) << r.failure.detail;
      }
    } else {
      EXPECT_FALSE(result.error().detail.empty()) << info.path;
    }
  }
}

// A composite unit as Windows lists it: the consumer-control collection (its volume keys: a
// 1-byte input report, no output report) of interface MI_00 first, then the collection of
// MI_01 that takes our reports, both below the same USB device; then another unit, a simple
// device, and an interface whose parents the system does not name.
TEST(SetupApiBus, CompositeUnitIsOneUnitAndItsFittingInterfaceOpens) {
  const std::string guid = "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  const std::vector<ListedInterface> listed = {
      {"\\\\?\\hid#vid_1852&pid_7029&mi_00#8&1a2b&0&0000" + guid,
       0x1852,
       0x7029,
       {"USB\\VID_1852&PID_7029&MI_00\\7&3c4d&0&0000", "USB\\VID_1852&PID_7029\\SN-7"}},
      {"\\\\?\\hid#vid_1852&pid_7029&mi_01#8&5e6f&0&0000" + guid,
       0x1852,
       0x7029,
       {"USB\\VID_1852&PID_7029&MI_01\\7&3c4d&0&0001", "USB\\VID_1852&PID_7029\\SN-7"}},
      {"\\\\?\\hid#vid_1852&pid_7029#7&9a&0&0000" + guid,
       0x1852,
       0x7029,
       {"USB\\VID_1852&PID_7029\\SN-8", "USB\\ROOT_HUB30\\4&1f&0&0"}},
      {"\\\\?\\hid#nothing#above" + guid, 0x1852, 0x7029, {}},
  };
  struct Silent final : ReportServer {
    ServedAnswer Serve(std::span<const std::uint8_t>) override { return {}; }
  };
  auto unit = std::make_shared<emulated::Device>(0x7029);
  SetupApiConfig config;
  config.list = [&] { return listed; };
  config.open = [&](const InterfaceInfo& info) -> Result<OpenedInterface, LinkFailure> {
    if (info.path == listed[0].path) return testing::OpenServed(std::make_shared<Silent>(), 2, 0);
    return testing::OpenServed(unit);
  };
  const auto bus = MakeSetupApiBus(config);
  const auto found = bus->Enumerate();
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].location, "USB\\VID_1852&PID_7029\\SN-7");
  EXPECT_EQ(found[1].location, found[0].location);
  EXPECT_EQ(found[2].location, "USB\\VID_1852&PID_7029\\SN-8");
  EXPECT_EQ(found[3].location, found[3].path);

  for (const bool byLocation : {false, true}) {
    CHidApp link(*bus);
    link.RequireReports(11, 17);
    if (byLocation) link.RequireLocation(found[0].location);
    ASSERT_TRUE(link.Open(kVendorId, 0x7029)) << link.LastFailure().detail;
    EXPECT_EQ(link.Path(), listed[1].path);
    EXPECT_EQ(link.Location(), found[0].location);
  }
}

}  // namespace
}  // namespace quarnel::hid
