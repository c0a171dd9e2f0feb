// The version header of any image: the marker search, the header read at the marker and at the
// edges of the image, the build date and the status line.
#include <algorithm>
#include <array>

#include "engine/ImageVersion.h"
#include "fuzz/FuzzInput.h"

namespace quarnel::fuzz {
namespace {

constexpr std::array<std::uint8_t, 4> kMarker = {0xFF, 0xAB, 0xCD, 0xEF};

void CheckHeader(std::span<const std::uint8_t> image, std::size_t offset) {
  const auto h = ReadVersionHeader(image, offset);
  const bool fits = offset < image.size() && image.size() - offset > 8;
  Require(h.has_value() == fits, "a header is read exactly when its fixed fields fit");
  if (!h) return;
  Require(h->buildWord == (image[offset] | image[offset + 1] << 8), "build word");
  Require(h->monthYear == image[offset + 7], "month and year byte");
  const std::string& tag = h->productTag;
  Require(tag.size() <= 9, "the tag has at most 9 characters");
  Require(tag.find('\0') == std::string::npos, "a zero byte ends the tag");
  Require(
      std::equal(tag.begin(), tag.end(), image.begin() + static_cast<std::ptrdiff_t>(offset + 8),
                 [](char c, std::uint8_t b) { return static_cast<std::uint8_t>(c) == b; }),
      "the tag is the image's bytes");
}

}  // namespace
}  // namespace quarnel::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarnel;
  using quarnel::fuzz::Require;
  const std::span<const std::uint8_t> image(data, size);

  const auto marker = FindVersionMarker(image);
  if (marker) {
    Require(*marker >= fuzz::kMarker.size() && *marker <= size, "the marker lies inside the image");
    Require(std::equal(fuzz::kMarker.begin(), fuzz::kMarker.end(),
                       image.begin() + static_cast<std::ptrdiff_t>(*marker - 4)),
            "the four bytes before the position are the marker");
    fuzz::CheckHeader(image, *marker);
  }
  for (const std::size_t back : {0u, 8u, 9u, 10u, 19u})
    if (back <= size) fuzz::CheckHeader(image, size - back);
  fuzz::CheckHeader(image, size + 1);

  const auto line = ImageVersionLine(image);
  Require(line.has_value() == (marker && ReadVersionHeader(image, *marker)),
          "a line exactly for a complete header");
  if (line) {
    Require(line->starts_with("Ver. ") && line->ends_with("]"), "the line's frame");
    Require(line->size() < 80, "the line fits the status label");
  }

  if (size >= 2) {
    const BuildDate d = DecodeBuildDate(data[0], data[1]);
    Require(d.year >= 2007 && d.year <= 2028 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
                d.day <= 32 && d.index >= 0 && d.index <= 7,
            "the build date's fields stay in their ranges");
  }
  return 0;
}
