#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "app/cli/Console.h"
#include "base/Text.h"

namespace quarnel::cli {

namespace {

std::atomic<bool>* g_interrupted = nullptr;
std::atomic<bool>* g_waitEnds = nullptr;

extern "C" void OnInterrupt(int) {
  if (g_interrupted != nullptr) g_interrupted->store(true);
  if (g_waitEnds != nullptr) g_waitEnds->store(true);
}

extern "C" void OnHangUp(int) {
  if (g_waitEnds != nullptr) g_waitEnds->store(true);
}

}  // namespace

void InstallInterruptHandlers(std::atomic<bool>& interrupted, std::atomic<bool>& waitEnds) {
  g_interrupted = &interrupted;
  g_waitEnds = &waitEnds;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A hung-up terminal ends a wait for a unit and lets a run finish with its own exit code:
  // what the run was doing when it came goes on as if it had not (poll(2), which the waits
  // use, ends all the same and they look at the flag). Started under nohup, which ignores
  // SIGHUP, the program keeps ignoring it: a wait then goes on.
  struct sigaction before {};
  ::sigaction(SIGHUP, nullptr, &before);
  if (before.sa_handler != SIG_IGN) {
    action.sa_handler = OnHangUp;
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGHUP, &action, nullptr);
  }
  // A write to a closed pipe fails instead of ending the program.
  std::signal(SIGPIPE, SIG_IGN);
  // A parent may have left these blocked (the mask is inherited across exec): Ctrl-C and
  // SIGTERM would then never arrive. Called before any thread starts, so every thread of the
  // program inherits the unblocked mask.
  sigset_t wanted;
  sigemptyset(&wanted);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&wanted, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &wanted, nullptr);
}

int StderrColumns() {
  winsize size{};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::string PermissionAdvice(const std::string& path, std::uint16_t productId) {
  std::error_code error;
  const bool installed =
      std::filesystem::exists("/lib/udev/rules.d/70-quarnel-audio.rules", error) ||
      std::filesystem::exists("/etc/udev/rules.d/70-quarnel-audio.rules", error);
  return "this user may not open " + Shown(path) + " (permission denied).\n" +
         UdevAdvice(productId, installed);
}

}  // namespace quarnel::cli
