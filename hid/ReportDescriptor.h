// Report lengths from a HID report descriptor, for platforms whose HID stack hands out the raw
// descriptor instead of the report capabilities.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quarnel::hid {

struct ReportLayout {
  std::uint64_t inputBits = 0;   // all Input main items together
  std::uint64_t outputBits = 0;  // all Output main items together
  bool usesReportIds = false;    // the descriptor has a Report ID item

  // Byte lengths as the Windows HID stack counts them: the bits rounded up to whole bytes,
  // plus the report-ID byte. 0 when there is no report of that kind.
  std::uint64_t InputLength() const;
  std::uint64_t OutputLength() const;
};

// Walks the items of a descriptor. Nothing when it is not a well-formed descriptor (a
// truncated item, a reserved item, unbalanced collections, Pop without Push); `error` says
// what is wrong.
std::optional<ReportLayout> ParseReportDescriptor(std::span<const std::uint8_t> descriptor,
                                                  std::string& error);

// Whether a device with this layout can carry our reports: no report IDs, an input and an
// output report, each at most `maxLength` bytes with the report-ID byte. `reason` says why not.
bool FitsReportBuffers(const ReportLayout& layout, std::uint64_t maxLength, std::string& reason);

}  // namespace quarnel::hid
