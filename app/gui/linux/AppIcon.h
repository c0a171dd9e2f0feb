// The program's icon IDR_MAINFRAME, drawn in resources/icon.svg and embedded from its PNG
// renderings at build time, so the window has it wherever the program is copied.
#pragma once

#include <wx/iconbndl.h>

#include <span>

namespace quarnel::gui {

// The PNG files, smallest first (generated source).
std::span<const std::span<const unsigned char>> IconPngs();

// All sizes, for the window manager to pick from. Needs the PNG image handler.
wxIconBundle AppIcons();

}  // namespace quarnel::gui
