// The faults the emulated unit can be told to show, for demonstrations and tests: what each
// does, and the one table of their names, values and descriptions that the option parser
// reads and that the help texts, manual page and completion are checked against.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/Result.h"

namespace quarnel::emulated {

// The unit's own timing, kept unless a test or demonstration asks for other values.
inline constexpr std::uint32_t kDefaultLatencyUs = 100;
inline constexpr std::uint32_t kDefaultWriteCycleUs = 4000;

struct Faults {
  std::optional<std::uint16_t> flipAddress{};  // this byte reads back inverted
  std::optional<std::uint32_t> silentAfter{};  // answer this many requests, then nothing
  std::optional<std::uint32_t> vanishAfter{};  // take this many requests, then disconnect
  std::uint32_t staleEvery = 0;  // every Nth answer comes after a stale copy (standard framing)
  std::uint32_t dupEvery = 0;    // every Nth answer is sent twice
  std::uint32_t dropEvery = 0;   // every Nth answer is never sent
  std::optional<std::uint32_t> dupAt{};  // the answer to this request is sent twice
  // The answer to this request comes again once the next request has arrived, before that
  // request's own answer, as a USB device's repeated input report reaches the host.
  std::optional<std::uint32_t> lateDupAt{};
  std::uint32_t delayMs = 0;    // each answer comes this late
  std::uint32_t delayUs = 0;    // ... and this many microseconds later still
  std::uint32_t delayFrom = 0;  // ... from this request on (0 and 1: from the first)
  bool refuseWrites = false;    // writes are acknowledged but the EEPROM keeps its bytes
  // Answers leave this long after their request came and after the answer before them, as
  // input reports reach the host one interrupt poll apart.
  std::uint32_t latencyUs = kDefaultLatencyUs;
  // After each write it stored, the EEPROM is busy this long: a write that comes sooner is
  // acknowledged, but its bytes are not stored. Unset: kDefaultWriteCycleUs.
  std::optional<std::uint32_t> writeCycleUs{};
};

// One kind of fault as the option KIND[:VALUE] names it.
struct FaultKind {
  std::string_view name;
  std::string_view value;        // what the value is called ("N", "ADDR", "MS"); empty: takes none
  std::uint32_t least;           // the value rule: from `least` ...
  std::uint32_t most;            // ... to `most`
  std::string_view description;  // one line, for the help and the manual page
  void (*apply)(Faults& faults, std::uint32_t value);
};

// Every kind, in the order the help lists them.
std::span<const FaultKind> FaultKinds();

// "flip:ADDR, silent-after:N, ..., refuse-writes": the kinds as the help lists them.
std::string FaultKindList();

enum class FaultProblem : std::uint8_t {
  UnknownKind,   // no kind of that name
  NeedsValue,    // the kind takes a number and none, or no number, was given
  TakesNoValue,  // a value was given to a kind that takes none
  TooSmall,      // below the kind's least value
  TooLarge,      // above the kind's most value
};

// Applies one testing-aid option "KIND[:VALUE]" to `faults`.
Status<Reason<FaultProblem>> ApplyFault(std::string_view option, Faults& faults);

}  // namespace quarnel::emulated
