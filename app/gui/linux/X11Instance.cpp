#include "app/gui/linux/X11Instance.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quarnel::gui {

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
  void operator()(void* data) const {
    if (data != nullptr) XFree(data);
  }
};
template <class T>
using XPtr = std::unique_ptr<T, XFreeDeleter>;

// Windows can vanish while they are looked at. Xlib reports that through one handler for
// the whole process; while a search runs, this one notes the failure instead of exiting.
class ErrorTrap {
 public:
  explicit ErrorTrap(Display* display) : display_(display), previous_(XSetErrorHandler(Note)) {
    failed_ = false;
  }
  ~ErrorTrap() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  ErrorTrap(const ErrorTrap&) = delete;
  ErrorTrap& operator=(const ErrorTrap&) = delete;

  // Whether a request since the last call failed.
  bool Failed() {
    XSync(display_, False);
    const bool failed = failed_;
    failed_ = false;
    return failed;
  }

 private:
  static int Note(Display*, XErrorEvent*) {
    failed_ = true;
    return 0;
  }

  static inline bool failed_ = false;
  Display* display_;
  XErrorHandler previous_;
};

Atom Intern(Display* display, const char* name) {
  return XInternAtom(display, name, False);
}

std::optional<std::string> Utf8Property(Display* display, Window window, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  const Atom utf8 = Intern(display, "UTF8_STRING");
  const int status = XGetWindowProperty(display, window, property, 0, 1024, False, utf8, &type,
                                        &format, &count, &after, &raw);
  const XPtr<unsigned char> data(raw);
  if (status != Success || type != utf8 || format != 8 || data == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(data.get()), count);
}

// WM_NAME may be Latin-1, compound text or UTF-8.
std::optional<std::string> LegacyName(Display* display, Window window) {
  XTextProperty property{};
  if (XGetWMName(display, window, &property) == 0) return std::nullopt;
  const XPtr<unsigned char> value(property.value);
  char** list = nullptr;
  int count = 0;
  if (Xutf8TextPropertyToTextList(display, &property, &list, &count) < Success || list == nullptr) {
    return std::nullopt;
  }
  std::optional<std::string> name;
  if (count > 0 && list[0] != nullptr) name = list[0];
  XFreeStringList(list);
  return name;
}

std::optional<std::string> Title(Display* display, Window window) {
  if (auto name = Utf8Property(display, window, Intern(display, "_NET_WM_NAME"))) return name;
  return LegacyName(display, window);
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameTitle(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Children from the top of the stack down.
std::vector<Window> Children(Display* display, Window parent) {
  Window root = None;
  Window up = None;
  Window* raw = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, parent, &root, &up, &raw, &count) == 0) return {};
  const XPtr<Window> children(raw);
  std::vector<Window> result;
  for (unsigned i = count; i > 0; --i) result.push_back(children.get()[i - 1]);
  return result;
}

struct Found {
  Window client = None;    // the window with the title
  Window topLevel = None;  // the frame around it, or the window itself
};

std::optional<Found> FindTitled(Display* display, std::string_view title) {
  const auto matches = [&](Window window) {
    const auto name = Title(display, window);
    return name && SameTitle(*name, title);
  };
  for (const Window top : Children(display, DefaultRootWindow(display))) {
    if (matches(top)) return Found{top, top};
    // A reparenting window manager keeps the client one level down, inside its frame.
    for (const Window child : Children(display, top)) {
      if (matches(child)) return Found{child, top};
    }
  }
  return std::nullopt;
}

// A window manager that follows the EWMH names a window of its own on the root; a stale name
// left by one that has gone is no window manager.
bool WindowManagerRuns(Display* display, ErrorTrap& trap) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* raw = nullptr;
  const int status = XGetWindowProperty(display, DefaultRootWindow(display),
                                        Intern(display, "_NET_SUPPORTING_WM_CHECK"), 0, 1, False,
                                        XA_WINDOW, &type, &format, &count, &after, &raw);
  const XPtr<unsigned char> data(raw);
  if (status != Success || type != XA_WINDOW || format != 32 || count != 1 || data == nullptr) {
    return false;
  }
  // Format-32 properties come back as an array of long.
  Window check = None;
  std::memcpy(&check, data.get(), sizeof check);
  XWindowAttributes attributes{};
  const bool exists = XGetWindowAttributes(display, check, &attributes) != 0;
  return !trap.Failed() && exists;
}

void Activate(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = Intern(display, "_NET_ACTIVE_WINDOW");
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // on behalf of the user, as a pager asks
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

}  // namespace

InstanceSearch RaiseWindowTitled(std::string_view title) {
  const DisplayPtr display(XOpenDisplay(nullptr));
  if (display == nullptr) return InstanceSearch::NoDisplay;
  Display* d = display.get();
  ErrorTrap trap(d);
  const auto found = FindTitled(d, title);
  if (!found) return InstanceSearch::NotFound;
  if (WindowManagerRuns(d, trap)) {
    Activate(d, found->client);
  } else {
    XMapRaised(d, found->topLevel);
    if (found->client != found->topLevel) XMapRaised(d, found->client);
    XSync(d, False);
    XSetInputFocus(d, found->client, RevertToParent, CurrentTime);
  }
  XSync(d, False);
  return InstanceSearch::Raised;
}

}  // namespace quarnel::gui
