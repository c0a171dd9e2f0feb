// The run lock on Linux: a Unix socket bound to a name in the abstract namespace. The name is
// the same for every user and every environment, leaves no file behind and needs no
// permissions; the kernel frees it when the socket is closed or its process ends.
#include "app/RunLock.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "base/linux/UniqueFd.h"

namespace quarnel {

namespace {

class SocketLock final : public RunLock {
 public:
  explicit SocketLock(UniqueFd socket) : socket_(std::move(socket)) {}

 private:
  UniqueFd socket_;
};

}  // namespace

std::unique_ptr<RunLock> RunLock::TryAcquire(const std::string& name, LockFailure& failure) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace. The name follows, without a terminator.
  if (name.empty() || name.size() > sizeof address.sun_path - 1) {
    failure = {LockFailureKind::CannotTake, "the lock name '" + name + "' does not fit a socket"};
    return nullptr;
  }
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) {
    failure = {LockFailureKind::CannotTake,
               std::string("cannot make the lock's socket: ") + std::strerror(errno)};
    return nullptr;
  }
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    failure =
        errno == EADDRINUSE
            ? LockFailure{LockFailureKind::HeldByAnother, "another update holds @" + name}
            : LockFailure{LockFailureKind::CannotTake,
                          "cannot bind the lock's socket @" + name + ": " + std::strerror(errno)};
    return nullptr;
  }
  return std::make_unique<SocketLock>(std::move(socket));
}

}  // namespace quarnel
