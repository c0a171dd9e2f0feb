// A stand-in for another program's window, for the single-instance test: one window with a
// given title, covered by a second window, reporting on stdout what happens to it.
//
//   quarnel-titled-window [--net-name=TITLE] [--wm-name=TITLE] [--frame] [--wm | --stale-wm]
//   quarnel-titled-window --close=WINDOW
//
// --net-name sets _NET_WM_NAME (UTF-8), --wm-name sets WM_NAME. --frame puts the window one
// level down in a frame, as a reparenting window manager does. --wm claims a window manager
// (_NET_SUPPORTING_WM_CHECK names a live window) and reports activation requests; --stale-wm
// leaves a check property naming a window that is gone.
//
// Prints "ready" once the window is mapped and covered, then "unobscured" when it comes back
// on top, "focus" when it gets the input focus and "activate titled|other" for each
// _NET_ACTIVE_WINDOW request. Runs until killed.
//
// --close asks the window WINDOW (decimal or 0x hex) to close as a window manager's close
// button does (WM_DELETE_WINDOW), and exits.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

struct Options {
  Window close = None;
  std::string netName;
  std::string wmName;
  bool frame = false;
  bool wm = false;
  bool staleWm = false;
};

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.rfind("--close=", 0) == 0) {
      o.close = std::strtoul(argv[i] + 8, nullptr, 0);
    } else if (arg.rfind("--net-name=", 0) == 0) {
      o.netName = arg.substr(11);
    } else if (arg.rfind("--wm-name=", 0) == 0) {
      o.wmName = arg.substr(10);
    } else if (arg == "--frame") {
      o.frame = true;
    } else if (arg == "--wm") {
      o.wm = true;
    } else if (arg == "--stale-wm") {
      o.staleWm = true;
    } else {
      std::fprintf(stderr, "quarnel-titled-window: unknown option %s\n", argv[i]);
      return false;
    }
  }
  return true;
}

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

Window Plain(Display* d, Window parent, int x, int y, unsigned long pixel) {
  return XCreateSimpleWindow(d, parent, x, y, 300, 120, 0, 0, pixel);
}

void WaitForMap(Display* d, Window w) {
  XEvent e;
  do {
    XWindowEvent(d, w, StructureNotifyMask, &e);
  } while (e.type != MapNotify);
}

void WaitForVisibility(Display* d, Window w, int state) {
  XEvent e;
  do {
    XWindowEvent(d, w, VisibilityChangeMask, &e);
  } while (e.xvisibility.state != state);
}

int RequestClose(Display* d, Window window) {
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = window;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, window, False, NoEventMask, &e);
  XSync(d, False);
  return 0;
}

void SetCheck(Display* d, Window root, Window check) {
  XChangeProperty(d, root, XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&check), 1);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, o)) return 64;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    std::fprintf(stderr, "quarnel-titled-window: cannot open the display\n");
    return 1;
  }
  if (o.close != None) return RequestClose(d, o.close);
  const Window root = DefaultRootWindow(d);
  const unsigned long white = WhitePixel(d, DefaultScreen(d));
  const Atom activeWindow = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);

  const Window top = Plain(d, root, 40, 40, white);
  const Window titled = o.frame ? Plain(d, top, 0, 0, white) : top;
  if (!o.netName.empty()) {
    XChangeProperty(d, titled, XInternAtom(d, "_NET_WM_NAME", False),
                    XInternAtom(d, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(o.netName.data()),
                    static_cast<int>(o.netName.size()));
  }
  if (!o.wmName.empty()) XStoreName(d, titled, o.wmName.c_str());
  XSelectInput(d, titled, StructureNotifyMask | VisibilityChangeMask | FocusChangeMask);
  if (titled != top) {
    XSelectInput(d, top, StructureNotifyMask);
    XMapWindow(d, titled);
  }
  XMapWindow(d, top);
  WaitForMap(d, titled);

  // Another window on top of it, so that raising it shows.
  const Window cover = Plain(d, root, 20, 20, BlackPixel(d, DefaultScreen(d)));
  XResizeWindow(d, cover, 400, 200);
  XMapWindow(d, cover);
  WaitForVisibility(d, titled, VisibilityFullyObscured);

  if (o.wm) {
    const Window check = XCreateSimpleWindow(d, root, -10, -10, 1, 1, 0, 0, 0);
    SetCheck(d, root, check);
    XSelectInput(d, root, SubstructureNotifyMask);
  } else if (o.staleWm) {
    const Window gone = XCreateSimpleWindow(d, root, -10, -10, 1, 1, 0, 0, 0);
    SetCheck(d, root, gone);
    XDestroyWindow(d, gone);
  }
  XSync(d, False);
  Say("ready");

  for (;;) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type == VisibilityNotify && e.xvisibility.window == titled &&
        e.xvisibility.state == VisibilityUnobscured) {
      Say("unobscured");
    } else if (e.type == FocusIn && e.xfocus.window == titled) {
      Say("focus");
    } else if (e.type == ClientMessage && e.xclient.message_type == activeWindow) {
      Say(e.xclient.window == titled ? "activate titled" : "activate other");
    }
  }
}
