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
    // The client edge: two rings, each dark on the top and left and light on the bottom and
    // right; the outer one shadow and highlight, the inner one dark shadow and light.
    const wxColour face = wxSystemSettings::GetColour(wxSYS_COLOUR_BTNFACE);
    const auto ring = [&](int at, const wxColour& dark, const wxColour& light) {
      const int right = size.x - 1 - at;
      const int bottom = size.y - 1 - at;
      dc.SetPen(wxPen(dark));
      dc.DrawLine(at, at, right, at);
      dc.DrawLine(at, at, at, bottom);
      dc.SetPen(wxPen(light));
      dc.DrawLine(at, bottom, right + 1, bottom);
      dc.DrawLine(right, at, right, bottom);
    };
    ring(0, face.ChangeLightness(60), face.ChangeLightness(150));
    ring(1, face.ChangeLightness(25), face.ChangeLightness(110));
    inset = 2;
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
