// The units this program updates, in one table that the connection search, the device list,
// the emulated unit and the option parser all read.
#pragma once

#include <array>
#include <cstdint>

#include "base/Colour.h"
#include "engine/Reports.h"

namespace quarnel {

inline constexpr std::uint16_t kVendorId = 0x1852;

struct Product {
  std::uint16_t productId;
  Framing framing;
  std::uint16_t chunkSize;  // data bytes per transfer request
  std::uint32_t dotsColour;
  const char* dots;  // shown while this attempt of the search runs; none for the first
};

// In the order the search tries them. The first attempt takes its IDs from the dialog's ID
// fields, which start out with the first entry's; each attempt uses its entry's framing.
inline constexpr std::array<Product, 4> kProducts = {{
    {0x5028, Framing::Standard, kStandardChunk, 0, ""},
    {0x7030, Framing::Standard, kStandardChunk, kDarkBlue, "."},
    {0x7029, Framing::Standard, kStandardChunk, kDarkGreen, ".."},
    {0x2004, Framing::Alternate, kAlternateChunk, kDarkRed, "..."},
}};

// The shortest input and output reports (report-ID byte included) a unit of this entry needs
// for its framing's answers and requests.
constexpr std::uint32_t LeastInputLength(const Product& p) {
  return AnswerLength(p.chunkSize);
}
constexpr std::uint32_t LeastOutputLength(const Product& p) {
  return RequestLength(p.framing, p.chunkSize);
}

// The product the built-in emulated unit is unless told otherwise.
inline constexpr std::uint16_t kDefaultEmulatedProduct = kProducts[2].productId;

// The entry of one of our products; null for any other product ID.
constexpr const Product* FindProduct(std::uint16_t productId) {
  for (const Product& p : kProducts) {
    if (p.productId == productId) return &p;
  }
  return nullptr;
}

// The framing a unit with this product ID speaks; the standard one for any other ID.
constexpr Framing FramingForProduct(std::uint16_t productId) {
  const Product* p = FindProduct(productId);
  return p != nullptr ? p->framing : Framing::Standard;
}

}  // namespace quarnel
