#!/bin/sh
# Builds what ships for Windows (the win32-release preset), makes its zip with cpack and checks
# the zip: its entries, the programs' version resources and manifests (check_win_zip.py), and
# that neither program needs a DLL that Windows does not ship.
#   win32_zip_test.sh SOURCE_DIR VERSION OBJDUMP
set -eu
source_dir=$1
version=$2
objdump=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$source_dir"
if ! { cmake --preset win32-release && cmake --build --preset win32-release -j2 &&
  cpack --preset win32-release; } >"$work/build.log" 2>&1; then
  cat "$work/build.log"
  echo "FAIL: building the win32-release zip"
  exit 1
fi
zip=build/win32-release/package/quarnel-fwupdate-$version-win32.zip
python3 "$here/check_win_zip.py" "$zip" "$version"

python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$zip" "$work/unpacked"
for exe in "$work"/unpacked/*/*.exe; do
  sh "$source_dir/tests/app/gui/windows/system_dlls_test.sh" "$objdump" "$exe"
done
