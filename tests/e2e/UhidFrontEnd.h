// The parts of the uhid front end of the emulated device that need no kernel: its options and
// the translation between uhid's report buffers and the model's reports.
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

struct UhidOptions {
  std::uint16_t productId = 0;
  emulated::Faults faults;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> registers;  // register, value
  std::string dumpPath;    // the EEPROM goes here when the program ends
  std::string eepromPath;  // the EEPROM starts with this file's bytes (erased beyond them)
  std::string readyPath;   // the hidraw node's path (or "error: ...") is written here
  std::uint32_t reportBytes = kDefaultReportBytes;  // of each report, without report-ID byte
  bool serve = true;  // false: a device that takes reports and never answers
};

// Parses the command line (without the program name); false with `error` set otherwise.
bool ParseUhidOptions(std::span<const std::string> args, UhidOptions& options, std::string& error);

// The model's view of an output report that uhid handed over (the report-ID byte first, as
// hidraw got it from the writer): the payload behind a report-ID byte 0, cut or padded to one
// report. Nothing for an empty buffer or one numbered other than 0.
std::optional<Report> ModelRequest(std::span<const std::uint8_t> output);

// The input report uhid should deliver for one of the model's answers: exactly `reportBytes`
// bytes, without the report-ID byte.
std::vector<std::uint8_t> InputReport(const Report& answer, std::uint32_t reportBytes);

}  // namespace quarnel::e2e
