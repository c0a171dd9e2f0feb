#include "base/Colour.h"

#include <cstdio>

namespace quarnel {

std::string ColourToHex(std::uint32_t colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", colour & 0xFFu, (colour >> 8) & 0xFFu,
                (colour >> 16) & 0xFFu);
  return text;
}

}  // namespace quarnel
