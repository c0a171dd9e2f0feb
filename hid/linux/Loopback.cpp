// The loopback on Linux: a SOCK_SEQPACKET socket pair. The link's end is read and written by
// the same code as a hidraw node; the far end is served on its own thread, one report per
// packet, each answer sent when the unit's timing says.
#include "hid/Loopback.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "base/linux/UniqueFd.h"
#include "hid/AnswerSchedule.h"
#include "hid/ServedChannel.h"
#include "hid/linux/FdChannel.h"

namespace quarnel::hid {

namespace {

class Server {
 public:
  Server(UniqueFd fd, UniqueFd stop, std::shared_ptr<ReportServer> server)
      : fd_(std::move(fd)),
        stop_(std::move(stop)),
        server_(std::move(server)),
        thread_([this] { Serve(); }) {}
  ~Server() {
    // Ends a wait for an answer's time as well as a wait for the next report.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_.get(), &one, sizeof one);
    ::shutdown(fd_.get(), SHUT_RDWR);
    thread_.join();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

 private:
  using Clock = AnswerSchedule::Clock;

  // Takes each report as it comes and sends each answer when it is due, until the link closes
  // its end, the unit vanishes or the link is being closed.
  void Serve() {
    // Answers a latency of microseconds apart need sleeps that end on time.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
    AnswerSchedule schedule;
    for (;;) {
      if (!SendDue(schedule)) return;
      pollfd p[2] = {{fd_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
      timespec limit{};
      const timespec* wait = nullptr;
      if (!schedule.empty()) {
        const auto left = std::max(Clock::duration::zero(), schedule.next() - Clock::now());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        limit = {static_cast<time_t>(seconds.count()),
                 static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
        wait = &limit;
      }
      const int ready = ::ppoll(p, 2, wait, nullptr);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0 || p[1].revents != 0) return;
      if (p[0].revents == 0) continue;
      std::uint8_t packet[kReportSize + 1];
      const ssize_t n = ::recv(fd_.get(), packet, sizeof packet, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the link closed its end
      schedule.Add(server_->Serve(std::span(packet, static_cast<std::size_t>(n))), Clock::now());
    }
  }

  // Sends the answers that are due; false once the unit has vanished or the link is gone.
  bool SendDue(AnswerSchedule& schedule) {
    while (auto entry = schedule.TakeDue(Clock::now())) {
      // Input reports travel without their report-ID byte, as hidraw delivers them.
      if (entry->report &&
          ::send(fd_.get(), entry->report->data() + 1, kReportSize - 1, MSG_NOSIGNAL) < 0)
        return false;
      if (entry->vanish) {
        ::shutdown(fd_.get(), SHUT_RDWR);
        return false;
      }
    }
    return true;
  }

  UniqueFd fd_;
  UniqueFd stop_;
  std::shared_ptr<ReportServer> server_;
  std::thread thread_;
};

}  // namespace

ChannelResult OpenLoopback(std::shared_ptr<ReportServer> server) {
  const auto failed = [](const char* what) {
    return Fail(
        LinkFailure{FailureKind::OutOfResources, "loopback",
                    std::string("emulated device: ") + what + " failed: " + std::strerror(errno)});
  };
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
    return failed("socketpair");
  UniqueFd far(fds[1]);
  auto link = MakeFdChannel(fds[0], "emulated device");
  UniqueFd stop(::eventfd(0, EFD_CLOEXEC));
  if (!stop.valid()) return failed("eventfd");
  auto serving = std::make_unique<Server>(std::move(far), std::move(stop), std::move(server));
  return std::unique_ptr<Channel>(
      std::make_unique<ServedChannel>(std::move(link), std::move(serving)));
}

}  // namespace quarnel::hid
