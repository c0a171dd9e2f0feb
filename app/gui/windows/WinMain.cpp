// Entry point of quarnel-fwupdate.exe, the windowed firmware updater.
#include "app/gui/windows/GuiProgram.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  return quarnel::win::RunProgram(instance, quarnel::win::CommandLineArguments());
}
