// One HID report as the device link moves it: a 64-byte buffer whose byte 0 is the report ID.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quarnel {

inline constexpr std::size_t kReportSize = 64;
using Report = std::array<std::uint8_t, kReportSize>;

}  // namespace quarnel
