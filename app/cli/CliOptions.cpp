#include "app/cli/CliOptions.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "base/Text.h"
#include "emulated/Faults.h"

namespace quarnel::cli {

namespace {

constexpr unsigned Bit(Command c) {
  return 1u << static_cast<unsigned>(c);
}
constexpr unsigned kUnitCommands =
    Bit(Command::Update) | Bit(Command::Verify) | Bit(Command::Backup) | Bit(Command::Version);
constexpr unsigned kAllCommands = kUnitCommands | Bit(Command::Info) | Bit(Command::List);

struct CommandWord {
  std::string_view word;
  Command command;
};
constexpr std::array<CommandWord, 6> kCommands = {{{"update", Command::Update},
                                                   {"verify", Command::Verify},
                                                   {"backup", Command::Backup},
                                                   {"version", Command::Version},
                                                   {"info", Command::Info},
                                                   {"list", Command::List}}};

enum class Value : std::uint8_t { None, Required, Optional };

using Taken = Status<UsageError>;

UsageError Usage(UsageProblem problem, std::string detail) {
  return {problem, std::move(detail)};
}

template <bool CliOptions::*flag>
Taken Switch(std::string_view, std::string_view, CliOptions& o) {
  o.*flag = true;
  return Done{};
}

// A file or a path, as it stands.
template <std::string CliOptions::*field>
Taken Text(std::string_view, std::string_view value, CliOptions& o) {
  o.*field = std::string(value);
  return Done{};
}

// A time limit: at least kLeastLimitSeconds, so that it never becomes 0 (no limit at all) in
// the units of the clock that keeps it, and at most kMostLimitSeconds.
Taken Limit(std::string_view name, std::string_view value, double& seconds) {
  if (!ParseSeconds(std::string(value), seconds) || !(seconds >= kLeastLimitSeconds) ||
      seconds > kMostLimitSeconds) {
    return Fail(Usage(UsageProblem::BadValue, std::string(name) + " wants seconds from " +
                                                  kLeastLimitText + " to " + kMostLimitText +
                                                  ", not " + Quoted(value)));
  }
  return Done{};
}

Taken Timeout(std::string_view, std::string_view value, CliOptions& o) {
  return Limit("--timeout", value, o.timeoutSeconds);
}

// --wait alone waits as long as it takes; --wait=SECONDS at most that long.
Taken Wait(std::string_view arg, std::string_view value, CliOptions& o) {
  o.wait = true;
  if (arg.find('=') == std::string_view::npos) return Done{};
  double seconds = 0;
  if (auto taken = Limit("--wait", value, seconds); !taken) return taken;
  o.waitSeconds = seconds;
  return Done{};
}

// The options both programs take read the whole argument.
Taken Shared(std::string_view arg, std::string_view, CliOptions& o) {
  auto taken = ParseSharedOption(arg, o.shared);
  if (!taken) return Fail(Usage(UsageProblem::BadValue, std::move(taken.error().detail)));
  if (*taken) return Done{};
  return Fail(Usage(UsageProblem::UnknownOption, "unknown option " + Quoted(arg)));
}

// Every option of the command line: its name, whether it takes a value, the commands it acts
// on, and what it sets.
struct OptionRule {
  std::string_view name;
  Value value;
  unsigned commands;
  Taken (*take)(std::string_view arg, std::string_view value, CliOptions& o);
};
constexpr unsigned kImageCommands =
    Bit(Command::Update) | Bit(Command::Verify) | Bit(Command::Info);
constexpr std::array<OptionRule, 10> kOptions = {{
    {"--image", Value::Required, kImageCommands, Text<&CliOptions::imageFile>},
    {"--force", Value::None, kImageCommands | Bit(Command::Backup), Switch<&CliOptions::force>},
    {"--device", Value::Required, kUnitCommands, Text<&CliOptions::devicePath>},
    {"--timeout", Value::Required, kUnitCommands | Bit(Command::List), Timeout},
    {"--wait", Value::Optional, kUnitCommands, Wait},
    {"--quiet", Value::None, kAllCommands, Switch<&CliOptions::quiet>},
    {"--json", Value::None, kAllCommands, Switch<&CliOptions::json>},
    {"--trace", Value::None, kUnitCommands, Switch<&CliOptions::trace>},
    {"--simulate", Value::Optional, kUnitCommands | Bit(Command::List), Shared},
    {"--simulate-fault", Value::Required, kUnitCommands | Bit(Command::List), Shared},
}};

const OptionRule* FindOption(std::string_view name) {
  for (const OptionRule& rule : kOptions) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
}

// One --name or --name=value argument, checked against its rule and taken into `o`.
Result<const OptionRule*, UsageError> TakeOption(const std::string& arg, CliOptions& o) {
  const std::size_t equals = arg.find('=');
  const std::string_view name = std::string_view(arg).substr(0, equals);
  const bool hasValue = equals != std::string::npos;
  const std::string_view value = hasValue ? std::string_view(arg).substr(equals + 1) : "";
  const OptionRule* rule = FindOption(name);
  if (rule == nullptr) {
    return Fail(Usage(UsageProblem::UnknownOption, "unknown option " + Quoted(name)));
  }
  if (rule->value == Value::None && hasValue) {
    return Fail(Usage(UsageProblem::BadValue, std::string(name) + " takes no value"));
  }
  if (rule->value == Value::Required && (!hasValue || value.empty())) {
    return Fail(Usage(UsageProblem::BadValue,
                      std::string(name) + " wants a value, written " + std::string(name) + "=..."));
  }
  if (auto taken = rule->take(arg, value, o); !taken) return Fail(taken.error());
  return rule;
}

// The command and its FILE, from the words that are not options.
Status<UsageError> TakeCommand(const std::vector<std::string>& words, CliOptions& o) {
  if (words.empty()) return Fail(Usage(UsageProblem::NoCommand, "no command given"));
  const std::string& word = words.front();
  const auto command = std::find_if(kCommands.begin(), kCommands.end(),
                                    [&](const CommandWord& c) { return c.word == word; });
  if (command == kCommands.end()) {
    return Fail(Usage(UsageProblem::UnknownCommand, "unknown command " + Quoted(word)));
  }
  o.command = command->command;
  if (o.command == Command::Backup) {
    if (words.size() != 2 || words[1].empty()) {
      return Fail(Usage(UsageProblem::Words, "backup wants one FILE"));
    }
    o.backupFile = words[1];
  } else if (words.size() > 1) {
    return Fail(Usage(UsageProblem::Words, std::string(CommandName(o.command)) +
                                               " takes no further word, not " + Quoted(words[1])));
  }
  return Done{};
}

// --help and --version win over anything else on the line.
std::optional<ParsedArgs::Action> HelpOrVersion(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") return ParsedArgs::Action::Help;
    if (arg == "--version") return ParsedArgs::Action::Version;
  }
  return std::nullopt;
}

}  // namespace

const char* CommandName(Command command) {
  for (const CommandWord& c : kCommands) {
    if (c.command == command) return c.word.data();
  }
  return "?";
}

bool ParseSeconds(const std::string& text, double& seconds) {
  double whole = 0;
  double fraction = 0;
  double scale = 1;
  std::size_t digits = 0;
  bool point = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      ++digits;
      if (point) {
        scale /= 10;
        fraction += (c - '0') * scale;
      } else {
        whole = whole * 10 + (c - '0');
      }
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  seconds = whole + fraction;
  return true;
}

Result<ParsedArgs, UsageError> ParseArgs(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  if (const auto action = HelpOrVersion(args)) {
    parsed.action = *action;
    return parsed;
  }
  CliOptions& o = parsed.options;
  std::vector<std::string> words;
  std::vector<const OptionRule*> seen;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (optionsEnded || !IsOption(arg)) {
      words.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (auto rule = TakeOption(arg, o)) {
      seen.push_back(*rule);
    } else {
      return Fail(rule.error());
    }
  }
  if (auto taken = TakeCommand(words, o); !taken) return Fail(taken.error());
  for (const OptionRule* rule : seen) {
    if ((rule->commands & Bit(o.command)) == 0) {
      return Fail(Usage(UsageProblem::NotForCommand,
                        std::string(rule->name) + " does not apply to " + CommandName(o.command)));
    }
  }
  return parsed;
}

bool AsksForJson(const std::vector<std::string>& args) {
  const auto end = std::find(args.begin(), args.end(), "--");
  return std::find(args.begin(), end, "--json") != end;
}

namespace {

// The help's options column: where each option's words start.
constexpr std::size_t kHelpColumn = 22;
constexpr std::size_t kHelpWidth = 80;

constexpr const char* kHelpBefore =
    R"(Usage: quarnel-fwupdate-cli [OPTION]... COMMAND [FILE] [OPTION]...
Writes firmware into a Quarnel USB digital audio unit, checks it, backs it up.

Commands:
  update          write the image, read it back and compare
  verify          read the image's length back from the unit and compare
  backup FILE     save the unit's first 16384 EEPROM bytes to FILE
  version         print the firmware version the unit runs
  info            print the image's version line (no unit)
  list            list the units of vendor 0x1852 and whether each can be used

Options (only the --name=value form; -- ends the options):
  --image=FILE        use FILE instead of the built-in image (update, verify,
                      info): 16 to 16384 bytes, a multiple of 16, with a
                      version header unless --force
  --force             accept an image without a version header; let backup
                      overwrite an existing FILE
  --device=PATH       use exactly this unit, its node or path as list prints it
                      (update, verify, backup, version); needed when several
                      units are attached
  --timeout=SECONDS   give up when no byte has moved for this long (default 30)
  --wait[=SECONDS]    when no usable unit is attached, wait until one is, at
                      most SECONDS (no limit without a value; update, verify,
                      backup, version)
  --quiet             no progress on stderr
  --json              stdout carries only JSON lines, the last one the result
  --trace             hex dump of every report on stderr
  --simulate[=PID]    use the built-in emulated unit (PID in hex, default 7029)
  --simulate-fault=KIND[:N]
)";

constexpr const char* kHelpAfter = R"(  -h, --help          this text
  --version           the program's version and the built-in image's version

IDs are hex; counts and addresses decimal, or hex written 0x...; seconds are
decimal with an optional fraction, from 0.001 to 86400.

Exit codes:
  0   success
  1   the comparison failed, the unit's answers went out of step, or the
      version was not read
  2   no usable unit; nothing was written
  3   the unit was silent or lost during the write (verify, backup, version:
      it stopped answering or was lost; nothing was written)
  4   interrupted during the write, verify, backup or version, or while
      waiting for a unit (--wait; by Ctrl-C or a hang-up; nothing was sent)
  5   written but not verified
  6   another update is running, or the unit is in use by another program
  64  usage error, a problem with FILE, or several units without --device
  70  internal failure, the run lock could not be taken, or the backup file
      could not be written
  77  permission denied (the advice printed says how to get access)
)";

}  // namespace

const char* HelpText() {
  static const std::string text =
      std::string(kHelpBefore) + std::string(kHelpColumn, ' ') +
      WrapWords("testing aid, repeatable, implies --simulate: " + emulated::FaultKindList(),
                kHelpColumn, kHelpColumn, kHelpWidth) +
      "\n" + kHelpAfter;
  return text.c_str();
}

}  // namespace quarnel::cli
