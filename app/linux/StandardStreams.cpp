#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "app/StandardStreams.h"

namespace quarnel {

bool OpenStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor, as those below it are open: this one. It stays open for the
    // life of the process, as the stream it stands for would have.
    const int null = ::open("/dev/null", O_RDWR);
    if (null == fd) continue;
    if (null != -1) ::close(null);
    return false;
  }
  return true;
}

}  // namespace quarnel
