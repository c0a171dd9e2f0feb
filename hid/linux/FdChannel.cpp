#include "hid/linux/FdChannel.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>

#include "base/linux/UniqueFd.h"

namespace quarnel::hid {

namespace {

using Clock = std::chrono::steady_clock;

class FdChannel final : public Channel {
 public:
  FdChannel(int fd, std::string name)
      : fd_(fd), cancel_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), name_(std::move(name)) {}
  FdChannel(const FdChannel&) = delete;
  FdChannel& operator=(const FdChannel&) = delete;

  IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    writable_ = false;
    short revents = 0;
    if (const int ready = Wait(POLLIN, timeoutMs, revents); ready <= 0)
      return ready == 0 ? IoResult{IoStatus::TimedOut, 0, {}} : Failure("poll", errno);
    if (revents == 0) return {IoStatus::Cancelled, 0, {}};
    // Hang-up or error with nothing left to read: the device is gone.
    if ((revents & POLLIN) == 0) return Disconnected();
    return ReadReady(report, length);
  }

  // The poll that looks for waiting input also asks whether the node takes a write: a request
  // sent right after it (the usual reason to look) needs no poll of its own.
  IoResult ReadWaiting(Report& report, std::uint32_t length) override {
    writable_ = false;
    short revents = 0;
    if (const int ready = Wait(POLLIN | POLLOUT, 0, revents); ready <= 0)
      return ready == 0 ? IoResult{IoStatus::TimedOut, 0, {}} : Failure("poll", errno);
    if (revents == 0) return {IoStatus::Cancelled, 0, {}};
    if ((revents & POLLIN) != 0) return ReadReady(report, length);
    if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return Disconnected();
    writable_ = (revents & POLLOUT) != 0;
    return {IoStatus::TimedOut, 0, {}};
  }

  IoResult Write(const Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    if (std::exchange(writable_, false)) {
      if (cancelled_.load()) return {IoStatus::Cancelled, 0, {}};
    } else {
      short revents = 0;
      if (const int ready = Wait(POLLOUT, timeoutMs, revents); ready <= 0)
        return ready == 0 ? WriteTimedOut(name_, timeoutMs) : Failure("poll", errno);
      if (revents == 0) return {IoStatus::Cancelled, 0, {}};
      if ((revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 || (revents & POLLOUT) == 0)
        return Disconnected();
    }
    const std::size_t n = std::min<std::size_t>(length, kReportSize);
    ssize_t written = 0;
    do {
      written = ::write(fd_.get(), report.data(), n);
    } while (written < 0 && errno == EINTR);
    if (written < 0) return Failure("write", errno);
    if (static_cast<std::size_t>(written) != n)
      return {
          IoStatus::Failed,
          0,
          {FailureKind::IoError, name_,
           name_ + ": wrote " + std::to_string(written) + " of " + std::to_string(n) + " bytes"}};
    return {IoStatus::Ok, static_cast<std::uint32_t>(written), {}};
  }

  void Cancel() override {
    cancelled_.store(true);
    const std::uint64_t one = 1;
    // Stays readable from now on: every later wait ends at once too.
    [[maybe_unused]] const ssize_t n = ::write(cancel_.get(), &one, sizeof one);
  }

 private:
  // One report from the node, which has one ready.
  IoResult ReadReady(Report& report, std::uint32_t length) {
    // The node gives the report without its ID byte: it goes to byte 1 on.
    std::uint8_t data[kReportSize];
    const std::size_t want = std::clamp<std::size_t>(length, 2, kReportSize) - 1;
    ssize_t n = 0;
    do {
      n = ::read(fd_.get(), data, want);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Failure("read", errno);
    if (n == 0) return Disconnected();
    const auto got = static_cast<std::size_t>(n);
    report[0] = 0;
    std::memcpy(report.data() + 1, data, got);
    // No bytes of an earlier report are left behind the new one.
    std::fill(report.begin() + 1 + static_cast<std::ptrdiff_t>(got), report.end(), 0);
    return {IoStatus::Ok, static_cast<std::uint32_t>(got + 1), {}};
  }

  // poll() for `events` until ready, cancelled or timeoutMs has passed, signals or not.
  // Returns what poll() returns; `revents` stays 0 when Cancel ended the wait.
  int Wait(short events, std::uint32_t timeoutMs, short& revents) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      const auto ms = std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX);
      pollfd p[2] = {{fd_.get(), events, 0}, {cancel_.get(), POLLIN, 0}};
      const int ready = ::poll(p, cancel_.valid() ? 2 : 1, static_cast<int>(ms));
      if (ready < 0 && errno == EINTR) continue;
      revents = p[1].revents != 0 ? short{0} : p[0].revents;
      return ready;
    }
  }

  IoResult Disconnected() const {
    return {IoStatus::Failed, 0, {FailureKind::Gone, name_, name_ + ": device disconnected"}};
  }

  IoResult Failure(const char* what, int error) const {
    // What a hidraw node answers once its device has been unplugged.
    if (error == ENODEV || error == EIO || error == ESHUTDOWN) return Disconnected();
    return {
        IoStatus::Failed,
        0,
        {FailureKind::IoError, name_, name_ + ": " + what + " failed: " + std::strerror(error)}};
  }

  UniqueFd fd_;
  UniqueFd cancel_;
  std::string name_;
  // The last call was a ReadWaiting that found nothing to read and the node writable, with no
  // cancel: the Write that follows it goes straight to write().
  bool writable_ = false;
  // Cancel has been called: what a Write without a poll of its own looks at.
  std::atomic<bool> cancelled_{false};
};

}  // namespace

std::unique_ptr<Channel> MakeFdChannel(int fd, std::string name) {
  return std::make_unique<FdChannel>(fd, std::move(name));
}

}  // namespace quarnel::hid
