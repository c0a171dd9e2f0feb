// The cut-point sweep: a whole update on the emulated unit, with the unit failing at request N,
// for each framing, each kind of failure and many N. Each run is judged against the unit's
// EEPROM itself, through the exit code the command line gives for the run's outcome:
// "FW UPDATE OK!" (0) only if the EEPROM holds the image, 5 (written but not verified) only if
// the whole image was written, 3 (lost or silent during the write) only if it was not; and no
// run hangs. A unit that reads a byte back wrong never gets "FW UPDATE OK!".
//
// The N of every run: within 4 of each phase's start and end, where the sequence number wraps
// and one on each side, and 20 more from a fixed seed. With QUARNEL_SWEEP_EVERY=1 in the
// environment (scripts/sweep.sh), every N instead.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "app/ExitCodes.h"
#include "app/FwUpdateDlg.h"
#include "app/cli/Verdict.h"
#include "emulated/EmulatedBus.h"
#include "engine/Products.h"
#include "resources/resource.h"
#include "tests/support/HeadlessWindow.h"
#include "tests/support/QuickUnit.h"
#include "tests/support/RequestCounts.h"

namespace quarnel {
namespace {

using emulated::Device;
using emulated::Faults;

// How long one run may take before it counts as hung: a guard, not a wait.
constexpr auto kHangGuard = std::chrono::seconds(30);
// Each late answer comes this late: enough for the answers to lag behind the requests, little
// enough for hundreds of runs.
constexpr std::uint32_t kDelayUs = 50;

enum class Cut : std::uint8_t {
  Vanish,
  Silent,
  Duplicate,
  DuplicateThenLate,
  LateDuplicate,  // comes again after the next request went out
  // ... and an answer 7 requests later is lost, with a byte of its chunk read back wrong: the
  // unit never says it holds the image.
  LateDuplicateThenLost,
};

const char* Name(Cut cut) {
  switch (cut) {
    case Cut::Vanish:
      return "Vanish";
    case Cut::Silent:
      return "Silent";
    case Cut::Duplicate:
      return "Duplicate";
    case Cut::DuplicateThenLate:
      return "DuplicateThenLate";
    case Cut::LateDuplicate:
      return "LateDuplicate";
    case Cut::LateDuplicateThenLost:
      return "LateDuplicateThenLost";
  }
  return "?";
}

// A byte of the chunk that request n asks for (in an update's read-back, of the alternate
// framing: two requests per chunk from request 769 on); of the image's first chunk before.
std::uint16_t AddressAskedBy(std::uint16_t pid, std::uint32_t n) {
  const std::uint32_t writes = testing::Chunks(FramingForProduct(pid));
  const std::uint32_t perChunk = pid == 0x2004 ? 2 : 1;
  const std::uint32_t chunk = n > writes ? (n - writes - 1) / perChunk : 0;
  const std::uint32_t size = FindProduct(pid)->chunkSize;
  return static_cast<std::uint16_t>(
      std::min<std::size_t>(chunk * size + size / 2, FirmwareImage().size() - 1));
}

Faults FaultsFor(std::uint16_t pid, Cut cut, std::uint32_t n) {
  switch (cut) {
    case Cut::Vanish:
      return Faults{.vanishAfter = n};
    case Cut::Silent:
      return Faults{.silentAfter = n};
    case Cut::Duplicate:
      return Faults{.dupAt = n};
    case Cut::DuplicateThenLate:
      return Faults{.dupAt = n, .delayUs = kDelayUs, .delayFrom = n};
    case Cut::LateDuplicate:
      return Faults{.lateDupAt = n};
    case Cut::LateDuplicateThenLost:
      return Faults{.flipAddress = AddressAskedBy(pid, n + 7), .dropEvery = n + 7, .lateDupAt = n};
  }
  return {};
}

// The command line's exit code for how an update ended (the contract of both programs).
int ExitCodeOf(const RunResult& result) {
  cli::RunEnd end;
  end.command = cli::Command::Update;
  end.result = result;
  return cli::Judge(end).code;
}

std::set<std::uint32_t> CutPoints(std::uint16_t pid) {
  const std::uint32_t phase = testing::Chunks(FramingForProduct(pid));
  const std::uint32_t total = testing::UpdateRequests(FramingForProduct(pid));
  std::set<std::uint32_t> n;
  const char* every = std::getenv("QUARNEL_SWEEP_EVERY");
  if (every != nullptr && std::string(every) == "1") {
    for (std::uint32_t i = 1; i <= total + 4; ++i) n.insert(i);
    return n;
  }
  const auto around = [&](std::uint32_t at) {
    for (std::uint32_t i = at > 4 ? at - 4 : 1; i <= at + 4; ++i) n.insert(i);
  };
  for (const std::uint32_t at : {1u, phase, phase + 1, total}) around(at);
  // Request k carries sequence number (k - 1) % 255 + 1: after 255, 510, ... it wraps to 1.
  for (std::uint32_t wrap = 255; wrap <= total; wrap += 255) {
    for (std::uint32_t i = wrap - 1; i <= wrap + 2; ++i) n.insert(i);
  }
  std::mt19937 random(20261208u);
  for (int i = 0; i < 20; ++i) n.insert(1 + static_cast<std::uint32_t>(random() % total));
  return n;
}

struct Verdict {
  int code = -1;
  bool hung = false;
  bool imageWritten = false;
  bool saysImage = false;  // and the unit reads it back as it is
  std::string outcome;
};

// One update with the unit failing at request n; a unit gone silent is stopped as the command
// line's --timeout stops it.
Verdict RunOnce(std::uint16_t pid, Cut cut, std::uint32_t n) {
  auto device = testing::QuickDevice(pid, FaultsFor(pid, cut, n));
  emulated::EmulatedBus bus(device);
  testing::HeadlessWindow window;
  DialogOptions o;
  o.bus = &bus;
  o.readTimeoutMs = 30;
  o.writePauseMs = 0;
  o.idlePauseMs = 1;
  // A lost answer that no repeated one made up for leaves the unit silent, as --timeout ends it.
  o.stallLimit = std::chrono::milliseconds(300);
  CFwUpdateDlg dlg(window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  Verdict v;
  const auto guard = std::chrono::steady_clock::now() + kHangGuard;
  while (window.TimerRunning(UPDATE_TIMER_ID)) {
    // The first request it does not answer has come: the phase can never end by itself.
    if (cut == Cut::Silent && device->requests() > n) {
      dlg.Abort(AbortReason::TimedOut);
      break;
    }
    if (std::chrono::steady_clock::now() > guard) {
      v.hung = true;
      dlg.Abort(AbortReason::TimedOut);
      break;
    }
    dlg.OnUpdateTimer();
    std::this_thread::yield();
  }
  if (!v.hung) v.code = ExitCodeOf(dlg.result());
  v.outcome = std::to_string(static_cast<int>(dlg.outcome()));
  const auto eeprom = device->Eeprom();
  v.imageWritten = std::equal(FirmwareImage().begin(), FirmwareImage().end(), eeprom.begin());
  v.saysImage = v.imageWritten && cut != Cut::LateDuplicateThenLost;
  return v;
}

struct SweepCase {
  std::uint16_t pid;
  Cut cut;
};

void PrintTo(const SweepCase& c, std::ostream* out) {
  *out << std::hex << c.pid << " " << Name(c.cut);
}

class Sweep : public ::testing::TestWithParam<SweepCase> {};

TEST_P(Sweep, EveryCutPointEndsWithAnHonestVerdict) {
  const SweepCase c = GetParam();
  for (const std::uint32_t n : CutPoints(c.pid)) {
    const Verdict v = RunOnce(c.pid, c.cut, n);
    SCOPED_TRACE("N=" + std::to_string(n) + " outcome " + v.outcome);
    ASSERT_FALSE(v.hung) << "the run did not end";
    switch (v.code) {
      case kExitOk:
        EXPECT_TRUE(v.saysImage) << "FW UPDATE OK! for a unit that does not hold the image";
        break;
      case kExitNotVerified:
        EXPECT_TRUE(v.imageWritten) << "'written' for an EEPROM without the whole image";
        break;
      case kExitStoppedAnswering:
      case kExitInterrupted:
        EXPECT_FALSE(v.imageWritten) << "'not written' for an EEPROM holding the image";
        break;
      case kExitVerifyFailed:
        break;  // a false failure is allowed; a false success is not
      default:
        ADD_FAILURE() << "exit code " << v.code;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    CutPoints, Sweep,
    ::testing::Values(SweepCase{0x7029, Cut::Vanish}, SweepCase{0x7029, Cut::Silent},
                      SweepCase{0x7029, Cut::Duplicate}, SweepCase{0x7029, Cut::DuplicateThenLate},
                      SweepCase{0x2004, Cut::Vanish}, SweepCase{0x2004, Cut::Silent},
                      SweepCase{0x2004, Cut::Duplicate}, SweepCase{0x2004, Cut::DuplicateThenLate},
                      SweepCase{0x2004, Cut::LateDuplicate},
                      SweepCase{0x2004, Cut::LateDuplicateThenLost}),
    [](const ::testing::TestParamInfo<SweepCase>& param) {
      return std::string(param.param.pid == 0x7029 ? "Standard" : "Alternate") +
             Name(param.param.cut);
    });

}  // namespace
}  // namespace quarnel
