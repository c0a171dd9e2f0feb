#include "emulated/Faults.h"

#include <array>
#include <cstdint>

#include "base/Text.h"
#include "engine/Reports.h"

namespace quarnel::emulated {

namespace {

// Counts of requests and answers, and milliseconds: any number the unit's own counters can
// reach. The greatest 32-bit number is left out; on Windows it means a wait without end.
constexpr std::uint32_t kMostCount = UINT32_MAX - 1;

constexpr std::array<FaultKind, 13> kFaultKinds = {{
    {"flip", "ADDR", 0, kEepromSize - 1, "the byte at ADDR reads back inverted",
     [](Faults& f, std::uint32_t n) { f.flipAddress = static_cast<std::uint16_t>(n); }},
    {"silent-after", "N", 0, kMostCount, "the unit answers N requests, then nothing",
     [](Faults& f, std::uint32_t n) { f.silentAfter = n; }},
    {"vanish-after", "N", 0, kMostCount, "the unit takes N requests, then disconnects",
     [](Faults& f, std::uint32_t n) { f.vanishAfter = n; }},
    // "Every 0th answer" means nothing: the kinds that count answers start at 1.
    {"stale", "N", 1, kMostCount, "every Nth answer comes after a stale copy (standard framing)",
     [](Faults& f, std::uint32_t n) { f.staleEvery = n; }},
    {"dup", "N", 1, kMostCount, "every Nth answer is sent twice",
     [](Faults& f, std::uint32_t n) { f.dupEvery = n; }},
    {"dup-at", "N", 0, kMostCount, "the answer to request N is sent twice",
     [](Faults& f, std::uint32_t n) { f.dupAt = n; }},
    {"late-dup", "N", 0, kMostCount,
     "the answer to request N comes again after request N+1, before its answer",
     [](Faults& f, std::uint32_t n) { f.lateDupAt = n; }},
    {"drop", "N", 1, kMostCount, "every Nth answer is never sent",
     [](Faults& f, std::uint32_t n) { f.dropEvery = n; }},
    {"delay", "MS", 0, kMostCount, "each answer comes MS milliseconds late",
     [](Faults& f, std::uint32_t n) { f.delayMs = n; }},
    {"delay-from", "N", 0, kMostCount, "the delay applies from request N on",
     [](Faults& f, std::uint32_t n) { f.delayFrom = n; }},
    {"refuse-writes", "", 0, 0, "writes are acknowledged, but the EEPROM keeps its bytes",
     [](Faults& f, std::uint32_t) { f.refuseWrites = true; }},
    // A second at most: a link slower than that is a silent one.
    {"latency", "US", 0, 1000000,
     "answers leave US microseconds after their request and apart (default 100)",
     [](Faults& f, std::uint32_t n) { f.latencyUs = n; }},
    {"write-cycle", "US", 0, 1000000,
     "the EEPROM ignores writes for US microseconds after each (default 4000)",
     [](Faults& f, std::uint32_t n) { f.writeCycleUs = n; }},
}};

const FaultKind* FindKind(std::string_view name) {
  for (const FaultKind& kind : kFaultKinds) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

// A whole number as ParseNumber reads it, but for its size: decimal digits, or 0x and hex
// digits. Such a text that ParseNumber refuses is too large for 32 bits.
bool LooksLikeNumber(std::string_view text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  if (hex) text.remove_prefix(2);
  if (text.empty()) return false;
  for (const char c : text) {
    const bool digit = c >= '0' && c <= '9';
    const bool hexDigit = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit && !(hex && hexDigit)) return false;
  }
  return true;
}

Failed<Reason<FaultProblem>> Problem(FaultProblem problem, std::string detail) {
  return Fail(Reason<FaultProblem>{problem, std::move(detail)});
}

}  // namespace

std::span<const FaultKind> FaultKinds() {
  return kFaultKinds;
}

std::string FaultKindList() {
  std::string list;
  for (const FaultKind& kind : kFaultKinds) {
    if (!list.empty()) list += ", ";
    list += kind.name;
    if (kind.value.empty()) continue;
    list += ':';
    list += kind.value;
  }
  return list;
}

Status<Reason<FaultProblem>> ApplyFault(std::string_view option, Faults& faults) {
  const auto colon = option.find(':');
  const std::string_view name = option.substr(0, colon);
  const FaultKind* kind = FindKind(name);
  const std::string quoted = Quoted(option);
  if (kind == nullptr)
    return Problem(FaultProblem::UnknownKind,
                   "unknown fault " + quoted + " (" + FaultKindList() + ")");
  const std::string valueName(kind->value);
  if (kind->value.empty()) {
    if (colon != std::string_view::npos)
      return Problem(FaultProblem::TakesNoValue, "fault " + quoted + " takes no value");
    kind->apply(faults, 0);
    return Done{};
  }
  const std::string_view text =
      colon == std::string_view::npos ? std::string_view{} : option.substr(colon + 1);
  std::uint32_t n = 0;
  const bool number = ParseNumber(text, n);
  if (!number && !LooksLikeNumber(text)) {
    return Problem(FaultProblem::NeedsValue, "fault " + quoted + " needs a number, as in " +
                                                 Quoted(std::string(name) + ":3"));
  }
  if (!number || n > kind->most) {
    return Problem(FaultProblem::TooLarge, "fault " + quoted + ": " + valueName + " is at most " +
                                               std::to_string(kind->most));
  }
  if (n < kind->least) {
    return Problem(FaultProblem::TooSmall, "fault " + quoted + ": " + valueName + " is at least " +
                                               std::to_string(kind->least));
  }
  kind->apply(faults, n);
  return Done{};
}

}  // namespace quarnel::emulated
