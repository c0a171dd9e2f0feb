// Owns one Windows kernel handle and closes it; a null or INVALID_HANDLE_VALUE handle is
// "none".
#pragma once

#include <windows.h>

#include "base/UniqueResource.h"

namespace quarnel::win {

struct HandleTraits {
  using Value = HANDLE;
  static HANDLE None() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};

using UniqueHandle = UniqueResource<HandleTraits>;

}  // namespace quarnel::win
