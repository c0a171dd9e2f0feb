#include "app/WindowedProgram.h"

#include "app/FwUpdateDlg.h"
#include "app/ReportingWindow.h"
#include "base/Text.h"
#include "emulated/Faults.h"

namespace quarnel::windowed {

namespace {

// The usage's options column: where each option's words start.
constexpr std::size_t kUsageColumn = 30;
constexpr std::size_t kUsageWidth = 80;

const std::string& UsageText() {
  static const std::string text =
      "usage: quarnel-fwupdate [options]\n"
      "  --simulate[=PID]            use the built-in emulated device (PID in hex, default "
      "7029)\n"
      "  --simulate-fault=KIND[:N]   " +
      WrapWords("testing aid, repeatable: " + emulated::FaultKindList(), kUsageColumn, kUsageColumn,
                kUsageWidth) +
      "\n"
      "  --report=FILE               append one line to FILE for each visible change of the "
      "window\n"
      "  -h, --help                  this text\n"
      "  --version                   the program's version and the embedded image's version "
      "line\n";
  return text;
}

Start Exit(std::string text, int code) {
  Start start;
  start.text = std::move(text);
  start.exitCode = code;
  return start;
}

Start UsageError(const std::string& why) {
  return Exit("quarnel-fwupdate: " + why + "\n" + UsageText(), kExitUsage);
}

}  // namespace

const char* Usage() {
  return UsageText().c_str();
}

Start ParseArguments(const std::vector<std::string>& args) {
  Start start;
  for (const std::string& arg : args) {
    const auto taken = ParseSharedOption(arg, start.options);
    if (!taken) return UsageError(taken.error().detail);
    if (*taken) continue;
    if (arg == "-h" || arg == "--help") return Exit(UsageText(), kExitOk);
    if (arg == "--version") {
      return Exit(VersionText("quarnel-fwupdate"), kExitOk);
    }
    return UsageError("unknown option " + Quoted(arg));
  }
  start.showDialog = true;
  return start;
}

Session::Session(const SharedOptions& options, DialogWindow& window) : bus_(MakeBus(options)) {
  DialogWindow* shown = &window;
  if (!options.reportFile.empty()) {
    report_ = std::make_unique<ReportingWindow>(window, options.reportFile);
    if (!report_->Ok()) {
      error_ =
          "quarnel-fwupdate: cannot write the report file '" + Shown(options.reportFile) + "'\n";
      return;
    }
    shown = report_.get();
  }
  DialogOptions dialogOptions;
  dialogOptions.bus = bus_.get();
  dialog_ = std::make_unique<CFwUpdateDlg>(*shown, std::move(dialogOptions));
}

Session::~Session() = default;

}  // namespace quarnel::windowed
