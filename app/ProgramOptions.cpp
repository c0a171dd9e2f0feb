#include "app/ProgramOptions.h"

#include "base/Text.h"
#include "base/Version.h"
#include "emulated/EmulatedBus.h"
#include "engine/ImageVersion.h"
#include "engine/Products.h"

namespace quarnel {

namespace {

bool ParseProduct(std::string_view text, std::uint16_t& pid) {
  std::uint32_t value = 0;
  if (!ParseNumber(text, value, 16) || value > 0xFFFF) return false;
  pid = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

OptionResult ParseSharedOption(std::string_view arg, SharedOptions& options, std::string& error) {
  if (arg == "--simulate") {
    if (!options.simulateProduct) options.simulateProduct = kDefaultEmulatedProduct;
    return OptionResult::Taken;
  }
  if (arg.starts_with("--simulate=")) {
    std::uint16_t pid = 0;
    if (!ParseProduct(arg.substr(11), pid)) {
      error = "--simulate wants a product ID in hex, such as --simulate=2004";
      return OptionResult::Error;
    }
    options.simulateProduct = pid;
    return OptionResult::Taken;
  }
  constexpr std::string_view kFault = "--simulate-fault=";
  if (arg.starts_with(kFault)) {
    if (const auto applied = emulated::ApplyFault(arg.substr(kFault.size()), options.faults);
        !applied) {
      error = applied.error().detail;
      return OptionResult::Error;
    }
    if (!options.simulateProduct) options.simulateProduct = kDefaultEmulatedProduct;
    return OptionResult::Taken;
  }
  if (arg.starts_with("--report=")) {
    options.reportFile = std::string(arg.substr(9));
    if (options.reportFile.empty()) {
      error = "--report wants a file name";
      return OptionResult::Error;
    }
    return OptionResult::Taken;
  }
  return OptionResult::NotShared;
}

std::string VersionText(const char* program) {
  return std::string(program) + " " + kProgramVersion + "\n" +
         ImageVersionLine(FirmwareImage()).value_or("(image without version header)") + "\n";
}

std::unique_ptr<hid::Bus> MakeBus(const SharedOptions& options,
                                  std::shared_ptr<emulated::Device>* device) {
  if (!options.simulateProduct) return hid::MakeSystemBus();
  auto model = std::make_shared<emulated::Device>(*options.simulateProduct, options.faults);
  if (device != nullptr) *device = model;
  return std::make_unique<emulated::EmulatedBus>(std::move(model));
}

}  // namespace quarnel
