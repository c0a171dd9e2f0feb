#include "app/FwUpdateDlg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "emulated/EmulatedBus.h"
#include "engine/ImageVersion.h"
#include "resources/resource.h"
#include "tests/support/CompositeBus.h"
#include "tests/support/DialogProbe.h"
#include "tests/support/HeadlessWindow.h"
#include "tests/support/InlineTransport.h"
#include "tests/support/QuickUnit.h"
#include "tests/support/RequestCounts.h"
#include "tests/support/ServedInterface.h"

namespace quarnel {
namespace {

using emulated::Device;
using emulated::EmulatedBus;
using emulated::Faults;
using testing::HeadlessWindow;
using testing::PhaseRunning;

const std::string kImageLine = "Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]";

std::string UniqueLockName() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return std::string("quarnel-test-") + info->test_suite_name() + "-" + info->name() + "-" +
         std::to_string(::getpid());
}

DialogOptions FastOptions(hid::Bus& bus) {
  DialogOptions o;
  o.bus = &bus;
  o.readTimeoutMs = 20;
  o.writePauseMs = 0;
  o.idlePauseMs = 1;
  o.runLockName = UniqueLockName();
  return o;
}

// Ticks the update timer by hand until the run stops it.
void RunToEnd(CFwUpdateDlg& dlg, HeadlessWindow& window) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (window.TimerRunning(UPDATE_TIMER_ID) && std::chrono::steady_clock::now() < deadline) {
    dlg.OnTimer(UPDATE_TIMER_ID);
    std::this_thread::yield();
  }
  EXPECT_FALSE(window.TimerRunning(UPDATE_TIMER_ID)) << "run did not end";
}

// The emulated unit as if it were hardware: other copies of the program could reach it.
class SharedBus final : public hid::Bus {
 public:
  explicit SharedBus(hid::Bus& inner) : inner_(inner) {}
  std::vector<hid::InterfaceInfo> Enumerate() override { return inner_.Enumerate(); }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    return inner_.Open(info);
  }

 private:
  hid::Bus& inner_;
};

struct Rig {
  explicit Rig(std::uint16_t pid, Faults faults = {}, DialogOptions* custom = nullptr,
               bool hardware = false)
      : device(testing::QuickDevice(pid, faults)), bus(device), shared(bus) {
    DialogOptions o = custom != nullptr ? *custom : FastOptions(bus);
    o.bus = hardware ? static_cast<hid::Bus*>(&shared) : &bus;
    dlg = std::make_unique<CFwUpdateDlg>(window, o);
    EXPECT_TRUE(dlg->OnInitDialog());
  }

  void Run() { RunToEnd(*dlg, window); }

  bool EepromHoldsImage() const {
    const auto e = device->Eeprom();
    return std::equal(FirmwareImage().begin(), FirmwareImage().end(), e.begin());
  }

  std::shared_ptr<Device> device;
  EmulatedBus bus;
  SharedBus shared;
  HeadlessWindow window;
  std::unique_ptr<CFwUpdateDlg> dlg;
};

TEST(FwUpdateDlg, InitialisesInOrder) {
  Rig rig(0x7029);
  const std::vector<std::string> expected = {"text 1003 ",      "text 1004 1852",
                                             "text 1006 5028",  "colour 1002 #00007F",
                                             "text 1002 Ready", "text 1002 " + kImageLine};
  EXPECT_EQ(rig.window.calls, expected);
  EXPECT_EQ(rig.window.rangeLow, 0);
  EXPECT_EQ(rig.window.rangeHigh, 100);
  EXPECT_EQ(rig.window.progress, 0);
  EXPECT_EQ(rig.dlg->engine().Snapshot().sequence, 1);
  EXPECT_TRUE(rig.dlg->engine().Snapshot().finished);
}

TEST(FwUpdateDlg, ImageWithoutHeaderKeepsReady) {
  const std::vector<std::uint8_t> plain(64, 0x5A);
  HeadlessWindow window;
  EmulatedBus bus(testing::QuickDevice(0x7029));
  DialogOptions o = FastOptions(bus);
  o.image = plain;
  CFwUpdateDlg dlg(window, o);
  dlg.OnInitDialog();
  EXPECT_EQ(window.texts[IDC_STATUS], "Ready");
  EXPECT_EQ(window.colours[IDC_STATUS], kDarkBlue);
}

struct ProductCase {
  std::uint16_t pid;
  std::vector<std::pair<std::uint32_t, std::string>> dots;  // shown during the write connect
  bool alternate;
};

TEST(FwUpdateDlg, FullUpdateUnderEachProduct) {
  const std::vector<ProductCase> cases = {
      {0x5028, {}, false},
      {0x7030, {{kDarkBlue, "."}}, false},
      {0x7029, {{kDarkBlue, "."}, {kDarkGreen, ".."}}, false},
      {0x2004, {{kDarkBlue, "."}, {kDarkGreen, ".."}, {kDarkRed, "..."}}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pid);
    Rig rig(c.pid);
    rig.window.dotsHistory.clear();
    rig.dlg->OnStartUpdate();
    EXPECT_EQ(rig.window.texts[IDC_STATUS], "Processing...");
    EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkRed);
    EXPECT_EQ(rig.dlg->engine().framing(), c.alternate ? Framing::Alternate : Framing::Standard);
    EXPECT_EQ(rig.dlg->engine().Snapshot().chunkSize, c.alternate ? 16 : 8);
    EXPECT_FALSE(rig.window.enabled[IDC_START_UPDATE]);
    EXPECT_FALSE(rig.window.enabled[IDC_CHECK_VERSION]);
    // The dots of the fallbacks tried, each in its colour, before the write phase.
    std::vector<std::pair<std::uint32_t, std::string>> shown(rig.window.dotsHistory.begin() + 1,
                                                             rig.window.dotsHistory.end());
    EXPECT_EQ(shown, c.dots);
    rig.Run();

    EXPECT_EQ(rig.window.texts[IDC_STATUS], "FW UPDATE OK!");
    EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkGreen);
    EXPECT_TRUE(rig.window.messages.empty());
    EXPECT_EQ(rig.dlg->outcome(), Outcome::UpdateOk);
    EXPECT_EQ(rig.dlg->result().eeprom, Eeprom::Matches);
    EXPECT_TRUE(rig.EepromHoldsImage());
    const auto& p = rig.window.progressHistory;
    EXPECT_NE(std::find(p.begin(), p.end(), 50), p.end());
    EXPECT_EQ(p.back(), 100);
    EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
    EXPECT_EQ(rig.device->requests(),
              testing::UpdateRequests(c.alternate ? Framing::Alternate : Framing::Standard));
    EXPECT_TRUE(rig.window.enabled[IDC_START_UPDATE]);
    EXPECT_TRUE(rig.window.enabled[IDC_EXIT]);
    EXPECT_EQ(rig.window.texts[IDC_CONNECT_DOTS], "");
  }
}

TEST(FwUpdateDlg, OneCorruptByteGivesOneMessageAndFail) {
  for (std::uint16_t address : {std::uint16_t{0}, std::uint16_t{5000}, std::uint16_t{12287}}) {
    SCOPED_TRACE(address);
    Rig rig(0x7029, Faults{.flipAddress = address});
    rig.dlg->OnStartUpdate();
    rig.Run();
    EXPECT_EQ(rig.window.messages,
              std::vector<std::string>{"Fail to update firmware!! Try to update again."});
    EXPECT_EQ(rig.window.texts[IDC_STATUS], "FW UPDATE FAIL!");
    EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkRed);
    EXPECT_EQ(rig.dlg->outcome(), Outcome::VerifyFailed);
    // The comparison the verdict came from, for front ends that say more.
    EXPECT_EQ(rig.dlg->result().eeprom, Eeprom::Differs);
    EXPECT_EQ(rig.dlg->result().difference.count, 1u);
    EXPECT_EQ(rig.dlg->result().difference.first, address);
  }
}

TEST(FwUpdateDlg, StandardFramingIgnoresStaleAndDuplicateAnswersWithoutResending) {
  for (const Faults& f : {Faults{.staleEvery = 7}, Faults{.dupEvery = 5}}) {
    Rig rig(0x7029, f);
    rig.dlg->OnStartUpdate();
    rig.Run();
    EXPECT_EQ(rig.window.texts[IDC_STATUS], "FW UPDATE OK!");
    EXPECT_EQ(rig.device->requests(), 2u * FirmwareImage().size() / 8);
  }
}

// The alternate framing's answers carry no sequence number: a read-back answer that comes
// twice is waiting when the next request goes out, and dropped, never taken for its answer.
TEST(FwUpdateDlg, AlternateFramingDuplicateReadBackAnswerIsDropped) {
  // 768 write requests, then the read-back: the answer to its 40th request comes twice.
  auto device = testing::QuickDevice(0x2004, Faults{.dupAt = 808});
  EmulatedBus bus(device, testing::InlineTransport);
  HeadlessWindow window;
  CFwUpdateDlg dlg(window, FastOptions(bus));
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  RunToEnd(dlg, window);
  EXPECT_EQ(window.texts[IDC_STATUS], "FW UPDATE OK!");
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(device->requests(), testing::UpdateRequests(Framing::Alternate));
}

// A unit with a consumer-control interface listed before its own: each attempt passes over
// the interface whose reports cannot carry its framing's. Reports too short for the framing:
// nothing is sent, and the box says why.
TEST(FwUpdateDlg, CompositeUnitIsUpdatedThroughTheInterfaceThatFits) {
  struct Case {
    std::uint16_t pid;
    std::optional<testing::ReportLengths> lengths;
    Outcome outcome;
  };
  const Case cases[] = {
      {0x7029, std::nullopt, Outcome::UpdateOk},
      {0x7029, testing::ReportLengths{13, 13}, Outcome::ConnectFailed},
      {0x2004, testing::ReportLengths{20, 20}, Outcome::ConnectFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pid);
    auto device = testing::QuickDevice(c.pid);
    testing::CompositeBus bus(std::make_unique<EmulatedBus>(device), c.lengths);
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, FastOptions(bus));
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    EXPECT_EQ(dlg.outcome(), c.outcome);
    if (c.outcome == Outcome::UpdateOk) {
      EXPECT_EQ(device->requests(), 2 * FirmwareImage().size() / 8);
    } else {
      EXPECT_EQ(device->requests(), 0u);
      EXPECT_EQ(dlg.result().failure.kind, hid::FailureKind::UnsupportedReports);
      EXPECT_EQ(window.messages,
                std::vector<std::string>{"Fail to connect USB device!\n\nThe device at " +
                                         bus.Enumerate()[1].path +
                                         " uses reports this program cannot handle."});
    }
  }
}

const std::string kNotFoundAgain =
    "The firmware was written but could not be verified: the device was not found again. "
    "Reconnect the device and run the update again.";

TEST(FwUpdateDlg, DeviceGoneBeforeReadBackGivesNoVerdict) {
  Rig rig(0x7029, Faults{.vanishAfter = 1536});
  rig.dlg->OnStartUpdate();
  rig.Run();
  EXPECT_EQ(rig.window.messages, std::vector<std::string>{kNotFoundAgain});
  EXPECT_EQ(rig.dlg->result().phase, Phase::ReadBack);
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Fail to connect device!");
  EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkRed);
  EXPECT_EQ(rig.dlg->outcome(), Outcome::ReadBackConnectFailed);
  EXPECT_EQ(rig.dlg->result().eeprom, Eeprom::NotVerified);
  EXPECT_EQ(rig.dlg->result().failure.detail,
            "the unit written, 1852:7029 at emulated:7029, was not found again");
  EXPECT_EQ(rig.window.progress, 50);
  EXPECT_TRUE(rig.EepromHoldsImage());
}

TEST(FwUpdateDlg, NoDeviceAtAll) {
  Rig rig(0x1234);
  rig.dlg->OnStartUpdate();
  EXPECT_EQ(rig.window.messages, std::vector<std::string>{"Fail to connect USB device!"});
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Fail to connect device!");
  EXPECT_EQ(rig.window.texts[IDC_CONNECT_DOTS], "");
  EXPECT_TRUE(rig.window.enabled[IDC_EXIT]);
  EXPECT_EQ(rig.dlg->outcome(), Outcome::ConnectFailed);
  EXPECT_EQ(rig.device->requests(), 0u);
}

TEST(FwUpdateDlg, SilentDeviceBlinksAndExitComesBackByCountdown) {
  for (const auto& [pid, ticks] :
       {std::pair{std::uint16_t{0x7029}, 3000}, std::pair{std::uint16_t{0x2004}, 1200}}) {
    SCOPED_TRACE(pid);
    Rig rig(pid, Faults{.silentAfter = 0});
    rig.dlg->OnStartUpdate();
    EXPECT_FALSE(rig.window.enabled[IDC_EXIT]);
    for (int i = 1; i <= ticks; ++i) {
      rig.dlg->OnTimer(UPDATE_TIMER_ID);
      if (i == 21) {
        EXPECT_EQ(rig.window.texts[IDC_STATUS], "");
      }
      if (i == 42) {
        EXPECT_EQ(rig.window.texts[IDC_STATUS], "Processing...");
      }
    }
    EXPECT_FALSE(rig.window.enabled[IDC_EXIT]);
    rig.dlg->OnTimer(UPDATE_TIMER_ID);
    EXPECT_TRUE(rig.window.enabled[IDC_EXIT]);
    EXPECT_FALSE(rig.window.enabled[IDC_START_UPDATE]);
    EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkRed);
    // Other timers are not acted on.
    rig.dlg->OnTimer(1);
    rig.dlg->OnExit();
    EXPECT_EQ(rig.window.closedWith, IDC_EXIT);
    EXPECT_FALSE(PhaseRunning(*rig.dlg));
    EXPECT_EQ(rig.dlg->outcome(), Outcome::Stopped);
  }
}

// A front end with no one at the window hands the dialog a stall limit and an interrupt flag:
// the run ends by itself, with its reason, the worker stopped and the buttons free.
TEST(FwUpdateDlg, StallLimitAndInterruptEndTheRun) {
  for (const bool interrupt : {false, true}) {
    SCOPED_TRACE(interrupt);
    std::atomic<bool> flag{false};
    EmulatedBus bus(testing::QuickDevice(0x7029, Faults{.silentAfter = 0}));
    DialogOptions o = FastOptions(bus);
    o.readTimeoutMs = 600000;
    if (interrupt) {
      o.interrupt = &flag;
    } else {
      o.stallLimit = std::chrono::nanoseconds(1);
    }
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, o);
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    dlg.OnUpdateTimer();
    flag = true;
    for (int i = 0; i < 1000 && dlg.outcome() == Outcome::Running; ++i) dlg.OnUpdateTimer();
    EXPECT_EQ(dlg.outcome(), interrupt ? Outcome::Interrupted : Outcome::TimedOut);
    EXPECT_EQ(dlg.result().phase, Phase::Write);
    EXPECT_EQ(dlg.result().eeprom, Eeprom::PartlyWritten);
    EXPECT_FALSE(PhaseRunning(dlg));
    EXPECT_FALSE(window.TimerRunning(UPDATE_TIMER_ID));
    EXPECT_TRUE(window.enabled[IDC_START_UPDATE]);
    EXPECT_EQ(window.texts[IDC_STATUS], "FW UPDATE FAIL!");
  }
}

// A write stopped before its end leaves no read-back behind for the dialog's next run: a
// verify after it reads the unit once, as it would on its own.
TEST(FwUpdateDlg, StoppedWriteLeavesNoReadBackForTheNextRun) {
  std::atomic<bool> stop{false};
  Rig rig(0x7029);
  DialogOptions o = FastOptions(rig.bus);
  o.interrupt = &stop;
  CFwUpdateDlg dlg(rig.window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  dlg.OnUpdateTimer();
  stop = true;
  for (int i = 0; i < 1000 && dlg.outcome() == Outcome::Running; ++i) dlg.OnUpdateTimer();
  ASSERT_EQ(dlg.outcome(), Outcome::Interrupted);
  stop = false;
  const std::uint32_t before = rig.device->requests();
  dlg.OnReadBack();
  RunToEnd(dlg, rig.window);
  EXPECT_EQ(dlg.outcome(), Outcome::ReadDone);
  EXPECT_EQ(rig.device->requests() - before, FirmwareImage().size() / 8);
}

TEST(FwUpdateDlg, CancelIsIgnoredWhileExitIsLocked) {
  Rig rig(0x7029, Faults{.silentAfter = 0});
  rig.dlg->OnStartUpdate();
  rig.dlg->OnCancel();
  EXPECT_EQ(rig.window.closedWith, -1);
  EXPECT_TRUE(PhaseRunning(*rig.dlg));
  for (int i = 0; i < 3001; ++i) rig.dlg->OnTimer(UPDATE_TIMER_ID);
  rig.dlg->OnCancel();
  EXPECT_EQ(rig.window.closedWith, IDC_EXIT);
  EXPECT_FALSE(PhaseRunning(*rig.dlg));
}

TEST(FwUpdateDlg, StopWorkerWithNothingRunning) {
  Rig rig(0x7029);
  rig.window.calls.clear();
  rig.dlg->StopWorker();
  const std::vector<std::string> expected = {"text 1003 ", "enable 1000 1", "enable 1 1",
                                             "enable 1005 1"};
  EXPECT_EQ(rig.window.calls, expected);
}

TEST(FwUpdateDlg, ProgressBarIsNotResetByAnotherRun) {
  Rig rig(0x5028);
  rig.dlg->OnStartUpdate();
  rig.Run();
  ASSERT_EQ(rig.window.progress, 100);
  rig.window.progressHistory.clear();
  rig.dlg->OnStartUpdate();
  EXPECT_TRUE(rig.window.progressHistory.empty());
  rig.Run();
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "FW UPDATE OK!");
  EXPECT_EQ(rig.window.progress, 100);
}

TEST(FwUpdateDlg, IdFieldsAreReadAsHex) {
  {  // only the low 16 bits count: 0x17029 reaches 0x7029 on the first attempt
    Rig rig(0x7029);
    rig.window.texts[IDC_PRODUCT_ID] = "17029";
    rig.window.dotsHistory.clear();
    rig.dlg->OnStartUpdate();
    for (const auto& [colour, dots] : rig.window.dotsHistory) EXPECT_EQ(dots, "");
    rig.Run();
    EXPECT_EQ(rig.window.texts[IDC_STATUS], "FW UPDATE OK!");
  }
  {  // an empty field means 0xFFFF, which nothing answers; the fallbacks still run
    Rig rig(0x2004);
    rig.window.texts[IDC_VENDOR_ID] = "";
    rig.dlg->OnStartUpdate();
    EXPECT_EQ(rig.dlg->engine().framing(), Framing::Alternate);
    rig.dlg->OnExit();
  }
}

TEST(FwUpdateDlg, OutOfMemoryForTheLink) {
  Rig rig(0x7029);
  DialogOptions o = FastOptions(rig.bus);
  o.allocateLink = [](hid::Bus&) -> std::unique_ptr<CHidApp> { return nullptr; };
  CFwUpdateDlg dlg(rig.window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  EXPECT_EQ(rig.window.messages, std::vector<std::string>{"Not enough resource!!"});
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Fail to connect device!");
}

TEST(FwUpdateDlg, WorkerThatCannotStart) {
  Rig rig(0x7029);
  DialogOptions o = FastOptions(rig.bus);
  o.startWorker = [](TransferEngine&) { return false; };
  CFwUpdateDlg dlg(rig.window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  EXPECT_EQ(rig.window.messages, std::vector<std::string>{"Not enough resource!!"});
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "FW UPDATE FAIL!");
  EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkRed);
  EXPECT_TRUE(rig.window.enabled[IDC_START_UPDATE]);
  EXPECT_FALSE(rig.window.TimerRunning(UPDATE_TIMER_ID));
  EXPECT_EQ(dlg.outcome(), Outcome::WorkerFailed);
}

TEST(FwUpdateDlg, SecondUpdateIsRefusedWhileOneRuns) {
  Rig rig(0x7029, {}, nullptr, true);
  LockFailure reason;
  const auto held = RunLock::TryAcquire(UniqueLockName(), reason);
  ASSERT_NE(held, nullptr) << reason.detail;
  rig.dlg->OnStartUpdate();
  EXPECT_EQ(rig.window.messages, std::vector<std::string>{"Another firmware update is running."});
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Fail to connect device!");
  EXPECT_EQ(rig.device->requests(), 0u);
  EXPECT_EQ(rig.dlg->outcome(), Outcome::Busy);
}

TEST(FwUpdateDlg, RunLockIsHeldUntilTheVerdict) {
  Rig rig(0x7029, {}, nullptr, true);
  rig.dlg->OnStartUpdate();
  LockFailure reason;
  EXPECT_EQ(RunLock::TryAcquire(UniqueLockName(), reason), nullptr);
  EXPECT_EQ(reason.kind, LockFailureKind::HeldByAnother);
  rig.Run();
  EXPECT_NE(RunLock::TryAcquire(UniqueLockName(), reason), nullptr);
}

// The emulated unit is private to its process: its runs neither wait for nor block others,
// and the caption says that no real unit is being updated.
TEST(FwUpdateDlg, EmulatedRunsTakeNoLockAndSayWhatTheyRunOn) {
  LockFailure reason;
  const auto held = RunLock::TryAcquire(UniqueLockName(), reason);
  ASSERT_NE(held, nullptr) << reason.detail;
  Rig rig(0x7029);
  EXPECT_EQ(rig.window.caption, kEmulatedCaption);
  rig.dlg->OnStartUpdate();
  rig.Run();
  EXPECT_EQ(rig.dlg->outcome(), Outcome::UpdateOk);
  Rig hardware(0x7029, {}, nullptr, true);
  EXPECT_EQ(hardware.window.caption, "");
}

TEST(FwUpdateDlg, LockThatCannotBeTakenIsExplained) {
  Rig rig(0x7029, {}, nullptr, true);
  DialogOptions o = FastOptions(rig.shared);
  o.runLockName = std::string(400, 'x');  // too long a name for any lock
  CFwUpdateDlg dlg(rig.window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  ASSERT_EQ(rig.window.messages.size(), 1u);
  const std::string& text = rig.window.messages[0];
  const std::string start = "Cannot make sure that no other firmware update is running: ";
  EXPECT_EQ(text.substr(0, start.size()), start);
  EXPECT_EQ(text.back(), '.');
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Fail to connect device!");
  EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkRed);
  EXPECT_EQ(dlg.outcome(), Outcome::LockFailed);
  EXPECT_EQ(dlg.result().lockFailure.kind, LockFailureKind::CannotTake);
  EXPECT_EQ(rig.device->requests(), 0u);
}

TEST(FwUpdateDlg, VersionQueryFormalAndBeta) {
  Rig rig(0x7029);
  rig.dlg->OnCheckVersion();
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Ver. 23.07.0110.0001  2014-01-20.[0]  (Formal Release)");
  EXPECT_EQ(rig.window.colours[IDC_STATUS], kDarkGreen);
  EXPECT_EQ(rig.dlg->engine().Snapshot().sequence, 10);
  EXPECT_TRUE(rig.window.enabled[IDC_START_UPDATE]);
  rig.device->SetRegister(72, 0x00);
  rig.device->SetRegister(61, 0x24);
  rig.dlg->OnCheckVersion();
  EXPECT_EQ(rig.window.texts[IDC_STATUS], "Ver. 24.07.0110.0001  2014-01-20.[0]  (BETA Release)");
  EXPECT_EQ(rig.dlg->outcome(), Outcome::VersionOk);
}

TEST(FwUpdateDlg, VersionQueryOfASilentDevice) {
  EmulatedBus bus(testing::QuickDevice(0x7029, Faults{.silentAfter = 0}));
  HeadlessWindow window;
  DialogOptions o = FastOptions(bus);
  o.readTimeoutMs = 0;  // 100 x 100 reads that find nothing, at once
  CFwUpdateDlg dlg(window, o);
  dlg.OnInitDialog();
  dlg.OnCheckVersion();
  EXPECT_EQ(window.texts[IDC_STATUS], "Fail to get firmware version!");
  EXPECT_EQ(window.colours[IDC_STATUS], kDarkRed);
  // Only the first register was tried, and its sequence number is used up.
  EXPECT_EQ(dlg.engine().Snapshot().sequence, 2);
  EXPECT_EQ(dlg.outcome(), Outcome::VersionFailed);
  dlg.OnCheckVersion();
  EXPECT_EQ(dlg.engine().Snapshot().sequence, 3);
}

TEST(FwUpdateDlg, FullUpdateWithTheDevicesOwnWritePause) {
  Rig rig(0x7029, Faults{.writeCycleUs = emulated::kDefaultWriteCycleUs});
  DialogOptions o = FastOptions(rig.bus);
  o.writePauseMs = kWritePauseMs;
  HeadlessWindow window;
  CFwUpdateDlg dlg(window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  RunToEnd(dlg, window);
  EXPECT_EQ(window.texts[IDC_STATUS], "FW UPDATE OK!");
}

// Two units with the same IDs; the second enumeration lists them the other way round.
class TwoUnitBus final : public hid::Bus {
 public:
  TwoUnitBus(std::shared_ptr<Device> a, std::shared_ptr<Device> b)
      : a_(std::move(a)), b_(std::move(b)) {}
  std::vector<hid::InterfaceInfo> Enumerate() override {
    hid::InterfaceInfo ia{"a", "unit-a", 0x1852, a_->productId()};
    hid::InterfaceInfo ib{"b", "unit-b", 0x1852, b_->productId()};
    return calls_++ % 2 == 0 ? std::vector{ia, ib} : std::vector{ib, ia};
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    return testing::OpenServed(info.path == "a" ? a_ : b_);
  }

 private:
  std::shared_ptr<Device> a_, b_;
  int calls_ = 0;
};

TEST(FwUpdateDlg, ReadBackPrefersTheUnitThatWasWritten) {
  auto a = testing::QuickDevice(0x5028);
  auto b = testing::QuickDevice(0x5028);
  b->SetEeprom(0, FirmwareImage());  // already holds the image: reading it back would pass
  a->SetEeprom(0, std::vector<std::uint8_t>(FirmwareImage().size(), 0));
  TwoUnitBus bus(a, b);
  HeadlessWindow window;
  CFwUpdateDlg dlg(window, FastOptions(bus));
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  RunToEnd(dlg, window);
  EXPECT_EQ(window.texts[IDC_STATUS], "FW UPDATE OK!");
  // Unit a got both phases; b was never touched.
  EXPECT_EQ(a->requests(), 2u * FirmwareImage().size() / 8);
  EXPECT_EQ(b->requests(), 0u);
}

}  // namespace
}  // namespace quarnel

namespace quarnel {
namespace {

// Units on one bus, each listed while it is present and has not vanished.
struct Unit {
  std::shared_ptr<Device> device;
  std::string path;
  std::string location;
  std::function<bool()> present = [] { return true; };
};

class UnitsBus final : public hid::Bus {
 public:
  explicit UnitsBus(std::vector<Unit> units) : units_(std::move(units)) {}
  std::vector<hid::InterfaceInfo> Enumerate() override {
    std::vector<hid::InterfaceInfo> found;
    for (const Unit& u : units_) {
      if (u.present() && !u.device->vanished())
        found.push_back({u.path, u.location, 0x1852, u.device->productId()});
    }
    return found;
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    for (const Unit& u : units_) {
      if (u.path == info.path) return testing::OpenServed(u.device);
    }
    return Fail(hid::LinkFailure{});
  }

 private:
  std::vector<Unit> units_;
};

std::vector<std::uint8_t> Zeros() {
  return std::vector<std::uint8_t>(FirmwareImage().size(), 0);
}

TEST(FwUpdateDlg, ReadBackOpensOnlyTheUnitThatWasWritten) {
  const std::uint32_t writes = static_cast<std::uint32_t>(FirmwareImage().size() / 8);
  {  // a unit of an earlier attempt, already holding the image, turns up before the read-back
    auto written = testing::QuickDevice(0x7029);
    auto early = testing::QuickDevice(0x5028);
    early->SetEeprom(0, FirmwareImage());
    UnitsBus bus({{written, "w", "port-1"},
                  {early, "e", "port-2", [&] { return written->requests() >= writes; }}});
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, FastOptions(bus));
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    EXPECT_EQ(dlg.outcome(), Outcome::UpdateOk);
    EXPECT_EQ(written->requests(), 2 * writes);
    EXPECT_EQ(early->requests(), 0u);
  }
  {  // the written unit is gone; another with the same IDs holds the image
    auto written = testing::QuickDevice(0x7029, Faults{.vanishAfter = writes});
    auto other = testing::QuickDevice(0x7029);
    other->SetEeprom(0, FirmwareImage());
    UnitsBus bus({{written, "w", "port-1"}, {other, "o", "port-2"}});
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, FastOptions(bus));
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    EXPECT_EQ(dlg.outcome(), Outcome::ReadBackConnectFailed);
    EXPECT_EQ(window.messages, std::vector<std::string>{kNotFoundAgain});
    EXPECT_EQ(window.texts[IDC_STATUS], "Fail to connect device!");
    EXPECT_EQ(other->requests(), 0u);
  }
  {  // the written unit is plugged in again (a new node, the same port): it is read back
    auto before = testing::QuickDevice(0x7029, Faults{.vanishAfter = writes});
    auto after = testing::QuickDevice(0x7029);
    after->SetEeprom(0, Zeros());
    UnitsBus bus({{before, "hidraw1", "port-1"},
                  {after, "hidraw2", "port-1", [&] { return before->vanished(); }}});
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, FastOptions(bus));
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    EXPECT_EQ(dlg.outcome(), Outcome::VerifyFailed);  // its EEPROM holds zeros
    EXPECT_EQ(after->requests(), writes);
  }
}

TEST(FwUpdateDlg, DevicePathNamesTheOnlyInterfaceUsed) {
  auto a = testing::QuickDevice(0x7029);
  auto b = testing::QuickDevice(0x7029);
  UnitsBus bus({{a, "a", "port-1"}, {b, "b", "port-2"}});
  for (const std::string path : {"b", "c"}) {
    SCOPED_TRACE(path);
    HeadlessWindow window;
    DialogOptions o = FastOptions(bus);
    o.devicePath = path;
    CFwUpdateDlg dlg(window, o);
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    if (path == "b") {
      EXPECT_EQ(dlg.outcome(), Outcome::UpdateOk);
      EXPECT_EQ(b->requests(), 2 * FirmwareImage().size() / 8);
    } else {
      EXPECT_EQ(dlg.outcome(), Outcome::ConnectFailed);
      EXPECT_EQ(window.messages, std::vector<std::string>{"Fail to connect USB device!"});
    }
    EXPECT_EQ(a->requests(), 0u);
  }
}

// One interface that is there but cannot be opened, for the reason given.
class RefusingBus final : public hid::Bus {
 public:
  explicit RefusingBus(hid::FailureKind kind) : kind_(kind) {}
  std::vector<hid::InterfaceInfo> Enumerate() override {
    return {{"/dev/hidraw7", "port-7", 0x1852, 0x7029}};
  }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    return Fail(hid::LinkFailure{kind_, info.path, "refused"});
  }

 private:
  hid::FailureKind kind_;
};

TEST(FwUpdateDlg, ConnectFailuresSayWhyTheUnitCouldNotBeUsed) {
  const std::string head = "Fail to connect USB device!\n\nThe device at /dev/hidraw7 ";
  const std::vector<std::pair<hid::FailureKind, std::string>> cases = {
      {hid::FailureKind::PermissionDenied,
       head + "was found, but this user may not open it. Install the package quarnel-fwupdate or "
              "the udev rule 70-quarnel-audio.rules (see the README), then unplug the device and "
              "plug it in again."},
      {hid::FailureKind::InUse, head + "is in use by another program."},
      {hid::FailureKind::UnsupportedReports, head + "uses reports this program cannot handle."},
      {hid::FailureKind::Gone, "Fail to connect USB device!"},
  };
  for (const auto& [kind, text] : cases) {
    SCOPED_TRACE(text);
    RefusingBus bus(kind);
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, FastOptions(bus));
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    EXPECT_EQ(window.messages, std::vector<std::string>{text});
    EXPECT_EQ(window.texts[IDC_STATUS], "Fail to connect device!");
    EXPECT_EQ(dlg.outcome(), Outcome::ConnectFailed);
    dlg.OnCheckVersion();
    EXPECT_EQ(window.messages.back(), text);
  }
}

// The written unit is there for the read-back but cannot be opened again, for the reason given.
class ReopenRefusedBus final : public hid::Bus {
 public:
  ReopenRefusedBus(std::shared_ptr<Device> device, hid::FailureKind kind)
      : inner_(std::move(device)), kind_(kind) {}
  std::vector<hid::InterfaceInfo> Enumerate() override { return inner_.Enumerate(); }
  Result<hid::OpenedInterface, hid::LinkFailure> Open(const hid::InterfaceInfo& info) override {
    if (opened_++ == 0) return inner_.Open(info);
    return Fail(hid::LinkFailure{kind_, info.path, "refused"});
  }

 private:
  EmulatedBus inner_;
  hid::FailureKind kind_;
  int opened_ = 0;
};

TEST(FwUpdateDlg, ReadBackConnectFailuresSayWhyTheUnitCouldNotBeUsed) {
  const std::string head =
      "The firmware was written but could not be verified: the device at emulated:7029 ";
  struct Case {
    hid::FailureKind kind;
    std::string text;
    std::string detail;  // how the reason's begins: of the unit written, not of a later attempt
  };
  const std::vector<Case> cases = {
      {hid::FailureKind::PermissionDenied,
       head + "was found again, but this user may not open it (see the README on device "
              "access). Run the update again.",
       "refused"},
      {hid::FailureKind::InUse,
       head + "is in use by another program: close it. Run the update again.", "refused"},
      {hid::FailureKind::UnsupportedReports,
       head + "uses reports this program cannot handle. Run the update again.", "refused"},
      {hid::FailureKind::NotFound, kNotFoundAgain,
       "the unit written, 1852:7029 at emulated:7029, was not found again"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ReopenRefusedBus bus(testing::QuickDevice(0x7029), c.kind);
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, FastOptions(bus));
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    EXPECT_EQ(window.messages, std::vector<std::string>{c.text});
    EXPECT_EQ(dlg.outcome(), Outcome::ReadBackConnectFailed);
    EXPECT_EQ(dlg.result().failure.kind, c.kind);
    EXPECT_EQ(dlg.result().failure.detail.substr(0, c.detail.size()), c.detail);
    EXPECT_EQ(dlg.result().failure.path, "emulated:7029");
  }
}

// Exit, Esc or the close button ending a run before its verdict first say what the EEPROM may
// hold; a run that has ended closes without a word.
TEST(FwUpdateDlg, StoppingARunBeforeItsVerdictSaysWhatItMeans) {
  const std::string write =
      "The update was stopped before it finished. The firmware may be partly written: keep the "
      "device connected and run the update again.";
  const std::string readBack =
      "The update was stopped while the firmware was being verified. The firmware was written "
      "but not verified: run the update again.";
  struct Case {
    std::optional<std::uint32_t> silentAfter;  // none: the run ends by itself
    Phase phase;
    bool cancel;  // Esc or the close button rather than Exit
    std::vector<std::string> messages;
  };
  for (const Case& c : {Case{0, Phase::Write, false, {write}}, Case{0, Phase::Write, true, {write}},
                        Case{1536, Phase::ReadBack, false, {readBack}},
                        Case{1536, Phase::ReadBack, true, {readBack}},
                        Case{std::nullopt, Phase::ReadBack, false, {}}}) {
    SCOPED_TRACE(c.silentAfter.value_or(0) + (c.cancel ? 10000u : 0u));
    Faults faults;
    if (c.silentAfter) faults.silentAfter = *c.silentAfter;
    Rig rig(0x7029, faults);
    rig.dlg->OnStartUpdate();
    if (c.silentAfter) {
      for (int i = 0; i < 1000000 &&
                      !(rig.dlg->result().phase == c.phase && rig.window.IsItemEnabled(IDC_EXIT));
           ++i) {
        rig.dlg->OnTimer(UPDATE_TIMER_ID);
        std::this_thread::yield();
      }
      ASSERT_EQ(rig.dlg->outcome(), Outcome::Running);
    } else {
      rig.Run();
    }
    if (c.cancel) {
      rig.dlg->OnCancel();
    } else {
      rig.dlg->OnExit();
    }
    EXPECT_EQ(rig.window.messages, c.messages);
    EXPECT_EQ(rig.window.closedWith, IDC_EXIT);
    // The box comes before the close.
    EXPECT_EQ(rig.window.calls.back(), "end " + std::to_string(IDC_EXIT));
  }
}

// The unit goes away while a read with a long limit waits: the run ends on the next tick, with
// the buttons free again and the phase's words.
TEST(FwUpdateDlg, LostUnitEndsTheRunOnTheNextTick) {
  const std::string duringWrite =
      "The connection to the device was lost while the firmware was being written. The "
      "firmware may be partly written. Keep the device connected, or reconnect it, and run the "
      "update again.";
  const std::string duringReadBack =
      "The connection to the device was lost while the firmware was being verified. The "
      "firmware was written but not verified. Reconnect the device and run the update again.";
  struct Case {
    std::uint16_t pid;
    std::uint32_t vanishAfter;
    Phase phase;
  };
  for (const Case& c : {Case{0x7029, 100, Phase::Write}, Case{0x7029, 1600, Phase::ReadBack},
                        Case{0x2004, 100, Phase::Write}, Case{0x2004, 800, Phase::ReadBack}}) {
    SCOPED_TRACE(c.vanishAfter);
    EmulatedBus bus(testing::QuickDevice(c.pid, Faults{.vanishAfter = c.vanishAfter}));
    DialogOptions o = FastOptions(bus);
    o.readTimeoutMs = 600000;
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, o);
    dlg.OnInitDialog();
    dlg.OnStartUpdate();
    while (!dlg.engine().Snapshot().linkLost) {
      if (dlg.engine().Snapshot().finished) dlg.OnUpdateTimer();  // on to the read-back
      std::this_thread::yield();
    }
    dlg.OnUpdateTimer();
    EXPECT_EQ(dlg.outcome(), Outcome::LinkLost);
    EXPECT_EQ(dlg.result().phase, c.phase);
    EXPECT_EQ(dlg.result().eeprom,
              c.phase == Phase::Write ? Eeprom::PartlyWritten : Eeprom::NotVerified);
    EXPECT_EQ(window.messages,
              std::vector<std::string>{c.phase == Phase::Write ? duringWrite : duringReadBack});
    EXPECT_EQ(window.texts[IDC_STATUS], "FW UPDATE FAIL!");
    EXPECT_EQ(window.colours[IDC_STATUS], kDarkRed);
    EXPECT_FALSE(window.TimerRunning(UPDATE_TIMER_ID));
    EXPECT_TRUE(window.enabled[IDC_START_UPDATE]);
    EXPECT_TRUE(window.enabled[IDC_EXIT]);
  }
}

// Exit while the worker waits for a unit that has gone silent: the read is cancelled, not
// waited out (its limit here is ten minutes).
TEST(FwUpdateDlg, ExitDoesNotWaitOutAPendingRead) {
  Rig rig(0x7029, Faults{.silentAfter = 10});
  DialogOptions o = FastOptions(rig.bus);
  o.readTimeoutMs = 600000;
  CFwUpdateDlg dlg(rig.window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  while (rig.device->requests() < 11) std::this_thread::yield();
  for (int i = 0; i < 3001; ++i) dlg.OnUpdateTimer();
  EXPECT_TRUE(PhaseRunning(dlg));  // silent, not lost: the designed blinking
  dlg.OnExit();
  EXPECT_EQ(dlg.outcome(), Outcome::Stopped);
  EXPECT_FALSE(PhaseRunning(dlg));
}

// Alternate framing: the answer to the write's last request comes twice. What the EEPROM holds
// is for the read-back to prove, not for the order of the write's answers: the copy is left
// on the write's connection, and the update ends with its verdict.
TEST(FwUpdateDlg, AlternateWriteAnswerThatComesTwiceLeavesTheVerdictToTheReadBack) {
  Rig rig(0x2004, Faults{.dupAt = 768});
  DialogOptions o = FastOptions(rig.bus);
  o.readTimeoutMs = 1000;
  HeadlessWindow window;
  CFwUpdateDlg dlg(window, o);
  dlg.OnInitDialog();
  dlg.OnStartUpdate();
  RunToEnd(dlg, window);
  EXPECT_EQ(dlg.outcome(), Outcome::UpdateOk);
  EXPECT_TRUE(window.messages.empty());
  EXPECT_EQ(window.texts[IDC_STATUS], "FW UPDATE OK!");
  EXPECT_EQ(rig.device->requests(), testing::UpdateRequests(Framing::Alternate));
  EXPECT_TRUE(rig.EepromHoldsImage());
}

// An answer of the alternate framing repeated after the next request went out (as input
// reports come one poll apart over USB), and in the same run one lost, late, or a unit that
// goes silent or away: never a verdict or bytes the unit did not give. An update's read-back
// is requests 769 to 2304, each chunk asked twice; a read-only run's are 1 to 1536. Whether the
// answer after the copy is taken late or dropped before the next request depends on how soon
// the worker asks again: a lost answer then either brings the answers back in step or is one
// the unit never sent, and the run stops at its time limit.
TEST(FwUpdateDlg, AlternateAnswersOutOfOrderNeverGiveWhatTheUnitDidNotSay) {
  // The unit's byte 0x2F45 lies in the image's padding, among chunks of identical bytes.
  constexpr std::uint16_t kFlip = 0x2F45;
  const std::uint32_t flipAsk = 769 + 2 * (kFlip / 16);
  struct Case {
    const char* what;
    bool readOnly;
    Faults faults;
    Outcome outcome;
    bool mayTimeOut = false;
  };
  const std::vector<Case> cases = {
      {"late copy, then the flipped chunk's answer lost", false,
       Faults{.flipAddress = kFlip, .dropEvery = flipAsk + 1, .lateDupAt = flipAsk - 6},
       Outcome::VerifyFailed, true},
      {"late copy, then silent", false,
       Faults{.flipAddress = kFlip, .silentAfter = 2299, .lateDupAt = 2290}, Outcome::TimedOut},
      {"late copy, then gone", false,
       Faults{.flipAddress = kFlip, .vanishAfter = 2299, .lateDupAt = 2290}, Outcome::LinkLost},
      {"late copy, then the last answer late", false,
       Faults{.flipAddress = kFlip, .lateDupAt = 2290, .delayMs = 100, .delayFrom = 2304},
       Outcome::VerifyFailed},
      {"read-only: late copy, then a loss", true,
       Faults{.flipAddress = kFlip, .dropEvery = 1200, .lateDupAt = 1000}, Outcome::ReadDone, true},
      {"read-only: late copy, then the last answer late", true,
       Faults{.flipAddress = kFlip, .lateDupAt = 1500, .delayMs = 100, .delayFrom = 1536},
       Outcome::ReadDone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto device = testing::QuickDevice(0x2004, c.faults);
    device->SetEeprom(0, FirmwareImage());
    EmulatedBus bus(device);
    DialogOptions o = FastOptions(bus);
    o.readTimeoutMs = 1000;
    o.stallLimit = std::chrono::milliseconds(1000);
    HeadlessWindow window;
    CFwUpdateDlg dlg(window, o);
    dlg.OnInitDialog();
    c.readOnly ? dlg.OnReadBack() : dlg.OnStartUpdate();
    RunToEnd(dlg, window);
    const RunResult& r = dlg.result();
    if (!c.mayTimeOut || r.outcome != Outcome::TimedOut) {
      EXPECT_EQ(r.outcome, c.outcome);
    }
    EXPECT_NE(window.texts[IDC_STATUS], "FW UPDATE OK!");
    if (r.compared) {
      // What was compared is what the unit says it holds: the image but for one byte.
      EXPECT_EQ(r.difference.count, 1u);
      EXPECT_EQ(r.difference.first, kFlip);
    }
    if (c.readOnly && r.outcome == Outcome::ReadDone) {
      std::vector<std::uint8_t> says(FirmwareImage().begin(), FirmwareImage().end());
      says[kFlip] = static_cast<std::uint8_t>(~says[kFlip]);
      EXPECT_EQ(r.readBack, says);
    }
    // Once the write phase was complete, the EEPROM is never called partly written.
    if (!c.readOnly) {
      EXPECT_NE(r.eeprom, Eeprom::PartlyWritten);
    }
  }
}

}  // namespace
}  // namespace quarnel
