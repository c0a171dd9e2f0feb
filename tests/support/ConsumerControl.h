// The report descriptor of a consumer-control interface, as USB audio units have one for their
// volume keys beside the interface that takes vendor reports: one 1-byte input report (three
// key bits and padding), no output report.
#pragma once

#include <cstdint>
#include <vector>

namespace quarnel::testing {

inline std::vector<std::uint8_t> ConsumerControlDescriptor() {
  return {0x05, 0x0C,  // Usage Page (consumer)
          0x09, 0x01,  // Usage (consumer control)
          0xA1, 0x01,  // Collection (application)
          0x15, 0x00,  // Logical Minimum 0
          0x25, 0x01,  // Logical Maximum 1
          0x09, 0xE9,  // Usage (volume up)
          0x09, 0xEA,  // Usage (volume down)
          0x09, 0xE2,  // Usage (mute)
          0x75, 0x01,  // Report Size 1
          0x95, 0x03,  // Report Count 3
          0x81, 0x02,  // Input (data, variable)
          0x95, 0x05,  // Report Count 5
          0x81, 0x01,  // Input (constant): padding to a byte
          0xC0};       // End Collection
}

}  // namespace quarnel::testing
