// A stand-in for a running updater in the single-instance test: a window titled with the
// product title, started minimised and inactive. It appends to the file named by its argument
// "ready" once it is up, then "restored" and "activated" as another program brings it
// forward, and ends when both have happened.
#include "app/gui/windows/Win32.h"
// After windows.h.
#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/DialogWindow.h"

namespace {

std::FILE* g_log = nullptr;
bool g_ready = false;
bool g_restored = false;
bool g_activated = false;

void Note(const char* line) {
  std::fputs(line, g_log);
  std::fputc('\n', g_log);
  std::fflush(g_log);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (g_ready && wParam == SIZE_RESTORED && !g_restored) {
        g_restored = true;
        Note("restored");
      }
      break;
    case WM_ACTIVATE:
      if (g_ready && LOWORD(wParam) != WA_INACTIVE && !g_activated) {
        g_activated = true;
        Note("activated");
      }
      break;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  if (g_restored && g_activated) PostMessageW(hwnd, WM_CLOSE, 0, 0);
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (argv == nullptr || count != 2) return 2;
  const std::unique_ptr<std::FILE, FileCloser> log(_wfopen(argv[1], L"w"));
  LocalFree(argv);
  if (log == nullptr) return 2;
  g_log = log.get();

  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "QuarnelTitleWindow";
  if (RegisterClassA(&windowClass) == 0) return 1;
  HWND hwnd =
      CreateWindowExA(0, windowClass.lpszClassName, quarnel::kProductTitle, WS_OVERLAPPEDWINDOW, 10,
                      10, 300, 120, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return 1;
  ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
  // What showing it sent has been handled before the window says it is ready.
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  g_ready = true;
  Note("ready");
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
