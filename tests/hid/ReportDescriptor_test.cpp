#include "hid/ReportDescriptor.h"

#include <gtest/gtest.h>

#include <vector>

#include "emulated/Descriptor.h"

namespace quarnel::hid {
namespace {

using Bytes = std::vector<std::uint8_t>;

using emulated::VendorDescriptor;

std::optional<ReportLayout> Parse(const Bytes& d) {
  std::string error;
  auto layout = ParseReportDescriptor(d, error);
  if (!layout) {
    EXPECT_FALSE(error.empty());
  }
  return layout;
}

bool Fits(const Bytes& d) {
  const auto layout = Parse(d);
  std::string reason;
  return layout && FitsReportBuffers(*layout, 64, reason);
}

TEST(ReportDescriptor, VendorReportsCountTheReportIdByte) {
  const auto layout = Parse(VendorDescriptor(63, 63));
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->usesReportIds);
  EXPECT_EQ(layout->InputLength(), 64u);
  EXPECT_EQ(layout->OutputLength(), 64u);
  std::string reason;
  EXPECT_TRUE(FitsReportBuffers(*layout, 64, reason)) << reason;

  const auto small = Parse(VendorDescriptor(7, 31));
  ASSERT_TRUE(small);
  EXPECT_EQ(small->InputLength(), 8u);
  EXPECT_EQ(small->OutputLength(), 32u);
}

TEST(ReportDescriptor, BitsAreSummedOverItemsAndRoundedUp) {
  // 3 bits + 5 bits padding + 1 byte of input; 12 bits of output -> 2 bytes.
  const Bytes d = {0x75, 0x01, 0x95, 0x03, 0x81, 0x02,   // 3 x 1 bit input
                   0x75, 0x05, 0x95, 0x01, 0x81, 0x03,   // 5-bit constant padding
                   0x75, 0x08, 0x81, 0x02,               // 1 x 8 bits input
                   0x75, 0x0C, 0x91, 0x02,               // 1 x 12 bits output
                   0x75, 0x08, 0x95, 0x10, 0xB1, 0x02};  // feature: not counted
  const auto layout = Parse(d);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->inputBits, 16u);
  EXPECT_EQ(layout->InputLength(), 3u);
  EXPECT_EQ(layout->OutputLength(), 3u);
}

TEST(ReportDescriptor, PushAndPopRestoreSizeAndCount) {
  const Bytes d = {0x75, 0x08, 0x95, 0x04,  // 4 x 8 bits
                   0xA4,                    // Push
                   0x75, 0x10, 0x95, 0x08,  // 8 x 16 bits
                   0x81, 0x02,              // input: 128 bits
                   0xB4,                    // Pop
                   0x91, 0x02};             // output: 32 bits again
  const auto layout = Parse(d);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->InputLength(), 17u);
  EXPECT_EQ(layout->OutputLength(), 5u);
  EXPECT_FALSE(Parse({0xB4}));  // Pop without Push
}

TEST(ReportDescriptor, LongItemsAndFourByteDataAreSkipped) {
  Bytes d = {0xFE, 0x03, 0x42, 0x81, 0x02, 0x91,  // long item whose data looks like items
             0x27, 0xFF, 0xFF, 0x00, 0x00};       // Logical Maximum, 4 data bytes
  const Bytes rest = VendorDescriptor(63, 63);
  d.insert(d.end(), rest.begin(), rest.end());
  const auto layout = Parse(d);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->InputLength(), 64u);
  EXPECT_EQ(layout->OutputLength(), 64u);
}

TEST(ReportDescriptor, RefusesDescriptorsThatDoNotFit) {
  EXPECT_FALSE(Fits(VendorDescriptor(63, 63, true)));  // numbered reports
  const auto numbered = Parse(VendorDescriptor(63, 63, true));
  ASSERT_TRUE(numbered);
  EXPECT_TRUE(numbered->usesReportIds);

  EXPECT_FALSE(Fits(VendorDescriptor(64, 63)));  // 65 bytes with the ID byte
  EXPECT_FALSE(Fits(VendorDescriptor(63, 64)));
  EXPECT_FALSE(Fits(VendorDescriptor(0, 63)));  // no input report
  EXPECT_FALSE(Fits(VendorDescriptor(63, 0)));  // no output report
  // (2^32 - 1) squared bits, twice: 1 bit if the product wrapped around in 32 bits.
  EXPECT_FALSE(Fits({0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0x81,
                     0x02, 0x91, 0x02}));

  std::string reason;
  ReportLayout big;
  big.inputBits = 64 * 8;
  big.outputBits = 8;
  EXPECT_FALSE(FitsReportBuffers(big, 64, reason));
  EXPECT_NE(reason.find("65"), std::string::npos) << reason;
}

TEST(ReportDescriptor, RefusesMalformedDescriptors) {
  const Bytes good = VendorDescriptor(63, 63);
  EXPECT_FALSE(Parse({}));
  // Items cut short.
  EXPECT_FALSE(Parse(Bytes(good.begin(), good.begin() + 2)));  // Usage Page missing a byte
  EXPECT_FALSE(Parse({0x75}));                                 // Report Size without data
  EXPECT_FALSE(Parse({0x27, 0xFF, 0xFF}));                     // four-byte item cut short
  EXPECT_FALSE(Parse({0xFE, 0x05, 0x00, 0x01}));               // long item cut short
  EXPECT_FALSE(Parse({0xFE, 0x00}));
  // Whole but unbalanced or reserved.
  EXPECT_FALSE(Parse(Bytes(good.begin(), good.end() - 1)));  // collection never closed
  EXPECT_FALSE(Parse({0xC0}));                               // End Collection alone
  EXPECT_FALSE(Parse({0x00, 0x00, 0x00, 0x00}));             // zero fill: reserved main item
  EXPECT_FALSE(Parse({0xF4}));                               // reserved global item
  EXPECT_FALSE(Parse({0x0C}));                               // reserved item type
  EXPECT_FALSE(Parse({'<', 'h', 't', 'm', 'l', '>'}));
}

}  // namespace
}  // namespace quarnel::hid
