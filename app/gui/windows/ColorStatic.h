// A static label whose text colour the program sets: it answers WM_CTLCOLORSTATIC for its
// control with that colour on the dialog's face colour.
#pragma once

#include <cstdint>

#include "app/gui/windows/Win32.h"

namespace quarnel::win {

class CColorStatic {
 public:
  CColorStatic();
  CColorStatic(const CColorStatic&) = delete;
  CColorStatic& operator=(const CColorStatic&) = delete;

  void Attach(HWND control) { control_ = control; }
  HWND hwnd() const { return control_; }

  // `colour` has red in the low byte, as a COLORREF does.
  void SetTextColorAndRedraw(std::uint32_t colour);

  // The answer to WM_CTLCOLORSTATIC for this label: sets up `dc` and returns the brush
  // that paints the label's background.
  HBRUSH OnCtlColor(HDC dc) const;

 private:
  HWND control_ = nullptr;
  COLORREF colour_ = 0;
  BrushHandle background_;
};

}  // namespace quarnel::win
