// The windowed program apart from its window: its options and how they are read, its texts,
// its exit codes, and the pieces the dialog runs with. The programs of both platforms
// (app/gui/linux, app/gui/windows) start here, so they take the same options and end with the
// same codes; they only show the texts and the window in their own ways.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/ExitCodes.h"
#include "app/ProgramOptions.h"

namespace quarnel {

class CFwUpdateDlg;
class DialogWindow;
class ReportingWindow;

namespace windowed {

// The dialog could not be shown (on Linux: no display, or none that could be opened). A
// report file that cannot be written is a usage error.
inline constexpr int kExitNoDialog = 1;

// What the program says, on stderr, when there is no display to show the dialog on.
inline constexpr const char* kNoDisplayText =
    "quarnel-fwupdate: cannot open a display; in a terminal use quarnel-fwupdate-cli\n";

// What the arguments ask for: the dialog with these options, or a text and an exit code.
struct Start {
  bool showDialog = false;
  SharedOptions options;
  // When there is no dialog: the help, the version, or what is wrong followed by the usage;
  // it ends with a newline. With kExitOk it is for stdout, otherwise for stderr.
  std::string text;
  int exitCode = kExitOk;
};

// Reads the arguments (without the program's name) from left to right: the first one that
// ends the program (-h/--help, --version or a mistake) decides.
Start ParseArguments(const std::vector<std::string>& args);

const char* Usage();

// The device bus, the recorder of --report and the dialog's behaviour, around the window.
// The window must outlive the session.
class Session {
 public:
  Session(const SharedOptions& options, DialogWindow& window);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // False when the report file cannot be written: show error() and end with kExitUsage.
  bool ok() const { return dialog_ != nullptr; }
  // Ends with a newline, like the texts of Start.
  const std::string& error() const { return error_; }
  // Only when ok().
  CFwUpdateDlg& dialog() { return *dialog_; }

 private:
  std::unique_ptr<hid::Bus> bus_;
  std::unique_ptr<ReportingWindow> report_;
  std::unique_ptr<CFwUpdateDlg> dialog_;
  std::string error_;
};

}  // namespace windowed
}  // namespace quarnel
