#include "tests/e2e/FrontEnd.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "base/Text.h"
#include "emulated/Descriptor.h"

namespace quarnel::e2e {

namespace {

bool ParseByte(std::string_view text, std::uint8_t& value) {
  std::uint32_t n = 0;
  if (!ParseNumber(text, n) || n > 0xFF) return false;
  value = static_cast<std::uint8_t>(n);
  return true;
}

}  // namespace

bool ParseUnitOptions(std::span<const std::string> args, UnitOptions& options, std::string& error) {
  bool havePid = false;
  for (const std::string& arg : args) {
    const auto eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    const std::string_view value =
        eq == std::string::npos ? std::string_view{} : std::string_view(arg).substr(eq + 1);
    const auto bad = [&](const char* what) {
      error = "bad " + name + " '" + std::string(value) + "': " + what;
      return false;
    };
    if (name == "--pid") {
      std::uint32_t pid = 0;
      if (!ParseNumber(value, pid, 16) || pid == 0 || pid > 0xFFFF)
        return bad("want a product ID in hexadecimal, as in 5028");
      options.productId = static_cast<std::uint16_t>(pid);
      havePid = true;
    } else if (name == "--fault") {
      if (const auto applied = emulated::ApplyFault(value, options.faults); !applied) {
        error = applied.error().detail;
        return false;
      }
    } else if (name == "--register") {
      const auto colon = value.find(':');
      std::uint8_t reg = 0;
      std::uint8_t content = 0;
      if (colon == std::string_view::npos || !ParseByte(value.substr(0, colon), reg) ||
          !ParseByte(value.substr(colon + 1), content))
        return bad("want REGISTER:VALUE, each 0-255, as in 72:0");
      options.registers.emplace_back(reg, content);
    } else if (name == "--dump" || name == "--ready" || name == "--eeprom") {
      if (value.empty()) return bad("want a file name");
      (name == "--dump"    ? options.dumpPath
       : name == "--ready" ? options.readyPath
                           : options.eepromPath) = std::string(value);
    } else if (name == "--report-bytes") {
      std::uint32_t bytes = 0;
      if (!ParseNumber(value, bytes) || bytes < 8 || bytes > 255)
        return bad("want 8 to 255 bytes per report");
      options.reportBytes = bytes;
    } else if (name == "--udc") {
      if (value.empty()) return bad("want a controller's name, as in dummy_udc.0");
      options.udc = std::string(value);
    } else if (arg == "--unserved") {
      options.serve = false;
    } else if (arg == "--composite") {
      options.composite = true;
    } else {
      error = "unknown option '" + arg + "'";
      return false;
    }
  }
  if (!havePid) {
    error = "--pid=HEX is required";
    return false;
  }
  return true;
}

std::optional<Report> ModelRequest(std::span<const std::uint8_t> output) {
  if (output.empty() || output[0] != 0) return std::nullopt;
  Report report{};
  const std::size_t n = std::min(output.size(), report.size());
  std::copy_n(output.begin(), n, report.begin());
  return report;
}

std::optional<Report> TransferRequest(std::span<const std::uint8_t> transfer,
                                      std::uint32_t reportBytes) {
  if (transfer.size() != reportBytes) return std::nullopt;
  Report report{};  // report-ID byte 0
  const std::size_t n = std::min(transfer.size(), report.size() - 1);
  std::copy_n(transfer.begin(), n, report.begin() + 1);
  return report;
}

std::vector<std::uint8_t> InputReport(const Report& answer, std::uint32_t reportBytes) {
  std::vector<std::uint8_t> input(reportBytes, 0);
  const std::size_t n = std::min<std::size_t>(reportBytes, answer.size() - 1);
  std::copy_n(answer.begin() + 1, n, input.begin());
  return input;
}

std::vector<std::uint8_t> UpdateDescriptor(std::uint32_t reportBytes) {
  const auto bytes = static_cast<std::uint8_t>(reportBytes);
  return emulated::VendorDescriptor(bytes, bytes);
}

std::vector<std::uint8_t> ConsumerControlDescriptor() {
  return {0x05, 0x0C,  // Usage Page (consumer)
          0x09, 0x01,  // Usage (consumer control)
          0xA1, 0x01,  // Collection (application)
          0x15, 0x00,  // Logical Minimum 0
          0x25, 0x01,  // Logical Maximum 1
          0x75, 0x01,  // Report Size 1
          0x95, 0x03,  // Report Count 3
          0x09, 0xE9,  // Usage (volume up)
          0x09, 0xEA,  // Usage (volume down)
          0x09, 0xE2,  // Usage (mute)
          0x81, 0x02,  // Input (data, variable, absolute)
          0x95, 0x05,  // Report Count 5
          0x81, 0x03,  // Input (constant): the byte's other bits
          0xC0};       // End Collection
}

}  // namespace quarnel::e2e
