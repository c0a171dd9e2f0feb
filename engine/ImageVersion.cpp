#include "engine/ImageVersion.h"

#include <array>
#include <cstdio>

namespace quarnel {

namespace {
constexpr std::array<std::uint8_t, 4> kMarker = {0xFF, 0xAB, 0xCD, 0xEF};
constexpr std::size_t kTagBytes = 10;
constexpr std::size_t kTagChars = 9;
constexpr std::size_t kTagOffset = 8;
}  // namespace

std::optional<std::size_t> FindVersionMarker(std::span<const std::uint8_t> image) {
  std::size_t state = 0;
  for (std::size_t pos = 0; pos < image.size();) {
    const std::uint8_t b = image[pos++];
    if (b == kMarker[state]) {
      if (++state == kMarker.size()) return pos;
    } else {
      state = 0;  // the breaking byte is not looked at again
    }
  }
  return std::nullopt;
}

std::optional<ImageVersionHeader> ReadVersionHeader(std::span<const std::uint8_t> image,
                                                    std::size_t offset) {
  if (offset >= image.size() || image.size() - offset <= 8) return std::nullopt;
  const auto at = [&](std::size_t i) { return image[offset + i]; };
  ImageVersionHeader h;
  h.buildWord = static_cast<std::uint16_t>(at(0) | (at(1) << 8));
  h.revisionWord = static_cast<std::uint16_t>(at(2) | (at(3) << 8));
  h.versionLow = at(4);
  h.versionHigh = at(5);
  h.dayAndIndex = at(6);
  h.monthYear = at(7);
  const std::size_t tagStart = offset + kTagOffset;
  const std::size_t available = std::min(kTagBytes, image.size() - tagStart);
  for (std::size_t i = 0; i < std::min(available, kTagChars); ++i) {
    const auto c = image[tagStart + i];
    if (c == 0) break;
    h.productTag.push_back(static_cast<char>(c));
  }
  return h;
}

// Two bytes hold the date: `monthYear` counts months from January 2007, (year - 2007) * 12 +
// (month - 1), so one byte reaches April 2028; `dayAndIndex` holds the day less one in bits 0-4
// and, in bits 5-7, the index of the build on that day.
BuildDate DecodeBuildDate(std::uint8_t dayAndIndex, std::uint8_t monthYear) {
  return BuildDate{monthYear / 12 + 2007, monthYear % 12 + 1, (dayAndIndex & 0x1F) + 1,
                   (dayAndIndex >> 5) & 7};
}

std::string FormatVersion(std::uint8_t versionHigh, std::uint8_t versionLow,
                          std::uint16_t revisionWord, std::uint16_t buildWord,
                          std::uint8_t dayAndIndex, std::uint8_t monthYear) {
  const BuildDate d = DecodeBuildDate(dayAndIndex, monthYear);
  char text[1024];
  std::snprintf(text, sizeof text, "Ver. %02X.%02X.%04X.%04X  %04d-%02d-%02d.[%d]",
                unsigned{versionHigh}, unsigned{versionLow}, unsigned{revisionWord},
                unsigned{buildWord}, d.year, d.month, d.day, d.index);
  return text;
}

std::string_view VariantName(std::string_view productTag) {
  if (productTag == "Q7R1(OPT)") return "Async.";
  if (productTag == "Q7R1(IMP)") return "Implicit";
  return "Adaptive";
}

std::optional<std::string> ImageVersionLine(std::span<const std::uint8_t> image) {
  const auto marker = FindVersionMarker(image);
  if (!marker) return std::nullopt;
  const auto h = ReadVersionHeader(image, *marker);
  if (!h) return std::nullopt;
  std::string line = FormatVersion(h->versionHigh, h->versionLow, h->revisionWord, h->buildWord,
                                   h->dayAndIndex, h->monthYear);
  line += "  Product [";
  line += VariantName(h->productTag);
  line += "]";
  return line;
}

}  // namespace quarnel
