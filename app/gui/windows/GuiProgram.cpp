#include "app/gui/windows/GuiProgram.h"

#include <shellapi.h>

#include <memory>

#include "app/WindowedProgram.h"
#include "app/gui/windows/WinDialogWindow.h"

namespace quarnel::win {

namespace {

struct LocalDeleter {
  void operator()(LPWSTR* memory) const { LocalFree(memory); }
};

std::string Utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

void Show(const std::string& text, UINT icon) {
  MessageBoxA(nullptr, text.c_str(), kProductTitle, MB_OK | icon);
}

}  // namespace

std::vector<std::string> CommandLineArguments() {
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::string> arguments;
  if (argv == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(argv.get()[i]));
  return arguments;
}

int RunProgram(HINSTANCE instance, const std::vector<std::string>& arguments) {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_WIN95_CLASSES;
  InitCommonControlsEx(&controls);

  const windowed::Start start = windowed::ParseArguments(arguments);
  if (!start.showDialog) {
    Show(start.text, start.exitCode == kExitOk ? MB_ICONINFORMATION : MB_ICONERROR);
    return start.exitCode;
  }

  // Another instance that shows a window under the product title is brought forward instead.
  if (HWND running = FindWindowA(nullptr, kProductTitle)) {
    ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return kExitOk;
  }

  WinDialogWindow window(instance);
  windowed::Session session(start.options, window);
  if (!session.ok()) {
    Show(session.error(), MB_ICONERROR);
    return kExitUsage;
  }
  std::string reason;
  if (!window.Run(session.dialog(), reason)) {
    Show("The dialog could not be shown: " + reason, MB_ICONERROR);
    return windowed::kExitNoDialog;
  }
  return kExitOk;
}

}  // namespace quarnel::win
