#include <algorithm>
#include <thread>

#include "hid/DeviceBus.h"

namespace quarnel::hid {

void Bus::WaitForChange(std::chrono::milliseconds timeout, const std::atomic<bool>* cancel) {
  // Slices short enough that Ctrl-C ends the wait at once; the interfaces are listed again
  // by the caller at most four times a second.
  constexpr std::chrono::milliseconds kSlice{25};
  auto left = std::min(timeout, kPollInterval);
  while (left.count() > 0 && (cancel == nullptr || !cancel->load())) {
    const auto step = std::min(left, kSlice);
    std::this_thread::sleep_for(step);
    left -= step;
  }
}

}  // namespace quarnel::hid
