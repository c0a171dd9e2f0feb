// The report descriptor of the emulated unit, and of variants of it for tests.
#pragma once

#include <cstdint>
#include <vector>

namespace quarnel::emulated {

// A vendor-defined collection with one input report of `in` bytes and one output report of
// `out` bytes, numbered 1 when `reportId` is set.
inline std::vector<std::uint8_t> VendorDescriptor(std::uint8_t in, std::uint8_t out,
                                                  bool reportId = false) {
  std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF,  // Usage Page (vendor defined)
                                 0x09, 0x01,        // Usage
                                 0xA1, 0x01};       // Collection (application)
  if (reportId) d.insert(d.end(), {0x85, 0x01});    // Report ID 1
  d.insert(d.end(), {0x15, 0x00, 0x26, 0xFF, 0x00,  // Logical 0..255
                     0x75, 0x08,                    // Report Size 8
                     0x95, in,                      // Report Count
                     0x09, 0x01, 0x81, 0x02,        // Usage, Input
                     0x95, out,                     // Report Count
                     0x09, 0x01, 0x91, 0x02,        // Usage, Output
                     0xC0});                        // End Collection
  return d;
}

// The data bytes of the unit's input and output reports.
inline constexpr std::uint8_t kUnitReportBytes = 63;
// Its input and output reports as the link counts them, report-ID byte included.
inline constexpr std::uint32_t kReportLength = kUnitReportBytes + 1;

// The unit's own: kUnitReportBytes-byte input and output reports, no report IDs.
inline std::vector<std::uint8_t> UnitDescriptor() {
  return VendorDescriptor(kUnitReportBytes, kUnitReportBytes);
}

}  // namespace quarnel::emulated
