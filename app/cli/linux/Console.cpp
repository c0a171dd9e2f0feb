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

extern "C" void OnInterrupt(int) {
  if (g_interrupted != nullptr) g_interrupted->store(true);
}

}  // namespace

void InstallInterruptHandlers(std::atomic<bool>& interrupted) {
  g_interrupted = &interrupted;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A write to a closed pipe fails instead of ending the program; a hung-up terminal lets
  // the run finish with its own exit code.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGHUP, SIG_IGN);
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
