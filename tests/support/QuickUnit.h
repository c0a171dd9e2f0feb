// Emulated units for tests that leave out the pause after each accepted write (so that a whole
// update takes milliseconds): their EEPROM takes a write at once after the one before, unless
// the test names a write cycle of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "emulated/EmulatedDevice.h"
#include "engine/FirmwareImage.h"

namespace quarnel::testing {

inline emulated::Faults Quick(emulated::Faults faults = {}) {
  if (!faults.writeCycleUs) faults.writeCycleUs = 0;
  return faults;
}

inline std::shared_ptr<emulated::Device> QuickDevice(
    std::uint16_t productId, emulated::Faults faults = {},
    std::span<const std::uint8_t> image = FirmwareImage()) {
  return std::make_shared<emulated::Device>(productId, Quick(faults), image);
}

}  // namespace quarnel::testing
