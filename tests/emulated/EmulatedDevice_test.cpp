#include "emulated/EmulatedDevice.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/Text.h"
#include "emulated/Descriptor.h"
#include "engine/FirmwareImage.h"
#include "tests/support/FakeClock.h"

namespace quarnel::emulated {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Drives the model with the codec as the program does, without any transport.
struct Host {
  Device& device;
  std::uint8_t sequence = 1;
  // The unit's clock, moved on by the program's pause after each accepted write.
  testing::FakeClock clock{};

  explicit Host(Device& d) : device(d) {
    device.SetClock([this] { return clock.now; });
  }

  Framing framing() const { return device.framing(); }
  std::uint16_t chunk() const {
    return framing() == Framing::Standard ? kStandardChunk : kAlternateChunk;
  }

  hid::ServedAnswer Send(std::uint8_t command, std::uint8_t control, std::uint16_t address,
                         std::span<const std::uint8_t> data, std::uint8_t length) {
    const Report r = BuildTransferRequest(
        framing(), {sequence, command, control, kEepromAddress, address, length, data});
    return device.Serve(r);
  }

  void WriteImage(std::span<const std::uint8_t> image) {
    for (std::size_t at = 0; at < image.size(); at += chunk()) {
      const auto n = static_cast<std::uint8_t>(std::min<std::size_t>(chunk(), image.size() - at));
      const auto out = Send(kCommandWrite, kControlWrite, static_cast<std::uint16_t>(at),
                            image.subspan(at, n), n);
      ASSERT_EQ(out.answers.size(), 1u);
      ASSERT_TRUE(AcceptWriteAnswer(framing(), out.answers[0], kReportLength, sequence));
      sequence = NextSequence(sequence);
      clock.Advance(std::chrono::milliseconds(4));
    }
  }

  Bytes ReadBack(std::size_t length) {
    Bytes back;
    while (back.size() < length) {
      const auto n =
          static_cast<std::uint8_t>(std::min<std::size_t>(chunk(), length - back.size()));
      const auto out =
          Send(kCommandRead, kControlRead, static_cast<std::uint16_t>(back.size()), {}, n);
      EXPECT_EQ(out.answers.size(), 1u);
      if (out.answers.empty()) break;
      const auto data =
          AcceptReadAnswer(framing(), out.answers[0], kReportLength, sequence, chunk());
      EXPECT_TRUE(data);
      if (!data) break;
      const auto& a = out.answers[0];
      back.insert(back.end(), a.begin() + 3, a.begin() + 3 + static_cast<long>(data->length));
      sequence = NextSequence(sequence);
    }
    return back;
  }
};

TEST(EmulatedDevice, WholeImageRoundTripsInBothFramings) {
  for (std::uint16_t pid : {std::uint16_t{0x5028}, std::uint16_t{0x7030}, std::uint16_t{0x7029},
                            std::uint16_t{0x2004}}) {
    Device device(pid);
    EXPECT_EQ(device.framing(), pid == 0x2004 ? Framing::Alternate : Framing::Standard);
    Host host(device);
    host.WriteImage(FirmwareImage());
    const Bytes back = host.ReadBack(FirmwareImage().size());
    EXPECT_TRUE(
        std::equal(back.begin(), back.end(), FirmwareImage().begin(), FirmwareImage().end()))
        << pid;
    const auto eeprom = device.Eeprom();
    EXPECT_EQ(eeprom[FirmwareImage().size()], 0xFF);  // untouched beyond the image
  }
}

TEST(EmulatedDevice, AlternateReadAlwaysAnswersSixteenBytes) {
  Device device(0x2004);
  Host host{device};
  const auto out = host.Send(kCommandRead, kControlRead, 0, {}, 8);
  ASSERT_EQ(out.answers.size(), 1u);
  EXPECT_EQ(out.answers[0][AnswerLayout::length], 0x90);
  EXPECT_EQ(out.answers[0][AnswerLayout::sequence], 0);
}

TEST(EmulatedDevice, PagedAddressesReachTheirBytes) {
  Device device(0x7029);
  const Bytes data = {1, 2, 3};
  const auto split = SplitAddress(0x90, 0x234);
  device.Serve(BuildTransferRequest(
      Framing::Standard,
      {1, kCommandWrite, 0x90, static_cast<std::uint8_t>(kEepromAddress | split.highBits),
       split.field, 3, data}));
  EXPECT_EQ(device.Eeprom()[0x234], 1);
  EXPECT_EQ(device.Eeprom()[0x236], 3);
}

TEST(EmulatedDevice, RegistersMirrorTheImageHeader) {
  Device device(0x5028);
  const std::uint8_t expected[][2] = {{60, 0x07}, {61, 0x23}, {66, 0x01}, {67, 0x00}, {68, 0x13},
                                      {69, 0x54}, {70, 0x10}, {71, 0x01}, {72, 0xA0}};
  for (const auto& [reg, value] : expected) {
    const auto out = device.Serve(BuildRegisterRequest(42, reg, kRegisterParameter));
    ASSERT_EQ(out.answers.size(), 1u);
    EXPECT_EQ(AcceptRegisterAnswer(out.answers[0], 42), value) << int{reg};
  }
  device.SetRegister(72, 0x00);
  EXPECT_EQ(AcceptRegisterAnswer(device.Serve(BuildRegisterRequest(43, 72, 4)).answers.at(0), 43),
            0);
}

TEST(EmulatedDevice, FaultsDoWhatTheySay) {
  const Bytes eight(8, 0x5A);
  const auto write = [&](Device& d, std::uint8_t seq) {
    return d.Serve(BuildTransferRequest(
        d.framing(), {seq, kCommandWrite, kControlWrite, kEepromAddress, 0, 8, eight}));
  };
  {  // every 2nd answer dropped
    Device d(0x7029, Faults{.dropEvery = 2});
    EXPECT_EQ(write(d, 1).answers.size(), 1u);
    EXPECT_EQ(write(d, 2).answers.size(), 0u);
  }
  {  // every answer duplicated
    Device d(0x2004, Faults{.dupEvery = 1});
    EXPECT_EQ(write(d, 1).answers.size(), 2u);
  }
  {  // a stale answer with an earlier sequence number comes first
    Device d(0x7029, Faults{.staleEvery = 1});
    const auto out = write(d, 7);
    ASSERT_EQ(out.answers.size(), 2u);
    EXPECT_EQ(out.answers[0][AnswerLayout::sequence], 6);
    EXPECT_EQ(out.answers[1][AnswerLayout::sequence], 7);
    // Alternate answers carry no sequence number: nothing stale to send.
    Device alt(0x2004, Faults{.staleEvery = 1});
    EXPECT_EQ(write(alt, 7).answers.size(), 1u);
  }
  {  // silent after two requests, but still there
    Device d(0x7029, Faults{.silentAfter = 2});
    EXPECT_EQ(write(d, 1).answers.size(), 1u);
    EXPECT_EQ(write(d, 2).answers.size(), 1u);
    EXPECT_EQ(write(d, 3).answers.size(), 0u);
    EXPECT_FALSE(d.vanished());
  }
  {  // answers the second request, then disconnects
    Device d(0x7029, Faults{.vanishAfter = 2});
    EXPECT_FALSE(write(d, 1).vanish);
    const auto last = write(d, 2);
    EXPECT_TRUE(last.vanish);
    EXPECT_EQ(last.answers.size(), 1u);
    EXPECT_TRUE(d.vanished());
    EXPECT_TRUE(write(d, 3).answers.empty());
    Device gone(0x7029, Faults{.vanishAfter = 0});
    EXPECT_FALSE(gone.vanished());
    EXPECT_TRUE(write(gone, 1).answers.empty());
    EXPECT_TRUE(gone.vanished());
  }
  {  // writes acknowledged but not stored
    Device d(0x7029, Faults{.refuseWrites = true});
    EXPECT_EQ(write(d, 1).answers.size(), 1u);
    EXPECT_EQ(d.Eeprom()[0], 0xFF);
  }
  {  // one byte reads back inverted; the EEPROM itself is right
    Device d(0x7029, Faults{.flipAddress = 3});
    write(d, 1);
    const auto out = d.Serve(BuildTransferRequest(
        Framing::Standard, {2, kCommandRead, kControlRead, kEepromAddress, 0, 8, {}}));
    EXPECT_EQ(out.answers.at(0)[3 + 2], 0x5A);
    EXPECT_EQ(out.answers.at(0)[3 + 3], 0xA5);
    EXPECT_EQ(d.Eeprom()[3], 0x5A);
  }
  {
    Device d(0x7029, Faults{.delayMs = 25});
    EXPECT_EQ(write(d, 1).delayMs, 25u);
  }
  {  // the answer to the second request comes again with the third's, before it
    Device d(0x2004, Faults{.lateDupAt = 2, .latencyUs = 250});
    EXPECT_EQ(write(d, 1).latencyUs, 250u);
    const auto second = write(d, 2);
    ASSERT_EQ(second.answers.size(), 1u);
    const Report read = BuildTransferRequest(
        Framing::Alternate, {0, kCommandRead, kControlRead, kEepromAddress, 0, 16, {}});
    const auto third = d.Serve(read);
    ASSERT_EQ(third.answers.size(), 2u);
    EXPECT_EQ(third.answers[0], second.answers[0]);
    EXPECT_NE(third.answers[1], second.answers[0]);
    EXPECT_EQ(d.Serve(read).answers.size(), 1u);
  }
  {  // the EEPROM ignores a write during the write cycle of the last one it stored
    Device d(0x7029);
    testing::FakeClock clock;
    d.SetClock([&clock] { return clock.now; });
    const auto put = [&](std::uint8_t value, std::uint8_t seq) {
      const Bytes data(8, value);
      const auto out = d.Serve(BuildTransferRequest(
          Framing::Standard, {seq, kCommandWrite, kControlWrite, kEepromAddress, 0, 8, data}));
      EXPECT_EQ(out.answers.size(), 1u);  // acknowledged all the same
      return d.Eeprom()[0];
    };
    EXPECT_EQ(put(0x11, 1), 0x11);
    clock.now += std::chrono::microseconds(3999);
    EXPECT_EQ(put(0x22, 2), 0x11);
    clock.now += std::chrono::microseconds(1);
    EXPECT_EQ(put(0x33, 3), 0x33);  // the ignored write started no cycle of its own
    Device quick(0x7029, Faults{.writeCycleUs = 0});
    EXPECT_EQ(write(quick, 1).answers.size(), 1u);
    const auto second = quick.Serve(BuildTransferRequest(
        Framing::Standard, {2, kCommandWrite, kControlWrite, kEepromAddress, 8, 8, eight}));
    EXPECT_EQ(second.answers.size(), 1u);
    EXPECT_EQ(quick.Eeprom()[8], 0x5A);
  }
  {  // the second request's answer twice, and late from the third request on
    Device d(0x2004, Faults{.dupAt = 2, .delayMs = 25, .delayFrom = 3});
    const auto first = write(d, 1);
    EXPECT_EQ(first.answers.size(), 1u);
    EXPECT_EQ(first.delayMs, 0u);
    EXPECT_EQ(write(d, 2).answers.size(), 2u);
    const auto third = write(d, 3);
    EXPECT_EQ(third.answers.size(), 1u);
    EXPECT_EQ(third.delayMs, 25u);
  }
}

TEST(EmulatedDevice, HostileRequestsAreIgnored) {
  Device d(0x7029);
  EXPECT_TRUE(d.Serve({}).answers.empty());
  const std::uint8_t junk[] = {0, 9, 0x77, 1};
  EXPECT_TRUE(d.Serve(junk).answers.empty());
  // A write whose length runs past the report stores only what the report holds.
  Report r = BuildTransferRequest(
      Framing::Standard, {1, kCommandWrite, kControlWrite, kEepromAddress, 16380, 8, Bytes(8, 7)});
  r[StandardLayout::length] = 255;
  EXPECT_EQ(d.Serve(r).answers.size(), 1u);
  EXPECT_EQ(d.Eeprom()[16383], 7);
}

TEST(EmulatedDevice, FaultOptionsParse) {
  Faults f;
  EXPECT_TRUE(ApplyFault("flip:0x2FFF", f));
  EXPECT_EQ(f.flipAddress, 0x2FFF);
  EXPECT_TRUE(ApplyFault("silent-after:10", f));
  EXPECT_EQ(f.silentAfter, 10u);
  EXPECT_TRUE(ApplyFault("dup:3", f));
  EXPECT_TRUE(ApplyFault("dup-at:300", f));
  EXPECT_EQ(f.dupAt, 300u);
  EXPECT_TRUE(ApplyFault("delay-from:299", f));
  EXPECT_EQ(f.delayFrom, 299u);
  EXPECT_TRUE(ApplyFault("refuse-writes", f));
  EXPECT_TRUE(f.refuseWrites);
  EXPECT_TRUE(ApplyFault("delay:4294967294", f));
  EXPECT_EQ(f.delayMs, 4294967294u);
  // Each refusal names its problem, in words that fit it.
  const std::pair<const char*, FaultProblem> bad[] = {
      {"flip", FaultProblem::NeedsValue},
      {"flip:", FaultProblem::NeedsValue},
      {"flip:16384", FaultProblem::TooLarge},
      {"dup:0", FaultProblem::TooSmall},
      {"stale:x", FaultProblem::NeedsValue},
      {"nonsense:1", FaultProblem::UnknownKind},
      {"delay:-1", FaultProblem::NeedsValue},
      {"dup-at", FaultProblem::NeedsValue},
      {"refuse-writes:1", FaultProblem::TakesNoValue},
      {"silent-after:4294967295", FaultProblem::TooLarge},
      {"delay:4294967295", FaultProblem::TooLarge},
      {"vanish-after:99999999999", FaultProblem::TooLarge},
      {"dup:0x100000000", FaultProblem::TooLarge},
  };
  for (const auto& [option, problem] : bad) {
    const auto applied = ApplyFault(option, f);
    ASSERT_FALSE(applied) << option;
    EXPECT_EQ(applied.error().kind, problem) << option;
    EXPECT_NE(applied.error().detail.find(Quoted(option)), std::string::npos)
        << applied.error().detail;
    if (problem == FaultProblem::TooLarge) {
      EXPECT_NE(applied.error().detail.find("at most"), std::string::npos)
          << applied.error().detail;
      EXPECT_EQ(applied.error().detail.find("EEPROM"), std::string::npos) << applied.error().detail;
    }
  }
}

}  // namespace
}  // namespace quarnel::emulated
