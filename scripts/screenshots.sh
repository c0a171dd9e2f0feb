#!/usr/bin/env bash
# Pictures of the windowed program in build/screenshots/, for review and documentation:
#   linux-start.png, linux-updating.png, linux-ok.png, linux-fail-message.png,
#   linux-fail.png, linux-no-device.png     the wxWidgets dialog under Xvfb
#   windows-*.png                           the Win32 dialog under Wine (see windows_shots)
#
#   scripts/screenshots.sh [linux] [windows]     (both when none is named)
# Builds the default preset's program first when it is missing. Needs Xvfb, xdotool and
# ImageMagick (scripts/install-deps.sh --all).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/xsession.sh

out=build/screenshots
mkdir -p "$out"
work=$(mktemp -d)
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  xsession_stop
  rm -rf "$work"
}
trap cleanup EXIT

missing=$(xsession_missing_tools)
[ -z "$missing" ] || { echo "screenshots.sh: missing $missing" >&2; exit 1; }

# Starts the Linux program with a report file and waits for its dialog; sets report and
# dialog.
start_linux() {
  report="$work/report-$RANDOM.txt"
  "$linux_program" --report="$report" "$@" >>"$work/program.log" 2>&1 &
  program_pid=$!
  wait_until 20 "the dialog" has_line "$report" \
    "status #00007F Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]"
  wait_until 10 "the dialog window" window_named "$QUARNEL_DIALOG_TITLE_RE"
  dialog=$(window_named "$QUARNEL_DIALOG_TITLE_RE")
}

end_linux() {
  xdotool key Escape
  wait_until 10 "the dialog to close" has_line "$report" closed
  wait "$program_pid" || true
  program_pid=
}

# The screen area that holds both windows, the message box over the dialog.
shot_with_box() {
  local box left top right bottom X Y WIDTH HEIGHT WINDOW SCREEN
  box=$(window_named "^$QUARNEL_PRODUCT_TITLE\$")
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  left=$X top=$Y right=$((X + WIDTH)) bottom=$((Y + HEIGHT))
  eval "$(xdotool getwindowgeometry --shell "$box")"
  ((X < left)) && left=$X
  ((Y < top)) && top=$Y
  ((X + WIDTH > right)) && right=$((X + WIDTH))
  ((Y + HEIGHT > bottom)) && bottom=$((Y + HEIGHT))
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$1"
}

linux_shots() {
  linux_program=${LINUX_PROGRAM:-build/default/app/quarnel-fwupdate}
  if [ ! -x "$linux_program" ]; then
    cmake --preset default >/dev/null
    cmake --build --preset default --target quarnel-fwupdate
  fi
  export XDG_RUNTIME_DIR="$work/run" TMPDIR="$work" NO_AT_BRIDGE=1
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  xsession_start "$work"

  start_linux --simulate
  import -window "$dialog" "$out/linux-start.png"
  xdotool key Tab space
  # Mid-way through the write, while "Processing..." is up (it blinks).
  wait_until 60 "the write to be under way" grep -qx 'progress 2[5-9]' "$report"
  wait_until 10 "Processing..." last_is "$report" "status " "status #7F0000 Processing..."
  import -window "$dialog" "$out/linux-updating.png"
  wait_until 120 "FW UPDATE OK!" has_line "$report" "status #007F00 FW UPDATE OK!"
  import -window "$dialog" "$out/linux-ok.png"
  end_linux

  start_linux --simulate-fault=flip:0
  xdotool key Tab space
  wait_until 120 "the message box" window_named "^$QUARNEL_PRODUCT_TITLE\$"
  shot_with_box "$out/linux-fail-message.png"
  xdotool key Return
  wait_until 10 "FW UPDATE FAIL!" has_line "$report" "status #7F0000 FW UPDATE FAIL!"
  import -window "$dialog" "$out/linux-fail.png"
  end_linux

  # No device with any of the product IDs the dialog tries.
  start_linux --simulate=1234
  xdotool key Tab space
  wait_until 30 "the message box" window_named "^$QUARNEL_PRODUCT_TITLE\$"
  xdotool key Return
  wait_until 10 "Fail to connect device!" has_line "$report" \
    "status #7F0000 Fail to connect device!"
  import -window "$dialog" "$out/linux-no-device.png"
  end_linux

  xsession_stop
  echo "linux: $(cd "$out" && ls linux-*.png | tr '\n' ' ')"
}

# The Win32 dialog under Wine: to be filled in with the Windows program's pictures, named
# windows-*.png in the same states as the Linux ones.
windows_shots() {
  echo "windows: no screenshots yet"
}

targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(linux windows)
for target in "${targets[@]}"; do
  case "$target" in
    linux) linux_shots ;;
    windows) windows_shots ;;
    *) echo "screenshots.sh: unknown target $target" >&2; exit 64 ;;
  esac
done
echo "pictures in $out/"
