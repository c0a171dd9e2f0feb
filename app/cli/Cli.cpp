#include "app/cli/Cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>

#include "app/FwUpdateDlg.h"
#include "app/ProgramOptions.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Console.h"
#include "app/cli/ConsoleWindow.h"
#include "app/cli/ImageFile.h"
#include "app/cli/Json.h"
#include "app/cli/Progress.h"
#include "app/cli/Verdict.h"
#include "base/Text.h"
#include "engine/ImageVersion.h"
#include "engine/Products.h"

namespace quarnel::cli {

namespace {

constexpr unsigned kTickMs = 10;
constexpr const char* kProgram = "quarnel-fwupdate-cli";

const char* FramingWord(Framing framing) {
  return framing == Framing::Alternate ? "alternate" : "standard";
}

// Everything the command line says: results on stdout, as text or as JSON lines; progress,
// message-box texts and diagnostics on stderr.
class Output {
 public:
  Output(const CliOptions& o, const Environment& env)
      : out_(env.out),
        err_(env.err),
        json_(o.json),
        quiet_(o.quiet),
        progress_(env.err, env.errIsTerminal, env.columns) {}

  bool json() const { return json_; }

  void Diagnostic(const std::string& text) {
    progress_.Break();
    err_ << text << "\n" << std::flush;
  }
  void Error(const std::string& text) { Diagnostic(std::string(kProgram) + ": " + text); }

  // A result line in the text form; none in JSON.
  void Line(const std::string& text) {
    if (json_ || text.empty()) return;
    progress_.Break();
    out_ << text << "\n" << std::flush;
  }
  void Json(const JsonObject& object) {
    if (json_) out_ << object.str() << "\n" << std::flush;
  }

  void Unit(const UnitChoice& unit, bool emulated, bool asText) {
    const std::string ids = IdPair(unit.vendorId, unit.productId);
    if (asText) {
      Line("unit: " + ids + " " + unit.path + " " +
           (emulated ? "(built-in emulated device, no hardware)"
                     : std::string(FramingWord(unit.framing)) + " framing"));
    }
    Json(JsonObject()
             .Text("event", "unit")
             .Text("path", unit.path)
             .Text("vendor", Hex4(unit.vendorId))
             .Text("product", Hex4(unit.productId))
             .Text("framing", FramingWord(unit.framing))
             .Bool("emulated", emulated));
  }

  void Image(const std::optional<std::string>& version, std::size_t bytes,
             const std::optional<std::string>& file) {
    Line("image: " + version.value_or("no version header found"));
    Json(JsonObject()
             .Text("event", "image")
             .OptText("version", version)
             .Number("bytes", static_cast<std::int64_t>(bytes))
             .OptText("file", file));
  }

  void PhaseStart(const char* name, const char* word, std::uint32_t total) {
    Json(JsonObject().Text("event", "phase").Text("phase", name));
    phaseName_ = name;
    lastPercent_ = -1;
    if (!quiet_ && !json_) progress_.Start(word, total);
    Progress(0, total);
  }

  void Progress(std::uint32_t bytes, std::uint32_t total) {
    if (quiet_) return;
    if (!json_) {
      progress_.Update(bytes, total);
      return;
    }
    const int percent = Percent(bytes, total);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    Json(JsonObject()
             .Text("event", "progress")
             .Text("phase", phaseName_)
             .Number("percent", percent)
             .Number("bytes", bytes)
             .Number("total", total));
  }

  void EndProgress() { progress_.Break(); }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  bool quiet_;
  ProgressWriter progress_;
  const char* phaseName_ = "";
  int lastPercent_ = -1;
};

// What the command line learns of a run, from the dialog's semantic outlet.
class RunEvents final : public DialogEvents {
 public:
  RunEvents(Output& out, Command command, bool emulated, std::function<void()> afterUnit)
      : out_(out), command_(command), emulated_(emulated), afterUnit_(std::move(afterUnit)) {}

  void UnitChosen(const UnitChoice& unit) override {
    if (unit_) return;  // the read-back's connection: the same unit
    unit_ = unit;
    out_.Unit(unit, emulated_, command_ != Command::Version);
    if (afterUnit_) afterUnit_();
  }
  void PhaseStarted(Phase phase, std::uint32_t totalBytes) override {
    ++phases_;
    phase_ = phase;
    if (command_ != Command::Update) {
      out_.PhaseStart("read", "reading", totalBytes);
    } else if (phase == Phase::Write) {
      out_.PhaseStart("write", "writing", totalBytes);
    } else {
      out_.PhaseStart("read-back", "verifying", totalBytes);
    }
  }
  void Progress(Phase, std::uint32_t bytesDone, std::uint32_t totalBytes) override {
    out_.Progress(bytesDone, totalBytes);
  }
  void Finished(const RunResult& result) override {
    done_ = true;
    result_ = result;
  }

  const std::optional<UnitChoice>& unit() const { return unit_; }
  Phase phase() const { return phase_; }
  int phases() const { return phases_; }
  bool done() const { return done_; }
  const RunResult& result() const { return result_; }

 private:
  Output& out_;
  Command command_;
  bool emulated_;
  std::function<void()> afterUnit_;
  std::optional<UnitChoice> unit_;
  Phase phase_ = Phase::Write;
  int phases_ = 0;
  bool done_ = false;
  RunResult result_;
};

// What goes into the closing result.
struct Summary {
  Command command = Command::Update;
  Verdict verdict;
  std::optional<std::string> unit;
  std::optional<std::string> imageVersion;
  std::optional<std::string> unitVersion;
  std::optional<Difference> difference;
};

int Finish(Output& out, const Summary& s) {
  const Verdict& v = s.verdict;
  out.EndProgress();
  if (!v.diagnostic.empty()) out.Diagnostic(v.diagnostic);
  out.Line(v.differsLine);
  out.Line(v.line);
  JsonObject reason;
  reason.Text("type", v.reasonType).Text("detail", v.reasonDetail);
  std::optional<std::int64_t> differing;
  std::optional<std::int64_t> first;
  if (s.difference) {
    differing = s.difference->count;
    if (s.difference->count > 0) first = s.difference->first;
  }
  out.Json(JsonObject()
               .Text("event", "result")
               .Text("command", CommandName(s.command))
               .Text("outcome", v.outcome)
               .Number("code", v.code)
               .Raw("reason", v.reasonType.empty() ? "null" : reason.str())
               .OptText("unit", s.unit)
               .OptText("imageVersion", s.imageVersion)
               .OptText("unitVersion", s.unitVersion)
               .OptNumber("differing", differing)
               .OptNumber("firstDifference", first));
  return v.code;
}

// A run that ends before any unit is contacted: usage, files, the choice of unit.
int EarlyEnd(Output& out, Command command, int code, const char* outcome, const char* type,
             const std::string& detail) {
  out.Error(detail);
  Summary s;
  s.command = command;
  s.verdict.code = code;
  s.verdict.outcome = outcome;
  s.verdict.reasonType = type;
  s.verdict.reasonDetail = detail;
  return Finish(out, s);
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

// The test seam's bus, or the emulated unit asked for, or the system's HID interfaces.
hid::Bus* ChooseBus(const CliOptions& o, const Environment& env, std::unique_ptr<hid::Bus>& own) {
  if (env.bus != nullptr) return env.bus;
  own = MakeBus(o.shared);
  return own.get();
}

bool IsEmulated(const CliOptions& o, const Environment& env) {
  return env.bus != nullptr || o.shared.simulateProduct.has_value();
}

const char* AccessWord(const hid::LinkFailure& failure) {
  switch (failure.kind) {
    case hid::FailureKind::None:
      return "ok";
    case hid::FailureKind::PermissionDenied:
      return "permission";
    case hid::FailureKind::InUse:
      return "in-use";
    default:
      return hid::FailureKindName(failure.kind);
  }
}

int List(hid::Bus& bus, bool emulated, Output& out) {
  int found = 0;
  for (const auto& info : bus.Enumerate()) {
    if (info.vendorId != kVendorId) continue;
    ++found;
    hid::LinkFailure failure;
    // Only asked whether it opens: the interface is closed again at once.
    if (auto opened = bus.Open(info); !opened) {
      failure = std::move(opened.error());
      if (!failure.failed()) failure.kind = hid::FailureKind::IoError;
    }
    const Product* product = FindProduct(info.productId);
    const std::string access =
        !failure.failed()                                    ? "ok"
        : failure.kind == hid::FailureKind::PermissionDenied ? "permission denied"
        : failure.kind == hid::FailureKind::InUse            ? "in use"
                                                  : std::string(hid::FailureKindName(failure.kind));
    out.Line(info.path + "  " + IdPair(info.vendorId, info.productId) + "  " +
             (product != nullptr ? std::string(FramingWord(product->framing)) + " framing"
                                 : "not a unit this program updates") +
             "  " + access);
    JsonObject unit;
    unit.Text("event", "unit")
        .Text("path", info.path)
        .Text("vendor", Hex4(info.vendorId))
        .Text("product", Hex4(info.productId));
    if (product != nullptr) {
      unit.Text("framing", FramingWord(product->framing));
    } else {
      unit.Null("framing");
    }
    out.Json(unit.Bool("emulated", emulated).Text("access", AccessWord(failure)));
  }
  if (found > 0) return kExitOk;
  out.Error("no unit of vendor 0x1852 found");
  return kExitNoDevice;
}

// The unit a command may use: the one --device names (it must be attached and ours), or the
// one the dialog's search finds, as long as only one of ours is attached.
bool CheckUnitChoice(hid::Bus& bus, const CliOptions& o, int& code, const char*& outcome,
                     std::string& error) {
  const auto interfaces = bus.Enumerate();
  if (!o.devicePath.empty()) {
    for (const auto& info : interfaces) {
      if (info.path != o.devicePath) continue;
      if (info.vendorId == kVendorId && FindProduct(info.productId) != nullptr) return true;
      error = Quoted(o.devicePath) + " is " + IdPair(info.vendorId, info.productId) +
              ", not a unit this program updates (see list)";
      code = kExitNoDevice;
      outcome = "no-unit";
      return false;
    }
    error = "no unit at " + Quoted(o.devicePath) + " (see list)";
    code = kExitNoDevice;
    outcome = "no-unit";
    return false;
  }
  if (o.command == Command::Version) return true;
  const auto ours = std::count_if(interfaces.begin(), interfaces.end(), [](const auto& info) {
    return info.vendorId == kVendorId && FindProduct(info.productId) != nullptr;
  });
  if (ours <= 1) return true;
  error = "several units are attached; choose one with --device= (see list)";
  code = kExitUsage;
  outcome = "several-units";
  return false;
}

// The one interface --device names, alone on the bus: whatever the dialog's search tries,
// no other unit can be opened.
class OneDeviceBus final : public hid::Bus {
 public:
  OneDeviceBus(hid::Bus& inner, std::string path) : inner_(inner), path_(std::move(path)) {}
  std::vector<hid::InterfaceInfo> Enumerate() override {
    auto all = inner_.Enumerate();
    std::erase_if(all, [this](const hid::InterfaceInfo& info) { return info.path != path_; });
    return all;
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    if (info.path != path_) {
      return Fail(hid::LinkFailure{hid::FailureKind::NotFound, info.path,
                                   "not the unit named by --device"});
    }
    return inner_.Open(info);
  }

 private:
  hid::Bus& inner_;
  std::string path_;
};

// The built-in image, or the one --image names, read into `fileImage`.
bool ChooseImage(const CliOptions& o, std::vector<std::uint8_t>& fileImage,
                 std::span<const std::uint8_t>& image, std::string& error) {
  if (o.imageFile.empty()) return true;
  if (!LoadImageFile(o.imageFile, o.force, fileImage, error)) return false;
  image = fileImage;
  return true;
}

// The command line's own run loop around the dialog's timer tick. Gives up when no byte
// has moved for the time the user allows, and stops at once on an interrupt.
void RunLoop(CFwUpdateDlg& dlg, const RunEvents& events, const CliOptions& o,
             const Environment& env, RunEnd& end) {
  const auto timeout = std::chrono::duration<double>(o.timeoutSeconds);
  auto lastMove = std::chrono::steady_clock::now();
  std::uint32_t lastBytes = dlg.engine().Snapshot().bytesDone;
  int lastPhases = events.phases();
  while (!events.done()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    const auto now = std::chrono::steady_clock::now();
    if (env.interrupted != nullptr && env.interrupted->load()) {
      end.stop = Stop::Interrupt;
    } else if (const std::uint32_t bytes = dlg.engine().Snapshot().bytesDone;
               bytes != lastBytes || events.phases() != lastPhases) {
      lastBytes = bytes;
      lastPhases = events.phases();
      lastMove = now;
    } else if (now - lastMove > timeout) {
      end.stop = Stop::Timeout;
    }
    if (end.stop != Stop::None) {
      end.phase = events.phase();
      dlg.StopWorker();
      return;
    }
    dlg.OnUpdateTimer();
  }
}

void RunVersion(CFwUpdateDlg& dlg, const RunEvents& events, const CliOptions& o,
                const Environment& env, RunEnd& end) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(o.timeoutSeconds));
  dlg.engine().SetRegisterDeadline(deadline);
  dlg.engine().SetAbortFlag(env.interrupted);
  dlg.OnCheckVersion();
  if (events.result().outcome != Outcome::VersionFailed) return;
  if (env.interrupted != nullptr && env.interrupted->load()) {
    end.stop = Stop::Interrupt;
  } else if (std::chrono::steady_clock::now() > deadline) {
    end.stop = Stop::Timeout;
  }
}

int RunUnitCommand(const CliOptions& o, const Environment& env, Output& out) {
  // Every problem with a file is found before the unit is contacted.
  std::vector<std::uint8_t> fileImage;
  std::span<const std::uint8_t> image = FirmwareImage();
  if (std::string error; !ChooseImage(o, fileImage, image, error)) {
    return EarlyEnd(out, o.command, kExitUsage, "bad-file", "file", error);
  }
  std::vector<std::uint8_t> backupBuffer;
  if (o.command == Command::Backup) {
    std::string error;
    if (!CheckBackupTarget(o.backupFile, o.force, error)) {
      return EarlyEnd(out, o.command, kExitUsage, "bad-file", "file", error);
    }
    // Everything this program can write: the whole EEPROM, whatever the image.
    backupBuffer.assign(kEepromSize, 0);
    image = backupBuffer;
  }

  std::unique_ptr<hid::Bus> ownBus;
  hid::Bus* bus = ChooseBus(o, env, ownBus);
  const bool emulated = IsEmulated(o, env);
  {
    int code = kExitUsage;
    const char* outcome = "";
    std::string error;
    if (!CheckUnitChoice(*bus, o, code, outcome, error)) {
      return EarlyEnd(out, o.command, code, outcome, outcome, error);
    }
  }

  const bool comparesImage = o.command == Command::Update || o.command == Command::Verify;
  const std::optional<std::string> imageVersion =
      comparesImage ? ImageVersionLine(image) : std::nullopt;
  const std::optional<std::string> imageFile =
      o.imageFile.empty() ? std::nullopt : std::optional(o.imageFile);

  std::optional<OneDeviceBus> oneDevice;
  if (!o.devicePath.empty()) bus = &oneDevice.emplace(*bus, o.devicePath);

  DialogOptions options;
  options.bus = bus;
  options.image = image;
  options.writePauseMs = env.writePauseMs;
  // A single read never outlasts the time the user allows for the unit to answer.
  options.readTimeoutMs = static_cast<std::uint32_t>(
      std::clamp(o.timeoutSeconds * 1000.0, 1.0, double{hid::kReadTimeoutMs}));
  options.runLockName = env.runLockName;
  options.devicePath = o.devicePath;
  if (o.trace) options.tracer = Trace;
  RunEvents events(out, o.command, emulated, [&] {
    // Before anything is sent: the image this run writes or compares with.
    if (comparesImage) out.Image(imageVersion, image.size(), imageFile);
  });
  options.events = &events;
  ConsoleWindow window([&out](const std::string& text) { out.Diagnostic(text); });
  CFwUpdateDlg dlg(window, options);
  dlg.OnInitDialog();

  RunEnd end;
  end.command = o.command;
  switch (o.command) {
    case Command::Update:
      dlg.OnStartUpdate();
      RunLoop(dlg, events, o, env, end);
      break;
    case Command::Version:
      RunVersion(dlg, events, o, env, end);
      break;
    default:
      dlg.OnReadBack();
      RunLoop(dlg, events, o, env, end);
      break;
  }
  out.EndProgress();
  end.result = events.result();
  Summary s;
  s.command = o.command;
  s.imageVersion = imageVersion;
  if (events.unit()) s.unit = events.unit()->path;
  const Outcome outcome = end.result.outcome;
  const bool compared = end.stop == Stop::None &&
                        (end.result.compared || (outcome == Outcome::ReadDone && comparesImage));
  if (compared) {
    end.difference = Compare(image, dlg.engine().ReadBack());
    s.difference = end.difference;
  }
  s.verdict = Judge(end);
  if (outcome == Outcome::VersionOk && end.stop == Stop::None) s.unitVersion = s.verdict.line;

  if (s.verdict.code == kExitNoPermission) {
    std::uint16_t productId = 0;
    for (const ConnectAttempt& a : end.result.attempts) {
      if (a.failure.kind == hid::FailureKind::PermissionDenied) productId = a.productId;
    }
    out.Diagnostic(PermissionAdvice(end.result.failure.path, productId));
  }
  if (o.command == Command::Backup && outcome == Outcome::ReadDone && end.stop == Stop::None) {
    const auto data = dlg.engine().ReadBack().first(kEepromSize);
    s.imageVersion = ImageVersionLine(data);
    out.Image(s.imageVersion, data.size(), o.backupFile);
    std::string error;
    if (SaveBackup(o.backupFile, data, error)) {
      s.verdict.line = "Saved " + std::to_string(data.size()) + " bytes to " + o.backupFile;
    } else {
      s.verdict.code = kExitInternal;
      s.verdict.outcome = "file-not-written";
      s.verdict.reasonType = "file";
      s.verdict.reasonDetail = error;
      s.verdict.diagnostic = std::string(kProgram) + ": " + error;
    }
  }
  return Finish(out, s);
}

int RunInfo(const CliOptions& o, Output& out) {
  std::vector<std::uint8_t> fileImage;
  std::span<const std::uint8_t> image = FirmwareImage();
  if (std::string error; !ChooseImage(o, fileImage, image, error)) {
    return EarlyEnd(out, o.command, kExitUsage, "bad-file", "file", error);
  }
  const auto line = ImageVersionLine(image);
  out.Json(JsonObject()
               .Text("event", "image")
               .OptText("version", line)
               .Number("bytes", static_cast<std::int64_t>(image.size()))
               .OptText("file", o.imageFile.empty() ? std::nullopt : std::optional(o.imageFile)));
  Summary s;
  s.command = o.command;
  s.imageVersion = line;
  s.verdict.code = kExitOk;
  s.verdict.outcome = "version";
  s.verdict.line = line.value_or("no version header found");
  return Finish(out, s);
}

}  // namespace

std::string UdevAdvice(std::uint16_t productId, bool ruleInstalled) {
  if (ruleInstalled) {
    return "The udev rule 70-quarnel-audio.rules is installed: access goes to the user logged "
           "in at the seat, or to members of plugdev. Join plugdev with\n"
           "  sudo adduser $USER plugdev\n"
           "then log in again and replug the device.";
  }
  return "Give this user access to the unit with a udev rule:\n"
         "  echo 'SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"" +
         Hex4(kVendorId) + "\", ATTRS{idProduct}==\"" + Hex4(productId) +
         "\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"' | sudo tee "
         "/etc/udev/rules.d/70-quarnel-audio.rules\n"
         "  sudo udevadm control --reload\n"
         "  sudo udevadm trigger\n"
         "then replug the device.";
}

int RunCli(const std::vector<std::string>& args, const Environment& env) {
  const ParsedArgs parsed = ParseArgs(args);
  switch (parsed.action) {
    case ParsedArgs::Action::Help:
      env.out << HelpText() << std::flush;
      return kExitOk;
    case ParsedArgs::Action::Version:
      env.out << VersionText(kProgram) << std::flush;
      return kExitOk;
    case ParsedArgs::Action::Usage:
      env.err << kProgram << ": " << parsed.error << " (try --help)\n" << std::flush;
      return kExitUsage;
    case ParsedArgs::Action::Run:
      break;
  }
  const CliOptions& o = parsed.options;
  Output out(o, env);
  if (o.command == Command::Info) return RunInfo(o, out);
  if (o.command == Command::List) {
    std::unique_ptr<hid::Bus> ownBus;
    return List(*ChooseBus(o, env, ownBus), IsEmulated(o, env), out);
  }
  return RunUnitCommand(o, env, out);
}

}  // namespace quarnel::cli
