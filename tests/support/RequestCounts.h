// How many requests a clean run sends: each chunk written once; read once, or in the
// alternate framing twice in a row (its answers prove a chunk only when two agree).
#pragma once

#include <cstdint>

#include "engine/FirmwareImage.h"
#include "engine/Products.h"

namespace quarnel::testing {

inline std::uint32_t Chunks(Framing framing, std::size_t bytes = FirmwareImage().size()) {
  return static_cast<std::uint32_t>(bytes / (framing == Framing::Alternate ? 16 : 8));
}

inline std::uint32_t ReadRequests(Framing framing, std::size_t bytes = FirmwareImage().size()) {
  return Chunks(framing, bytes) * (framing == Framing::Alternate ? 2 : 1);
}

inline std::uint32_t UpdateRequests(Framing framing) {
  return Chunks(framing) + ReadRequests(framing);
}

}  // namespace quarnel::testing
