#include "engine/ImageVersion.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/FirmwareImage.h"

namespace quarnel {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kMarker = {0xFF, 0xAB, 0xCD, 0xEF};
const Bytes kHeader = {0x01, 0x00, 0x10, 0x01, 0x07, 0x23, 0x13, 0x54, 'Q',
                       '7',  'R',  '1',  '(',  'O',  'P',  'T',  ')',  ' '};

Bytes Image(const Bytes& before, const Bytes& header = kHeader, std::size_t padding = 8) {
  Bytes image = before;
  image.insert(image.end(), kMarker.begin(), kMarker.end());
  image.insert(image.end(), header.begin(), header.end());
  image.resize(image.size() + padding, 0);
  return image;
}

TEST(ImageVersion, ShippedImageShowsItsLine) {
  EXPECT_EQ(kFirmwareImageLength, 12288u);
  EXPECT_EQ(FindVersionMarker(FirmwareImage()), std::optional<std::size_t>(0x1105 + 4));
  EXPECT_EQ(ImageVersionLine(FirmwareImage()),
            "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]");
  // The image ends in zero padding, as the EEPROM image of a real unit does.
  EXPECT_EQ(kFirmwareImage[kFirmwareImageLength - 1], 0);
}

TEST(ImageVersion, ByteBreakingPartialMatchIsNotReconsidered) {
  EXPECT_FALSE(FindVersionMarker(Image({0xFF})));
  EXPECT_FALSE(FindVersionMarker(Image({0xFF, 0xAB})));
  EXPECT_FALSE(FindVersionMarker(Image({0xFF, 0xAB, 0xCD})));
  // The broken attempt only hides the marker right behind it: a later one is found.
  Bytes twice = Image({0xFF});
  const std::size_t second = twice.size();
  twice.insert(twice.end(), kMarker.begin(), kMarker.end());
  twice.insert(twice.end(), kHeader.begin(), kHeader.end());
  EXPECT_EQ(FindVersionMarker(twice), second + 4);
}

TEST(ImageVersion, MarkerAfterOrdinaryBytesOrAtStartIsFound) {
  EXPECT_EQ(FindVersionMarker(Image({0x00})), 5u);
  EXPECT_EQ(FindVersionMarker(Image({0xAB})), 5u);
  EXPECT_EQ(FindVersionMarker(Image({})), 4u);
  EXPECT_EQ(ImageVersionLine(Image({})), "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]");
}

TEST(ImageVersion, OnlyFirstMarkerCounts) {
  Bytes header2 = kHeader;
  header2[5] = 0x99;
  Bytes image = Image({1, 2, 3});
  const Bytes second = Image({}, header2);
  image.insert(image.end(), second.begin(), second.end());
  EXPECT_EQ(ImageVersionLine(image)->substr(0, 7), "Ver. 23");
}

TEST(ImageVersion, NoMarkerOrMarkerTooCloseToEndGivesNoLine) {
  EXPECT_FALSE(ImageVersionLine(Bytes(100, 0x5A)));
  EXPECT_FALSE(ImageVersionLine(Bytes{}));
  // The fixed fields need marker + 8 to lie inside the image.
  const Bytes exact = Image({}, Bytes(kHeader.begin(), kHeader.begin() + 8), 0);
  EXPECT_FALSE(ImageVersionLine(exact));
  const Bytes oneMore = Image({}, Bytes(kHeader.begin(), kHeader.begin() + 9), 0);
  EXPECT_EQ(ImageVersionLine(oneMore), "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Adaptive]");
}

TEST(ImageVersion, TagCutByEndOfImageUsesBytesInside) {
  const Bytes cut = Image({}, Bytes(kHeader.begin(), kHeader.begin() + 12), 0);
  const auto h = ReadVersionHeader(cut, 4);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->productTag, "Q7R1");
  // A tag of exactly nine bytes at the very end is whole.
  const Bytes nine = Image({}, Bytes(kHeader.begin(), kHeader.begin() + 17), 0);
  EXPECT_EQ(ImageVersionLine(nine), "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]");
}

TEST(ImageVersion, DatesAtTheirLimits) {
  const BuildDate first = DecodeBuildDate(0x00, 0);
  EXPECT_EQ(first.year, 2007);
  EXPECT_EQ(first.month, 1);
  EXPECT_EQ(first.day, 1);
  const BuildDate last = DecodeBuildDate(0xFF, 255);
  EXPECT_EQ(last.year, 2028);
  EXPECT_EQ(last.month, 4);
  EXPECT_EQ(last.day, 32);
  EXPECT_EQ(last.index, 7);
  EXPECT_EQ(FormatVersion(0xAB, 0x0C, 0xBEEF, 0x00FF, 0xFF, 255),
            "Ver. AB.0C.BEEF.00FF  2028-04-32.[7]");
}

TEST(ImageVersion, TagsAndVariants) {
  const auto lineWithTag = [](const char* tag) {
    Bytes header(kHeader.begin(), kHeader.begin() + 8);
    header.insert(header.end(), tag, tag + 10);
    const std::string line = ImageVersionLine(Image({}, header)).value_or("");
    return line.substr(line.find("Product"));
  };
  EXPECT_EQ(lineWithTag("Q7R1(IMP) "), "Product [Implicit]");
  EXPECT_EQ(lineWithTag("q7r1(opt) "), "Product [Adaptive]");
  // Only nine characters count, even without a blank.
  EXPECT_EQ(lineWithTag("Q7R1(OPT)X"), "Product [Async.]");
  const auto h = ReadVersionHeader(Image({}, Bytes{1, 0, 0x10, 1, 7, 0x23, 0x13, 0x54, 'A', 'B',
                                                   'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'}),
                                   4);
  EXPECT_EQ(h->productTag, "ABCDEFGHI");
  // A zero byte ends the tag as it would a C string.
  const auto z =
      ReadVersionHeader(Image({}, Bytes{1, 0, 0x10, 1, 7, 0x23, 0x13, 0x54, 'Q', 0, 'R'}), 4);
  EXPECT_EQ(z->productTag, "Q");
}

}  // namespace
}  // namespace quarnel
