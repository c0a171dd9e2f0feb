// Options both programs take: the built-in emulated device and its faults, for
// demonstrations and tests, and the report file of the windowed program.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Result.h"
#include "emulated/EmulatedDevice.h"
#include "hid/DeviceBus.h"

namespace quarnel {

struct SharedOptions {
  std::optional<std::uint16_t> simulateProduct;  // set: use the emulated device
  emulated::Faults faults;
  std::string reportFile;
};

enum class SharedOptionProblem : std::uint8_t {
  BadProduct,    // --simulate=PID with no product ID in hex
  BadFault,      // --simulate-fault= with a kind or value the emulated unit does not take
  NoReportFile,  // --report= without a file name
};
using SharedOptionFailure = Reason<SharedOptionProblem>;

// --simulate[=PID], --simulate-fault=KIND[:N] (implies --simulate), --report=FILE: true when
// `arg` is one of them and was taken into `options`, false when it is none of them; or why
// it is one of them given wrongly.
Result<bool, SharedOptionFailure> ParseSharedOption(std::string_view arg, SharedOptions& options);

// "PROGRAM VERSION" and the embedded image's version line, for --version.
std::string VersionText(const char* program);

// The emulated device when asked for, else the platform's HID interfaces. `device` receives
// the emulated device, if any, so that callers can look at its EEPROM.
std::unique_ptr<hid::Bus> MakeBus(const SharedOptions& options,
                                  std::shared_ptr<emulated::Device>* device = nullptr);

}  // namespace quarnel
