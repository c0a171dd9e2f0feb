// The Windows program: one instance at a time, the options, the dialog.
#pragma once

#include <string>
#include <vector>

#include "app/gui/windows/Win32.h"

namespace quarnel::win {

// The program's arguments, without its name, in UTF-8.
std::vector<std::string> CommandLineArguments();

// Runs the program; returns its exit code.
int RunProgram(HINSTANCE instance, const std::vector<std::string>& arguments);

}  // namespace quarnel::win
