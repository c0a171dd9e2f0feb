#include "base/Text.h"

#include <charconv>
#include <cstdio>

namespace quarnel {

bool ParseNumber(std::string_view text, std::uint32_t& value, int base) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc{} && end == text.data() + text.size();
}

std::string IdPair(std::uint16_t vendorId, std::uint16_t productId) {
  return Hex4(vendorId) + ":" + Hex4(productId);
}

std::string Quoted(std::string_view arg) {
  constexpr std::size_t kLong = 64;
  constexpr std::size_t kShown = 32;
  std::string shown(arg.size() > kLong ? arg.substr(0, kShown) : arg);
  if (arg.size() > kLong) shown += "...";
  // A newline or an escape sequence would break the one-line message or the terminal.
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return "'" + shown + "'";
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", unsigned{value});
  return text;
}

}  // namespace quarnel
