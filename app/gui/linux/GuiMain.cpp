// quarnel-fwupdate: the updater's window on Linux (wxWidgets on GTK 3).
#include <wx/app.h>
#include <wx/image.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/WindowedProgram.h"
#include "app/gui/linux/AppIcon.h"
#include "app/gui/linux/FwUpdateWindow.h"
#include "app/gui/linux/X11Instance.h"

namespace quarnel::gui {

namespace {

class FwUpdateApp final : public wxApp {
 public:
  bool OnInit() override;
  int OnRun() override;

 private:
  int RunDialog();

  windowed::Start start_;
};

bool FwUpdateApp::OnInit() {
  // GTK has taken its own options (--display and the like) out of argv by now.
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(argv[i].utf8_string());
  start_ = windowed::ParseArguments(args);
  if (!start_.showDialog) {
    std::fputs(start_.text.c_str(), start_.exitCode == kExitOk ? stdout : stderr);
  }
  return true;
}

int FwUpdateApp::OnRun() {
  return start_.showDialog ? RunDialog() : start_.exitCode;
}

int FwUpdateApp::RunDialog() {
  // One copy at a time: a window with the product title already up is brought forward
  // instead.
  if (RaiseWindowTitled(kProductTitle) == InstanceSearch::Raised) return kExitOk;

  wxImage::AddHandler(new wxPNGHandler);
  FwUpdateWindow window;
  window.SetIcons(AppIcons());
  windowed::Session session(start_.options, window);
  if (!session.ok()) {
    std::fputs(session.error().c_str(), stderr);
    return kExitUsage;
  }
  window.Attach(session.dialog());
  window.ShowModal();
  return kExitOk;
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
