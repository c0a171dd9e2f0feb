// Progress on stderr: one line redrawn in place on a terminal, one plain line per 10 %
// otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace quarnel::cli {

struct ProgressState {
  const char* phase = "";  // "writing", "verifying", "reading"
  std::uint32_t bytes = 0;
  std::uint32_t total = 0;
  std::optional<std::uint32_t> secondsLeft;
};

// The phase, a bar, the percentage, bytes done of total and the time left, in at most
// `columns` - 1 characters (the last column would wrap on some terminals); parts are left
// out, the time first, when there is no room. `columns` 0 (unknown) counts as 80.
std::string FormatProgressLine(const ProgressState& state, int columns);

// The percentage of a phase, 0..100.
int Percent(std::uint32_t bytes, std::uint32_t total);

class ProgressWriter {
 public:
  // `columns` is asked again at each redraw: the terminal may be resized.
  ProgressWriter(std::ostream& err, bool terminal, int (*columns)());

  void Start(const char* phase, std::uint32_t total);
  void Update(std::uint32_t bytes, std::uint32_t total);
  // Ends a line drawn in place, before anything else is written to stderr.
  void Break();

 private:
  std::ostream& err_;
  bool terminal_;
  int (*columns_)();
  const char* phase_ = "";
  std::chrono::steady_clock::time_point start_;
  int lastDecile_ = 0;
  int lastPercent_ = -1;
  bool drawn_ = false;
  std::size_t drawnLength_ = 0;
};

}  // namespace quarnel::cli
