// Words for a Win32 error code, for the reasons the link and the program report.
#pragma once

#include <cstdint>
#include <string>

namespace quarnel::win {

// "text (error N)" for a GetLastError() value.
std::string ErrorText(std::uint32_t code);

// "`what` failed: text (error N)" for the calling thread's last error.
std::string LastErrorText(const std::string& what);

}  // namespace quarnel::win
