// The progress bar IDC_PROGRESS. GTK 3's own progress bar is a thin line under most themes
// and, when part of the window is repainted at once (as the colour labels are), it keeps
// showing an old position until its next layout. This one paints the theme's progress bar
// over its whole rectangle, at the position last set.
#pragma once

#include <wx/window.h>

namespace quarnel::gui {

class CProgressBar final : public wxWindow {
 public:
  CProgressBar(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size);

  // Range low..high, as the dialog sets it; positions outside it show as its ends.
  void SetRange(int low, int high);
  void SetPos(int pos);
  int GetPos() const { return pos_; }

  bool AcceptsFocus() const override { return false; }
  bool AcceptsFocusFromKeyboard() const override { return false; }

 private:
  void OnPaint(wxPaintEvent& event);

  int low_ = 0;
  int high_ = 100;
  int pos_ = 0;
};

}  // namespace quarnel::gui
