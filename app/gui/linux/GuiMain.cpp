// quarnel-fwupdate: the updater's window on Linux (wxWidgets on GTK 3).
#include <wx/app.h>
#include <wx/image.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/FwUpdateDlg.h"
#include "app/ProgramOptions.h"
#include "app/ReportingWindow.h"
#include "app/gui/linux/AppIcon.h"
#include "app/gui/linux/FwUpdateWindow.h"
#include "app/gui/linux/X11Instance.h"

namespace quarnel::gui {

namespace {

constexpr int kExitUsage = 64;

constexpr const char* kUsage =
    "usage: quarnel-fwupdate [options]\n"
    "  --simulate[=PID]            use the built-in emulated device (PID in hex, default 7029)\n"
    "  --simulate-fault=KIND[:N]   testing aid, repeatable: flip:ADDR, silent-after:N,\n"
    "                              vanish-after:N, stale:N, dup:N, drop:N, delay:MS,\n"
    "                              refuse-writes\n"
    "  --report=FILE               append one line to FILE for each visible change of the "
    "window\n"
    "  -h, --help                  this text\n";

class FwUpdateApp final : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;

 private:
  int RunDialog();

  SharedOptions options_;
  int exitCode_ = 0;
  bool showDialog_ = false;
};

bool FwUpdateApp::OnInit() {
  // GTK has taken its own options (--display and the like) out of argv by now.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i].utf8_string();
    std::string error;
    switch (ParseSharedOption(arg, options_, error)) {
      case OptionResult::Taken:
        continue;
      case OptionResult::Error:
        std::fprintf(stderr, "quarnel-fwupdate: %s\n%s", error.c_str(), kUsage);
        exitCode_ = kExitUsage;
        return true;
      case OptionResult::NotShared:
        break;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return true;
    }
    std::fprintf(stderr, "quarnel-fwupdate: unknown option '%s'\n%s", arg.c_str(), kUsage);
    exitCode_ = kExitUsage;
    return true;
  }
  showDialog_ = true;
  return true;
}

int FwUpdateApp::OnRun() {
  return showDialog_ ? RunDialog() : exitCode_;
}

int FwUpdateApp::RunDialog() {
  // One copy at a time: a window with the product title already up is brought forward
  // instead.
  if (RaiseWindowTitled(kProductTitle) == InstanceSearch::Raised) return 0;

  wxImage::AddHandler(new wxPNGHandler);
  const std::unique_ptr<hid::Bus> bus = MakeBus(options_);
  FwUpdateWindow dialog;
  dialog.SetIcons(AppIcons());
  DialogWindow* window = &dialog;
  std::unique_ptr<ReportingWindow> report;
  if (!options_.reportFile.empty()) {
    report = std::make_unique<ReportingWindow>(dialog, options_.reportFile);
    if (!report->Ok()) {
      std::fprintf(stderr, "quarnel-fwupdate: cannot write the report file '%s'\n",
                   options_.reportFile.c_str());
      return kExitUsage;
    }
    window = report.get();
  }
  DialogOptions dialogOptions;
  dialogOptions.bus = bus.get();
  CFwUpdateDlg dlg(*window, dialogOptions);
  dialog.Attach(dlg);
  dialog.ShowModal();
  return 0;
}

}  // namespace

}  // namespace quarnel::gui

wxIMPLEMENT_APP_NO_MAIN(quarnel::gui::FwUpdateApp);

int main(int argc, char** argv) {
  // On a Wayland session GTK would open a Wayland window, out of reach of the X11 search for
  // another copy: where an X display is at hand, use it.
  if (const char* display = std::getenv("DISPLAY"); display != nullptr && *display != '\0') {
    setenv("GDK_BACKEND", "x11", 1);
  }
  return wxEntry(argc, argv);
}
