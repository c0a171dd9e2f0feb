# Cross build for 32-bit Windows with MinGW-w64 (cmake --preset win32).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QUARNEL_MINGW_TRIPLE i686-w64-mingw32)
set(QUARNEL_MINGW_ARCH i686)
include("${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake")
