// Files outside the code that list our units agree with the product table.
#include "engine/Products.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/Text.h"

namespace quarnel {
namespace {

// Every product ID a file lists, in order, from the lines that match `line` (group 1 the
// vendor, group 2 the product, both in hex).
std::vector<std::uint16_t> ListedProducts(const std::string& file, const std::string& line) {
  std::ifstream in(std::string(QUARNEL_SOURCE_DIR) + "/" + file);
  EXPECT_TRUE(in) << file;
  std::vector<std::uint16_t> products;
  const std::regex pattern(line, std::regex::icase);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    if (!std::regex_search(text, m, pattern)) continue;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    EXPECT_TRUE(ParseNumber(m[1].str(), vendor, 16) && ParseNumber(m[2].str(), product, 16))
        << file << ": " << text;
    EXPECT_EQ(vendor, kVendorId) << file << ": " << text;
    products.push_back(static_cast<std::uint16_t>(product));
  }
  return products;
}

TEST(Products, FilesOutsideTheCodeListExactlyTheTable) {
  std::vector<std::uint16_t> table;
  for (const Product& p : kProducts) table.push_back(p.productId);
  std::sort(table.begin(), table.end());
  struct Listing {
    const char* file;
    const char* line;
  };
  const Listing listings[] = {
      {"packaging/linux/70-quarnel-audio.rules",
       R"re(^[^#]*ATTRS\{idVendor\}=="([0-9a-f]{4})".*ATTRS\{idProduct\}=="([0-9a-f]{4})")re"},
      {"packaging/linux/com.quarnel.fwupdate.metainfo.xml.in",
       R"re(<modalias>usb:v([0-9a-f]{4})p([0-9a-f]{4})d\*</modalias>)re"},
  };
  for (const Listing& l : listings) {
    std::vector<std::uint16_t> listed = ListedProducts(l.file, l.line);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, table) << l.file;
  }
}

TEST(Products, FramingFollowsTheTableAndStrangersGetTheStandardOne) {
  for (const Product& p : kProducts) {
    EXPECT_EQ(FramingForProduct(p.productId), p.framing);
    EXPECT_EQ(p.chunkSize, p.framing == Framing::Alternate ? kAlternateChunk : kStandardChunk);
  }
  EXPECT_EQ(FindProduct(0x1234), nullptr);
  EXPECT_EQ(FramingForProduct(0x1234), Framing::Standard);
}

}  // namespace
}  // namespace quarnel
