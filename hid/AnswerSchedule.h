// When the far end of a loopback sends each answer. A unit takes each request as it comes; its
// answers leave in order, each no sooner than its delay and one latency after its request,
// and one latency after the answer before it, as a USB device's input reports reach the host
// one interrupt poll apart. A unit that vanishes does so once the answers before it are out.
#pragma once

#include <algorithm>
#include <chrono>
#include <deque>
#include <optional>

#include "hid/Loopback.h"

namespace quarnel::hid {

class AnswerSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  struct Entry {
    Clock::time_point due;
    std::optional<Report> report;  // none: the unit only vanishes
    bool vanish = false;           // the unit goes away once this entry is out
  };

  // Queues what the unit sends back for a report that came at `arrived`.
  void Add(const ServedAnswer& out, Clock::time_point arrived) {
    const auto latency = std::chrono::microseconds(out.latencyUs);
    const Clock::time_point earliest =
        arrived + std::chrono::milliseconds(out.delayMs) + std::chrono::microseconds(out.delayUs);
    Clock::time_point at = std::max(earliest, last_);
    for (const Report& report : out.answers) {
      at += latency;
      queue_.push_back({at, report, false});
    }
    if (out.vanish && !out.answers.empty()) {
      queue_.back().vanish = true;
    } else if (out.vanish) {
      queue_.push_back({at, std::nullopt, true});
    }
    last_ = at;
  }

  bool empty() const { return queue_.empty(); }
  // When the next entry is due; only while not empty.
  Clock::time_point next() const { return queue_.front().due; }

  // The next entry, once it is due at `now`.
  std::optional<Entry> TakeDue(Clock::time_point now) {
    if (queue_.empty() || queue_.front().due > now) return std::nullopt;
    Entry e = std::move(queue_.front());
    queue_.pop_front();
    return e;
  }

 private:
  std::deque<Entry> queue_;
  Clock::time_point last_{};
};

}  // namespace quarnel::hid
