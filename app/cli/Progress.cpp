#include "app/cli/Progress.h"

#include <algorithm>
#include <cstdio>

namespace quarnel::cli {

namespace {

constexpr int kDefaultColumns = 80;
constexpr int kPhaseWidth = 9;
constexpr int kMaxBar = 40;
constexpr int kMinBar = 10;

std::string Pad(std::string text, std::size_t width) {
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text;
}

}  // namespace

int Percent(std::uint32_t bytes, std::uint32_t total) {
  if (total == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(std::uint64_t{bytes} * 100 / total, 100));
}

std::string FormatProgressLine(const ProgressState& state, int columns) {
  const int width = (columns > 0 ? columns : kDefaultColumns) - 1;
  const int percent = Percent(state.bytes, state.total);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, " %3d%%", percent);
  const std::string percentText = buffer;
  std::snprintf(buffer, sizeof buffer, "  %u/%u bytes", state.bytes, state.total);
  const std::string bytesText = buffer;
  std::string timeText;
  if (state.secondsLeft) {
    std::snprintf(buffer, sizeof buffer, "  %u:%02u left", *state.secondsLeft / 60,
                  *state.secondsLeft % 60);
    timeText = buffer;
  }
  const std::string phase = Pad(state.phase, kPhaseWidth);
  // The parts in the order they give way: the time first, then the bytes, then the bar.
  for (int parts = 3; parts >= 0; --parts) {
    const std::string tail =
        percentText + (parts >= 2 ? bytesText : "") + (parts >= 3 ? timeText : "");
    const int room = width - static_cast<int>(phase.size() + tail.size()) - 3;  // " [" "]"
    if (parts >= 1 && room >= kMinBar) {
      const int bar = std::min(room, kMaxBar);
      const int filled = percent * bar / 100;
      return phase + " [" + std::string(static_cast<std::size_t>(filled), '#') +
             std::string(static_cast<std::size_t>(bar - filled), '.') + "]" + tail;
    }
  }
  const std::string line = phase + percentText;
  return line.substr(0, static_cast<std::size_t>(std::max(width, 0)));
}

ProgressWriter::ProgressWriter(std::ostream& err, bool terminal, int (*columns)())
    : err_(err), terminal_(terminal), columns_(columns) {}

void ProgressWriter::Start(const char* phase, std::uint32_t total) {
  Break();
  phase_ = phase;
  start_ = std::chrono::steady_clock::now();
  lastDecile_ = 0;
  lastPercent_ = -1;
  Update(0, total);
}

void ProgressWriter::Update(std::uint32_t bytes, std::uint32_t total) {
  const int percent = Percent(bytes, total);
  if (!terminal_) {
    // Every 10 % step passed gets its line, also when one update passed several at once.
    while (lastDecile_ < percent / 10) {
      ++lastDecile_;
      err_ << phase_ << " " << lastDecile_ * 10 << "%\n";
    }
    err_ << std::flush;
    return;
  }
  if (percent == lastPercent_) return;
  lastPercent_ = percent;
  ProgressState state{phase_, bytes, total, {}};
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  if (bytes > 0 && bytes <= total) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    state.secondsLeft = static_cast<std::uint32_t>(seconds * (total - bytes) / bytes + 0.5);
  }
  const std::string line = FormatProgressLine(state, columns_ != nullptr ? columns_() : 0);
  // Spaces wipe what a longer earlier line left behind.
  const std::size_t wipe = drawnLength_ > line.size() ? drawnLength_ - line.size() : 0;
  err_ << "\r" << line << std::string(wipe, ' ') << std::flush;
  drawnLength_ = line.size();
  drawn_ = true;
}

void ProgressWriter::Break() {
  if (drawn_) err_ << "\n" << std::flush;
  drawn_ = false;
  drawnLength_ = 0;
}

}  // namespace quarnel::cli
