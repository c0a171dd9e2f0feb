# Cross build for 64-bit Windows with MinGW-w64 (cmake --preset win64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUARNEL_MINGW_TRIPLE x86_64-w64-mingw32)
set(QUARNEL_MINGW_ARCH x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake")
