#!/usr/bin/env bash
# Installs what building and testing need, on Debian 12, when it is missing.
#   scripts/install-deps.sh            compiler, CMake, Ninja, GoogleTest
#   scripts/install-deps.sh --gui      also wxWidgets, for the windowed program
#   scripts/install-deps.sh --all      also wxWidgets, the Windows cross compilers, Wine,
#                                      Xvfb and the tools of the GUI tests, qemu for the
#                                      end-to-end test, and what building and checking the
#                                      Debian package takes (dpkg-shlibdeps, lintian,
#                                      desktop-file-validate, appstreamcli, man, bash-completion),
#                                      clang and libFuzzer for the fuzz stage
set -euo pipefail

packages=(g++ cmake ninja-build googletest libgtest-dev python3)
gui_packages=(libwxgtk3.2-dev libx11-dev)
want_i386=0
for arg in "$@"; do
  case "$arg" in
    --gui)
      packages+=("${gui_packages[@]}") ;;
    --all)
      packages+=("${gui_packages[@]}"
                 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 wine32:i386
                 xvfb xdotool imagemagick x11-utils
                 qemu-system-x86 busybox-static cpio
                 dpkg-dev file lintian desktop-file-utils appstream man-db bash-completion
                 clang libclang-rt-14-dev)
      want_i386=1 ;;
    *) echo "unknown option $arg" >&2; exit 64 ;;
  esac
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

if [ "$want_i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ] || [ "${need_update:-0}" = 1 ]; then
  $SUDO apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
