// Entry point of quarnel-fwupdate.exe, the windowed firmware updater.
#include "app/ExitCodes.h"
#include "app/StandardStreams.h"
#include "app/gui/windows/GuiProgram.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
  // Before anything is opened, so that no unit's handle stands in for a standard one.
  if (!quarnel::OpenStandardStreams()) return quarnel::kExitInternal;
  return quarnel::win::RunProgram(instance, quarnel::win::CommandLineArguments());
}
