// What the kernel front ends of the emulated device (uhid and the USB gadget) share that needs
// no kernel: their options, the translation between the kernel's report buffers and the model's
// reports, and the report descriptors their interfaces present.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "emulated/EmulatedDevice.h"
#include "engine/Reports.h"

namespace quarnel::e2e {

// Report bytes of the device as it should be: 63, the report-ID byte not counted.
inline constexpr std::uint32_t kDefaultReportBytes = 63;

struct UnitOptions {
  std::uint16_t productId = 0;
  emulated::Faults faults;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> registers;  // register, value
  std::string dumpPath;    // the EEPROM goes here when the program ends
  std::string eepromPath;  // the EEPROM starts with this file's bytes (erased beyond them)
  std::string readyPath;   // the hidraw node's path (or "error: ...") is written here
  std::uint32_t reportBytes = kDefaultReportBytes;  // of each report, without report-ID byte
  bool serve = true;       // false: a device that takes reports and never answers
  bool composite = false;  // a consumer-control interface comes first, the update one second
  std::string udc;         // the USB device controller to plug into (gadget; default: a free one)
};

// Parses the command line (without the program name); false with `error` set otherwise.
bool ParseUnitOptions(std::span<const std::string> args, UnitOptions& options, std::string& error);

// The model's view of an output report that uhid handed over (the report-ID byte first, as
// hidraw got it from the writer): the payload behind a report-ID byte 0, cut or padded to one
// report. Nothing for an empty buffer or one numbered other than 0.
std::optional<Report> ModelRequest(std::span<const std::uint8_t> output);

// The model's view of one interrupt OUT transfer as the USB gadget received it (unnumbered
// reports travel without their ID byte): a request only when it is exactly one report of
// `reportBytes`. A host that writes more than a report sends the rest as a second, short
// transfer, and a unit cannot take either part of a torn report for a request.
std::optional<Report> TransferRequest(std::span<const std::uint8_t> transfer,
                                      std::uint32_t reportBytes);

// The input report the kernel should deliver for one of the model's answers: exactly
// `reportBytes` bytes, without the report-ID byte.
std::vector<std::uint8_t> InputReport(const Report& answer, std::uint32_t reportBytes);

// The update interface's report descriptor: vendor-defined input and output reports of
// `reportBytes` each, unnumbered.
std::vector<std::uint8_t> UpdateDescriptor(std::uint32_t reportBytes);

// The volume keys' interface of a composite unit: a consumer-control collection with one
// 1-byte input report (volume up, volume down, mute) and no output report.
inline constexpr std::uint32_t kConsumerControlBytes = 1;
std::vector<std::uint8_t> ConsumerControlDescriptor();

}  // namespace quarnel::e2e
