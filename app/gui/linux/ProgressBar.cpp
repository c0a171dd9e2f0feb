#include "app/gui/linux/ProgressBar.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

#include <algorithm>

namespace quarnel::gui {

CProgressBar::CProgressBar(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE) {
  SetBackgroundStyle(wxBG_STYLE_SYSTEM);
  Bind(wxEVT_PAINT, &CProgressBar::OnPaint, this);
}

void CProgressBar::SetRange(int low, int high) {
  low_ = low;
  high_ = std::max(high, low + 1);
  Refresh();
}

void CProgressBar::SetPos(int pos) {
  if (pos == pos_) return;
  pos_ = pos;
  Refresh();
}

void CProgressBar::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  // A trough a shade darker than the dialog, with a thin border; the done part in the
  // theme's selection colour.
  const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
  const wxRect trough(GetClientSize());
  constexpr double kRadius = 3;
  dc.SetPen(wxPen(face.ChangeLightness(75)));
  dc.SetBrush(wxBrush(face.ChangeLightness(92)));
  dc.DrawRoundedRectangle(trough, kRadius);

  const int done = std::clamp(pos_, low_, high_) - low_;
  const wxRect inside = wxRect(trough).Deflate(1);
  const int width = static_cast<int>(static_cast<long long>(done) * inside.width / (high_ - low_));
  if (width <= 0) return;
  const wxColour bar = wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
  dc.SetPen(wxPen(bar.ChangeLightness(85)));
  dc.SetBrush(wxBrush(bar));
  dc.DrawRoundedRectangle(wxRect(inside.x, inside.y, width, inside.height), kRadius - 1);
}

}  // namespace quarnel::gui
