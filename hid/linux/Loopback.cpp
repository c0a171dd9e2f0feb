// The loopback on Linux: a SOCK_SEQPACKET socket pair. The link's end is read and written by
// the same code as a hidraw node; the far end is served on its own thread, one report per
// packet.
#include "hid/Loopback.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "base/linux/UniqueFd.h"
#include "hid/ServedChannel.h"
#include "hid/linux/FdChannel.h"

namespace quarnel::hid {

namespace {

class Server {
 public:
  Server(UniqueFd fd, std::shared_ptr<ReportServer> server)
      : fd_(std::move(fd)), server_(std::move(server)), thread_([this] { Serve(); }) {}
  ~Server() {
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
      if (out.delayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(out.delayMs));
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

  UniqueFd fd_;
  std::shared_ptr<ReportServer> server_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Channel> OpenLoopback(std::shared_ptr<ReportServer> server, LinkFailure& reason) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
    reason = {FailureKind::OutOfResources, "loopback",
              std::string("emulated device: socketpair failed: ") + std::strerror(errno)};
    return nullptr;
  }
  auto link = MakeFdChannel(fds[0], "emulated device");
  auto serving = std::make_unique<Server>(UniqueFd(fds[1]), std::move(server));
  return std::make_unique<ServedChannel>(std::move(link), std::move(serving));
}

}  // namespace quarnel::hid
