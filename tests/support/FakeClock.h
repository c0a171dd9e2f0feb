// A steady clock that moves only when told, for waits that tests drive by hand.
#pragma once

#include <chrono>

namespace quarnel::testing {

struct FakeClock {
  std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
  std::chrono::milliseconds paused{0};  // how long the pauses asked for came to

  void Advance(std::chrono::milliseconds by) { now += by; }
};

}  // namespace quarnel::testing
