#include "engine/TransferEngine.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <vector>

#include "hid/HidApp.h"
#include "tests/support/ScriptedBus.h"

namespace quarnel {
namespace {

using testing::Script;
using testing::ScriptedBus;

struct EngineRig {
  explicit EngineRig(std::span<const std::uint8_t> image = FirmwareImage(), bool alternate = false)
      : script(std::make_shared<Script>()), bus(0x1852, 0x7029, script), link(bus), engine(image) {
    EXPECT_TRUE(link.Open(0x1852, 0x7029));
    engine.SetLink(&link);
    engine.SetPauses(0, 1);
    engine.SetFraming(alternate ? Framing::Alternate : Framing::Standard,
                      alternate ? kAlternateChunk : kStandardChunk);
  }
  void Answer(const Report& r, std::uint32_t count = 64) { script->answers.push_back({r, count}); }
  // The next request carries `sequence`: register reads with no link use up the numbers before.
  void StartAt(std::uint8_t sequence) {
    engine.SetLink(nullptr);
    std::uint8_t value = 0;
    while (State().sequence != sequence) engine.ReadRegister(0, 0, value);
    engine.SetLink(&link);
  }
  TransferSnapshot State() const { return engine.Snapshot(); }
  // Whether the step that comes next sends a request (rather than waiting for an answer):
  // takes that step with no answer queued and looks.
  bool SendsNext() {
    const std::size_t before = script->written.size();
    engine.WriteStep();
    return script->written.size() != before;
  }

  std::shared_ptr<Script> script;
  ScriptedBus bus;
  CHidApp link;
  TransferEngine engine;
};

TEST(TransferEngine, WritePhaseEndsWithTheLastChunkAccepted) {
  EngineRig rig;
  rig.engine.SetupPhase(Phase::Write);
  const std::size_t requests = FirmwareImage().size() / 8;
  for (std::size_t i = 0; i < requests; ++i) {
    rig.engine.WriteStep();  // send
    rig.Answer(BuildTransferAnswer(Framing::Standard, rig.State().sequence, {}));
    rig.engine.WriteStep();  // accept
  }
  EXPECT_TRUE(rig.State().finished);
  EXPECT_EQ(rig.State().bytesDone, 12288u);
  EXPECT_EQ(rig.State().progress, 50);
  ASSERT_EQ(rig.script->written.size(), requests);
  const Report& last = rig.script->written.back();
  EXPECT_EQ((last[StandardLayout::addressHigh] << 8) | last[StandardLayout::addressLow], 12280);
  EXPECT_EQ(last[StandardLayout::length], 8);
  EXPECT_EQ(last[StandardLayout::data + 7], FirmwareImage()[12287]);
}

TEST(TransferEngine, WrongSequenceIsIgnoredWithoutResending) {
  EngineRig rig;
  rig.StartAt(9);
  rig.engine.SetupPhase(Phase::Write);
  rig.engine.WriteStep();
  rig.Answer(BuildTransferAnswer(Framing::Standard, 8, {}));     // stale
  rig.Answer(BuildTransferAnswer(Framing::Standard, 9, {}), 2);  // too short
  rig.engine.WriteStep();
  rig.engine.WriteStep();
  EXPECT_FALSE(rig.SendsNext());
  EXPECT_EQ(rig.State().sequence, 9);
  rig.engine.WriteStep();  // nothing there: still waiting, nothing sent
  EXPECT_EQ(rig.script->written.size(), 1u);
  rig.Answer(BuildTransferAnswer(Framing::Standard, 9, {}));
  rig.engine.WriteStep();
  EXPECT_EQ(rig.State().sequence, 10);
  EXPECT_TRUE(rig.SendsNext());
}

TEST(TransferEngine, AlternateAnswersAreNeverComparedWithTheSequence) {
  EngineRig rig(FirmwareImage(), true);
  rig.engine.SetupPhase(Phase::Write);
  rig.engine.WriteStep();
  const Report& sent = rig.script->written.at(0);
  EXPECT_EQ(sent[AlternateLayout::marker], 0x80);
  EXPECT_EQ(sent[AlternateLayout::length], 16);
  rig.Answer(BuildTransferAnswer(Framing::Alternate, 0, {}));
  rig.engine.WriteStep();
  EXPECT_EQ(rig.State().sequence, 2);  // still advanced per accepted answer
  EXPECT_TRUE(rig.SendsNext());
}

TEST(TransferEngine, ReadBackFillsTheBufferAndMovesProgressFromFifty) {
  std::vector<std::uint8_t> image(32);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 3);
  EngineRig rig(image);
  rig.engine.SetupPhase(Phase::ReadBack);
  std::vector<int> progress;
  while (!rig.State().finished) {
    rig.engine.ReadBackStep();
    const Report& q = rig.script->written.back();
    const auto at = static_cast<std::size_t>((q[StandardLayout::addressHigh] << 8) |
                                             q[StandardLayout::addressLow]);
    EXPECT_EQ(q[StandardLayout::command], kCommandRead);
    // The device claims 4 bytes more than asked for: only those asked for are taken.
    std::vector<std::uint8_t> answer(image.begin() + static_cast<std::ptrdiff_t>(at),
                                     image.begin() + static_cast<std::ptrdiff_t>(at + 8));
    answer.insert(answer.end(), 4, 0xEE);
    rig.Answer(BuildTransferAnswer(Framing::Standard, rig.State().sequence, answer));
    rig.engine.ReadBackStep();
    progress.push_back(rig.State().progress);
  }
  EXPECT_EQ(progress, (std::vector<int>{62, 75, 87, 100}));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), rig.engine.ReadBack().begin()));
  EXPECT_EQ(rig.engine.ReadBack()[image.size()], 0);  // nothing beyond what was asked for
  rig.engine.SetupPhase(Phase::ReadBack);
  EXPECT_EQ(rig.engine.ReadBack()[1], 0);  // cleared for the next phase
}

TEST(TransferEngine, ReadBackNeverWritesPastItsBuffer) {
  const std::vector<std::uint8_t> image(kReadBackSize, 0x11);
  EngineRig rig(image);
  rig.engine.SetupPhase(Phase::ReadBack);
  const std::size_t requests = kReadBackSize / 8;
  for (std::size_t i = 0; i < requests; ++i) {
    rig.engine.ReadBackStep();
    // A device answering 61 bytes for the last 8 asked for: only 8 fit.
    const std::size_t bytes = i + 1 == requests ? 61 : 8;
    rig.Answer(BuildTransferAnswer(Framing::Standard, rig.State().sequence,
                                   std::vector<std::uint8_t>(bytes, 0x11)));
    rig.engine.ReadBackStep();
  }
  EXPECT_TRUE(rig.State().finished);
  EXPECT_EQ(rig.engine.ReadBack()[kReadBackSize - 1], 0x11);
}

TEST(TransferEngine, ReadBackTakesOnlyTheBytesAskedFor) {
  std::vector<std::uint8_t> image(24, 0x11);
  EngineRig rig(image);
  rig.engine.SetupPhase(Phase::ReadBack);
  rig.engine.ReadBackStep();
  // Right sequence number, no data: not an answer; the same request stays in flight.
  rig.Answer(BuildTransferAnswer(Framing::Standard, rig.State().sequence, {}));
  rig.engine.ReadBackStep();
  EXPECT_EQ(rig.State().accepted, 0u);
  EXPECT_FALSE(rig.SendsNext());
  // 16 bytes for the 8 asked for: 8 are taken, and the next request asks for address 8.
  std::vector<std::uint8_t> sixteen(16, 0x11);
  std::fill(sixteen.begin() + 8, sixteen.end(), 0xEE);
  rig.Answer(BuildTransferAnswer(Framing::Standard, rig.State().sequence, sixteen));
  rig.engine.ReadBackStep();
  EXPECT_EQ(rig.State().bytesDone, 8u);
  rig.engine.ReadBackStep();
  const Report& q = rig.script->written.back();
  EXPECT_EQ((q[StandardLayout::addressHigh] << 8) | q[StandardLayout::addressLow], 8);
  EXPECT_EQ(rig.engine.ReadBack()[8], 0);
}

// What a unit of the alternate framing does with the answers to its requests (numbered from 1).
struct AnswerFaults {
  std::set<int> lateCopy{};    // the answer comes again after the next request went out
  std::set<int> earlyCopy{};   // the answer comes again before the next request goes out
  std::set<int> dropped{};     // the answer never comes
  bool goneAfterLast = false;  // the unit is lost once the last request has its answer
  bool changing = false;       // every answer carries other bytes
};

struct PhaseEnd {
  TransferSnapshot state;
  std::vector<std::uint8_t> readBack;
  int requests = 0;
  bool lost = false;
};

// Runs a phase of the alternate framing against a scripted unit that holds `eeprom`. An answer
// not taken stays on the link and is taken by the next read, as when it comes after the next
// request went out.
PhaseEnd RunAlternatePhase(Phase phase, const std::vector<std::uint8_t>& eeprom,
                           const AnswerFaults& f) {
  EngineRig rig(eeprom, true);
  rig.engine.SetStragglerWait(std::chrono::milliseconds(5));
  rig.engine.SetupPhase(phase);
  PhaseEnd end;
  std::optional<Report> previous;
  for (int step = 0; step < 1000 && !rig.State().finished && !rig.State().linkLost; ++step) {
    const std::size_t sent = rig.script->written.size();
    const std::uint32_t accepted = rig.State().accepted;
    phase == Phase::Write ? rig.engine.WriteStep() : rig.engine.ReadBackStep();
    if (rig.link.Lost()) break;
    if (rig.State().accepted != accepted && f.earlyCopy.count(end.requests) != 0)
      rig.script->waiting.push_back({*previous, 64});
    if (rig.script->written.size() == sent) continue;
    const int n = ++end.requests;
    const Report& q = rig.script->written.back();
    const auto at = static_cast<std::size_t>(q[AlternateLayout::addressHigh] << 8 |
                                             q[AlternateLayout::addressLow]);
    std::vector<std::uint8_t> data;
    if (phase == Phase::ReadBack) {
      data.assign(eeprom.begin() + static_cast<std::ptrdiff_t>(at),
                  eeprom.begin() + static_cast<std::ptrdiff_t>(at + 16));
      if (f.changing) data[0] = static_cast<std::uint8_t>(n);
    }
    const Report answer = BuildTransferAnswer(Framing::Alternate, 0, data);
    if (previous && f.lateCopy.count(n - 1) != 0) rig.Answer(*previous);
    if (f.dropped.count(n) == 0) rig.Answer(answer);
    previous = answer;
    if (f.goneAfterLast && at + 16 >= eeprom.size()) {
      rig.script->onRead = [&rig, &q = *rig.script] {
        if (q.answers.empty()) q.failReads = true;
      };
    }
  }
  end.state = rig.State();
  end.lost = rig.link.Lost();
  end.readBack.assign(rig.engine.ReadBack().begin(),
                      rig.engine.ReadBack().begin() + static_cast<std::ptrdiff_t>(eeprom.size()));
  return end;
}

// The alternate framing's answers carry no sequence number and no address: order alone proves
// nothing. A read phase asks for each chunk until two answers in a row agree, and counts the
// answers no request was waiting for; a write phase's answers prove nothing either way (its
// read-back does).
TEST(TransferEngine, AlternateReadPhaseTrustsOnlyAnswersThatAgree) {
  // Chunks of identical padding around one that differs: an answer taken one request late
  // looks right wherever it stands among the padding.
  std::vector<std::uint8_t> eeprom(5 * 16, 0x00);
  std::fill(eeprom.begin() + 32, eeprom.begin() + 48, 0x5A);
  struct Case {
    const char* what;
    Phase phase;
    AnswerFaults faults;
    bool finished;  // false: the unit was lost before the phase was proven
    bool outOfStep;
  };
  const std::vector<Case> cases = {
      {"clean", Phase::ReadBack, {}, true, false},
      {"late copy", Phase::ReadBack, {.lateCopy = {1}}, true, false},
      {"late copy, then the differing chunk's own answer lost",
       Phase::ReadBack,
       {.lateCopy = {2}, .dropped = {6}},
       true,
       false},
      {"late copy of a second ask, then a loss",
       Phase::ReadBack,
       {.lateCopy = {4}, .dropped = {8}},
       true,
       false},
      {"early copy, drained", Phase::ReadBack, {.earlyCopy = {3}}, true, false},
      {"late copy of the last answer", Phase::ReadBack, {.lateCopy = {9}}, true, false},
      {"two late copies", Phase::ReadBack, {.lateCopy = {1, 5}}, true, true},
      {"a late and an early copy",
       Phase::ReadBack,
       {.lateCopy = {1}, .earlyCopy = {6}},
       true,
       true},
      {"no two answers agree", Phase::ReadBack, {.changing = true}, true, true},
      {"lost during the wait for stragglers",
       Phase::ReadBack,
       {.goneAfterLast = true},
       false,
       false},
      {"write: the last answer again", Phase::Write, {.lateCopy = {4}}, true, false},
      {"write: copies", Phase::Write, {.lateCopy = {1, 3}}, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const PhaseEnd end = RunAlternatePhase(c.phase, eeprom, c.faults);
    EXPECT_EQ(end.state.finished, c.finished);
    EXPECT_EQ(end.state.outOfStep, c.outOfStep);
    if (c.phase == Phase::ReadBack && c.finished && !c.outOfStep) {
      EXPECT_EQ(end.readBack, eeprom);
      EXPECT_EQ(end.state.progress, 100);
    }
    EXPECT_EQ(end.lost, !c.finished);
  }
}

TEST(TransferEngine, RegisterReadRetriesAndAlwaysAdvancesTheSequence) {
  EngineRig rig;
  rig.StartAt(255);
  rig.Answer(BuildRegisterAnswer(254, 0x99));  // an old answer
  rig.Answer(BuildRegisterAnswer(255, 0x23), 3);
  std::uint8_t value = 0;
  EXPECT_TRUE(rig.engine.ReadRegister(61, 4, value));
  EXPECT_EQ(value, 0x23);
  EXPECT_EQ(rig.State().sequence, 1);
  EXPECT_EQ(rig.script->written.size(), 1u);

  // Unanswered: 100 sends of 100 reads each, then the next sequence number all the same.
  EXPECT_FALSE(rig.engine.ReadRegister(72, 4, value));
  EXPECT_EQ(value, 0xFF);
  EXPECT_EQ(rig.State().sequence, 2);
  EXPECT_EQ(rig.script->written.size(), 101u);
}

// Input already waiting when a request goes out never answers it: before each memory transfer
// request, in both phases and framings, and before a register read's first send, what is
// waiting is dropped.
TEST(TransferEngine, WaitingInputNeverStandsInForAnAnswer) {
  std::vector<std::uint8_t> image(32);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i + 1);
  struct Case {
    Phase phase;
    bool alternate;
  };
  for (const Case c : {Case{Phase::Write, false}, Case{Phase::Write, true},
                       Case{Phase::ReadBack, false}, Case{Phase::ReadBack, true}}) {
    SCOPED_TRACE(static_cast<int>(c.phase) * 2 + (c.alternate ? 1 : 0));
    EngineRig rig(image, c.alternate);
    const Framing f = c.alternate ? Framing::Alternate : Framing::Standard;
    const std::ptrdiff_t chunk = c.alternate ? kAlternateChunk : kStandardChunk;
    const auto answer = [&](std::vector<std::uint8_t> data) {
      return BuildTransferAnswer(f, rig.State().sequence,
                                 c.phase == Phase::Write ? std::vector<std::uint8_t>{} : data);
    };
    const auto step = [&] {
      c.phase == Phase::Write ? rig.engine.WriteStep() : rig.engine.ReadBackStep();
    };
    rig.engine.SetupPhase(c.phase);
    // An answer the first request would take is there before it goes out.
    rig.script->waiting.push_back(
        {answer(std::vector<std::uint8_t>(static_cast<std::size_t>(chunk), 0xEE)), 64});
    step();
    EXPECT_TRUE(rig.script->waiting.empty());
    step();  // nothing has come since
    EXPECT_EQ(rig.State().accepted, 0u);
    const auto own = answer(std::vector<std::uint8_t>(image.begin(), image.begin() + chunk));
    rig.Answer(own);
    step();
    EXPECT_EQ(rig.State().accepted, 1u);
    if (c.phase == Phase::ReadBack) {
      // The alternate framing takes a chunk once a second answer agrees.
      if (c.alternate) {
        step();
        rig.Answer(own);
        step();
      }
      EXPECT_EQ(rig.engine.ReadBack()[0], image[0]);
    }
  }
  EngineRig rig;
  rig.script->waiting.push_back({BuildRegisterAnswer(1, 0x99), 64});
  rig.Answer(BuildRegisterAnswer(1, 0x23));
  std::uint8_t value = 0;
  EXPECT_TRUE(rig.engine.ReadRegister(61, 4, value));
  EXPECT_EQ(value, 0x23);
}

TEST(TransferEngine, RegisterReadGivesUpAtItsDeadline) {
  EngineRig rig;
  rig.engine.SetRegisterDeadline(std::chrono::steady_clock::now() - std::chrono::seconds(1));
  std::uint8_t value = 0;
  EXPECT_FALSE(rig.engine.ReadRegister(60, 4, value));
  EXPECT_EQ(rig.script->written.size(), 0u);
  EXPECT_EQ(rig.State().sequence, 2);
}

TEST(TransferEngine, RegisterReadSeesTheAbortFlagWithinOneShortWait) {
  EngineRig rig;
  std::atomic<bool> abort{false};
  rig.engine.SetAbortFlag(&abort);
  // The flag is raised while the first read waits on a silent unit.
  rig.script->onRead = [&] { abort = true; };
  std::uint8_t value = 0;
  EXPECT_FALSE(rig.engine.ReadRegister(60, 4, value));
  ASSERT_EQ(rig.script->readWaits.size(), 1u);
  EXPECT_LE(rig.script->readWaits[0], 50u);
  EXPECT_EQ(rig.script->written.size(), 1u);

  // A read that is not aborted still waits the link's whole read time-out for its answer.
  EngineRig answered;
  answered.script->onRead = [&] {
    if (answered.script->readWaits.size() == 3) answered.Answer(BuildRegisterAnswer(1, 0x42));
  };
  EXPECT_TRUE(answered.engine.ReadRegister(60, 4, value));
  EXPECT_EQ(value, 0x42);
  EXPECT_EQ(answered.script->written.size(), 1u);
}

TEST(TransferEngine, WorkerIdlesOnADeadLinkAndStopsWhenAsked) {
  EngineRig rig;
  rig.script->failWrites = true;
  rig.engine.SetupPhase(Phase::Write);
  ASSERT_TRUE(rig.engine.StartWorker());
  // The first write fails and kills the link; the worker idles, not finishing, and says so.
  while (!rig.State().linkLost) std::this_thread::yield();
  EXPECT_FALSE(rig.State().finished);
  rig.engine.JoinWorker();
  EXPECT_FALSE(rig.State().running);
  EXPECT_FALSE(rig.link.connected());
}

}  // namespace
}  // namespace quarnel
