// A static label whose text colour the program sets at run time. It paints its own text, so
// the colour shows exactly as set whatever the GTK theme does with labels, on the dialog's
// own background; it can draw the two-pixel sunken client edge that GTK 3 leaves off its
// labels.
#pragma once

#include <wx/window.h>

#include <cstdint>

namespace quarnel::gui {

// A 24-bit colour with red in the low byte (0x7F0000 is dark blue).
wxColour ColourFromRgbLowRed(std::uint32_t colour);

class CColorStatic final : public wxWindow {
 public:
  enum class Align : std::uint8_t { Left, Centre };

  CColorStatic(wxWindow* parent, int id, const wxString& text, const wxPoint& pos,
               const wxSize& size, Align align, bool sunken);

  // Black until set; the label repaints at once.
  void SetTextColorAndRedraw(std::uint32_t colour);
  void SetText(const wxString& text);
  const wxString& GetText() const { return text_; }
  std::uint32_t textColour() const { return colour_; }

  // A label: Tab passes it by.
  bool AcceptsFocus() const override { return false; }
  bool AcceptsFocusFromKeyboard() const override { return false; }

 private:
  void OnPaint(wxPaintEvent& event);

  wxString text_;
  std::uint32_t colour_ = 0;
  Align align_;
  bool sunken_;
};

}  // namespace quarnel::gui
