#include "app/cli/Verdict.h"

#include <array>
#include <cstdio>

#include "app/ExitCodes.h"
#include "app/Texts.h"
#include "base/Text.h"

namespace quarnel::cli {

namespace {

constexpr unsigned Bit(Command c) {
  return 1u << static_cast<unsigned>(c);
}
constexpr unsigned kAny = ~0u;
constexpr unsigned kUpdate = Bit(Command::Update);
constexpr unsigned kBackup = Bit(Command::Backup);
// The runs that only read the unit, and have words of their own for every ending.
constexpr unsigned kReadOnly = Bit(Command::Verify) | Bit(Command::Backup);

enum class InPhase : std::uint8_t { Any, Write, ReadBack };

// What else a row asks of the result.
enum class Also : std::uint8_t {
  Nothing,
  Permission,  // the unit was there, but this user may not open it
  InUse,       // the unit was there, but another program holds it
  NotFound,    // no unit answered at all
  OutOfStep,   // the answers went out of step with the requests
  Same,        // the read-back equals the image
};

// The last stdout line.
enum class Line : std::uint8_t {
  None,
  CommandFail,  // the command's failure words: update, version, or the connect failure
  UpdateOk,
  UpdateFail,
  ConnectFail,
  VersionFail,
  UnitVersion,   // the version line the unit sent
  ImageVersion,  // the image's version line (info)
  Matches,       // "EEPROM matches the image"
  Differs,       // DiffersLine
  Saved,         // "Saved N bytes to FILE"
  NotSaved,      // "Backup not saved: REASON"
};

// Where the message for stderr comes from.
enum class Say : std::uint8_t {
  Nothing,
  Text,       // the row's text
  TextTried,  // the row's text, then the ID pairs the search tried
  Error,      // the program's name, then the row's text or else the reason the command line found
};

// Where the result's reason comes from.
enum class Why : std::uint8_t {
  Nothing,
  Link,     // the dialog's link failure, when there is one
  Lock,     // the row's type, with why the run lock was not taken
  Message,  // the row's type, with the row's text
  Found,    // the reason the command line found
};

struct Row {
  // Which ends the row matches.
  Settled settled;
  Outcome outcome;  // when settled is ByRun
  unsigned commands;
  InPhase phase;
  Also also;
  // What it says of them.
  int code;
  const char* word;
  Line line;
  bool differsFirst;  // the comparison's line comes before the last one
  Say say;
  const char* text;
  Why why;
  const char* type;
};

using enum Outcome;
constexpr Settled kRun = Settled::ByRun;
constexpr InPhase kW = InPhase::Write;
constexpr InPhase kR = InPhase::ReadBack;
constexpr InPhase kAnyPhase = InPhase::Any;
constexpr Also kNothing = Also::Nothing;

// A run's last row: every outcome the rows before it leave.
constexpr Row kCatchAll = {kRun,     None,          kAny,       kAnyPhase,
                           kNothing, kExitInternal, "internal", Line::CommandFail,
                           false,    Say::Nothing,  nullptr,    Why::Nothing,
                           nullptr};

// The first row that matches an end decides everything about it; more particular rows come
// before the general ones. Columns: what it matches (settled, outcome, commands, phase, also),
// then the exit code, the JSON outcome word, the last stdout line, whether the comparison's
// line comes first, the message for stderr (where from, its text), the reason (where from,
// its type).
constexpr std::array<Row, 37> kTable = {{
    // The time limit and interruptions: by what the unit may hold.
    {kRun, TimedOut, kUpdate, kW, kNothing, kExitStoppedAnswering, "stopped-answering",
     Line::CommandFail, false, Say::Text,
     "the device stopped answering during the write; the firmware may be partly written",
     Why::Message, "timeout"},
    {kRun, TimedOut, kUpdate, kR, kNothing, kExitNotVerified, "not-verified", Line::CommandFail,
     false, Say::Text,
     "the device stopped answering while the firmware was being verified: it was written but "
     "not verified",
     Why::Message, "timeout"},
    {kRun, TimedOut, kAny, kAnyPhase, kNothing, kExitStoppedAnswering, "stopped-answering",
     Line::CommandFail, false, Say::Text, "the device stopped answering; nothing was written",
     Why::Message, "timeout"},
    {kRun, Interrupted, kUpdate, kW, kNothing, kExitInterrupted, "interrupted", Line::CommandFail,
     false, Say::Text, "interrupted during the write; the firmware may be partly written",
     Why::Message, "interrupted"},
    {kRun, Interrupted, kUpdate, kR, kNothing, kExitNotVerified, "not-verified", Line::CommandFail,
     false, Say::Text,
     "interrupted while the firmware was being verified: it was written but not verified",
     Why::Message, "interrupted"},
    {kRun, Interrupted, kAny, kAnyPhase, kNothing, kExitInterrupted, "interrupted",
     Line::CommandFail, false, Say::Text, "interrupted; nothing was written", Why::Message,
     "interrupted"},
    // The verdicts.
    {kRun, UpdateOk, kAny, kAnyPhase, kNothing, kExitOk, "ok", Line::UpdateOk, false, Say::Nothing,
     nullptr, Why::Nothing, nullptr},
    // A read-only run's answers out of step: the dialog's box has said what that means.
    {kRun, VerifyFailed, kReadOnly, kAnyPhase, Also::OutOfStep, kExitVerifyFailed, "out-of-step",
     Line::ConnectFail, false, Say::Nothing, text::kReadOutOfStepBox, Why::Message, "out-of-step"},
    {kRun, VerifyFailed, kUpdate, kAnyPhase, Also::OutOfStep, kExitVerifyFailed, "differs",
     Line::UpdateFail, false, Say::Text,
     "the unit's answers went out of step with the requests, so nothing it sent can be trusted; "
     "run the update again",
     Why::Message, "out-of-step"},
    {kRun, VerifyFailed, kUpdate, kAnyPhase, kNothing, kExitVerifyFailed, "differs",
     Line::UpdateFail, true, Say::Nothing, nullptr, Why::Nothing, nullptr},
    {kRun, ReadDone, kBackup, kAnyPhase, kNothing, kExitOk, "saved", Line::Saved, false,
     Say::Nothing, nullptr, Why::Nothing, nullptr},
    {kRun, ReadDone, kAny, kAnyPhase, Also::Same, kExitOk, "matches", Line::Matches, false,
     Say::Nothing, nullptr, Why::Nothing, nullptr},
    {kRun, ReadDone, kAny, kAnyPhase, kNothing, kExitVerifyFailed, "differs", Line::Differs, false,
     Say::Nothing, nullptr, Why::Nothing, nullptr},
    {kRun, VersionOk, kAny, kAnyPhase, kNothing, kExitOk, "version", Line::UnitVersion, false,
     Say::Nothing, nullptr, Why::Nothing, nullptr},
    {kRun, VersionFailed, kAny, kAnyPhase, kNothing, kExitVerifyFailed, "version-failed",
     Line::VersionFail, false, Say::Nothing, nullptr, Why::Nothing, nullptr},
    // No unit to use.
    {kRun, ConnectFailed, kAny, kAnyPhase, Also::Permission, kExitNoPermission, "permission",
     Line::ConnectFail, false, Say::Nothing, nullptr, Why::Link, nullptr},
    {kRun, ConnectFailed, kAny, kAnyPhase, Also::InUse, kExitBusy, "in-use", Line::ConnectFail,
     false, Say::Nothing, nullptr, Why::Link, nullptr},
    {kRun, ConnectFailed, kAny, kAnyPhase, Also::NotFound, kExitNoDevice, "no-unit",
     Line::ConnectFail, false, Say::TextTried, "no unit found; tried ", Why::Link, nullptr},
    {kRun, ConnectFailed, kAny, kAnyPhase, kNothing, kExitNoDevice, "no-unit", Line::ConnectFail,
     false, Say::Nothing, nullptr, Why::Link, nullptr},
    {kRun, Busy, kAny, kAnyPhase, kNothing, kExitBusy, "busy", Line::ConnectFail, false,
     Say::Nothing, nullptr, Why::Lock, "busy"},
    {kRun, LockFailed, kAny, kAnyPhase, kNothing, kExitInternal, "lock-failed", Line::ConnectFail,
     false, Say::Nothing, nullptr, Why::Lock, "lock"},
    // The unit went away: the dialog's message box has told what that means.
    {kRun, ReadBackConnectFailed, kAny, kAnyPhase, kNothing, kExitNotVerified, "not-verified",
     Line::ConnectFail, false, Say::Nothing, nullptr, Why::Link, nullptr},
    {kRun, LinkLost, kUpdate, kR, kNothing, kExitNotVerified, "not-verified", Line::CommandFail,
     false, Say::Nothing, nullptr, Why::Link, nullptr},
    {kRun, LinkLost, kUpdate, kAnyPhase, kNothing, kExitStoppedAnswering, "link-lost",
     Line::CommandFail, false, Say::Nothing, nullptr, Why::Link, nullptr},
    {kRun, LinkLost, kAny, kAnyPhase, kNothing, kExitStoppedAnswering, "link-lost",
     Line::CommandFail, false, Say::Nothing, nullptr, Why::Link, nullptr},
    // Anything else of a run (no worker thread, or no verdict at all).
    kCatchAll,
    // What the command line settles itself.
    {Settled::Help, None, kAny, kAnyPhase, kNothing, kExitOk, nullptr, Line::None, false,
     Say::Nothing, nullptr, Why::Nothing, nullptr},
    {Settled::Usage, None, kAny, kAnyPhase, kNothing, kExitUsage, "usage", Line::None, false,
     Say::Nothing, nullptr, Why::Found, nullptr},
    {Settled::BadFile, None, kAny, kAnyPhase, kNothing, kExitUsage, "bad-file", Line::None, false,
     Say::Error, nullptr, Why::Found, nullptr},
    {Settled::NoSuchUnit, None, kAny, kAnyPhase, kNothing, kExitNoDevice, "no-unit",
     Line::ConnectFail, false, Say::Error, nullptr, Why::Found, nullptr},
    {Settled::SeveralUnits, None, kAny, kAnyPhase, kNothing, kExitUsage, "several-units",
     Line::None, false, Say::Error, nullptr, Why::Found, nullptr},
    {Settled::WaitInterrupted, None, kAny, kAnyPhase, kNothing, kExitInterrupted, "interrupted",
     Line::ConnectFail, false, Say::Text, "interrupted while waiting for a unit; nothing was sent",
     Why::Message, "interrupted"},
    {Settled::FileNotWritten, None, kAny, kAnyPhase, kNothing, kExitInternal, "file-not-written",
     Line::NotSaved, false, Say::Error, nullptr, Why::Found, nullptr},
    {Settled::ImageShown, None, kAny, kAnyPhase, kNothing, kExitOk, "version", Line::ImageVersion,
     false, Say::Nothing, nullptr, Why::Nothing, nullptr},
    {Settled::Listed, None, kAny, kAnyPhase, kNothing, kExitOk, "listed", Line::None, false,
     Say::Nothing, nullptr, Why::Nothing, nullptr},
    {Settled::NoneListed, None, kAny, kAnyPhase, kNothing, kExitNoDevice, "no-unit", Line::None,
     false, Say::Error, "no unit of vendor 0x1852 found", Why::Message, "not-found"},
}};

bool PhaseMatches(InPhase phase, Phase actual) {
  return phase == InPhase::Any || (phase == InPhase::Write) == (actual == Phase::Write);
}

bool AlsoMatches(Also also, const RunResult& r) {
  const hid::FailureKind kind = r.failure.kind;
  switch (also) {
    case Also::Nothing:
      return true;
    case Also::Permission:
      return kind == hid::FailureKind::PermissionDenied;
    case Also::InUse:
      return kind == hid::FailureKind::InUse;
    case Also::NotFound:
      return kind == hid::FailureKind::NotFound || !r.failure.failed();
    case Also::OutOfStep:
      return r.outOfStep;
    case Also::Same:
      return r.difference.count == 0;
  }
  return false;
}

bool Matches(const Row& row, const RunEnd& end) {
  if (row.settled != end.settled) return false;
  if (row.settled != Settled::ByRun) return true;
  const bool anyOutcome = row.outcome == Outcome::None;
  return (anyOutcome || row.outcome == end.result.outcome) &&
         (row.commands & Bit(end.command)) != 0 && PhaseMatches(row.phase, end.result.phase) &&
         AlsoMatches(row.also, end.result);
}

const Row& Find(const RunEnd& end) {
  for (const Row& row : kTable) {
    if (Matches(row, end)) return row;
  }
  return kCatchAll;  // every end has its row; this is only a guard
}

std::string TriedPairs(const RunResult& result) {
  std::string text;
  for (const ConnectAttempt& a : result.attempts) {
    text += (text.empty() ? "" : ", ") + IdPair(a.vendorId, a.productId);
  }
  return text;
}

std::string LineOf(Line line, const RunEnd& end) {
  const bool update = end.command == Command::Update;
  const bool version = end.command == Command::Version;
  switch (line) {
    case Line::None:
      return {};
    case Line::CommandFail:
      return update ? text::kUpdateFail : version ? text::kVersionFail : text::kConnectFail;
    case Line::UpdateOk:
      return text::kUpdateOk;
    case Line::UpdateFail:
      return text::kUpdateFail;
    case Line::ConnectFail:
      return text::kConnectFail;
    case Line::VersionFail:
      return text::kVersionFail;
    case Line::UnitVersion:
      return end.result.versionLine;
    case Line::ImageVersion:
      return end.imageVersion.value_or("no version header found");
    case Line::Matches:
      return "EEPROM matches the image";
    case Line::Differs:
      return DiffersLine(end.result.difference);
    case Line::Saved:
      return "Saved " + std::to_string(end.result.readBack.size()) + " bytes to " +
             Shown(end.backupFile);
    case Line::NotSaved:
      return "Backup not saved: " + end.found.detail;
  }
  return {};
}

std::string MessageOf(const Row& row, const RunEnd& end) {
  switch (row.say) {
    case Say::Nothing:
      return {};
    case Say::Text:
      return row.text;
    case Say::TextTried:
      return row.text + TriedPairs(end.result);
    case Say::Error:
      return std::string(kProgramName) + ": " + (row.text != nullptr ? row.text : end.found.detail);
  }
  return {};
}

void SetReason(Verdict& v, const Row& row, const RunEnd& end) {
  const RunResult& r = end.result;
  switch (row.why) {
    case Why::Nothing:
      return;
    case Why::Link:
      if (!r.failure.failed()) return;
      v.reasonType = hid::FailureKindName(r.failure.kind);
      v.reasonDetail = r.failure.detail;
      return;
    case Why::Lock:
      v.reasonType = row.type;
      v.reasonDetail = r.lockFailure.detail;
      return;
    case Why::Message:
      v.reasonType = row.type;
      v.reasonDetail = row.text;
      return;
    case Why::Found:
      v.reasonType = end.found.type != nullptr ? end.found.type : "";
      v.reasonDetail = end.found.detail;
      return;
  }
}

}  // namespace

std::string DiffersLine(const Difference& difference) {
  char line[96];
  std::snprintf(line, sizeof line, "EEPROM differs from the image: %u bytes, first at 0x%04X",
                difference.count, difference.first);
  return line;
}

Verdict Judge(const RunEnd& end) {
  const Row& row = Find(end);
  Verdict v;
  v.code = row.code;
  v.outcome = row.word != nullptr ? row.word : "";
  v.line = LineOf(row.line, end);
  if (row.differsFirst && end.result.difference.count > 0) {
    v.differsLine = DiffersLine(end.result.difference);
  }
  v.diagnostic = MessageOf(row, end);
  SetReason(v, row, end);
  return v;
}

int ExitCode(Settled settled) {
  RunEnd end;
  end.settled = settled;
  return Judge(end).code;
}

std::vector<OutcomeWords> OutcomeTable() {
  std::vector<OutcomeWords> rows;
  for (const Row& row : kTable) rows.push_back({row.code, row.word});
  return rows;
}

const char* ReasonWord(ChoiceProblem problem) {
  switch (problem) {
    case ChoiceProblem::NotAttached:
      return "not-found";
    case ChoiceProblem::NotOurs:
      return "not-ours";
    case ChoiceProblem::Several:
      return "ambiguous";
  }
  return "?";
}

}  // namespace quarnel::cli
