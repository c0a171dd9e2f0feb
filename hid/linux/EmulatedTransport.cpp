// The emulated device's transport on Linux: a SOCK_SEQPACKET socket pair. The link's end is
// read and written by the same code as a hidraw node; the far end is served by the model on
// its own thread, one report per packet.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "hid/emulated/EmulatedBus.h"
#include "hid/emulated/ServedChannel.h"
#include "hid/linux/FdChannel.h"

namespace quarnel::emulated {

namespace {

class Server {
 public:
  Server(int fd, std::shared_ptr<Device> device)
      : fd_(fd), device_(std::move(device)), thread_([this] { Serve(); }) {}
  ~Server() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
  }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

 private:
  void Serve() {
    std::uint8_t packet[kReportSize + 1];
    for (;;) {
      const ssize_t n = ::recv(fd_, packet, sizeof packet, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;  // the link closed its end
      const Device::Outcome out = device_->Handle(std::span(packet, static_cast<std::size_t>(n)));
      if (out.delayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(out.delayMs));
      for (const Report& answer : out.answers) {
        // Input reports travel without their report-ID byte, as hidraw delivers them.
        if (::send(fd_, answer.data() + 1, kReportLength - 1, MSG_NOSIGNAL) < 0) return;
      }
      if (out.vanish) {
        ::shutdown(fd_, SHUT_RDWR);
        return;
      }
    }
  }

  int fd_;
  std::shared_ptr<Device> device_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<hid::Channel> OpenTransport(std::shared_ptr<Device> device, std::string& reason) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
    reason = std::string("emulated device: socketpair failed: ") + std::strerror(errno);
    return nullptr;
  }
  auto link = hid::MakeFdChannel(fds[0], "emulated device");
  auto server = std::make_unique<Server>(fds[1], std::move(device));
  return std::make_unique<ServedChannel>(std::move(link), std::move(server));
}

}  // namespace quarnel::emulated
