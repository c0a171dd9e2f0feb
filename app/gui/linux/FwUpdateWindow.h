// The updater dialog IDD_FWUPDATE_DIALOG as a wxWidgets dialog: its controls, laid out in
// dialog units from the template, and the DialogWindow the dialog's behaviour talks to.
#pragma once

#include <wx/dialog.h>
#include <wx/timer.h>

#include <map>
#include <memory>

#include "app/DialogWindow.h"

namespace quarnel {
class CFwUpdateDlg;
}

namespace quarnel::gui {

class CProgressBar;

class FwUpdateWindow final : public wxDialog, public DialogWindow {
 public:
  explicit FwUpdateWindow(wxWindow* parent = nullptr);
  ~FwUpdateWindow() override;
  FwUpdateWindow(const FwUpdateWindow&) = delete;
  FwUpdateWindow& operator=(const FwUpdateWindow&) = delete;

  // The behaviour behind the controls. Set it before ShowModal; it must outlive the modal
  // loop. Its OnInitDialog runs when the dialog first shows.
  void Attach(CFwUpdateDlg& dlg) { dlg_ = &dlg; }

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
  void CreateControls();
  wxWindow* Item(int id) const;
  void OnInit(wxInitDialogEvent& event);
  void OnCharHook(wxKeyEvent& event);
  void OnClose(wxCloseEvent& event);
  void OnTimerEvent(wxTimerEvent& event);

  CFwUpdateDlg* dlg_ = nullptr;
  CProgressBar* progress_ = nullptr;
  std::map<unsigned, std::unique_ptr<wxTimer>> timers_;
};

}  // namespace quarnel::gui
