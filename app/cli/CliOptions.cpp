#include "app/cli/CliOptions.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "base/Text.h"

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

// Every option of the command line and the commands it acts on.
struct OptionRule {
  std::string_view name;
  Value value;
  unsigned commands;
};
constexpr std::array<OptionRule, 10> kOptions = {{
    {"--image", Value::Required, Bit(Command::Update) | Bit(Command::Verify) | Bit(Command::Info)},
    {"--force", Value::None,
     Bit(Command::Update) | Bit(Command::Verify) | Bit(Command::Info) | Bit(Command::Backup)},
    {"--device", Value::Required, kUnitCommands},
    {"--timeout", Value::Required, kUnitCommands | Bit(Command::List)},
    {"--quiet", Value::None, kAllCommands},
    {"--json", Value::None, kAllCommands},
    {"--trace", Value::None, kUnitCommands},
    {"--simulate", Value::Optional, kUnitCommands | Bit(Command::List)},
    {"--simulate-fault", Value::Required, kUnitCommands | Bit(Command::List)},
    {"--report", Value::Required, 0},  // the windowed program's
}};

const OptionRule* FindOption(std::string_view name) {
  for (const OptionRule& rule : kOptions) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

ParsedArgs Usage(std::string error) {
  ParsedArgs parsed;
  parsed.action = ParsedArgs::Action::Usage;
  parsed.error = std::move(error);
  return parsed;
}

bool IsOption(const std::string& arg) {
  return arg.size() > 1 && arg[0] == '-';
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

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  // --help and --version win over anything else on the line.
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") return {ParsedArgs::Action::Help, {}, {}};
    if (arg == "--version") return {ParsedArgs::Action::Version, {}, {}};
  }

  ParsedArgs parsed;
  parsed.action = ParsedArgs::Action::Run;
  CliOptions& o = parsed.options;
  std::vector<std::string> words;
  std::vector<const OptionRule*> seen;
  bool optionsEnded = false;
  for (const std::string& arg : args) {
    if (optionsEnded || !IsOption(arg)) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? arg.substr(equals + 1) : std::string();
    const OptionRule* rule = FindOption(name);
    if (rule == nullptr || rule->commands == 0) return Usage("unknown option " + Quoted(name));
    if (rule->value == Value::None && hasValue) return Usage(name + " takes no value");
    if (rule->value == Value::Required && (!hasValue || value.empty())) {
      return Usage(name + " wants a value, written " + name + "=...");
    }
    seen.push_back(rule);

    // The switches, and the options that take a file or a path as it stands.
    static constexpr std::pair<std::string_view, bool CliOptions::*> kSwitches[] = {
        {"--force", &CliOptions::force},
        {"--quiet", &CliOptions::quiet},
        {"--json", &CliOptions::json},
        {"--trace", &CliOptions::trace},
    };
    static constexpr std::pair<std::string_view, std::string CliOptions::*> kTexts[] = {
        {"--image", &CliOptions::imageFile},
        {"--device", &CliOptions::devicePath},
    };
    const auto isSwitch = std::find_if(std::begin(kSwitches), std::end(kSwitches),
                                       [&](const auto& e) { return e.first == name; });
    const auto isText = std::find_if(std::begin(kTexts), std::end(kTexts),
                                     [&](const auto& e) { return e.first == name; });
    if (isSwitch != std::end(kSwitches)) {
      o.*(isSwitch->second) = true;
    } else if (isText != std::end(kTexts)) {
      o.*(isText->second) = value;
    } else if (name == "--timeout") {
      if (!ParseSeconds(value, o.timeoutSeconds) || !(o.timeoutSeconds > 0) ||
          o.timeoutSeconds > 86400) {
        return Usage("--timeout wants seconds above 0 and at most 86400, not " + Quoted(value));
      }
    } else {
      std::string error;
      if (ParseSharedOption(arg, o.shared, error) != OptionResult::Taken) {
        return Usage(error.empty() ? "unknown option " + Quoted(name) : error);
      }
    }
  }

  if (words.empty()) return Usage("no command given");
  const std::string& word = words.front();
  const CommandWord* command = nullptr;
  for (const CommandWord& c : kCommands) {
    if (c.word == word) command = &c;
  }
  if (command == nullptr) return Usage("unknown command " + Quoted(word));
  o.command = command->command;
  if (o.command == Command::Backup) {
    if (words.size() != 2 || words[1].empty()) return Usage("backup wants one FILE");
    o.backupFile = words[1];
  } else if (words.size() > 1) {
    return Usage(std::string(CommandName(o.command)) + " takes no further word, not " +
                 Quoted(words[1]));
  }
  for (const OptionRule* rule : seen) {
    if ((rule->commands & Bit(o.command)) == 0) {
      return Usage(std::string(rule->name) + " does not apply to " + CommandName(o.command));
    }
  }
  return parsed;
}

const char* HelpText() {
  return R"(Usage: quarnel-fwupdate-cli [OPTION]... COMMAND [FILE] [OPTION]...
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
                      info): 1..16384 bytes, a multiple of 16, with a version
                      header unless --force
  --force             accept an image without a version header; let backup
                      overwrite an existing FILE
  --device=PATH       use exactly this unit, its node or path as list prints it
                      (update, verify, backup, version); needed when several
                      units are attached
  --timeout=SECONDS   give up when no byte has moved for this long (default 30)
  --quiet             no progress on stderr
  --json              stdout carries only JSON lines, the last one the result
  --trace             hex dump of every report on stderr
  --simulate[=PID]    use the built-in emulated unit (PID in hex, default 7029)
  --simulate-fault=KIND[:N]
                      testing aid, repeatable, implies --simulate: flip:ADDR,
                      silent-after:N, vanish-after:N, stale:N, dup:N, dup-at:N,
                      drop:N, delay:MS, delay-from:N, refuse-writes
  -h, --help          this text
  --version           the program's version and the built-in image's version

IDs are hex; counts and addresses decimal, or hex written 0x...; seconds are
decimal with an optional fraction.

Exit codes:
  0   success
  1   the comparison failed, or the version was not read
  2   no usable unit; nothing was written
  3   the unit was silent or lost during the write (verify, backup, version:
      it stopped answering; nothing was written)
  4   interrupted during the write, verify or backup
  5   written but not verified
  6   another update is running, or the unit is in use by another program
  64  usage error, a problem with FILE, or several units without --device
  70  internal failure, the run lock could not be taken, or the backup file
      could not be written
  77  permission denied (the advice printed says how to get access)
)";
}

}  // namespace quarnel::cli
