#include "app/cli/Cli.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "app/FwUpdateDlg.h"
#include "app/ProgramOptions.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Console.h"
#include "app/cli/ConsoleWindow.h"
#include "app/cli/ImageFile.h"
#include "app/cli/Json.h"
#include "app/cli/Progress.h"
#include "app/cli/UnitWait.h"
#include "app/cli/Units.h"
#include "app/cli/Verdict.h"
#include "base/Text.h"
#include "engine/ImageVersion.h"
#include "engine/Products.h"

namespace quarnel::cli {

namespace {

constexpr unsigned kTickMs = 10;

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
  void Error(const std::string& text) { Diagnostic(std::string(kProgramName) + ": " + text); }

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
      Line("unit: " + ids + " " + Shown(unit.path) + " " +
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
  bool done() const { return done_; }
  const RunResult& result() const { return result_; }

 private:
  Output& out_;
  Command command_;
  bool emulated_;
  std::function<void()> afterUnit_;
  std::optional<UnitChoice> unit_;
  bool done_ = false;
  RunResult result_;
};

// What goes into the closing result.
struct Summary {
  Command command = Command::Update;
  bool noCommand = false;  // the arguments named none that could be taken
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
               .OptText("command", s.noCommand ? std::nullopt
                                               : std::optional<std::string>(CommandName(s.command)))
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

// A run that ends before any unit is contacted: files, the choice of unit.
int Settle(Output& out, Command command, Settled settled, FoundReason found) {
  RunEnd end;
  end.command = command;
  end.settled = settled;
  end.found = std::move(found);
  Summary s;
  s.command = command;
  s.verdict = Judge(end);
  return Finish(out, s);
}

FoundReason FileReason(const FileFailure& failure) {
  return {kFileReasonWord, failure.detail};
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
  SharedOptions shared = o.shared;
  if (!shared.faults.writeCycleUs) shared.faults.writeCycleUs = env.simulatedWriteCycleUs;
  own = MakeBus(shared);
  return own.get();
}

bool IsEmulated(const CliOptions& o, const Environment& env) {
  return env.bus != nullptr || o.shared.simulateProduct.has_value();
}

// How a list tells people whether a unit can be opened; scripts get FailureKindName.
std::string AccessText(const hid::LinkFailure& failure) {
  struct Word {
    hid::FailureKind kind;
    const char* text;
  };
  static constexpr Word kWords[] = {{hid::FailureKind::None, "ok"},
                                    {hid::FailureKind::PermissionDenied, "permission denied"},
                                    {hid::FailureKind::InUse, "in use"}};
  for (const Word& w : kWords) {
    if (w.kind == failure.kind) return w.text;
  }
  return hid::FailureKindName(failure.kind);
}

// A location as one word of a line: its parts (port, serial) apart by spaces, and nothing
// that reaches the terminal raw (Shown).
std::string Printable(const std::string& text) {
  std::string spaced;
  for (const char c : text) spaced += c == '\n' ? ' ' : c;
  // Padding a unit leaves at the end of its serial (spaces, zero bytes) is not shown.
  while (!spaced.empty() && static_cast<unsigned char>(spaced.back()) <= ' ') spaced.pop_back();
  const std::string shown = Shown(spaced);
  return shown.empty() ? "?" : shown;
}

void ListOne(Output& out, const SurveyedInterface& s, bool emulated) {
  const hid::InterfaceInfo& info = s.info;
  const Product* product = s.product;
  const hid::LinkFailure& failure = s.failure;
  out.Line(Shown(info.path) + "  " + IdPair(info.vendorId, info.productId) + "  " +
           (product != nullptr ? std::string(FramingWord(product->framing)) + " framing"
                               : "not a unit this program updates") +
           "  " + AccessText(failure) + "  unit " + Printable(info.location) + "  " +
           (s.used ? "used" : "not used"));
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
  out.Json(unit.Bool("emulated", emulated)
               .Text("access", failure.failed() ? hid::FailureKindName(failure.kind) : "ok")
               .Text("unit", info.location)
               .Bool("usable", s.used));
}

int List(hid::Bus& bus, bool emulated, Output& out) {
  const auto all = Survey(bus);
  for (const SurveyedInterface& s : all) ListOne(out, s, emulated);
  const bool found = !all.empty();
  RunEnd end;
  end.command = Command::List;
  end.settled = found ? Settled::Listed : Settled::NoneListed;
  Summary s;
  s.command = Command::List;
  s.verdict = Judge(end);
  return Finish(out, s);
}

// The unit a command may use: the one --device names (it must be attached and ours), or the
// one the dialog's search finds, as long as only one of ours is attached.
Status<ChoiceFailure> CheckUnitChoice(hid::Bus& bus, const CliOptions& o) {
  const auto interfaces = bus.Enumerate();
  if (!o.devicePath.empty()) {
    const auto named = std::find_if(interfaces.begin(), interfaces.end(),
                                    [&](const auto& info) { return info.path == o.devicePath; });
    if (named == interfaces.end()) {
      return Fail(ChoiceFailure{ChoiceProblem::NotAttached,
                                "no unit at " + Quoted(o.devicePath) + " (see list)"});
    }
    if (OurProduct(*named) != nullptr) return Done{};
    return Fail(
        ChoiceFailure{ChoiceProblem::NotOurs, Quoted(o.devicePath) + " is " +
                                                  IdPair(named->vendorId, named->productId) +
                                                  ", not a unit this program updates (see list)"});
  }
  if (o.command == Command::Version) return Done{};
  // Interfaces of one unit (a composite unit's volume keys beside its own) are one unit.
  if (CountUnits(interfaces) <= 1) return Done{};
  return Fail(ChoiceFailure{ChoiceProblem::Several,
                            "several units are attached; choose one with --device= (see list)"});
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

// The built-in image, or the one --image names.
Result<std::vector<std::uint8_t>, FileFailure> ChooseImage(const CliOptions& o) {
  if (o.imageFile.empty())
    return std::vector<std::uint8_t>(FirmwareImage().begin(), FirmwareImage().end());
  return LoadImageFile(o.imageFile, o.force);
}

// What the run reads or writes: the image, or for a backup as many bytes as the EEPROM holds.
// Every problem with a file is found here, before the unit is contacted.
Result<std::vector<std::uint8_t>, FileFailure> RunImage(const CliOptions& o) {
  if (o.command != Command::Backup) return ChooseImage(o);
  if (auto target = CheckBackupTarget(o.backupFile, o.force); !target) return Fail(target.error());
  return std::vector<std::uint8_t>(kEepromSize, 0);
}

bool ComparesImage(Command command) {
  return command == Command::Update || command == Command::Verify;
}

std::optional<std::string> ImageFileName(const CliOptions& o) {
  return o.imageFile.empty() ? std::nullopt : std::optional(o.imageFile);
}

DialogOptions MakeDialogOptions(const CliOptions& o, const Environment& env, hid::Bus& bus,
                                std::span<const std::uint8_t> image) {
  DialogOptions options;
  options.bus = &bus;
  options.image = image;
  options.writePauseMs = env.writePauseMs;
  // A single read never outlasts the time the user allows for the unit to answer.
  options.readTimeoutMs = static_cast<std::uint32_t>(
      std::clamp(o.timeoutSeconds * 1000.0, 1.0, double{hid::kReadTimeoutMs}));
  options.stallLimit = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(o.timeoutSeconds));
  options.interrupt = env.interrupted;
  options.runLockName = env.runLockName;
  options.devicePath = o.devicePath;
  if (o.trace) options.tracer = Trace;
  return options;
}

// How the dialog's run ended, and on which unit.
struct Ran {
  RunEnd end;
  std::optional<std::string> unit;
};

// The dialog's run, driven by the command line's own loop around its timer tick.
Ran RunDialog(const CliOptions& o, const Environment& env, Output& out, hid::Bus& bus,
              std::span<const std::uint8_t> image) {
  RunEvents events(out, o.command, IsEmulated(o, env), [&] {
    // Before anything is sent: the image this run writes or compares with.
    if (ComparesImage(o.command))
      out.Image(ImageVersionLine(image), image.size(), ImageFileName(o));
  });
  DialogOptions options = MakeDialogOptions(o, env, bus, image);
  options.events = &events;
  ConsoleWindow window([&out](const std::string& text) { out.Diagnostic(text); });
  CFwUpdateDlg dlg(window, options);
  dlg.OnInitDialog();
  if (o.command == Command::Update) {
    dlg.OnStartUpdate();
  } else if (o.command == Command::Version) {
    dlg.OnCheckVersion();
  } else {
    dlg.OnReadBack();
  }
  while (!events.done()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
    dlg.OnUpdateTimer();
  }
  out.EndProgress();
  Ran ran;
  ran.end.command = o.command;
  ran.end.result = events.result();
  ran.end.backupFile = o.backupFile;
  if (events.unit()) ran.unit = events.unit()->path;
  return ran;
}

// Saves what a backup read; the version line found in it, if any.
std::optional<std::string> SaveBackupFile(const CliOptions& o, Output& out, RunEnd& end) {
  const std::vector<std::uint8_t>& data = end.result.readBack;
  std::optional<std::string> version = ImageVersionLine(data);
  out.Image(version, data.size(), o.backupFile);
  if (auto saved = SaveBackup(o.backupFile, o.force, data); !saved) {
    end.settled = Settled::FileNotWritten;
    end.found = FileReason(saved.error());
  }
  return version;
}

// The product ID of the unit this user may not open, for the advice.
std::uint16_t RefusedProduct(const RunResult& result) {
  std::uint16_t productId = 0;
  for (const ConnectAttempt& a : result.attempts) {
    if (a.failure.kind == hid::FailureKind::PermissionDenied) productId = a.productId;
  }
  return productId;
}

int Conclude(const CliOptions& o, Output& out, Ran ran, std::span<const std::uint8_t> image) {
  RunEnd& end = ran.end;
  const RunResult& result = end.result;
  Summary s;
  s.command = o.command;
  s.unit = ran.unit;
  if (ComparesImage(o.command)) {
    s.imageVersion = ImageVersionLine(image);
    if (result.compared) s.difference = result.difference;
  }
  if (result.outcome == Outcome::VersionOk) s.unitVersion = result.versionLine;
  if (o.command == Command::Backup && result.outcome == Outcome::ReadDone) {
    s.imageVersion = SaveBackupFile(o, out, end);
  }
  s.verdict = Judge(end);
  if (s.verdict.code == kExitNoPermission) {
    out.Diagnostic(PermissionAdvice(result.failure.path, RefusedProduct(result)));
  }
  return Finish(out, s);
}

// --wait: until a unit is there; one line on stderr while it is not.
WaitEnd Wait(const CliOptions& o, const Environment& env, Output& out, PatientBus& bus) {
  std::optional<std::chrono::milliseconds> limit;
  if (o.waitSeconds) {
    limit = std::chrono::milliseconds(static_cast<std::int64_t>(*o.waitSeconds * 1000));
  }
  const std::atomic<bool>* ends = env.waitEnds != nullptr ? env.waitEnds : env.interrupted;
  return WaitForUnit(bus, o, limit, ends, [&] {
    out.Diagnostic("waiting for a unit of vendor 0x" + Hex4(kVendorId) +
                   (o.devicePath.empty() ? "" : " at " + Quoted(o.devicePath)) + " ...");
  });
}

int RunUnitCommand(const CliOptions& o, const Environment& env, Output& out) {
  const auto image = RunImage(o);
  if (!image) return Settle(out, o.command, Settled::BadFile, FileReason(image.error()));
  std::unique_ptr<hid::Bus> ownBus;
  PatientBus patient(*ChooseBus(o, env, ownBus), env.pacing);
  hid::Bus* bus = &patient;
  if (o.wait && Wait(o, env, out, patient) == WaitEnd::Interrupted) {
    return Settle(out, o.command, Settled::WaitInterrupted, {});
  }
  if (const auto chosen = CheckUnitChoice(*bus, o); !chosen) {
    const ChoiceFailure& why = chosen.error();
    return Settle(out, o.command,
                  why.kind == ChoiceProblem::Several ? Settled::SeveralUnits : Settled::NoSuchUnit,
                  {ReasonWord(why.kind), why.detail});
  }
  std::optional<OneDeviceBus> oneDevice;
  if (!o.devicePath.empty()) bus = &oneDevice.emplace(*bus, o.devicePath);
  return Conclude(o, out, RunDialog(o, env, out, *bus, *image), *image);
}

int RunInfo(const CliOptions& o, Output& out) {
  const auto image = ChooseImage(o);
  if (!image) return Settle(out, o.command, Settled::BadFile, FileReason(image.error()));
  const auto line = ImageVersionLine(*image);
  out.Json(JsonObject()
               .Text("event", "image")
               .OptText("version", line)
               .Number("bytes", static_cast<std::int64_t>(image->size()))
               .OptText("file", ImageFileName(o)));
  RunEnd end;
  end.command = o.command;
  end.settled = Settled::ImageShown;
  end.imageVersion = line;
  Summary s;
  s.command = o.command;
  s.imageVersion = line;
  s.verdict = Judge(end);
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
  const auto parsed = ParseArgs(args);
  if (!parsed) {
    env.err << kProgramName << ": " << parsed.error().detail << " (try --help)\n" << std::flush;
    CliOptions asked;
    asked.json = AsksForJson(args);
    Output out(asked, env);
    RunEnd end;
    end.settled = Settled::Usage;
    end.found = {"usage", parsed.error().detail};
    Summary s;
    s.noCommand = true;
    s.verdict = Judge(end);
    return Finish(out, s);
  }
  switch (parsed->action) {
    case ParsedArgs::Action::Help:
      env.out << HelpText() << std::flush;
      return ExitCode(Settled::Help);
    case ParsedArgs::Action::Version:
      env.out << VersionText(kProgramName) << std::flush;
      return ExitCode(Settled::Help);
    case ParsedArgs::Action::Run:
      break;
  }
  const CliOptions& o = parsed->options;
  Output out(o, env);
  if (o.command == Command::Info) return RunInfo(o, out);
  if (o.command == Command::List) {
    std::unique_ptr<hid::Bus> ownBus;
    PatientBus patient(*ChooseBus(o, env, ownBus), env.pacing);
    return List(patient, IsEmulated(o, env), out);
  }
  return RunUnitCommand(o, env, out);
}

}  // namespace quarnel::cli
