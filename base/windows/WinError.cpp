#include "base/windows/WinError.h"

#include <windows.h>

namespace quarnel::win {

std::string ErrorText(std::uint32_t code) {
  char text[256] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, text, sizeof text, nullptr);
  std::string words(text, n);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' ' ||
                            words.back() == '.'))
    words.pop_back();
  const std::string number = "error " + std::to_string(code);
  return words.empty() ? number : words + " (" + number + ")";
}

std::string LastErrorText(const std::string& what) {
  const DWORD code = GetLastError();
  return what + " failed: " + ErrorText(code);
}

}  // namespace quarnel::win
