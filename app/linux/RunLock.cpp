// The run lock on Linux: flock on a file in the user's runtime directory.
#include "app/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quarnel {

namespace {

class FileLock final : public RunLock {
 public:
  explicit FileLock(int fd) : fd_(fd) {}
  ~FileLock() override { ::close(fd_); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int fd_;
};

std::string LockDirectory() {
  for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* dir = std::getenv(var);
    if (dir != nullptr && *dir != '\0') return dir;
  }
  return "/tmp";
}

}  // namespace

std::unique_ptr<RunLock> RunLock::TryAcquire(const std::string& name, LockFailure& failure) {
  const std::string path = LockDirectory() + "/" + name + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    failure = {LockFailureKind::CannotTake, "cannot open " + path + ": " + std::strerror(errno)};
    return nullptr;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    failure = errno == EWOULDBLOCK
                  ? LockFailure{LockFailureKind::HeldByAnother, "another update holds " + path}
                  : LockFailure{LockFailureKind::CannotTake,
                                "cannot lock " + path + ": " + std::strerror(errno)};
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FileLock>(fd);
}

}  // namespace quarnel
