#include "app/gui/windows/ColorStatic.h"

namespace quarnel::win {

CColorStatic::CColorStatic() : background_(CreateSolidBrush(GetSysColor(COLOR_BTNFACE))) {}

void CColorStatic::SetTextColorAndRedraw(std::uint32_t colour) {
  colour_ = static_cast<COLORREF>(colour);
  if (control_ == nullptr) return;
  InvalidateRect(control_, nullptr, TRUE);
  UpdateWindow(control_);
}

HBRUSH CColorStatic::OnCtlColor(HDC dc) const {
  SetTextColor(dc, colour_);
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return background_.get();
}

}  // namespace quarnel::win
