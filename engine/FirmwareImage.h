// The firmware image compiled into the program.
#pragma once

#include <cstdint>
#include <span>

namespace quarnel {

extern const std::uint8_t kFirmwareImage[];
extern const std::uint32_t kFirmwareImageLength;

inline std::span<const std::uint8_t> FirmwareImage() {
  return {kFirmwareImage, kFirmwareImageLength};
}

}  // namespace quarnel
