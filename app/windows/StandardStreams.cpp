#include <windows.h>

#include "app/StandardStreams.h"

namespace quarnel {

namespace {

// A handle the process may use: not missing, and not a number that names nothing (a parent
// can pass one it did not let the process inherit; a handle opened later could take it).
bool Usable(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  ::SetLastError(NO_ERROR);
  return ::GetFileType(handle) != FILE_TYPE_UNKNOWN || ::GetLastError() == NO_ERROR;
}

}  // namespace

// The C runtime has read the standard handles before main and keeps its descriptors 0, 1
// and 2 taken even when it found none, so no file it opens becomes one of them; what is left
// are the standard handles themselves.
bool OpenStandardStreams() {
  const DWORD standard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (const DWORD which : standard) {
    if (Usable(::GetStdHandle(which))) continue;
    // It stays open for the life of the process, as the stream it stands for would have.
    const HANDLE null =
        ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (null == INVALID_HANDLE_VALUE) return false;
    if (::SetStdHandle(which, null) == 0) {
      ::CloseHandle(null);
      return false;
    }
  }
  return true;
}

}  // namespace quarnel
