// Locating and decoding the version header inside a firmware image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quarnel {

struct ImageVersionHeader {
  std::uint16_t buildWord = 0;
  std::uint16_t revisionWord = 0;
  std::uint8_t versionLow = 0;
  std::uint8_t versionHigh = 0;
  std::uint8_t dayAndIndex = 0;
  std::uint8_t monthYear = 0;
  std::string productTag;  // at most 9 characters
};

struct BuildDate {
  int year = 0;
  int month = 0;
  int day = 0;
  int index = 0;
};

// Position of the first byte after the first FF AB CD EF marker, scanning with a
// four-state matcher: a byte that breaks a partial match is consumed and not reconsidered.
std::optional<std::size_t> FindVersionMarker(std::span<const std::uint8_t> image);

// Reads the header that starts at `offset`. Empty when the fixed fields do not fit
// (offset + 8 must lie inside the image). A tag cut off by the end of the image keeps
// only the bytes inside it; a zero byte ends the tag.
std::optional<ImageVersionHeader> ReadVersionHeader(std::span<const std::uint8_t> image,
                                                    std::size_t offset);

BuildDate DecodeBuildDate(std::uint8_t dayAndIndex, std::uint8_t monthYear);

// "Ver. HH.LL.RRRR.BBBB  YYYY-MM-DD.[I]"
std::string FormatVersion(std::uint8_t versionHigh, std::uint8_t versionLow,
                          std::uint16_t revisionWord, std::uint16_t buildWord,
                          std::uint8_t dayAndIndex, std::uint8_t monthYear);

// "Async.", "Implicit" or "Adaptive".
std::string_view VariantName(std::string_view productTag);

// The status line for an image, or empty when it carries no complete header.
std::optional<std::string> ImageVersionLine(std::span<const std::uint8_t> image);

}  // namespace quarnel
