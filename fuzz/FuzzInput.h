// What every fuzz target shares: its input read from the front, field by field, and the
// check that ends a run (and so makes libFuzzer keep the input) when a promise is broken.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>
#include <string_view>

namespace quarnel::fuzz {

// Reads fields from the front of the input; once it is used up, every field reads as zero
// and every byte range as empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  bool empty() const { return rest_.empty(); }
  std::size_t size() const { return rest_.size(); }

  std::uint8_t Byte() {
    if (rest_.empty()) return 0;
    const std::uint8_t b = rest_.front();
    rest_ = rest_.subspan(1);
    return b;
  }
  // Little-endian.
  std::uint32_t Word() {
    std::uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w |= std::uint32_t{Byte()} << (8 * i);
    return w;
  }
  // Up to `n` bytes.
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    const auto taken = rest_.first(std::min(n, rest_.size()));
    rest_ = rest_.subspan(taken.size());
    return taken;
  }
  std::span<const std::uint8_t> Rest() { return Bytes(rest_.size()); }

 private:
  std::span<const std::uint8_t> rest_;
};

// Ends the run with a message when `ok` is false.
inline void Require(bool ok, std::string_view what) {
  if (ok) return;
  std::fprintf(stderr, "broken promise: %.*s\n", static_cast<int>(what.size()), what.data());
  std::abort();
}

// The input as a command line: arguments split at zero bytes.
inline std::vector<std::string> SplitArguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  return args;
}

}  // namespace quarnel::fuzz
