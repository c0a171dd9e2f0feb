// The Windows headers as the window code uses them. The dialog's own MessageBox must not be
// renamed by the header's A/W macro: the window code calls MessageBoxA by name.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: commctrl.h needs its types.
#include <commctrl.h>

#undef MessageBox

#include <memory>
#include <type_traits>

namespace quarnel::win {

// Owners of GDI and user handles.
struct IconDeleter {
  void operator()(HICON icon) const { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconDeleter>;

struct BrushDeleter {
  void operator()(HBRUSH brush) const { DeleteObject(brush); }
};
using BrushHandle = std::unique_ptr<std::remove_pointer_t<HBRUSH>, BrushDeleter>;

// An integer resource ID as the resource functions take it.
inline LPCSTR ResourceId(int id) {
  return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}

}  // namespace quarnel::win
