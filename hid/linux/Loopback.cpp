// The loopback on Linux: a SOCK_SEQPACKET socket pair. The link's end is read and written by
// the same code as a hidraw node; the far end is served on its own thread, one report per
// packet.
#include "hid/Loopback.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>

#include "base/linux/UniqueFd.h"
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
    // Ends a delay under way as well as a wait for the next report.
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(stop_.get(), &one, sizeof one);
    ::shutdown(fd_.get(), SHUT_RDWR);
    thread_.join();
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

 private:
  void Serve() {
    std::uint8_t packet[kReportSize + 1];
    for (;;) {
      const ssize_t n = ::recv(fd_.get(), packet, sizeof packet, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the link closed its end
      const ServedAnswer out = server_->Serve(std::span(packet, static_cast<std::size_t>(n)));
      const auto delay =
          std::chrono::milliseconds(out.delayMs) + std::chrono::microseconds(out.delayUs);
      if (delay.count() != 0 && Stopped(delay)) return;
      for (const Report& answer : out.answers) {
        // Input reports travel without their report-ID byte, as hidraw delivers them.
        if (::send(fd_.get(), answer.data() + 1, kReportSize - 1, MSG_NOSIGNAL) < 0) return;
      }
      if (out.vanish) {
        ::shutdown(fd_.get(), SHUT_RDWR);
        return;
      }
    }
  }

  // Waits up to `delay`; true when the link is being closed meanwhile.
  bool Stopped(std::chrono::microseconds delay) const {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(delay);
    const timespec limit{static_cast<time_t>(seconds.count()),
                         static_cast<long>((delay - seconds).count()) * 1000L};
    pollfd p{stop_.get(), POLLIN, 0};
    int ready = 0;
    do {
      ready = ::ppoll(&p, 1, &limit, nullptr);
    } while (ready < 0 && errno == EINTR);
    return ready != 0;
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
