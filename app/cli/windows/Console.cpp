#include <windows.h>

#include "app/cli/Console.h"
#include "base/Text.h"

namespace quarnel::cli {

namespace {

std::atomic<bool>* g_interrupted = nullptr;
std::atomic<bool>* g_waitEnds = nullptr;

// A closed console window is not handled: the system ends the program once the handlers have
// returned, whatever they answer.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (g_interrupted != nullptr) g_interrupted->store(true);
  if (g_waitEnds != nullptr) g_waitEnds->store(true);
  return TRUE;
}

}  // namespace

void InstallInterruptHandlers(std::atomic<bool>& interrupted, std::atomic<bool>& waitEnds) {
  g_interrupted = &interrupted;
  g_waitEnds = &waitEnds;
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info) == 0) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string PermissionAdvice(const std::string& path, std::uint16_t) {
  return "Windows refused this user access to " + Shown(path) +
         ". Close other programs that use the device, or run the update from the account that "
         "may use it.";
}

}  // namespace quarnel::cli
