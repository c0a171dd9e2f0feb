#include "app/gui/linux/AppIcon.h"

#include <wx/bitmap.h>
#include <wx/icon.h>

namespace quarnel::gui {

wxIconBundle AppIcons() {
  wxIconBundle bundle;
  for (const std::span<const unsigned char> png : IconPngs()) {
    const wxBitmap bitmap = wxBitmap::NewFromPNGData(png.data(), png.size());
    if (!bitmap.IsOk()) continue;
    wxIcon icon;
    icon.CopyFromBitmap(bitmap);
    bundle.AddIcon(icon);
  }
  return bundle;
}

}  // namespace quarnel::gui
