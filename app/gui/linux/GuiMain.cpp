// quarnel-fwupdate: the updater's window on Linux (wxWidgets on GTK 3).
#include <wx/app.h>
#include <wx/image.h>
#include <wx/log.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "app/StandardStreams.h"
#include "app/WindowedProgram.h"
#include "app/gui/linux/AppIcon.h"
#include "app/gui/linux/FwUpdateWindow.h"
#include "app/gui/linux/X11Instance.h"

namespace quarnel::gui {

namespace {

// What the arguments ask for, decided before the toolkit starts.
windowed::Start g_start;
// The toolkit could not start: no display, or none it could open.
bool g_noDisplay = false;

class FwUpdateApp final : public wxApp {
 public:
  bool Initialize(int& count, wxChar** values) override;
  bool OnInit() override { return true; }
  int OnRun() override;
};

bool FwUpdateApp::Initialize(int& count, wxChar** values) {
  // Its own complaint (time-stamped, about DISPLAY) gives way to the program's one line.
  const wxLogNull quiet;
  if (wxApp::Initialize(count, values)) return true;
  g_noDisplay = true;
  return false;
}

int FwUpdateApp::OnRun() {
  // One copy at a time: a window with the product title already up is brought forward
  // instead.
  if (RaiseWindowTitled(kProductTitle) == InstanceSearch::Raised) return kExitOk;

  wxImage::AddHandler(new wxPNGHandler);
  FwUpdateWindow window;
  window.SetIcons(AppIcons());
  windowed::Session session(g_start.options, window);
  if (!session.ok()) {
    std::fputs(session.error().c_str(), stderr);
    return kExitUsage;
  }
  window.Attach(session.dialog());
  window.ShowModal();
  return kExitOk;
}

// GTK's own options, which it takes out of the arguments when it starts; the program's
// options are read from the rest. The first group takes a value, as --name=VALUE or in the
// next argument.
bool IsToolkitOption(std::string_view arg, bool& takesNext) {
  static constexpr std::string_view kWithValue[] = {
      "--display",   "--class",        "--name",      "--gtk-module",
      "--gdk-debug", "--gdk-no-debug", "--gtk-debug", "--gtk-no-debug"};
  takesNext = false;
  if (arg == "--g-fatal-warnings") return true;
  for (const std::string_view option : kWithValue) {
    if (arg == option) {
      takesNext = true;
      return true;
    }
    if (arg.size() > option.size() && arg.starts_with(option) && arg[option.size()] == '=') {
      return true;
    }
  }
  return false;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      // GTK stops there too and leaves the rest to the program.
      args.insert(args.end(), argv + i, argv + argc);
      break;
    }
    bool takesNext = false;
    if (IsToolkitOption(arg, takesNext)) {
      if (takesNext) ++i;
      continue;
    }
    args.emplace_back(arg);
  }
  return args;
}

}  // namespace

}  // namespace quarnel::gui

wxIMPLEMENT_APP_NO_MAIN(quarnel::gui::FwUpdateApp);

int main(int argc, char** argv) {
  using namespace quarnel;
  // Before anything is opened (the toolkit opens plenty), so that no unit's node becomes
  // standard output or error.
  if (!OpenStandardStreams()) return kExitInternal;
  // The terminal it was started from may close at any time, a write under way or not: the
  // window stays until it is closed, as the command line's run goes on to its end.
  std::signal(SIGHUP, SIG_IGN);
  // Help, the version and mistakes need no window: they work without a display, the same
  // with one.
  gui::g_start = windowed::ParseArguments(gui::ProgramArguments(argc, argv));
  if (!gui::g_start.showDialog) {
    std::fputs(gui::g_start.text.c_str(), gui::g_start.exitCode == kExitOk ? stdout : stderr);
    return gui::g_start.exitCode;
  }
  // On a Wayland session GTK would open a Wayland window, out of reach of the X11 search for
  // another copy: where an X display is at hand, use it.
  if (const char* display = std::getenv("DISPLAY"); display != nullptr && *display != '\0') {
    setenv("GDK_BACKEND", "x11", 1);
  }
  const int code = wxEntry(argc, argv);
  if (gui::g_noDisplay) {
    std::fputs(windowed::kNoDisplayText, stderr);
    return windowed::kExitNoDialog;
  }
  return code;
}
