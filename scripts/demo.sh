#!/usr/bin/env bash
# Installs what is missing, builds the release programs and updates the built-in emulated device.
#   scripts/demo.sh            with the command-line program
#   scripts/demo.sh --window   with the windowed program (needs a desktop session's display)
set -euo pipefail
cd "$(dirname "$0")/.."
window=0
case "${1:-}" in
  "") ;;
  --window) window=1 ;;
  *) echo "usage: scripts/demo.sh [--window]" >&2; exit 64 ;;
esac

if [ "$window" = 1 ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "scripts/demo.sh --window opens a window: run it in a desktop session" \
      "(no DISPLAY or WAYLAND_DISPLAY here)" >&2
    exit 1
  fi
  bash scripts/install-deps.sh --gui
  cmake --preset release -DQUARNEL_BUILD_BENCH=OFF >/dev/null
  cmake --build --preset release -j2
  exec build/release/app/quarnel-fwupdate --simulate
fi

bash scripts/install-deps.sh
cmake --preset release -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_BUILD_BENCH=OFF -DQUARNEL_BUILD_GUI=OFF >/dev/null
cmake --build --preset release
if [ -x build/release/app/quarnel-fwupdate-cli ]; then
  exec build/release/app/quarnel-fwupdate-cli --simulate update
fi
echo "(the command-line program is not built yet)"
