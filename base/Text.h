// Small text helpers shared by every part of the program: number parsing and formatting.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarnel {

// A whole number in `base` (10 or 16), or hexadecimal when written with 0x. No signs,
// spaces or other characters; false when the text is not such a number or does not fit.
bool ParseNumber(std::string_view text, std::uint32_t& value, int base = 10);

// "1852:7029": a vendor and product ID pair, each as Hex4 writes it.
std::string IdPair(std::uint16_t vendorId, std::uint16_t productId);

// An argument as messages quote it: in single quotes, cut to 32 characters and "..." when it
// is longer than 64, control characters shown as '?', so the message stays one short line.
std::string Quoted(std::string_view arg);

// "7029": four upper-case hex digits.
std::string Hex4(std::uint16_t value);

}  // namespace quarnel
