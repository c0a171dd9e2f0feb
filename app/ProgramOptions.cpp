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

Result<bool, SharedOptionFailure> ParseSharedOption(std::string_view arg, SharedOptions& options) {
  using enum SharedOptionProblem;
  if (arg == "--simulate") {
    if (!options.simulateProduct) options.simulateProduct = kDefaultEmulatedProduct;
    return true;
  }
  constexpr std::string_view kSimulate = "--simulate=";
  if (arg.starts_with(kSimulate)) {
    std::uint16_t pid = 0;
    if (!ParseProduct(arg.substr(kSimulate.size()), pid)) {
      return Fail(SharedOptionFailure{
          BadProduct, "--simulate wants a product ID in hex, such as --simulate=2004"});
    }
    options.simulateProduct = pid;
    return true;
  }
  constexpr std::string_view kFault = "--simulate-fault=";
  if (arg.starts_with(kFault)) {
    if (auto applied = emulated::ApplyFault(arg.substr(kFault.size()), options.faults); !applied)
      return Fail(SharedOptionFailure{BadFault, std::move(applied.error().detail)});
    if (!options.simulateProduct) options.simulateProduct = kDefaultEmulatedProduct;
    return true;
  }
  constexpr std::string_view kReport = "--report=";
  if (arg.starts_with(kReport)) {
    options.reportFile = std::string(arg.substr(kReport.size()));
    if (options.reportFile.empty())
      return Fail(SharedOptionFailure{NoReportFile, "--report wants a file name"});
    return true;
  }
  return false;
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
