#include "app/cli/Cli.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/RunLock.h"
#include "app/cli/CliOptions.h"
#include "app/cli/Console.h"
#include "app/cli/Progress.h"
#include "app/cli/Verdict.h"
#include "emulated/EmulatedBus.h"
#include "engine/FirmwareImage.h"
#include "engine/Products.h"
#include "tests/support/ArrivingBus.h"
#include "tests/support/CompositeBus.h"
#include "tests/support/InlineTransport.h"
#include "tests/support/MultiBus.h"
#include "tests/support/QuickUnit.h"
#include "tests/support/RequestCounts.h"
#include "tests/support/TestFolder.h"

namespace quarnel::cli {
namespace {

namespace fs = std::filesystem;
using emulated::Device;

const std::string kImageLine = "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]";

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;

  std::vector<std::string> OutLines() const { return Lines(out); }
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  std::size_t ErrCount(const std::string& text) const {
    std::size_t n = 0;
    for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
    return n;
  }
};

std::string LockName() {
  return std::string("quarnel-cli-test-") +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
         std::to_string(::getpid());
}

CliRun Cli(std::vector<std::string> args, const std::atomic<bool>* interrupted = nullptr,
           hid::Bus* bus = nullptr, Pacing pacing = {},
           const std::atomic<bool>* waitEnds = nullptr) {
  std::ostringstream out;
  std::ostringstream err;
  Environment env{out, err};
  env.interrupted = interrupted;
  env.waitEnds = waitEnds;
  env.writePauseMs = 0;
  env.simulatedWriteCycleUs = 0;
  env.runLockName = LockName();
  env.bus = bus;
  env.pacing = std::move(pacing);
  CliRun r;
  r.code = RunCli(args, env);
  r.out = out.str();
  r.err = err.str();
  return r;
}

using TempFolder = testing::TestFolder;

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<std::uint8_t> Image() {
  return {FirmwareImage().begin(), FirmwareImage().end()};
}

bool Holds(const Device& device, std::span<const std::uint8_t> bytes) {
  const auto e = device.Eeprom();
  return std::equal(bytes.begin(), bytes.end(), e.begin());
}

// One emulated unit on its own bus, reachable through the test seam.
struct Unit {
  explicit Unit(std::uint16_t pid, emulated::Faults faults = {})
      : device(testing::QuickDevice(pid, faults)), bus(device) {}
  std::shared_ptr<Device> device;
  emulated::EmulatedBus bus;
};

// The fields of one JSON line: strings, numbers, true/false/null as their text, an object as
// its fields with the key's name before a dot.
std::map<std::string, std::string> ParseJson(const std::string& line, bool& ok) {
  std::map<std::string, std::string> fields;
  std::size_t i = 0;
  ok = true;
  const auto fail = [&] { ok = false; };
  const auto string = [&](std::string& s) {
    if (i >= line.size() || line[i] != '"') return fail();
    for (++i; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] == '\\' && ++i < line.size()) {
        s += line[i] == 'n' ? '\n' : line[i];
      } else {
        s += line[i];
      }
    }
    if (i++ >= line.size()) fail();
  };
  std::function<void(const std::string&)> object = [&](const std::string& prefix) {
    if (i >= line.size() || line[i++] != '{') return fail();
    while (ok && i < line.size() && line[i] != '}') {
      std::string key;
      string(key);
      if (!ok || i >= line.size() || line[i++] != ':') return fail();
      if (line[i] == '{') {
        object(prefix + key + ".");
      } else if (line[i] == '"') {
        std::string value;
        string(value);
        fields[prefix + key] = value;
      } else {
        const std::size_t end = line.find_first_of(",}", i);
        if (end == std::string::npos) return fail();
        fields[prefix + key] = line.substr(i, end - i);
        i = end;
      }
      if (i < line.size() && line[i] == ',') ++i;
    }
    if (i++ >= line.size()) fail();
  };
  object("");
  if (i != line.size()) ok = false;
  return fields;
}

TEST(Cli, UpdateUnderEachProduct) {
  for (const std::uint16_t pid : std::vector<std::uint16_t>{0x5028, 0x7030, 0x7029, 0x2004}) {
    Unit unit(pid);
    const CliRun r = Cli({"update"}, nullptr, &unit.bus);
    EXPECT_EQ(r.code, kExitOk) << pid << r.err;
    char path[32];
    std::snprintf(path, sizeof path, "emulated:%04x", unsigned{pid});
    const std::vector<std::string> expected = {"unit: 1852:" + std::string(path + 9) + " " + path +
                                                   " (built-in emulated device, no hardware)",
                                               "image: " + kImageLine, "FW UPDATE OK!"};
    EXPECT_EQ(r.OutLines(), expected) << pid;
    EXPECT_NE(r.err.find("writing 60%"), std::string::npos);
    EXPECT_NE(r.err.find("verifying 100%"), std::string::npos);
    // Nothing but the update's own requests: one per chunk in each phase.
    EXPECT_TRUE(Holds(*unit.device, FirmwareImage()));
    EXPECT_EQ(unit.device->requests(),
              testing::UpdateRequests(pid == 0x2004 ? Framing::Alternate : Framing::Standard));
  }
}

TEST(Cli, VerdictFailAndConnectFailuresHaveTheirCodes) {
  const CliRun flip = Cli({"--simulate", "--simulate-fault=flip:12287", "update"});
  EXPECT_EQ(flip.code, kExitVerifyFailed);
  const auto lines = flip.OutLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "EEPROM differs from the image: 1 bytes, first at 0x2FFF");
  EXPECT_EQ(lines[3], "FW UPDATE FAIL!");
  // The message box once, on stderr; no status texts anywhere.
  EXPECT_EQ(flip.ErrCount("Fail to update firmware!! Try to update again."), 1u);
  EXPECT_EQ(flip.out.find("Processing"), std::string::npos);
  EXPECT_EQ(flip.err.find("Processing"), std::string::npos);

  // Answers out of step in the read-back (several came twice): nothing was compared, so no
  // word about what the EEPROM holds.
  const CliRun step = Cli({"--simulate=2004", "--simulate-fault=dup:1000", "update"});
  EXPECT_EQ(step.code, kExitVerifyFailed);
  EXPECT_EQ(step.OutLines().back(), "FW UPDATE FAIL!");
  EXPECT_EQ(step.out.find("EEPROM differs"), std::string::npos) << step.out;
  EXPECT_NE(step.err.find("out of step"), std::string::npos);

  const CliRun none = Cli({"--simulate=1234", "update"});
  EXPECT_EQ(none.code, kExitNoDevice);
  EXPECT_EQ(none.OutLines(), std::vector<std::string>{"Fail to connect device!"});
  EXPECT_NE(none.err.find("tried 1852:5028, 1852:7030, 1852:7029, 1852:2004"), std::string::npos);
  EXPECT_EQ(none.ErrCount("Fail to connect USB device!"), 1u);

  const CliRun gone = Cli({"--simulate-fault=vanish-after:1536", "update"});
  EXPECT_EQ(gone.code, kExitNotVerified);
  EXPECT_EQ(gone.OutLines().back(), "Fail to connect device!");
}

TEST(Cli, SilentUnitIsJudgedByPhase) {
  const CliRun write = Cli({"--simulate-fault=silent-after:20", "--timeout=0.2", "update"});
  EXPECT_EQ(write.code, kExitStoppedAnswering);
  EXPECT_NE(write.err.find("stopped answering during the write"), std::string::npos);
  EXPECT_EQ(write.OutLines().back(), "FW UPDATE FAIL!");
  // Silent once the whole image is written: written but not verified.
  const CliRun readBack = Cli({"--simulate-fault=silent-after:1540", "--timeout=0.2", "update"});
  EXPECT_EQ(readBack.code, kExitNotVerified);
  EXPECT_NE(readBack.err.find("written but not verified"), std::string::npos);
  for (const char* command : {"verify", "version"}) {
    const CliRun r = Cli({"--simulate-fault=silent-after:0", "--timeout=0.1", command});
    EXPECT_EQ(r.code, kExitStoppedAnswering) << command;
    EXPECT_NE(r.err.find("stopped answering; nothing was written"), std::string::npos);
  }
}

// The alternate framing's answers carry no sequence number: one answer sent twice and, later,
// one lost would shift every answer between them by one chunk without any time-out. The
// answer that comes twice is waiting when the next request goes out, and dropped: each run
// ends where the lost answer is missed.
TEST(Cli, StaleAnswersNeverStandInForAnswers) {
  struct Case {
    std::vector<const char*> faults;
    std::vector<std::string> args;
    int code;
    const char* said;  // on stderr
  };
  TempFolder folder;
  const std::string file = folder.File("bk.bin");
  const Case cases[] = {
      // Without the drop, the byte at 0x00A0 would be saved at 0x00B0, the backup "complete".
      {{"flip:160", "dup-at:5", "drop:600"},
       {"backup", file, "--timeout=1"},
       kExitStoppedAnswering,
       "stopped answering"},
      // ... "FW UPDATE OK!" although the chunk with the flipped byte was never compared.
      {{"dup-at:1515", "drop:1525", "flip:12096"},
       {"update", "--timeout=1"},
       kExitNotVerified,
       "written but not verified"},
      // ... "written but not verified" although the last write was never taken.
      {{"dup-at:100", "silent-after:767"},
       {"update", "--timeout=1"},
       kExitStoppedAnswering,
       "partly written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults.front());
    emulated::Faults faults;
    for (const char* f : c.faults) ASSERT_TRUE(emulated::ApplyFault(f, faults)) << f;
    auto device = testing::QuickDevice(0x2004, faults);
    emulated::EmulatedBus bus(device, testing::InlineTransport);
    const CliRun r = Cli(c.args, nullptr, &bus);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(file));
  }
}

// Raises the interrupt when the unit takes request number `at` (counted over every
// connection), then serves it.
class InterruptAt final : public hid::ReportServer {
 public:
  InterruptAt(std::shared_ptr<Device> device, std::atomic<bool>& flag, std::uint32_t at)
      : device_(std::move(device)), flag_(flag), at_(at) {}
  hid::ServedAnswer Serve(std::span<const std::uint8_t> report) override {
    if (device_->requests() + 1 == at_) flag_ = true;
    return device_->Serve(report);
  }

 private:
  std::shared_ptr<Device> device_;
  std::atomic<bool>& flag_;
  std::uint32_t at_;
};

TEST(Cli, InterruptIsJudgedByPhase) {
  const std::atomic<bool> interrupted{true};
  EXPECT_EQ(Cli({"--simulate", "update"}, &interrupted).code, kExitInterrupted);

  struct Case {
    const char* command;
    std::uint32_t at;
    int code;
    bool hangUp = false;  // the flag a hang-up raises, which only ends a wait, not the run
  };
  // Request 1537 is the first of the read-back (7029: 1536 chunks of 8 bytes).
  for (const Case c : {Case{"update", 10, kExitInterrupted}, Case{"update", 1537, kExitNotVerified},
                       Case{"verify", 10, kExitInterrupted}, Case{"update", 10, kExitOk, true}}) {
    std::atomic<bool> flag{false};
    const std::atomic<bool> never{false};
    auto device = testing::QuickDevice(0x7029);
    emulated::EmulatedBus bus(device, [&](std::shared_ptr<hid::ReportServer>) {
      return hid::OpenLoopback(std::make_shared<InterruptAt>(device, flag, c.at));
    });
    const CliRun r = c.hangUp ? Cli({c.command, "--wait", "--timeout=600"}, &never, &bus, {}, &flag)
                              : Cli({c.command, "--timeout=600"}, &flag, &bus);
    EXPECT_EQ(r.code, c.code) << c.command << " " << c.at << r.err;
  }
}

// An emulated unit as if it were hardware: runs on it take the machine-wide lock.
class SharedUnitBus final : public hid::Bus {
 public:
  explicit SharedUnitBus(std::shared_ptr<Device> device) : inner_(std::move(device)) {}
  std::vector<hid::InterfaceInfo> Enumerate() override { return inner_.Enumerate(); }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    return inner_.Open(info);
  }

 private:
  emulated::EmulatedBus inner_;
};

TEST(Cli, EmulatedRunsTakeNoMachineWideLock) {
  LockFailure reason;
  const auto held = RunLock::TryAcquire(LockName(), reason);
  ASSERT_NE(held, nullptr);
  const CliRun r = Cli({"--simulate", "update"});
  EXPECT_EQ(r.code, kExitOk) << r.err;
  // The same unit seen as hardware takes the lock, and finds it held.
  for (const char* command : {"update", "verify"}) {
    SharedUnitBus bus(testing::QuickDevice(0x7029));
    const CliRun busy = Cli({command}, nullptr, &bus);
    EXPECT_EQ(busy.code, kExitBusy);
    EXPECT_EQ(busy.ErrCount("Another firmware update is running."), 1u);
    EXPECT_EQ(busy.OutLines().back(), "Fail to connect device!");
  }
}

TEST(Cli, VersionInfoAndList) {
  const CliRun v = Cli({"--simulate", "version"});
  EXPECT_EQ(v.code, kExitOk);
  EXPECT_EQ(v.out, "Ver. 23.07.0110.0001  2014-01-20.[0]  (Formal Release)\n");

  const CliRun i = Cli({"info"});
  EXPECT_EQ(i.code, kExitOk);
  EXPECT_EQ(i.out, kImageLine + "\n");

  const CliRun l = Cli({"--simulate=2004", "list"});
  EXPECT_EQ(l.code, kExitOk);
  EXPECT_TRUE(l.out.starts_with("emulated:2004  1852:2004  alternate framing  ok  unit emulated "))
      << l.out;
  EXPECT_TRUE(l.out.ends_with("  used\n")) << l.out;
  // Another product of the same vendor is listed, but not as something to update.
  const CliRun other = Cli({"--simulate=1234", "list"});
  EXPECT_TRUE(
      other.out.starts_with("emulated:1234  1852:1234  not a unit this program updates  ok"))
      << other.out;
  EXPECT_TRUE(other.out.ends_with("  not used\n")) << other.out;
  // IDs print as the dialog's ID fields show them: upper-case hex.
  EXPECT_NE(Cli({"--simulate=abcd", "list"}).out.find("  1852:ABCD  "), std::string::npos);
}

TEST(Cli, VerifySendsNoWriteRequest) {
  for (const std::uint16_t pid : std::vector<std::uint16_t>{0x7029, 0x2004}) {
    Unit good(pid);
    good.device->SetEeprom(0, FirmwareImage());
    const CliRun ok = Cli({"verify"}, nullptr, &good.bus);
    EXPECT_EQ(ok.code, kExitOk) << ok.err;
    EXPECT_EQ(ok.OutLines().back(), "EEPROM matches the image");
    // Read requests only: one per chunk of the image.
    EXPECT_EQ(good.device->requests(),
              testing::ReadRequests(pid == 0x2004 ? Framing::Alternate : Framing::Standard));

    Unit corrupt(pid);
    auto bytes = Image();
    bytes[0x1234] ^= 0xFF;
    bytes[0x2000] ^= 0x01;
    corrupt.device->SetEeprom(0, bytes);
    const CliRun bad = Cli({"verify"}, nullptr, &corrupt.bus);
    EXPECT_EQ(bad.code, kExitVerifyFailed);
    EXPECT_EQ(bad.OutLines().back(), "EEPROM differs from the image: 2 bytes, first at 0x1234");
    EXPECT_TRUE(Holds(*corrupt.device, bytes));  // nothing written
    // A read-only run shows no update's message box.
    EXPECT_EQ(bad.err.find("Fail to update firmware"), std::string::npos);
  }
}

TEST(Cli, BackupSavesTheWholeEepromOnlyWhenComplete) {
  TempFolder folder;
  std::vector<std::uint8_t> known(kEepromSize);
  for (std::size_t a = 0; a < known.size(); ++a) known[a] = static_cast<std::uint8_t>(a * 7 + 3);
  for (const std::uint16_t pid : std::vector<std::uint16_t>{0x7029, 0x2004}) {
    const std::string file = folder.File(pid == 0x2004 ? "alternate.bin" : "standard.bin");
    Unit unit(pid);
    unit.device->SetEeprom(0, known);
    const CliRun r = Cli({"backup", file}, nullptr, &unit.bus);
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(ReadFile(file), known);
    EXPECT_EQ(r.OutLines().back(), "Saved 16384 bytes to " + file);
    EXPECT_EQ(r.OutLines().at(1), "image: no version header found");
  }
  const std::string file = folder.File("standard.bin");
  // An existing file is kept unless --force.
  Unit unit(0x7029);
  const CliRun refused = Cli({"backup", file}, nullptr, &unit.bus);
  EXPECT_EQ(refused.code, kExitUsage);
  EXPECT_EQ(unit.device->requests(), 0u);
  EXPECT_EQ(ReadFile(file), known);
  EXPECT_EQ(Cli({"backup", file, "--force"}, nullptr, &unit.bus).code, kExitOk);
  EXPECT_EQ(ReadFile(file), std::vector<std::uint8_t>(kEepromSize, 0xFF));
  // An interrupted backup leaves no file behind, not even a partial one.
  const std::atomic<bool> interrupted{true};
  const CliRun stopped = Cli({"backup", folder.File("stopped.bin")}, &interrupted, &unit.bus);
  EXPECT_EQ(stopped.code, kExitInterrupted);
  EXPECT_EQ(folder.Names().size(), 2u);
}

TEST(Cli, UpdateFromAnImageFile) {
  TempFolder folder;
  auto changed = Image();
  changed[100] ^= 0x55;  // still has its header
  const std::string good = folder.File("good.bin");
  WriteFile(good, changed);
  std::vector<std::uint8_t> headerless(4096, 0x5A);
  const std::string blank = folder.File("blank.bin");
  WriteFile(blank, headerless);
  const std::string odd = folder.File("odd.bin");
  WriteFile(odd, std::vector<std::uint8_t>(changed.begin(), changed.begin() + 100));
  const std::string big = folder.File("big.bin");
  WriteFile(big, std::vector<std::uint8_t>(kEepromSize + 16, 0));
  const std::string empty = folder.File("empty.bin");
  WriteFile(empty, {});

  Unit unit(0x7029);
  EXPECT_EQ(Cli({"update", "--image=" + good}, nullptr, &unit.bus).code, kExitOk);
  EXPECT_TRUE(Holds(*unit.device, changed));
  const std::uint32_t sent = unit.device->requests();

  // Refused before any traffic, saying why: no header, bad lengths, a file that is not there.
  const std::string rule = "; an image is 16 to 16384 bytes, a multiple of 16";
  for (const auto& [file, words] : std::vector<std::pair<std::string, std::string>>{
           {blank, "' has no version header"},
           {odd, "' holds 100 bytes" + rule},
           {big, "' holds more than 16384 bytes" + rule},
           {empty, "' holds 0 bytes" + rule},
           {folder.File("missing.bin"), "': No such file or directory"}}) {
    const CliRun r = Cli({"update", "--image=" + file}, nullptr, &unit.bus);
    EXPECT_EQ(r.code, kExitUsage) << file;
    EXPECT_EQ(CliRun::Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.ErrCount(words), 1u) << r.err;
  }
  EXPECT_EQ(unit.device->requests(), sent);

  // A backup without header is restored with --force.
  const CliRun forced = Cli({"update", "--image=" + blank, "--force"}, nullptr, &unit.bus);
  EXPECT_EQ(forced.code, kExitOk) << forced.err;
  EXPECT_EQ(forced.OutLines().at(1), "image: no version header found");
  EXPECT_TRUE(Holds(*unit.device, headerless));
}

TEST(Cli, BackupThenRestore) {
  TempFolder folder;
  const std::string file = folder.File("unit.bin");
  Unit unit(0x2004);
  unit.device->SetEeprom(0, FirmwareImage());
  ASSERT_EQ(Cli({"backup", file}, nullptr, &unit.bus).code, kExitOk);
  unit.device->SetEeprom(0, std::vector<std::uint8_t>(kEepromSize, 0));
  const CliRun restore = Cli({"update", "--image=" + file, "--force"}, nullptr, &unit.bus);
  EXPECT_EQ(restore.code, kExitOk) << restore.err;
  EXPECT_TRUE(Holds(*unit.device, ReadFile(file)));
}

// An answer of the alternate framing repeated after the next request went out, then one lost
// or late: update, verify and backup say only what the unit holds, or fail with the reason.
// (Whether the lost answer brings the answers back in step or is one the unit never sent
// depends on how soon the worker asks again.) An update reads back from request 769 on, each
// chunk asked twice; verify and backup read from request 1.
TEST(Cli, AlternateAnswersOutOfOrderNeverGiveAFalseVerdictOrBackup) {
  TempFolder folder;
  const std::string ff = folder.File("ff.bin");
  WriteFile(ff, std::vector<std::uint8_t>(kEepromSize, 0xFF));
  const std::string file = folder.File("b.bin");
  const CliRun update =
      Cli({"--simulate=2004", "--simulate-fault=flip:0x2F45", "--simulate-fault=late-dup:2275",
           "--simulate-fault=drop:2282", "--timeout=1", "update"});
  EXPECT_NE(update.code, kExitOk);
  EXPECT_EQ(update.OutLines().back(), "FW UPDATE FAIL!");
  if (update.code == kExitVerifyFailed) {
    EXPECT_NE(update.out.find("EEPROM differs from the image: 1 bytes, first at 0x2F45"),
              std::string::npos);
  }
  const CliRun verify = Cli({"--simulate=2004", "--simulate-fault=flip:0x3FF5",
                             "--simulate-fault=late-dup:1000", "--simulate-fault=delay-from:2048",
                             "--simulate-fault=delay:100", "verify", "--image=" + ff, "--force"});
  EXPECT_EQ(verify.code, kExitVerifyFailed);
  EXPECT_EQ(verify.OutLines().back(), "EEPROM differs from the image: 1 bytes, first at 0x3FF5");
  const CliRun backup =
      Cli({"--simulate=2004", "--simulate-fault=flip:0x2005", "--simulate-fault=late-dup:500",
           "--simulate-fault=drop:1100", "--timeout=1", "backup", file});
  if (backup.code == kExitOk) {
    // The unit is erased but for the byte it reads back inverted.
    std::vector<std::uint8_t> unit(kEepromSize, 0xFF);
    unit[0x2005] = 0x00;
    EXPECT_EQ(ReadFile(file), unit);
  } else {
    EXPECT_EQ(backup.code, kExitStoppedAnswering);
    EXPECT_FALSE(fs::exists(file));
  }
}

TEST(Cli, DeviceChoosesOneOfSeveralUnits) {
  auto first = testing::QuickDevice(0x7029);
  auto second = testing::QuickDevice(0x7029);
  std::vector<testing::MultiBus::Member> units;
  units.push_back({std::make_unique<emulated::EmulatedBus>(first), "emulated:7029/1"});
  // A path as a system might give it, with bytes no line may carry raw.
  const std::string hostile = "emulated:7029/2\x1b[2J\n";
  units.push_back({std::make_unique<emulated::EmulatedBus>(second), hostile});
  testing::MultiBus bus(std::move(units));

  for (const char* command : {"update", "verify"}) {
    const CliRun several = Cli({command}, nullptr, &bus);
    EXPECT_EQ(several.code, kExitUsage);
    EXPECT_NE(several.err.find("several units are attached; choose one with --device= (see list)"),
              std::string::npos);
  }
  EXPECT_EQ(Cli({"backup", "x.bin"}, nullptr, &bus).code, kExitUsage);
  EXPECT_EQ(first->requests() + second->requests(), 0u);

  EXPECT_EQ(Cli({"--device=emulated:7029/3", "update"}, nullptr, &bus).code, kExitNoDevice);
  const CliRun chosen = Cli({"--device=" + hostile, "update"}, nullptr, &bus);
  EXPECT_EQ(chosen.code, kExitOk) << chosen.err;
  EXPECT_EQ(chosen.OutLines().front(),
            "unit: 1852:7029 emulated:7029/2?[2J? (built-in emulated device, no hardware)");
  const CliRun listed = Cli({"list"}, nullptr, &bus);
  ASSERT_EQ(listed.OutLines().size(), 2u) << listed.out;
  EXPECT_TRUE(listed.OutLines().at(1).starts_with("emulated:7029/2?[2J?  1852:7029")) << listed.out;
  EXPECT_TRUE(Holds(*second, FirmwareImage()));
  EXPECT_EQ(first->requests(), 0u);
}

TEST(Cli, CompositeUnitIsOneUnit) {
  auto device = testing::QuickDevice(0x7029);
  testing::CompositeBus bus(std::make_unique<emulated::EmulatedBus>(device));

  // Both interfaces are listed with their one unit; the program would use the second.
  const CliRun l = Cli({"list"}, nullptr, &bus);
  ASSERT_EQ(l.OutLines().size(), 2u) << l.out;
  EXPECT_TRUE(l.OutLines()[0].starts_with("emulated:7029/consumer-control  1852:7029  "));
  EXPECT_TRUE(l.OutLines()[0].ends_with("  not used"));
  EXPECT_TRUE(l.OutLines()[1].starts_with("emulated:7029  1852:7029  standard framing  ok  unit "));
  EXPECT_TRUE(l.OutLines()[1].ends_with("  used"));
  const CliRun j = Cli({"list", "--json"}, nullptr, &bus);
  bool ok = false;
  const auto keys = ParseJson(j.OutLines().at(0), ok);
  ASSERT_TRUE(ok);
  const auto own = ParseJson(j.OutLines().at(1), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(keys.at("unit"), own.at("unit"));
  EXPECT_EQ(keys.at("usable"), "false");
  EXPECT_EQ(own.at("usable"), "true");

  // One unit: nothing to choose between.
  for (const char* command : {"update", "verify", "version"}) {
    EXPECT_NE(Cli({command}, nullptr, &bus).code, kExitUsage) << command;
  }
  // The composite unit and another unit are two.
  std::vector<testing::MultiBus::Member> buses;
  buses.push_back({std::make_unique<testing::CompositeBus>(
                       std::make_unique<emulated::EmulatedBus>(testing::QuickDevice(0x7029))),
                   ""});
  buses.push_back({std::make_unique<emulated::EmulatedBus>(testing::QuickDevice(0x2004)), ""});
  testing::MultiBus two(std::move(buses));
  for (const char* command : {"update", "verify"}) {
    EXPECT_EQ(Cli({command}, nullptr, &two).code, kExitUsage) << command;
  }
  EXPECT_EQ(Cli({"backup", "x.bin"}, nullptr, &two).code, kExitUsage);

  // The link passes over the volume keys' interface: the unit is updated and read through its
  // own.
  const CliRun update = Cli({"update"}, nullptr, &bus);
  EXPECT_EQ(update.code, kExitOk) << update.err;
  EXPECT_TRUE(Holds(*device, FirmwareImage()));
  const CliRun version = Cli({"version"}, nullptr, &bus);
  EXPECT_EQ(version.code, kExitOk) << version.err;
}

// Waiting for a unit to be plugged in, and for udev to let this user open it: every wait and
// pause moves a fake clock, nothing sleeps.
TEST(Cli, WaitsForAUnitAndForAccess) {
  using std::chrono::milliseconds;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    testing::Arrival arrival;
    int code;
    std::string announced;  // the one "waiting for a unit" line, or none
    int waits;              // at most, or exactly where the unit never comes
    milliseconds paused;    // the pauses before access, at most
    bool hangUp = false;    // the bus raises the flag of a hang-up instead of Ctrl-C's
  };
  const std::string waiting = "waiting for a unit of vendor 0x1852 ...";
  const milliseconds young{500};
  const milliseconds old{5000};
  const std::vector<Case> cases = {
      {"present", {"update", "--wait"}, {0, 0, old, -1}, kExitOk, "", 0, milliseconds{0}},
      {"comes", {"update", "--wait"}, {3, 0, old, -1}, kExitOk, waiting, 3, milliseconds{0}},
      {"comes, version",
       {"version", "--wait=60"},
       {2, 0, old, -1},
       kExitOk,
       waiting,
       2,
       milliseconds{0}},
      {"never comes",
       {"verify", "--wait=5"},
       {-1, 0, old, -1},
       kExitNoDevice,
       waiting,
       5,
       milliseconds{0}},
      // The name given is shown by the rule for names from outside.
      {"named unit never comes",
       {"update", "--wait=2", "--device=/dev/\x1b[2J\nx"},
       {-1, 0, old, -1},
       kExitNoDevice,
       "waiting for a unit of vendor 0x1852 at '/dev/?[2J?x' ...",
       2,
       milliseconds{0}},
      {"no --wait", {"update"}, {1, 0, old, -1}, kExitNoDevice, "", 0, milliseconds{0}},
      {"Ctrl-C",
       {"update", "--wait"},
       {-1, 0, old, 2},
       kExitInterrupted,
       waiting,
       2,
       milliseconds{0}},
      // The terminal closed: nobody is left to plug a unit in.
      {"hang-up",
       {"update", "--wait=100"},
       {-1, 0, old, 3},
       kExitInterrupted,
       waiting,
       3,
       milliseconds{0},
       true},
      {"Ctrl-C, backup",
       {"backup", "w.bin", "--wait=100"},
       {-1, 0, old, 1},
       kExitInterrupted,
       waiting,
       1,
       milliseconds{0}},
      // udev gives access a moment after the node appears.
      {"young node refuses", {"update"}, {0, 3, young, -1}, kExitOk, "", 0, milliseconds{300}},
      {"came while waiting",
       {"update", "--wait"},
       {2, 4, std::nullopt, -1},
       kExitOk,
       waiting,
       2,
       milliseconds{2000}},
      {"old node refuses", {"update"}, {0, 1, old, -1}, kExitNoPermission, "", 0, milliseconds{0}},
      {"young node keeps refusing",
       {"version"},
       {0, -1, young, -1},
       kExitNoPermission,
       "",
       0,
       milliseconds{2000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> interrupt{false};
    std::atomic<bool> hangUp{false};
    testing::FakeClock clock;
    Unit unit(0x7029);
    testing::ArrivingBus bus(unit.bus, c.arrival, clock, c.hangUp ? &hangUp : &interrupt);
    Pacing pacing{[&clock] { return clock.now; },
                  [&clock](milliseconds ms) {
                    clock.paused += ms;
                    clock.Advance(ms);
                  }};
    const CliRun r = Cli(c.args, &interrupt, &bus, pacing, c.hangUp ? &hangUp : nullptr);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_EQ(r.ErrCount("waiting for a unit of vendor"), c.announced.empty() ? 0u : 1u) << r.err;
    if (!c.announced.empty()) {
      EXPECT_EQ(r.ErrCount(c.announced + "\n"), 1u) << r.err;
    }
    if (c.arrival.afterWaits < 0 && c.arrival.interruptAtWait < 0) {
      // Never comes: waits for the whole limit, looking again at least once a second.
      EXPECT_GE(bus.waits, c.waits);
      EXPECT_LE(clock.now - testing::FakeClock{}.now, std::chrono::seconds(6));
    } else {
      EXPECT_EQ(bus.waits, c.waits);
    }
    EXPECT_LE(clock.paused, c.paused);
    if (c.code == kExitInterrupted) {
      EXPECT_EQ(unit.device->requests(), 0u);
      EXPECT_NE(r.err.find("interrupted while waiting for a unit; nothing was sent"),
                std::string::npos);
    }
    if (c.code == kExitOk && c.args[0] == std::string("update")) {
      EXPECT_TRUE(Holds(*unit.device, FirmwareImage()));
    }
  }
}

TEST(Cli, JsonLinesCarryTheirFields) {
  const CliRun r = Cli({"--json", "--simulate=2004", "update"});
  ASSERT_EQ(r.code, kExitOk);
  EXPECT_TRUE(r.err.empty()) << r.err;
  std::vector<std::map<std::string, std::string>> events;
  for (const auto& line : r.OutLines()) {
    bool ok = false;
    events.push_back(ParseJson(line, ok));
    ASSERT_TRUE(ok) << line;
  }
  ASSERT_GE(events.size(), 5u);
  const std::map<std::string, std::string> unit = {
      {"event", "unit"},   {"path", "emulated:2004"}, {"vendor", "1852"},
      {"product", "2004"}, {"framing", "alternate"},  {"emulated", "true"}};
  EXPECT_EQ(events[0], unit);
  const std::map<std::string, std::string> image = {
      {"event", "image"}, {"version", kImageLine}, {"bytes", "12288"}, {"file", "null"}};
  EXPECT_EQ(events[1], image);
  EXPECT_EQ(events[2],
            (std::map<std::string, std::string>{{"event", "phase"}, {"phase", "write"}}));
  std::vector<std::string> phases;
  int lastPercent = -1;
  for (const auto& e : events) {
    if (e.at("event") == "phase") phases.push_back(e.at("phase"));
    if (e.at("event") != "progress") continue;
    EXPECT_EQ(e.size(), 5u);
    EXPECT_EQ(e.at("phase"), phases.back());
    EXPECT_EQ(e.at("total"), "12288");
    const int percent = std::stoi(e.at("percent"));
    EXPECT_EQ(percent, static_cast<int>(std::stoul(e.at("bytes")) * 100 / 12288));
    if (percent != 0) {
      EXPECT_GT(percent, lastPercent);
    }
    lastPercent = percent;
  }
  EXPECT_EQ(phases, (std::vector<std::string>{"write", "read-back"}));
  EXPECT_EQ(lastPercent, 100);
  const std::map<std::string, std::string> result = {{"event", "result"},
                                                     {"command", "update"},
                                                     {"outcome", "ok"},
                                                     {"code", "0"},
                                                     {"reason", "null"},
                                                     {"unit", "emulated:2004"},
                                                     {"imageVersion", kImageLine},
                                                     {"unitVersion", "null"},
                                                     {"differing", "0"},
                                                     {"firstDifference", "null"}};
  EXPECT_EQ(events.back(), result);
  // No window internals.
  EXPECT_EQ(r.out.find("colour"), std::string::npos);
  EXPECT_EQ(r.out.find("..."), std::string::npos);

  const CliRun none = Cli({"--json", "--simulate=1234", "update"});
  bool ok = false;
  const auto failed = ParseJson(none.OutLines().back(), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(failed.at("code"), "2");
  EXPECT_EQ(failed.at("reason.type"), "not-found");
  EXPECT_EQ(failed.at("unit"), "null");
  // A reason is why, not the outcome again.
  const CliRun named = Cli({"--json", "--simulate", "--device=emulated:none", "update"});
  const auto unnamed = ParseJson(named.OutLines().back(), ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(unnamed.at("outcome"), "no-unit");
  EXPECT_EQ(unnamed.at("reason.type"), "not-found");

  const CliRun list = Cli({"--json", "--simulate", "list"});
  EXPECT_EQ(ParseJson(list.OutLines().at(0), ok).at("access"), "ok");
}

// verify and backup update nothing: however they end, none of the update's words.
TEST(Cli, ReadOnlyRunsHaveWordsOfTheirOwn) {
  TempFolder folder;
  const std::string file = folder.File("unit.bin");
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* outcome;
  };
  const std::vector<Case> cases = {
      {{"--simulate-fault=vanish-after:1", "verify"}, kExitStoppedAnswering, "link-lost"},
      {{"--simulate-fault=vanish-after:1", "backup", file}, kExitStoppedAnswering, "link-lost"},
      // Several answers come twice: more than one repeated answer leaves, so answers may
      // have been taken two requests late and nothing read can be trusted.
      {{"--simulate=2004", "--simulate-fault=dup:300", "verify"}, kExitVerifyFailed, "out-of-step"},
      {{"--simulate=2004", "--simulate-fault=dup:300", "backup", file},
       kExitVerifyFailed,
       "out-of-step"},
      {{"--simulate-fault=silent-after:0", "--timeout=0.1", "backup", file},
       kExitStoppedAnswering,
       "stopped-answering"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CliRun text = Cli(c.args);
    EXPECT_EQ(text.code, c.code) << text.err;
    EXPECT_EQ(text.OutLines().back(), "Fail to connect device!");
    for (const char* words : {"The firmware was written", "Fail to update firmware",
                              "FW UPDATE FAIL!", "run the update again", "verified"}) {
      EXPECT_EQ((text.out + text.err).find(words), std::string::npos) << words << "\n" << text.err;
    }
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    const CliRun json = Cli(args);
    bool ok = false;
    const auto result = ParseJson(json.OutLines().back(), ok);
    ASSERT_TRUE(ok) << json.out;
    EXPECT_EQ(result.at("outcome"), c.outcome);
    EXPECT_EQ(result.at("code"), std::to_string(c.code));
    EXPECT_EQ(result.count("reason.type"), 1u) << json.out;
    EXPECT_EQ(folder.Names().size(), 0u);
  }
}

// With --json every run prints JSON lines only, the last one the result; without, a run that
// found no unit to use ends with the connect failure.
TEST(Cli, EveryRunEndsWithItsResult) {
  testing::MultiBus noUnit({});
  struct Case {
    std::vector<std::string> args;
    hid::Bus* bus;
    int code;
    std::string lastLine;  // of the text form, its start; empty: no stdout at all
  };
  const std::vector<Case> cases = {
      {{"--bogus", "update"}, nullptr, kExitUsage, ""},
      {{"update", "version"}, nullptr, kExitUsage, ""},
      {{"list"}, &noUnit, kExitNoDevice, ""},
      {{"--simulate=1234", "version"}, nullptr, kExitNoDevice, "Fail to connect device!"},
      {{"--simulate", "--device=X", "version"}, nullptr, kExitNoDevice, "Fail to connect device!"},
      {{"--simulate", "--device=X", "verify"}, nullptr, kExitNoDevice, "Fail to connect device!"},
      {{"--simulate", "list"},
       nullptr,
       kExitOk,
       "emulated:7029  1852:7029  standard framing  ok  unit emulated unit "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const CliRun text = Cli(c.args, nullptr, c.bus);
    EXPECT_EQ(text.code, c.code);
    const std::string last = text.OutLines().empty() ? "" : text.OutLines().back();
    if (c.lastLine.empty()) {
      EXPECT_EQ(last, "");
    } else {
      EXPECT_TRUE(last.starts_with(c.lastLine)) << last;
    }
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "--json");
    const CliRun json = Cli(args, nullptr, c.bus);
    EXPECT_EQ(json.code, c.code);
    ASSERT_FALSE(json.OutLines().empty());
    for (const auto& line : json.OutLines()) {
      bool ok = false;
      ParseJson(line, ok);
      EXPECT_TRUE(ok) << line;
    }
    bool ok = false;
    const auto result = ParseJson(json.OutLines().back(), ok);
    EXPECT_EQ(result.at("event"), "result");
    EXPECT_EQ(result.at("code"), std::to_string(c.code));
    if (c.code == kExitUsage) {
      EXPECT_EQ(result.at("command"), "null");
      EXPECT_EQ(result.at("reason.type"), "usage");
    }
  }
  // After --, --json is a word, not a wish.
  EXPECT_TRUE(Cli({"update", "--", "--json"}).out.empty());
}

TEST(Cli, UsageErrors) {
  const std::string longName(80, 'x');
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"--bogus", "update"},
                                             {"update", "version"},
                                             {"--timeout=0", "update"},
                                             // It would round to 0: no limit at all.
                                             {"--timeout=0.0000000001", "update"},
                                             {"--timeout=0.0009", "verify"},
                                             {"--timeout=abc", "update"},
                                             {"--timeout=1e3", "update"},
                                             {"--timeout=+5", "update"},
                                             {"--timeout= 5", "update"},
                                             {"--timeout", "5", "update"},
                                             {"--wait=", "update"},
                                             {"--wait=0", "update"},
                                             {"--wait=0.0000000001", "update"},
                                             {"--wait=soon", "verify"},
                                             {"--wait", "list"},
                                             {"--wait=5", "info"},
                                             {"--simulate=xyz", "update"},
                                             {"--simulate-fault=flip", "update"},
                                             {"--report=x.txt", "update"},
                                             {"backup"},
                                             {"backup", "a.bin", "b.bin"},
                                             {"update", "a.bin"},
                                             {"--image=x.bin", "version"},
                                             {"--device=x", "info"},
                                             {"--force=yes", "update"},
                                             {"--image=", "update"},
                                             {"--", "--simulate", "update"},
                                             {"update", "--" + longName},
                                             {"update", "--bo\ngus\x1b[2J"}}) {
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, kExitUsage) << ::testing::PrintToString(args);
    // One line saying what is wrong, not the whole help.
    EXPECT_EQ(CliRun::Lines(r.err).size(), 1u) << r.err;
    EXPECT_NE(r.err.find("try --help"), std::string::npos);
    EXPECT_TRUE(r.out.empty());
  }
  // A limit refused says the least one there is.
  EXPECT_NE(Cli({"--wait=0.0001", "update"}).err.find("from 0.001 to 86400"), std::string::npos);
  const CliRun quoted = Cli({"update", "--" + longName});
  EXPECT_NE(quoted.err.find("'--" + longName.substr(0, 30) + "...'"), std::string::npos);
  // Options anywhere, -- ends them.
  EXPECT_EQ(Cli({
                    "info",
                    "--quiet",
                    "--",
                })
                .code,
            kExitOk);
  EXPECT_EQ(Cli({"--help"}).code, kExitOk);
}

TEST(Cli, HelpFitsEightyColumnsAndNamesEveryFault) {
  const CliRun r = Cli({"update", "--help"});
  EXPECT_EQ(r.code, kExitOk);
  for (const auto& line : r.OutLines()) EXPECT_LE(line.size(), 80u) << line;
  for (const char* fault : {"flip:ADDR", "silent-after:N", "vanish-after:N", "stale:N", "dup:N",
                            "drop:N", "delay:MS", "refuse-writes"}) {
    EXPECT_NE(r.out.find(fault), std::string::npos) << fault;
  }
  for (const char* code :
       {"  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  5 ", "  6 ", "  64 ", "  70 ", "  77 "}) {
    EXPECT_NE(r.out.find(code), std::string::npos) << code;
  }
  // The exit codes the help lists are those of the outcome table, no more and no fewer.
  std::set<int> listed;
  const auto lines = r.OutLines();
  auto line = std::find(lines.begin(), lines.end(), "Exit codes:");
  ASSERT_NE(line, lines.end());
  for (++line; line != lines.end(); ++line) {
    if (line->size() > 2 && line->substr(0, 2) == "  " &&
        std::isdigit(static_cast<unsigned char>(line->at(2))) != 0) {
      listed.insert(std::stoi(*line));
    }
  }
  std::set<int> table;
  for (const OutcomeWords& row : OutcomeTable()) table.insert(row.code);
  EXPECT_EQ(listed, table);
}

TEST(CliOptions, NumbersAndPlacement) {
  const auto p = ParseArgs({"--timeout=2.5", "backup", "--force", "out.bin", "--simulate=0x2004",
                            "--device=emulated:2004"});
  ASSERT_TRUE(p.ok()) << p.error().detail;
  ASSERT_EQ(p->action, ParsedArgs::Action::Run);
  EXPECT_EQ(p->options.command, Command::Backup);
  EXPECT_EQ(p->options.backupFile, "out.bin");
  EXPECT_DOUBLE_EQ(p->options.timeoutSeconds, 2.5);
  EXPECT_EQ(p->options.shared.simulateProduct, 0x2004);
  EXPECT_TRUE(p->options.force);
  // After --, a word that looks like an option is a file name.
  const auto file = ParseArgs({"backup", "--", "--odd.bin"});
  ASSERT_TRUE(file.ok()) << file.error().detail;
  ASSERT_EQ(file->action, ParsedArgs::Action::Run);
  EXPECT_EQ(file->options.backupFile, "--odd.bin");
  // The least limit there is.
  const auto least = ParseArgs({"--timeout=0.001", "--wait=0.001", "version"});
  ASSERT_TRUE(least.ok()) << least.error().detail;
  EXPECT_EQ(least->options.waitSeconds, 0.001);
  // Wrappers that always pass a time limit may list units too.
  const auto list = ParseArgs({"--timeout=5", "list"});
  ASSERT_TRUE(list.ok());
  EXPECT_EQ(list->action, ParsedArgs::Action::Run);
}

TEST(ProgressLine, FitsEveryWidth) {
  struct Case {
    int columns;
    const char* expected;
  };
  const ProgressState state{"writing", 6144, 12288, 75};
  for (const Case c : {
           Case{120,
                "writing   [####################....................]  50%  6144/12288 bytes  "
                "1:15 left"},
           Case{80,
                "writing   [################.................]  50%  6144/12288 bytes  1:15 "
                "left"},
           Case{0,
                "writing   [################.................]  50%  6144/12288 bytes  1:15 "
                "left"},
           Case{60, "writing   [######.......]  50%  6144/12288 bytes  1:15 left"},
           Case{40, "writing   [###########...........]  50%"},
           Case{20, "writing    50%"},
           Case{10, "writing  "},
           Case{1, ""},
       }) {
    const std::string line = FormatProgressLine(state, c.columns);
    EXPECT_EQ(line, c.expected) << c.columns;
    EXPECT_LT(static_cast<int>(line.size()), c.columns == 0 ? 80 : c.columns);
  }
  EXPECT_EQ(Percent(12288, 12288), 100);
  EXPECT_EQ(Percent(1, 0), 0);
}

TEST(Verdict, ExitCodesFromTheOutlet) {
  struct Case {
    Command command;
    Outcome outcome;
    Phase phase;
    hid::FailureKind kind;
    int code;
    const char* line;
  };
  using enum Outcome;
  using K = hid::FailureKind;
  constexpr Phase W = Phase::Write;
  constexpr Phase R = Phase::ReadBack;
  constexpr Command U = Command::Update;
  constexpr Command V = Command::Verify;
  const char* fail = "FW UPDATE FAIL!";
  const char* connect = "Fail to connect device!";
  for (const Case c : {
           Case{U, UpdateOk, R, K::None, kExitOk, "FW UPDATE OK!"},
           Case{U, LinkLost, W, K::Gone, kExitStoppedAnswering, fail},
           Case{U, LinkLost, R, K::Gone, kExitNotVerified, fail},
           Case{V, LinkLost, R, K::IoError, kExitStoppedAnswering, connect},
           Case{U, LockFailed, W, K::None, kExitInternal, connect},
           Case{U, Busy, W, K::None, kExitBusy, connect},
           Case{U, ConnectFailed, W, K::InUse, kExitBusy, connect},
           Case{U, ConnectFailed, W, K::PermissionDenied, kExitNoPermission, connect},
           Case{U, ConnectFailed, W, K::UnsupportedReports, kExitNoDevice, connect},
           Case{Command::Backup, ConnectFailed, W, K::NotFound, kExitNoDevice, connect},
           Case{U, ReadBackConnectFailed, R, K::NotFound, kExitNotVerified, connect},
           Case{U, WorkerFailed, W, K::OutOfResources, kExitInternal, fail},
           Case{U, TimedOut, W, K::None, kExitStoppedAnswering, fail},
           Case{U, TimedOut, R, K::None, kExitNotVerified, fail},
           Case{U, Interrupted, W, K::None, kExitInterrupted, fail},
           Case{U, Interrupted, R, K::None, kExitNotVerified, fail},
           Case{V, Interrupted, R, K::None, kExitInterrupted, connect},
           Case{Command::Version, TimedOut, W, K::None, kExitStoppedAnswering,
                "Fail to get firmware version!"},
           Case{Command::Version, VersionFailed, W, K::None, kExitVerifyFailed,
                "Fail to get firmware version!"},
       }) {
    RunEnd end;
    end.command = c.command;
    end.result.outcome = c.outcome;
    end.result.phase = c.phase;
    end.result.failure.kind = c.kind;
    const Verdict v = Judge(end);
    EXPECT_EQ(v.code, c.code) << static_cast<int>(c.outcome) << " " << static_cast<int>(c.phase);
    EXPECT_EQ(v.line, c.line) << static_cast<int>(c.outcome);
  }
}

TEST(Verdict, BackupEndsWithWhatBecameOfTheFile) {
  struct Case {
    Settled settled;
    const char* file;
    int code;
    const char* outcome;
    const char* line;
  };
  for (const Case c : {
           Case{Settled::ByRun, "unit.bin", kExitOk, "saved", "Saved 16384 bytes to unit.bin"},
           // A name can never make a line of its own, least of all a verdict.
           Case{Settled::ByRun, "x\nFW UPDATE OK!\x1b[2J", kExitOk, "saved",
                "Saved 16384 bytes to x?FW UPDATE OK!?[2J"},
           Case{Settled::FileNotWritten, "unit.bin", kExitInternal, "file-not-written",
                "Backup not saved: cannot write 'unit.bin': No space left on device"},
       }) {
    RunEnd end;
    end.command = Command::Backup;
    end.settled = c.settled;
    end.result.outcome = Outcome::ReadDone;
    end.result.readBack.assign(kEepromSize, 0);
    end.backupFile = c.file;
    if (c.settled == Settled::FileNotWritten)
      end.found = {"file", "cannot write 'unit.bin': No space left on device"};
    const Verdict v = Judge(end);
    EXPECT_EQ(v.code, c.code) << c.line;
    EXPECT_EQ(v.outcome, c.outcome);
    EXPECT_EQ(v.line, c.line);
  }
}

TEST(Verdict, PermissionAdviceDependsOnTheInstalledRule) {
  EXPECT_NE(UdevAdvice(0x7029, true).find("sudo adduser $USER plugdev"), std::string::npos);
  const std::string rule = UdevAdvice(0x2004, false);
  EXPECT_NE(rule.find("ATTRS{idProduct}==\"2004\""), std::string::npos);
  EXPECT_NE(rule.find("| sudo tee /etc/udev/rules.d/70-quarnel-audio.rules"), std::string::npos);
  EXPECT_NE(rule.find("sudo udevadm control --reload"), std::string::npos);
}

}  // namespace
}  // namespace quarnel::cli
