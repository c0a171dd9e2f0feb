// How a run of the command line ends: its exit code, its outcome word, its last line, its
// message and its reason, looked up in one table from the dialog's typed result or from what
// the command line settled itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/DialogEvents.h"
#include "app/cli/CliOptions.h"
#include "base/Result.h"

namespace quarnel::cli {

// What ended the run: the dialog's run, or something the command line found itself before
// it (or, for FileNotWritten, after it).
enum class Settled : std::uint8_t {
  ByRun,            // the dialog's result decides
  Help,             // --help or --version was printed
  Usage,            // the arguments are wrong
  BadFile,          // --image=FILE or the backup FILE cannot be used
  NoSuchUnit,       // --device names no unit of ours
  SeveralUnits,     // several units are attached and none is named
  WaitInterrupted,  // interrupted while waiting for a unit (--wait): nothing was sent
  FileNotWritten,   // the unit was read, but the backup could not be saved
  ImageShown,       // info printed the image's version line
  Listed,           // list found units of the vendor
  NoneListed,       // list found none
};

// Why the unit to use could not be chosen.
enum class ChoiceProblem : std::uint8_t {
  NotAttached,  // --device names no interface that is attached
  NotOurs,      // --device names an interface that is not one of our units
  Several,      // several units are attached and --device names none
};
using ChoiceFailure = Reason<ChoiceProblem>;

// A reason the command line found, as the result's JSON carries it.
struct FoundReason {
  const char* type = nullptr;  // "file", "not-found", ...
  std::string detail;
};

struct RunEnd {
  Command command = Command::Update;
  Settled settled = Settled::ByRun;
  // The dialog's result (ByRun, FileNotWritten).
  RunResult result;
  FoundReason found;
  std::string backupFile;                   // the backup's "Saved ..." line
  std::optional<std::string> imageVersion;  // info's line
};

struct Verdict {
  int code = 70;
  std::string outcome;      // a stable name for scripts: "ok", "differs", "no-unit", ...; empty
                            // where no result is printed (help, usage, list)
  std::string line;         // the last stdout line
  std::string differsLine;  // a stdout line before it, when not empty
  std::string reasonType;   // empty: no reason
  std::string reasonDetail;
  std::string diagnostic;  // for stderr, when not empty
};

Verdict Judge(const RunEnd& end);

// The exit code of an end the command line settled itself.
int ExitCode(Settled settled);

// What a row of the outcome table says about every end it matches.
struct OutcomeWords {
  int code;
  const char* outcome;  // null: no result is printed
};
// Every row of the table, for the checks of the help and the README.
std::vector<OutcomeWords> OutcomeTable();

// "EEPROM differs from the image: N bytes, first at 0xADDR"
std::string DiffersLine(const Difference& difference);

const char* ReasonWord(ChoiceProblem problem);

}  // namespace quarnel::cli
