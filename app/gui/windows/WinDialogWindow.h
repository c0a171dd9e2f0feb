// The updater dialog's real window on Windows: the dialog template of the resources, run
// modally, with its messages handed to CFwUpdateDlg.
#pragma once

#include <string>

#include "app/DialogWindow.h"
#include "app/gui/windows/ColorStatic.h"
#include "app/gui/windows/Win32.h"

namespace quarnel {

class CFwUpdateDlg;

namespace win {

class WinDialogWindow final : public DialogWindow {
 public:
  explicit WinDialogWindow(HINSTANCE instance) : instance_(instance) {}
  WinDialogWindow(const WinDialogWindow&) = delete;
  WinDialogWindow& operator=(const WinDialogWindow&) = delete;

  // Shows the dialog and runs it until it ends; `dialog` handles its messages. False, with
  // the reason, when the dialog could not be shown.
  bool Run(CFwUpdateDlg& dialog, std::string& reason);

  void SetItemText(int id, const std::string& text) override;
  std::string GetItemText(int id, std::size_t maxChars) override;
  void SetTextColorAndRedraw(int id, std::uint32_t colour) override;
  void EnableItem(int id, bool enable) override;
  bool IsItemEnabled(int id) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void MessageBox(const std::string& text) override;
  void SetTimer(unsigned id, unsigned periodMs) override;
  void KillTimer(unsigned id) override;
  void EndDialog(int result) override;
  void SetCaption(const std::string& caption) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void InitWindow(HWND hwnd);
  void OnCommand(int id);
  bool PaintMinimised();
  CColorStatic* Label(int id);
  CColorStatic* LabelOf(HWND control);

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  CFwUpdateDlg* dialog_ = nullptr;
  CColorStatic status_;
  CColorStatic dots_;
  IconHandle bigIcon_;
  IconHandle smallIcon_;
  // The control that had the focus when it was disabled; the dialog itself holds the focus
  // meanwhile, so that the keyboard keeps working, and the control gets it back when it is
  // enabled again.
  HWND parkedFocus_ = nullptr;
};

}  // namespace win
}  // namespace quarnel
