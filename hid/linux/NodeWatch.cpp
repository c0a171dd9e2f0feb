#include "hid/linux/NodeWatch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>

#include "base/linux/UniqueFd.h"
#include "hid/DeviceBus.h"

namespace quarnel::hid {

namespace {

// How often a wait looks at `cancel`: Ctrl-C also interrupts poll(2), but a handler that
// restarts system calls may not.
constexpr std::chrono::milliseconds kCancelSlice{100};

bool IsHidrawEvent(const char* buffer, ssize_t length) {
  for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
    const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
    if (event->len > 0 && std::string_view(event->name).starts_with("hidraw")) return true;
    at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
  }
  return false;
}

}  // namespace

void WaitForNodes(const std::string& deviceDir, std::chrono::milliseconds timeout,
                  const std::atomic<bool>* cancel) {
  const auto cancelled = [cancel] { return cancel != nullptr && cancel->load(); };
  UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (watch.get() < 0 || ::inotify_add_watch(watch.get(), deviceDir.c_str(),
                                             IN_CREATE | IN_ATTRIB | IN_MOVED_TO) < 0) {
    std::this_thread::sleep_for(std::min(timeout, kPollInterval));
    return;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  alignas(inotify_event) char buffer[4096];
  while (!cancelled()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{watch.get(), POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min(left, kCancelSlice).count()));
    if (ready <= 0) continue;  // the slice ran out, or a signal came: look at `cancel`
    const ssize_t n = ::read(watch.get(), buffer, sizeof buffer);
    if (n > 0 && IsHidrawEvent(buffer, n)) return;
  }
}

std::optional<std::chrono::milliseconds> NodeAge(const std::string& node) {
  struct stat st {};
  if (::stat(node.c_str(), &st) != 0) return std::nullopt;
  timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return std::nullopt;
  const auto age = std::chrono::seconds(now.tv_sec - st.st_ctim.tv_sec) +
                   std::chrono::nanoseconds(now.tv_nsec - st.st_ctim.tv_nsec);
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(age));
}

}  // namespace quarnel::hid
