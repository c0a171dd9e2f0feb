// The system's HID interfaces. Under Wine these are Wine's own virtual devices, never the
// audio unit: the test checks the search, not what it finds.
#include <gtest/gtest.h>

#include "engine/Products.h"
#include "hid/HidApp.h"

namespace quarnel::hid {
namespace {

TEST(SetupApiBus, FindsNoAudioUnitAndSaysWhyOpenFails) {
  const auto bus = MakeSystemBus();
  const auto interfaces = bus->Enumerate();
  for (const auto& info : interfaces) {
    EXPECT_NE(info.vendorId, kVendorId) << info.path;
    EXPECT_FALSE(info.path.empty());
    EXPECT_EQ(info.location, info.path);
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

}  // namespace
}  // namespace quarnel::hid
