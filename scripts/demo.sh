#!/usr/bin/env bash
# Installs what is missing, builds the release programs and updates the built-in emulated device.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_BUILD_BENCH=OFF -DQUARNEL_BUILD_GUI=OFF >/dev/null
cmake --build --preset release
if [ -x build/release/app/quarnel-fwupdate-cli ]; then
  exec build/release/app/quarnel-fwupdate-cli --simulate update
fi
echo "(the command-line program is not built yet)"
