#include "hid/HidApp.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include "emulated/EmulatedBus.h"
#include "engine/Products.h"
#include "tests/support/CompositeBus.h"

namespace quarnel {
namespace {

using emulated::Device;
using emulated::Faults;

constexpr std::uint16_t kProduct = 0x5028;
constexpr std::uint8_t kRegister = 72;

// The emulated bus, keeping a view of the far end's channel so a test can see the device
// hang up without the link noticing.
class TapBus final : public hid::Bus {
 public:
  explicit TapBus(Faults faults) : bus_(std::make_shared<Device>(kProduct, faults)) {}

  std::vector<hid::InterfaceInfo> Enumerate() override {
    ++listings;
    return bus_.Enumerate();
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    auto opened = bus_.Open(info);
    if (opened) channel = opened->channel.get();
    return opened;
  }

  Device& device() { return bus_.device(); }
  hid::Channel* channel = nullptr;  // owned by the link
  int listings = 0;

 private:
  emulated::EmulatedBus bus_;
};

class HidAppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto loopback = hid::OpenLoopback(std::make_shared<Device>(kProduct)); !loopback)
      GTEST_SKIP() << "the emulated device cannot be reached here: " << loopback.error().detail;
  }
  void Connect(Faults faults = {}) {
    bus_ = std::make_unique<TapBus>(faults);
    link_ = std::make_unique<CHidApp>(*bus_);
    ASSERT_TRUE(link_->Open(kVendorId, kProduct)) << link_->LastFailure().detail;
    link_->SetTracer([this](char direction, const Report&, std::uint32_t count) {
      trace_.push_back({direction, count});
    });
  }
  std::uint32_t AskRegister() {
    return link_->Write(BuildRegisterRequest(sequence_, kRegister, 4));
  }
  // Reads one answer and checks it answers the last request.
  void ExpectAnswer() {
    Report answer{};
    ASSERT_EQ(link_->Read(answer), 64u) << link_->LastFailure().detail;
    EXPECT_EQ(AcceptRegisterAnswer(answer, sequence_), bus_->device().Register(kRegister));
    sequence_ = NextSequence(sequence_);
  }

  struct Traced {
    char direction;
    std::uint32_t count;
    bool operator==(const Traced&) const = default;
  };
  std::unique_ptr<TapBus> bus_;
  std::unique_ptr<CHidApp> link_;
  std::vector<Traced> trace_;
  std::uint8_t sequence_ = 1;
};

TEST_F(HidAppTest, OpensTheWantedDeviceOnly) {
  Connect();
  EXPECT_TRUE(link_->connected());
  ASSERT_EQ(AskRegister(), 64u);  // the unit's whole output report
  ExpectAnswer();                 // ... and its whole input report
  EXPECT_EQ(link_->Location().rfind("emulated unit ", 0), 0u) << link_->Location();
  EXPECT_TRUE(link_->Open(kVendorId, kProduct));  // already open: nothing changes

  CHidApp other(*bus_);
  const int listed = bus_->listings;
  EXPECT_FALSE(other.Open(kVendorId, 0x7030));
  EXPECT_NE(other.LastFailure().detail.find("1852:7030"), std::string::npos)
      << other.LastFailure().detail;
  EXPECT_FALSE(other.Open(0x1853, kProduct));
  // The attempts of one link search one listing of the bus.
  EXPECT_EQ(bus_->listings, listed + 1);
  Report r{};
  EXPECT_EQ(other.Read(r), 0u);
  EXPECT_EQ(other.Write(r), 0u);
}

// A unit with a consumer-control interface listed before its own: the search passes over the
// interface whose reports cannot carry the framing's and goes on among the unit's others.
TEST_F(HidAppTest, CompositeUnitOpensTheInterfaceWhoseReportsFit) {
  struct Case {
    std::optional<testing::ReportLengths> unitLengths;  // none: the unit's own 64 bytes
    std::uint32_t leastInput, leastOutput;
    bool opens;
  };
  const Case cases[] = {
      {std::nullopt, 11, 17, true},                     // the standard framing's needs
      {testing::ReportLengths{19, 23}, 19, 23, true},   // exactly the alternate framing's
      {testing::ReportLengths{13, 13}, 11, 17, false},  // 12 data bytes: requests cut short
      {testing::ReportLengths{20, 20}, 19, 23, false},
      {testing::ReportLengths{64, 65}, 11, 17, false},  // more than the link's buffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.leastOutput);
    testing::CompositeBus bus(
        std::make_unique<emulated::EmulatedBus>(std::make_shared<Device>(kProduct)), c.unitLengths);
    const auto listed = bus.Enumerate();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].location, listed[1].location);  // one unit
    CHidApp link(bus);
    link.RequireReports(c.leastInput, c.leastOutput);
    EXPECT_EQ(link.Open(kVendorId, kProduct), c.opens);
    EXPECT_EQ(bus.consumerOpens, 1);  // tried, and passed over
    if (c.opens) {
      EXPECT_EQ(link.Path(), listed[1].path);
      EXPECT_EQ(link.Location(), listed[1].location);
      continue;
    }
    // The words say what each interface has and what was needed.
    const hid::LinkFailure& why = link.LastFailure();
    EXPECT_EQ(why.kind, hid::FailureKind::UnsupportedReports);
    EXPECT_NE(why.detail.find(listed[0].path + ": no output report and input reports of 2 bytes"),
              std::string::npos)
        << why.detail;
    const std::string found =
        listed[1].path + ": output reports of " + std::to_string(c.unitLengths->output) +
        " bytes and input reports of " + std::to_string(c.unitLengths->input) + " bytes";
    EXPECT_NE(why.detail.find(found), std::string::npos) << why.detail;
    EXPECT_NE(
        why.detail.find("needed: output reports of at least " + std::to_string(c.leastOutput) +
                        " bytes and input reports of at least " + std::to_string(c.leastInput)),
        std::string::npos)
        << why.detail;
  }
}

TEST_F(HidAppTest, AnswersComeBackAndAreTraced) {
  Connect();
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(AskRegister(), 64u);
    ExpectAnswer();
  }
  EXPECT_EQ(trace_.size(), 6u);
  EXPECT_EQ(trace_[0], (Traced{'W', 64}));
  EXPECT_EQ(trace_[1], (Traced{'R', 64}));
}

TEST_F(HidAppTest, LateAnswerWithinTheLimitArrives) {
  Faults faults;
  faults.delayMs = 40;
  Connect(faults);
  link_->SetTimeouts(5000, 5000);
  ASSERT_EQ(AskRegister(), 64u);
  ExpectAnswer();
}

TEST_F(HidAppTest, TimeOutLeavesTheLinkUsable) {
  Faults faults;
  faults.silentAfter = 1;
  Connect(faults);
  link_->SetTimeouts(20, 1000);
  Report answer{};
  EXPECT_EQ(link_->Read(answer), 0u);  // nothing asked yet
  EXPECT_FALSE(link_->Lost());
  EXPECT_TRUE(link_->connected());

  link_->SetTimeouts(5000, 1000);
  ASSERT_EQ(AskRegister(), 64u);
  ExpectAnswer();

  link_->SetTimeouts(20, 1000);
  ASSERT_EQ(AskRegister(), 64u);  // the device falls silent from here on
  EXPECT_EQ(link_->Read(answer), 0u);
  EXPECT_FALSE(link_->Lost());
  EXPECT_TRUE(link_->connected());
  EXPECT_EQ(trace_.size(), 3u);  // time-outs are not traced as reads
}

TEST_F(HidAppTest, VanishedDeviceClosesTheLinkForGood) {
  Faults faults;
  faults.vanishAfter = 1;
  Connect(faults);
  ASSERT_EQ(AskRegister(), 64u);
  ExpectAnswer();  // answered, then the device disconnects
  Report answer{};
  EXPECT_EQ(link_->Read(answer), 0u);
  EXPECT_FALSE(link_->connected());
  EXPECT_TRUE(link_->Lost());
  EXPECT_FALSE(link_->LastFailure().detail.empty());

  // Dead: no waiting for the (long) limits any more.
  const std::string reason = link_->LastFailure().detail;
  EXPECT_EQ(link_->Read(answer), 0u);
  EXPECT_EQ(AskRegister(), 0u);
  EXPECT_EQ(link_->LastFailure().detail, reason);
  EXPECT_FALSE(link_->Open(kVendorId, kProduct));  // the device is gone from the bus
}

TEST_F(HidAppTest, WriteToAVanishedDeviceFails) {
  Faults faults;
  faults.vanishAfter = 0;
  Connect(faults);
  ASSERT_EQ(AskRegister(), 64u);
  // Wait, behind the link's back, for the device to hang up.
  Report seen{};
  ASSERT_EQ(bus_->channel->Read(seen, 64, 5000).status, hid::IoStatus::Failed);
  ASSERT_TRUE(link_->connected());

  EXPECT_EQ(AskRegister(), 0u);
  EXPECT_FALSE(link_->connected());
  EXPECT_TRUE(link_->Lost());
  EXPECT_FALSE(link_->LastFailure().detail.empty());
  EXPECT_EQ(AskRegister(), 0u);
}

// Limits of ten minutes below: a wait that is not cut short shows as a test that hangs.
TEST_F(HidAppTest, CancelEndsAWaitingReadAtOnceAndForGood) {
  Faults faults;
  faults.silentAfter = 0;
  Connect(faults);
  link_->SetTimeouts(600000, 600000);
  ASSERT_EQ(AskRegister(), 64u);
  // Before or during the read: either way the read ends without an answer.
  std::thread canceller([this] { link_->Cancel(); });
  Report answer{};
  EXPECT_EQ(link_->Read(answer), 0u);
  canceller.join();
  EXPECT_EQ(link_->Read(answer), 0u);
  // Cancelled is not lost: nothing failed.
  EXPECT_FALSE(link_->Lost());
  EXPECT_TRUE(link_->connected());
}

TEST_F(HidAppTest, ClosingDoesNotWaitForADelayedAnswer) {
  Faults faults;
  faults.delayMs = 600000;
  Connect(faults);
  ASSERT_EQ(AskRegister(), 64u);
  link_->Close();
  Report answer{};
  EXPECT_EQ(link_->Read(answer), 0u);  // nothing is open: no wait for the delayed answer
}

}  // namespace
}  // namespace quarnel
