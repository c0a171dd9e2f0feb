# Shared part of the MinGW-w64 cross toolchains. The including file sets QUARNEL_MINGW_TRIPLE
# (i686-w64-mingw32 or x86_64-w64-mingw32) before including this one.
#
# The -posix compilers use the winpthreads thread model, which std::thread needs. Programs
# link statically so they run under Wine or on a bare Windows without the MinGW runtime DLLs.
# Test programs run under Wine through scripts/wine-run.sh, in a Wine prefix of the build tree.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

set(CMAKE_C_COMPILER "${QUARNEL_MINGW_TRIPLE}-gcc-posix")
set(CMAKE_CXX_COMPILER "${QUARNEL_MINGW_TRIPLE}-g++-posix")
set(CMAKE_RC_COMPILER "${QUARNEL_MINGW_TRIPLE}-windres")

set(CMAKE_FIND_ROOT_PATH "/usr/${QUARNEL_MINGW_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

set(CMAKE_CROSSCOMPILING_EMULATOR
    sh "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" "${QUARNEL_MINGW_ARCH}"
    "${CMAKE_BINARY_DIR}/wineprefix")
