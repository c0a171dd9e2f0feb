// A transport that serves the far end on the caller's own thread: each write is answered
// before it returns, all its answers queued at once. So an answer sent twice is always waiting
// before the next request goes out, whatever the machine's load, and a test of what the
// program does with it never depends on timing. Delays are not kept: answers come at once. A
// far end that vanishes fails the reads once its last answers have been taken.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "hid/Loopback.h"

namespace quarnel::testing {

class InlineChannel final : public hid::Channel {
 public:
  explicit InlineChannel(std::shared_ptr<hid::ReportServer> server) : server_(std::move(server)) {}

  hid::IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [this] { return cancelled_ || gone_ || !queue_.empty(); });
    if (cancelled_) return {hid::IoStatus::Cancelled, 0, {}};
    return TakeLocked(report, length);
  }
  hid::IoResult ReadWaiting(Report& report, std::uint32_t length) override {
    std::lock_guard lock(mutex_);
    return TakeLocked(report, length);
  }
  hid::IoResult Write(const Report& report, std::uint32_t length, std::uint32_t) override {
    std::lock_guard lock(mutex_);
    if (cancelled_) return {hid::IoStatus::Cancelled, 0, {}};
    if (gone_) return Gone();
    const hid::ServedAnswer out = server_->Serve(std::span(report).first(length));
    queue_.insert(queue_.end(), out.answers.begin(), out.answers.end());
    gone_ = out.vanish;
    arrived_.notify_all();
    return {hid::IoStatus::Ok, length, {}};
  }
  void Cancel() override {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    arrived_.notify_all();
  }

 private:
  static hid::IoResult Gone() {
    return {hid::IoStatus::Failed, 0, {hid::FailureKind::Gone, "inline", "inline: unit gone"}};
  }
  hid::IoResult TakeLocked(Report& report, std::uint32_t length) {
    if (queue_.empty()) return gone_ ? Gone() : hid::IoResult{hid::IoStatus::TimedOut, 0, {}};
    const std::uint32_t n = std::min<std::uint32_t>(length, kReportSize);
    report.fill(0);
    std::memcpy(report.data(), queue_.front().data(), n);
    queue_.pop_front();
    return {hid::IoStatus::Ok, n, {}};
  }

  std::shared_ptr<hid::ReportServer> server_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<Report> queue_;
  bool gone_ = false;
  bool cancelled_ = false;
};

// A LoopbackFactory for EmulatedBus.
inline hid::ChannelResult InlineTransport(std::shared_ptr<hid::ReportServer> server) {
  return std::unique_ptr<hid::Channel>(std::make_unique<InlineChannel>(std::move(server)));
}

}  // namespace quarnel::testing
