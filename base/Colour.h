// The colours the program shows its words in: 24-bit, red in the low byte.
#pragma once

#include <cstdint>
#include <string>

namespace quarnel {

inline constexpr std::uint32_t kDarkBlue = 0x7F0000;
inline constexpr std::uint32_t kDarkGreen = 0x007F00;
inline constexpr std::uint32_t kDarkRed = 0x00007F;

// "#RRGGBB" for a colour with red in the low byte.
std::string ColourToHex(std::uint32_t colour);

}  // namespace quarnel
