// What the updater dialog needs from its window. The window code implements it with real
// controls; tests and the command-line program implement it without any.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Colour.h"

namespace quarnel {

inline constexpr const char* kProductTitle = "Quarnel USB Digital Audio Firmware Update";
inline constexpr const char* kDialogCaption = "Quarnel USB Digital Async. Audio Firmware Update";
// The caption while the dialog runs on the built-in emulated unit.
inline constexpr const char* kEmulatedCaption =
    "Quarnel USB Digital Async. Audio Firmware Update (emulated device)";

// Every call comes from the user-interface thread.
class DialogWindow {
 public:
  virtual ~DialogWindow() = default;

  virtual void SetItemText(int id, const std::string& text) = 0;
  // At most maxChars characters of the control's text.
  virtual std::string GetItemText(int id, std::size_t maxChars) = 0;
  // The colour label's text colour; the label repaints at once.
  virtual void SetTextColorAndRedraw(int id, std::uint32_t colour) = 0;
  virtual void EnableItem(int id, bool enable) = 0;
  virtual bool IsItemEnabled(int id) = 0;
  virtual void SetProgressRange(int low, int high) = 0;
  virtual void SetProgressPos(int pos) = 0;
  // A modal message box captioned with the product title, with an OK button only and no
  // icon. Returns when the user has dismissed it.
  virtual void MessageBox(const std::string& text) = 0;
  // A repeating timer that calls the dialog's OnTimer(id) on the user-interface thread.
  virtual void SetTimer(unsigned id, unsigned periodMs) = 0;
  virtual void KillTimer(unsigned id) = 0;
  // Ends the modal dialog with this result.
  virtual void EndDialog(int result) = 0;
  // The window's caption; windows without one ignore it.
  virtual void SetCaption(const std::string& /*caption*/) {}
};

}  // namespace quarnel
