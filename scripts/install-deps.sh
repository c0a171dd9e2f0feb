#!/usr/bin/env bash
# Installs what building and testing need, on Debian 12, when it is missing.
#   scripts/install-deps.sh            compiler, CMake, Ninja, GoogleTest
#   scripts/install-deps.sh --gui      also wxWidgets, for the windowed program
#   scripts/install-deps.sh --all      also wxWidgets, the Windows cross compilers, Wine,
#                                      Xvfb and the tools of the GUI tests (where 32-bit Wine
#                                      cannot be installed, a root of the 32-bit tests' own
#                                      instead: scripts/win32-root.sh), qemu for the
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
                 debootstrap qemu-system-x86 busybox-static cpio
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
# A mirror in the middle of a sync serves an index of the wrong size for a minute or so: the
# update is tried again, and an index still missing after that only matters if a package
# cannot be found without it (the install says so).
update_indexes() {
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -qq && return 0
    echo "apt-get update failed (try $try of 3)" >&2
    [ "$try" = 3 ] || sleep 20
  done
  echo "going on with the package indexes apt-get has" >&2
}
if [ "${#missing[@]}" -gt 0 ] || [ "${need_update:-0}" = 1 ]; then
  update_indexes
fi
install_packages() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$@" >/dev/null
}
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if ! install_packages "${missing[@]}"; then
    # The 32-bit packages need the i386 index of every suite the 64-bit system took updates
    # from; a mirror that lacks one cannot install them at all. Everything else is still
    # installed, and the 32-bit Windows tests run in a root of their own (below).
    native=()
    for p in "${missing[@]}"; do
      case "$p" in *:i386) ;; *) native+=("$p") ;; esac
    done
    [ "${#native[@]}" -lt "${#missing[@]}" ] || exit 1
    echo "WARNING: the 32-bit packages cannot be installed from this mirror;" \
         "installing the rest (the 32-bit Windows tests will run in build/win32-root)" >&2
    [ "${#native[@]}" -eq 0 ] || install_packages "${native[@]}"
  fi
fi

# Without 32-bit Wine of its own, the machine gets a Debian root with it, made once per source
# tree (it says why where it cannot be made or used). Without it the 32-bit Windows tests skip,
# or fail under CI, saying why.
if [ "$want_i386" = 1 ] &&
  ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
  rc=0
  $SUDO bash "$(dirname "$0")/win32-root.sh" make || rc=$?
  [ "$rc" = 0 ] || [ "$rc" = 77 ] ||
    echo "WARNING: the 32-bit root could not be made; the 32-bit Windows tests cannot run" >&2
fi
