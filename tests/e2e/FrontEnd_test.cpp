#include "tests/e2e/FrontEnd.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/ReportDescriptor.h"

namespace quarnel::e2e {
namespace {

bool Parse(std::vector<std::string> args, UnitOptions& options, std::string& error) {
  return ParseUnitOptions(args, options, error);
}

TEST(UnitOptions, ReadsEveryOption) {
  UnitOptions o;
  std::string error;
  ASSERT_TRUE(
      Parse({"--pid=7029", "--fault=flip:0x100", "--fault=vanish-after:1536", "--register=72:0",
             "--register=0x3C:0xFF", "--dump=/tmp/ee", "--ready=/tmp/fifo", "--report-bytes=64",
             "--unserved", "--eeprom=/firmware.bin", "--composite", "--udc=dummy_udc.1"},
            o, error))
      << error;
  EXPECT_EQ(o.productId, 0x7029);
  EXPECT_EQ(o.faults.flipAddress, 0x100);
  EXPECT_EQ(o.faults.vanishAfter, 1536u);
  ASSERT_EQ(o.registers.size(), 2u);
  EXPECT_EQ(o.registers[0], std::make_pair(std::uint8_t{72}, std::uint8_t{0}));
  EXPECT_EQ(o.registers[1], std::make_pair(std::uint8_t{60}, std::uint8_t{0xFF}));
  EXPECT_EQ(o.dumpPath, "/tmp/ee");
  EXPECT_EQ(o.readyPath, "/tmp/fifo");
  EXPECT_EQ(o.eepromPath, "/firmware.bin");
  EXPECT_EQ(o.reportBytes, 64u);
  EXPECT_FALSE(o.serve);
  EXPECT_TRUE(o.composite);
  EXPECT_EQ(o.udc, "dummy_udc.1");

  UnitOptions plain;
  ASSERT_TRUE(Parse({"--pid=0x2004"}, plain, error)) << error;
  EXPECT_EQ(plain.productId, 0x2004);
  EXPECT_EQ(plain.reportBytes, 63u);
  EXPECT_TRUE(plain.serve);
  EXPECT_TRUE(plain.registers.empty());
  EXPECT_FALSE(plain.composite);
  EXPECT_TRUE(plain.udc.empty());
}

TEST(UnitOptions, RefusesWhatItCannotServe) {
  const std::vector<std::vector<std::string>> bad = {
      {},                                   // no product ID
      {"--pid=0"},                          // not a product ID
      {"--pid=10000"},                      // too wide
      {"--pid=50g8"},                       // not hexadecimal
      {"--pid=5028", "--fault=flip"},       // fault without its address
      {"--pid=5028", "--fault=wobble:1"},   // no such fault
      {"--pid=5028", "--register=72"},      // no value
      {"--pid=5028", "--register=256:0"},   // no such register
      {"--pid=5028", "--register=72:300"},  // not a byte
      {"--pid=5028", "--dump="},            // no file
      {"--pid=5028", "--eeprom="},          // no file
      {"--pid=5028", "--report-bytes=4"},   // too short for a request
      {"--pid=5028", "--udc="},             // no controller
      {"--pid=5028", "--verbose"},          // unknown
  };
  for (const auto& args : bad) {
    UnitOptions o;
    std::string error;
    EXPECT_FALSE(Parse(args, o, error)) << (args.empty() ? "" : args.back());
    EXPECT_FALSE(error.empty());
  }
}

TEST(UnitReports, OutputReportReachesTheModelWithItsReportIdByte) {
  Report written{};
  for (std::size_t i = 1; i < written.size(); ++i) written[i] = static_cast<std::uint8_t>(i);
  const auto request = ModelRequest(written);
  ASSERT_TRUE(request);
  EXPECT_EQ(*request, written);

  // A short write is padded with zeros; a long one is cut to one report.
  const std::vector<std::uint8_t> shortWrite = {0, 7, 8};
  const auto padded = ModelRequest(shortWrite);
  ASSERT_TRUE(padded);
  EXPECT_EQ((*padded)[1], 7);
  EXPECT_EQ((*padded)[2], 8);
  EXPECT_EQ((*padded)[3], 0);
  std::vector<std::uint8_t> longWrite(65, 0x55);
  longWrite[0] = 0;
  const auto cut = ModelRequest(longWrite);
  ASSERT_TRUE(cut);
  EXPECT_EQ((*cut)[63], 0x55);

  // A numbered report is not one of ours.
  EXPECT_FALSE(ModelRequest(std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_FALSE(ModelRequest(std::span<const std::uint8_t>{}));
}

// Over USB an unnumbered report travels without its ID byte; a write longer than the report
// arrives as a full report and a short remainder, and neither may pass for a request.
TEST(UnitReports, UsbTransferIsARequestOnlyWhenItIsOneWholeReport) {
  std::vector<std::uint8_t> transfer(63);
  for (std::size_t i = 0; i < transfer.size(); ++i) transfer[i] = static_cast<std::uint8_t>(i + 1);
  const auto request = TransferRequest(transfer, 63);
  ASSERT_TRUE(request);
  EXPECT_EQ((*request)[0], 0);
  EXPECT_EQ((*request)[1], 1);
  EXPECT_EQ((*request)[63], 63);
  const std::vector<std::uint8_t> narrow(12, 0x11);
  const auto small = TransferRequest(narrow, 12);
  ASSERT_TRUE(small);
  EXPECT_EQ((*small)[12], 0x11);
  EXPECT_EQ((*small)[13], 0);

  EXPECT_FALSE(TransferRequest(std::vector<std::uint8_t>(64, 0), 63));  // one byte too many
  EXPECT_FALSE(TransferRequest(std::vector<std::uint8_t>(1, 0), 63));   // the remainder
  EXPECT_FALSE(TransferRequest(std::span<const std::uint8_t>{}, 63));
}

// The composite unit's first interface must be one the program cannot update through: an
// input report of one byte and no output report; the update interface is the unit's own.
TEST(UnitReports, DescriptorsPresentTheInterfacesTheyClaim) {
  std::string error;
  const auto keys = hid::ParseReportDescriptor(ConsumerControlDescriptor(), error);
  ASSERT_TRUE(keys) << error;
  EXPECT_EQ(keys->InputLength(), 1 + kConsumerControlBytes);
  EXPECT_EQ(keys->OutputLength(), 0u);
  EXPECT_FALSE(keys->usesReportIds);
  const auto unit = hid::ParseReportDescriptor(UpdateDescriptor(12), error);
  ASSERT_TRUE(unit) << error;
  EXPECT_EQ(unit->InputLength(), 13u);
  EXPECT_EQ(unit->OutputLength(), 13u);
}

TEST(UnitReports, InputReportHasTheDescriptorsLengthWithoutReportIdByte) {
  Report answer{};
  for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<std::uint8_t>(i + 1);
  const auto input = InputReport(answer, 63);
  ASSERT_EQ(input.size(), 63u);
  EXPECT_EQ(input.front(), 2);
  EXPECT_EQ(input.back(), 64);
  const auto wide = InputReport(answer, 64);
  ASSERT_EQ(wide.size(), 64u);
  EXPECT_EQ(wide[62], 64);
  EXPECT_EQ(wide[63], 0);
}

// A register request goes through the front end's translation both ways and the program's
// acceptance rules take the answer, as hidraw hands it over (report-ID byte put back first).
TEST(UnitReports, RegisterReadSurvivesTheRoundTrip) {
  emulated::Device device(0x5028);
  device.SetRegister(72, 0x5A);
  const auto request = ModelRequest(BuildRegisterRequest(9, 72, kRegisterParameter));
  ASSERT_TRUE(request);
  const auto outcome = device.Serve(*request);
  ASSERT_EQ(outcome.answers.size(), 1u);
  const auto input = InputReport(outcome.answers[0], kDefaultReportBytes);
  Report received{};
  std::copy(input.begin(), input.end(), received.begin() + 1);
  EXPECT_EQ(AcceptRegisterAnswer(received, 9), 0x5A);
}

}  // namespace
}  // namespace quarnel::e2e
