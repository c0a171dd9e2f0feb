#include "app/gui/windows/GuiProgram.h"

#include <shellapi.h>

#include <memory>

#include "app/FwUpdateDlg.h"
#include "app/ProgramOptions.h"
#include "app/ReportingWindow.h"
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

void Complain(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), kProductTitle, MB_OK | MB_ICONERROR);
}

bool ParseArguments(const std::vector<std::string>& arguments, SharedOptions& options,
                    std::string& error) {
  for (const std::string& argument : arguments) {
    switch (ParseSharedOption(argument, options, error)) {
      case OptionResult::Taken:
        break;
      case OptionResult::Error:
        return false;
      case OptionResult::NotShared:
        error = "unknown option '" + argument +
                "' (the options are --simulate[=PID], --simulate-fault=KIND[:N], --report=FILE)";
        return false;
    }
  }
  return true;
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

  // Another instance that shows a window under the product title is brought forward instead.
  if (HWND running = FindWindowA(nullptr, kProductTitle)) {
    ShowWindow(running, SW_RESTORE);
    SetForegroundWindow(running);
    return 0;
  }

  SharedOptions options;
  std::string error;
  if (!ParseArguments(arguments, options, error)) {
    Complain(error);
    return 2;
  }
  const std::unique_ptr<hid::Bus> bus = MakeBus(options);

  WinDialogWindow window(instance);
  std::unique_ptr<ReportingWindow> reporting;
  if (!options.reportFile.empty()) {
    reporting = std::make_unique<ReportingWindow>(window, options.reportFile);
    if (!reporting->Ok()) {
      Complain("Cannot write the report file " + options.reportFile + ".");
      return 2;
    }
  }
  DialogOptions dialogOptions;
  dialogOptions.bus = bus.get();
  CFwUpdateDlg dialog(reporting != nullptr ? static_cast<DialogWindow&>(*reporting) : window,
                      std::move(dialogOptions));
  std::string reason;
  if (!window.Run(dialog, reason)) {
    Complain("The dialog could not be shown: " + reason);
    return 1;
  }
  return 0;
}

}  // namespace quarnel::win
