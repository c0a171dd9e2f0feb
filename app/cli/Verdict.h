// How a run of the command line ends: its exit code, its outcome line and its reason,
// decided from the dialog's typed outcome and what the command line itself stopped.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "app/DialogEvents.h"
#include "app/cli/CliOptions.h"

namespace quarnel::cli {

// What the command line ended itself, before the dialog came to a verdict.
enum class Stop : std::uint8_t { None, Timeout, Interrupt };

struct Difference {
  std::uint32_t count = 0;  // bytes that differ
  std::uint32_t first = 0;  // address of the first of them
};

// Compares the image with the bytes read back at the same addresses.
Difference Compare(std::span<const std::uint8_t> image, std::span<const std::uint8_t> readBack);

struct RunEnd {
  Command command = Command::Update;
  RunResult result;
  Stop stop = Stop::None;
  Phase phase = Phase::Write;  // the phase a Stop came in
  Difference difference;       // of a failed update's or a verify's read-back
};

struct Verdict {
  int code = 70;
  std::string outcome;      // a stable name for scripts: "ok", "differs", "no-unit", ...
  std::string line;         // the last stdout line
  std::string differsLine;  // a stdout line before it, when not empty
  std::string reasonType;   // empty: no reason
  std::string reasonDetail;
  std::string diagnostic;  // for stderr, when not empty
};

Verdict Judge(const RunEnd& end);

// "EEPROM differs from the image: N bytes, first at 0xADDR"
std::string DiffersLine(const Difference& difference);

}  // namespace quarnel::cli
