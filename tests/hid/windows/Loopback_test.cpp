// The emulated device over its named pipe, driven through the device link: every report
// crosses the same overlapped read and write code as a real HID interface.
#include <gtest/gtest.h>

#include "emulated/Descriptor.h"
#include "emulated/EmulatedBus.h"
#include "engine/Products.h"
#include "hid/HidApp.h"

namespace quarnel::emulated {
namespace {

constexpr std::uint16_t kProduct = 0x5028;

struct Link {
  explicit Link(Faults faults = {})
      : device(std::make_shared<Device>(kProduct, faults)), bus(device), app(bus) {}

  // Sends a register request and returns its sequence number.
  std::uint8_t AskRegister(std::uint8_t reg) {
    const std::uint8_t s = sequence;
    sequence = NextSequence(sequence);
    EXPECT_EQ(app.Write(BuildRegisterRequest(s, reg, kRegisterParameter)), kReportLength)
        << app.LastFailure().detail;
    return s;
  }

  std::shared_ptr<Device> device;
  EmulatedBus bus;
  CHidApp app;
  std::uint8_t sequence = 1;
};

TEST(WindowsEmulatedTransport, AnswersArriveWithTheirReportIdAndFullLength) {
  Link link;
  ASSERT_TRUE(link.app.Open(kVendorId, kProduct)) << link.app.LastFailure().detail;
  link.device->SetRegister(60, 0x42);

  // Many round trips reuse the same events and records; each moves whole 64-byte reports.
  for (int i = 0; i < 50; ++i) {
    const std::uint8_t s = link.AskRegister(60);
    Report answer;
    answer.fill(0xAA);
    ASSERT_EQ(link.app.Read(answer), kReportLength) << link.app.LastFailure().detail;
    EXPECT_EQ(answer[0], 0);
    EXPECT_EQ(AcceptRegisterAnswer(answer, s), std::optional<std::uint8_t>(0x42));
  }

  // The last bytes of a report make it across too.
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
  link.device->SetEeprom(0x100, bytes);
  const std::uint8_t s = link.sequence;
  ASSERT_EQ(link.app.Write(BuildTransferRequest(
                Framing::Standard, {s, kCommandRead, kControlRead, kEepromAddress, 0x100, 8, {}})),
            kReportLength);
  Report answer{};
  ASSERT_EQ(link.app.Read(answer), kReportLength);
  const auto data = AcceptReadAnswer(Framing::Standard, answer, kReportLength, s, kStandardChunk);
  ASSERT_TRUE(data);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), answer.begin() + 3));
  EXPECT_TRUE(link.app.connected());
}

TEST(WindowsEmulatedTransport, LateAnswerWithinTheLimitIsRead) {
  Link link(Faults{.delayMs = 200});
  ASSERT_TRUE(link.app.Open(kVendorId, kProduct));
  const std::uint8_t s = link.AskRegister(61);
  Report answer{};
  ASSERT_EQ(link.app.Read(answer), kReportLength) << link.app.LastFailure().detail;
  EXPECT_TRUE(AcceptRegisterAnswer(answer, s));
}

TEST(WindowsEmulatedTransport, TimeOutLeavesTheLinkUsable) {
  // The second answer is never sent.
  Link link(Faults{.dropEvery = 2});
  ASSERT_TRUE(link.app.Open(kVendorId, kProduct));
  link.app.SetTimeouts(30, hid::kWriteTimeoutMs);
  Report answer{};
  link.AskRegister(60);
  ASSERT_EQ(link.app.Read(answer), kReportLength);

  link.AskRegister(60);
  answer.fill(0xAA);
  EXPECT_EQ(link.app.Read(answer), 0u);
  EXPECT_TRUE(link.app.connected());
  EXPECT_FALSE(link.app.Lost());
  EXPECT_FALSE(link.app.LastFailure().failed());
  // The cancelled read left the caller's buffer alone.
  EXPECT_TRUE(std::all_of(answer.begin(), answer.end(), [](auto b) { return b == 0xAA; }));

  link.app.SetTimeouts(hid::kReadTimeoutMs, hid::kWriteTimeoutMs);
  const std::uint8_t s = link.AskRegister(60);
  ASSERT_EQ(link.app.Read(answer), kReportLength) << link.app.LastFailure().detail;
  EXPECT_TRUE(AcceptRegisterAnswer(answer, s));
}

TEST(WindowsEmulatedTransport, VanishedPeerKillsTheLink) {
  // The second request is answered, then the unit is gone.
  Link link(Faults{.vanishAfter = 2});
  ASSERT_TRUE(link.app.Open(kVendorId, kProduct));
  Report answer{};
  for (int i = 0; i < 2; ++i) {
    link.AskRegister(60);
    ASSERT_EQ(link.app.Read(answer), kReportLength) << link.app.LastFailure().detail;
  }
  EXPECT_EQ(link.app.Read(answer), 0u);
  EXPECT_FALSE(link.app.connected());
  EXPECT_TRUE(link.app.Lost());
  EXPECT_NE(link.app.LastFailure().detail, "");

  // Nothing touches the dead link any more.
  int traced = 0;
  link.app.SetTracer([&](char, const Report&, std::uint32_t) { ++traced; });
  EXPECT_EQ(link.app.Read(answer), 0u);
  EXPECT_EQ(link.app.Write(answer), 0u);
  EXPECT_EQ(traced, 0);
  EXPECT_TRUE(link.device->vanished());
  EXPECT_FALSE(link.app.Open(kVendorId, kProduct));
}

}  // namespace
}  // namespace quarnel::emulated
