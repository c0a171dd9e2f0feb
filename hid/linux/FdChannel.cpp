#include "hid/linux/FdChannel.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quarnel::hid {

namespace {

class FdChannel final : public Channel {
 public:
  FdChannel(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  ~FdChannel() override { ::close(fd_); }
  FdChannel(const FdChannel&) = delete;
  FdChannel& operator=(const FdChannel&) = delete;

  IoResult Read(Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    pollfd p{fd_, POLLIN, 0};
    int ready = 0;
    do {
      ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return Failure("poll");
    if (ready == 0) return {IoStatus::TimedOut, 0, {}};
    if ((p.revents & POLLIN) == 0) return {IoStatus::Failed, 0, name_ + ": device disconnected"};
    // The node gives the report without its ID byte: it goes to byte 1 on.
    std::uint8_t data[kReportSize];
    const std::size_t want = std::clamp<std::size_t>(length, 2, kReportSize) - 1;
    ssize_t n = 0;
    do {
      n = ::read(fd_, data, want);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Failure("read");
    if (n == 0) return {IoStatus::Failed, 0, name_ + ": device disconnected"};
    report[0] = 0;
    std::memcpy(report.data() + 1, data, static_cast<std::size_t>(n));
    return {IoStatus::Ok, static_cast<std::uint32_t>(n) + 1, {}};
  }

  IoResult Write(const Report& report, std::uint32_t length, std::uint32_t timeoutMs) override {
    pollfd p{fd_, POLLOUT, 0};
    int ready = 0;
    do {
      ready = ::poll(&p, 1, static_cast<int>(timeoutMs));
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return Failure("poll");
    if (ready == 0) return {IoStatus::TimedOut, 0, name_ + ": write timed out"};
    if ((p.revents & POLLOUT) == 0) return {IoStatus::Failed, 0, name_ + ": device disconnected"};
    const std::size_t n = std::min<std::size_t>(length, kReportSize);
    ssize_t written = 0;
    do {
      written = ::write(fd_, report.data(), n);
    } while (written < 0 && errno == EINTR);
    if (written < 0) return Failure("write");
    return {IoStatus::Ok, static_cast<std::uint32_t>(written), {}};
  }

 private:
  IoResult Failure(const char* what) const {
    return {IoStatus::Failed, 0, name_ + ": " + what + " failed: " + std::strerror(errno)};
  }

  int fd_;
  std::string name_;
};

}  // namespace

std::unique_ptr<Channel> MakeFdChannel(int fd, std::string name) {
  return std::make_unique<FdChannel>(fd, std::move(name));
}

}  // namespace quarnel::hid
