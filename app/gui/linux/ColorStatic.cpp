#include "app/gui/linux/ColorStatic.h"

#include <wx/dcclient.h>
#include <wx/settings.h>

namespace quarnel::gui {

namespace {

unsigned char Channel(std::uint32_t colour, unsigned shift) {
  return static_cast<unsigned char>((colour >> shift) & 0xFFu);
}

}  // namespace

wxColour ColourFromRgbLowRed(std::uint32_t colour) {
  return {Channel(colour, 0), Channel(colour, 8), Channel(colour, 16)};
}

CColorStatic::CColorStatic(wxWindow* parent, int id, const wxString& text, const wxPoint& pos,
                           const wxSize& size, Align align, bool sunken)
    : wxWindow(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE),
      text_(text),
      align_(align),
      sunken_(sunken) {
  // The parent paints the background; the label draws only its edge and text on top.
  SetBackgroundStyle(wxBG_STYLE_SYSTEM);
  Bind(wxEVT_PAINT, &CColorStatic::OnPaint, this);
}

void CColorStatic::SetTextColorAndRedraw(std::uint32_t colour) {
  colour_ = colour & 0xFFFFFFu;
  Refresh();
  Update();
}

void CColorStatic::SetText(const wxString& text) {
  if (text == text_) return;
  text_ = text;
  Refresh();
  Update();
}

void CColorStatic::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  int inset = 0;
  if (sunken_) {
    // The static edge: shadow on the top and left, highlight on the bottom and right.
    const int right = size.x - 1;
    const int bottom = size.y - 1;
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    dc.SetPen(wxPen(face.ChangeLightness(60)));
    dc.DrawLine(0, 0, right, 0);
    dc.DrawLine(0, 0, 0, bottom);
    dc.SetPen(wxPen(face.ChangeLightness(150)));
    dc.DrawLine(0, bottom, right + 1, bottom);
    dc.DrawLine(right, 0, right, bottom);
    inset = 1;
  }
  if (text_.empty()) return;
  dc.SetFont(GetFont());
  dc.SetTextForeground(ColourFromRgbLowRed(colour_));
  dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
  const wxRect inside(inset, inset, size.x - 2 * inset, size.y - 2 * inset);
  dc.SetClippingRegion(inside);
  const int horizontal = align_ == Align::Centre ? wxALIGN_CENTRE_HORIZONTAL : wxALIGN_LEFT;
  dc.DrawLabel(text_, inside, horizontal | wxALIGN_CENTRE_VERTICAL);
}

}  // namespace quarnel::gui
