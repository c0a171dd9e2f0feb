// The command line's arguments: a pure function from the arguments to the options of one
// run, or to what is wrong with them. No I/O, so that it can be fed anything.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ProgramOptions.h"
#include "base/Result.h"

namespace quarnel::cli {

inline constexpr const char* kProgramName = "quarnel-fwupdate-cli";

enum class Command : std::uint8_t { Update, Verify, Backup, Version, Info, List };

// The time limits --timeout and --wait=SECONDS take: from a millisecond to a day.
inline constexpr double kLeastLimitSeconds = 0.001;
inline constexpr double kMostLimitSeconds = 86400;
inline constexpr const char* kLeastLimitText = "0.001";
inline constexpr const char* kMostLimitText = "86400";

struct CliOptions {
  Command command = Command::Update;
  std::string backupFile;  // backup FILE
  std::string imageFile;   // --image=FILE; empty: the built-in image
  std::string devicePath;  // --device=PATH
  bool force = false;
  bool quiet = false;
  bool json = false;
  bool trace = false;
  double timeoutSeconds = 30;
  bool wait = false;                  // --wait[=SECONDS]
  std::optional<double> waitSeconds;  // its SECONDS; none: no limit
  SharedOptions shared;
};

struct ParsedArgs {
  enum class Action : std::uint8_t { Run, Help, Version };
  Action action = Action::Run;
  CliOptions options;
};

// What is wrong with the arguments.
enum class UsageProblem : std::uint8_t {
  UnknownOption,  // an option this program does not have
  BadValue,       // an option's value is missing, not wanted, or not what it takes
  NoCommand,
  UnknownCommand,
  Words,          // too many words, or a missing FILE
  NotForCommand,  // an option that does not apply to the command
};
// `detail`: one line without the program's name.
using UsageError = Reason<UsageProblem>;

Result<ParsedArgs, UsageError> ParseArgs(const std::vector<std::string>& args);
// Whether the arguments ask for JSON, even when they are wrong otherwise: --json before any --.
bool AsksForJson(const std::vector<std::string>& args);

// The command's name as typed ("update", "backup", ...).
const char* CommandName(Command command);

// Seconds: decimal digits with an optional fraction; no sign, spaces or exponent.
bool ParseSeconds(const std::string& text, double& seconds);

// The text --help prints; every line fits 80 columns.
const char* HelpText();

}  // namespace quarnel::cli
