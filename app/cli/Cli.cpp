#include "app/cli/Cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "app/FwUpdateDlg.h"
#include "app/ProgramOptions.h"
#include "app/cli/ConsoleWindow.h"
#include "base/Text.h"
#include "engine/ImageVersion.h"
#include "engine/Products.h"

namespace quarnel::cli {

namespace {

constexpr const char* kUsage =
    "usage: quarnel-fwupdate-cli [options] update    write the embedded image, read it back and "
    "compare\n"
    "       quarnel-fwupdate-cli [options] version   read the device's running firmware version\n"
    "       quarnel-fwupdate-cli [options] info      print the embedded image's version line (no "
    "device)\n"
    "       quarnel-fwupdate-cli [options] list      list HID devices with vendor 0x1852 and the "
    "framing each would get\n"
    "  --simulate[=PID]            use the built-in emulated device (PID in hex, default 7029)\n"
    "  --simulate-fault=KIND[:N]   testing aid, repeatable: flip:ADDR (corrupt that byte on "
    "read-back),\n"
    "                              silent-after:N, vanish-after:N (N requests), stale:N, dup:N "
    "(every Nth\n"
    "                              answer), delay:MS. Numbers are decimal unless written with 0x.\n"
    "  --timeout=SECONDS           give up when the device has accepted nothing for this long, "
    "across\n"
    "                              both phases and for version too (default 30)\n"
    "  --trace                     hex dump of every report sent and received, on stderr\n"
    "  --json                      stdout carries only JSON lines\n"
    "  -h, --help                  this text\n"
    "  --version                   the program's version and the embedded image's version line\n";

constexpr unsigned kTickMs = 10;

struct CliOptions {
  SharedOptions shared;
  std::string command;
  double timeoutSeconds = 30;
  bool trace = false;
  bool json = false;
};

// Parses the arguments; an empty optional means "exit with this code" (usage, help).
std::optional<CliOptions> Parse(const std::vector<std::string>& args, const Environment& env,
                                int& code) {
  CliOptions o;
  const auto usageError = [&](const std::string& why) {
    env.err << "quarnel-fwupdate-cli: " << why << "\n" << kUsage;
    code = kExitUsage;
    return std::nullopt;
  };
  for (const std::string& arg : args) {
    std::string error;
    switch (ParseSharedOption(arg, o.shared, error)) {
      case OptionResult::Taken:
        continue;
      case OptionResult::Error:
        return usageError(error);
      case OptionResult::NotShared:
        break;
    }
    if (arg == "-h" || arg == "--help") {
      env.out << kUsage;
      code = kExitOk;
      return std::nullopt;
    }
    if (arg == "--version") {
      env.out << VersionText("quarnel-fwupdate-cli");
      code = kExitOk;
      return std::nullopt;
    }
    if (arg == "--trace") {
      o.trace = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg.starts_with("--timeout=")) {
      char* end = nullptr;
      const std::string value = arg.substr(10);
      o.timeoutSeconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(o.timeoutSeconds > 0) || o.timeoutSeconds > 86400) {
        return usageError("--timeout wants a number of seconds above 0");
      }
    } else if (arg.starts_with("-")) {
      return usageError("unknown option '" + arg + "'");
    } else if (!o.command.empty()) {
      return usageError("one command at a time ('" + o.command + "', then '" + arg + "')");
    } else if (arg == "update" || arg == "version" || arg == "info" || arg == "list") {
      o.command = arg;
    } else {
      return usageError("unknown command '" + arg + "'");
    }
  }
  if (o.command.empty()) return usageError("no command given");
  return o;
}

void Trace(char direction, const Report& report, std::uint32_t count) {
  char line[3 * kReportSize + 8];
  std::size_t n = static_cast<std::size_t>(std::snprintf(line, sizeof line, "%c", direction));
  for (std::size_t i = 0; i < count && i < kReportSize; ++i) {
    n += static_cast<std::size_t>(
        std::snprintf(line + n, sizeof line - n, " %02X", unsigned{report[i]}));
  }
  std::fprintf(stderr, "%s\n", line);  // one call per report: lines from two threads never mix
}

const char* FramingName(const Product& product) {
  return product.framing == Framing::Alternate ? "alternate framing, 16-byte chunks"
                                               : "standard framing, 8-byte chunks";
}

int List(hid::Bus& bus, ConsoleWindow& window, const CliOptions& o, const Environment& env) {
  int found = 0;
  for (const auto& info : bus.Enumerate()) {
    if (info.vendorId != kVendorId) continue;
    ++found;
    const std::string ids = IdPair(info.vendorId, info.productId);
    const Product* product = FindProduct(info.productId);
    const std::string framing =
        product != nullptr ? FramingName(*product) : "not an audio interface this program updates";
    if (o.json) {
      env.out << "{\"event\":\"device\",\"id\":\"" << ids << "\",\"path\":\""
              << JsonEscape(info.path) << "\",\"framing\":\"" << framing << "\"}\n";
    } else {
      env.out << ids << "  " << info.path << "  " << framing << "\n";
    }
  }
  const int code = found > 0 ? kExitOk : kExitNoDevice;
  if (found == 0 && !o.json) env.err << "no HID device with vendor 0x1852 found\n";
  window.Result(code, found > 0 ? std::to_string(found) + " device(s)" : "no device");
  return code;
}

int ExitCodeFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::UpdateOk:
    case Outcome::VersionOk:
      return kExitOk;
    case Outcome::VerifyFailed:
    case Outcome::VersionFailed:
      return kExitVerifyFailed;
    case Outcome::ConnectFailed:
      return kExitNoDevice;
    case Outcome::ReadBackConnectFailed:
      return kExitNotVerified;
    case Outcome::Busy:
      return kExitBusy;
    default:
      return kExitInternal;
  }
}

// What the command line needs to know of a run, from the dialog's semantic outlet.
class RunEvents final : public DialogEvents {
 public:
  void PhaseStarted(Phase phase, std::uint32_t) override { phase_ = phase; }
  void Finished(const RunResult& result) override {
    done_ = true;
    result_ = result;
  }

  Phase phase() const { return phase_; }
  bool done() const { return done_; }
  const RunResult& result() const { return result_; }

 private:
  Phase phase_ = Phase::Write;
  bool done_ = false;
  RunResult result_;
};

void ExplainConnectFailure(const RunResult& result, ConsoleWindow& window) {
  const hid::LinkFailure& why = result.failure;
  if (!why.failed()) return;
  window.Diagnostic("device: " + why.detail);
  if (why.kind == hid::FailureKind::PermissionDenied) {
    window.Diagnostic(
        "the device is there but this user may not open it: install the udev rule "
        "packaging/linux/70-quarnel-audio.rules as the README says, then replug the device");
  }
}

int Update(CFwUpdateDlg& dlg, const RunEvents& events, ConsoleWindow& window, const CliOptions& o,
           const Environment& env) {
  window.BeginRun([&events] { return events.phase() == Phase::Write ? "writing" : "verifying"; });
  dlg.OnStartUpdate();
  const auto timeout = std::chrono::duration<double>(o.timeoutSeconds);
  std::uint32_t accepted = dlg.engine().Snapshot().accepted;
  auto lastProgress = std::chrono::steady_clock::now();
  int code = -1;
  // The command line's own run loop around the dialog's timer tick.
  while (!events.done()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    const auto now = std::chrono::steady_clock::now();
    if (env.interrupted != nullptr && env.interrupted->load()) {
      dlg.StopWorker();
      window.Diagnostic(
          "interrupted: the update was stopped and the device closed; the EEPROM may be partly "
          "written");
      code = kExitInterrupted;
      break;
    }
    if (const std::uint32_t a = dlg.engine().Snapshot().accepted; a != accepted) {
      accepted = a;
      lastProgress = now;
    } else if (now - lastProgress > timeout) {
      dlg.StopWorker();
      window.Diagnostic("the device stopped answering; the EEPROM may be partly written");
      code = kExitStoppedAnswering;
      break;
    }
    dlg.OnUpdateTimer();
  }
  window.EndRun();
  if (code < 0) {
    code = ExitCodeFor(events.result().outcome);
    if (code == kExitNotVerified) {
      window.Diagnostic(
          "the image was written but the device could not be reached again to verify it");
    }
    if (code == kExitNoDevice || code == kExitNotVerified)
      ExplainConnectFailure(events.result(), window);
  }
  const char* text = code == kExitStoppedAnswering ? "device stopped answering"
                     : code == kExitInterrupted    ? "interrupted"
                                                   : nullptr;
  window.Result(code, text != nullptr ? text : window.LastStatus());
  return code;
}

int Version(CFwUpdateDlg& dlg, const RunEvents& events, ConsoleWindow& window, const CliOptions& o,
            const Environment& env) {
  dlg.engine().SetRegisterDeadline(std::chrono::steady_clock::now() +
                                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                       std::chrono::duration<double>(o.timeoutSeconds)));
  dlg.engine().SetAbortFlag(env.interrupted);
  dlg.OnCheckVersion();
  int code = ExitCodeFor(events.result().outcome);
  if (code == kExitVerifyFailed && env.interrupted != nullptr && env.interrupted->load()) {
    code = kExitInterrupted;
  }
  if (code == kExitNoDevice) ExplainConnectFailure(events.result(), window);
  window.Result(code, window.LastStatus());
  return code;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, const Environment& env) {
  int code = kExitOk;
  const auto parsed = Parse(args, env, code);
  if (!parsed) return code;
  const CliOptions& o = *parsed;

  ConsoleWindow window(env.out, env.err, {o.json, env.errIsTerminal});
  if (o.command == "info") {
    const auto line = ImageVersionLine(FirmwareImage());
    window.Status(kDarkBlue, line.value_or("Ready"));
    window.Result(kExitOk, line.value_or("Ready"));
    return kExitOk;
  }
  const auto bus = MakeBus(o.shared);
  if (o.command == "list") return List(*bus, window, o, env);

  DialogOptions options;
  options.bus = bus.get();
  options.writePauseMs = env.writePauseMs;
  // A single read never outlasts the time the user allows for the device to answer.
  options.readTimeoutMs = static_cast<std::uint32_t>(
      std::clamp(o.timeoutSeconds * 1000.0, 1.0, double{hid::kReadTimeoutMs}));
  options.runLockName = env.runLockName;
  if (o.trace) options.tracer = Trace;
  RunEvents events;
  options.events = &events;
  CFwUpdateDlg dlg(window, options);
  dlg.OnInitDialog();
  return o.command == "update" ? Update(dlg, events, window, o, env)
                               : Version(dlg, events, window, o, env);
}

}  // namespace quarnel::cli
