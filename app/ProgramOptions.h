// Options both programs take: the built-in emulated device and its faults, for
// demonstrations and tests, and the report file of the windowed program.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "emulated/EmulatedDevice.h"
#include "hid/DeviceBus.h"

namespace quarnel {

struct SharedOptions {
  std::optional<std::uint16_t> simulateProduct;  // set: use the emulated device
  emulated::Faults faults;
  std::string reportFile;
};

enum class OptionResult : std::uint8_t { NotShared, Taken, Error };

// --simulate[=PID], --simulate-fault=KIND[:N] (implies --simulate), --report=FILE.
OptionResult ParseSharedOption(std::string_view arg, SharedOptions& options, std::string& error);

// "PROGRAM VERSION" and the embedded image's version line, for --version.
std::string VersionText(const char* program);

// The emulated device when asked for, else the platform's HID interfaces. `device` receives
// the emulated device, if any, so that callers can look at its EEPROM.
std::unique_ptr<hid::Bus> MakeBus(const SharedOptions& options,
                                  std::shared_ptr<emulated::Device>* device = nullptr);

}  // namespace quarnel
