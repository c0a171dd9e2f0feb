// One copy of the program on an X display: finds a window that already carries the product
// title and brings it to the front. Plain Xlib on a connection of its own, so it can run
// before the toolkit opens any window.
#pragma once

#include <cstdint>
#include <string_view>

namespace quarnel::gui {

enum class InstanceSearch : std::uint8_t {
  NoDisplay,  // no X display to look on (none set, or it cannot be opened)
  NotFound,
  Raised,  // found and asked to come to the front
};

// Looks among the top-level windows of the display named by DISPLAY, and one level down
// inside window manager frames, for a window titled `title` (ASCII letters in any case; the
// title is read from _NET_WM_NAME, else WM_NAME). Where a window manager runs it is asked
// to activate the window; elsewhere the window is mapped, raised and given the focus.
InstanceSearch RaiseWindowTitled(std::string_view title);

}  // namespace quarnel::gui
