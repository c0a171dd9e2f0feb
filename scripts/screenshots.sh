#!/usr/bin/env bash
# Pictures of the windowed program in build/screenshots/, for review and documentation:
#   linux-start.png, linux-updating.png, linux-ok.png, linux-fail-message.png,
#   linux-fail.png, linux-no-device.png     the wxWidgets dialog under Xvfb
#   windows-start.png, ... windows-no-device.png   the same for the Win32 dialog under Wine
#
#   scripts/screenshots.sh [linux] [windows]     (both when none is named)
# Builds the program first when it is missing: the default preset's for Linux; for Windows the
# win32 preset's, or the win64 one's where Wine cannot start 32-bit programs (WINDOWS_PRESET
# chooses). Needs Xvfb, xdotool and ImageMagick, and Wine for Windows
# (scripts/install-deps.sh --all).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/xsession.sh
source scripts/lib/wine-gui.sh

out=build/screenshots
mkdir -p "$out"
work=$(mktemp -d)
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  [ -n "${WG_PREFIX:-}" ] && wg_stop
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

# Starts the Windows program with a report file and waits for its dialog; sets report and
# dialog.
start_windows() {
  report="$WG_WORK/report-$RANDOM.txt"
  wg_start_app windows --report="$(wg_winpath "$(basename "$report")")" "$@"
  wait_until 180 "the dialog" wg_has_line "$report" "$WG_VERSION_LINE"
  dialog=$(wg_window "$WG_TITLE" 30)
}

end_windows() {
  wg_keys "$dialog" Escape
  wait_until 30 "the dialog to close" wg_has_line "$report" closed
  wg_exit_code windows 30 >/dev/null
}

# Answers the message box with Enter.
dismiss_box() {
  wg_keys "$(wg_window "$WG_PRODUCT" 30)" Return
}

windows_shots() {
  local preset=${WINDOWS_PRESET:-win32}
  if [ -z "${WINDOWS_PRESET:-}" ] && ! sh scripts/wine-run.sh i686 /nonexistent --check >/dev/null
  then
    preset=win64
  fi
  WG_ARCH=$([ "$preset" = win64 ] && echo x86_64 || echo i686)
  WG_PREFIX="$PWD/build/$preset/wineprefix-gui"
  WG_EXE="build/$preset/app/gui/windows/quarnel-fwupdate.exe"
  local why
  why=$(wg_missing) || true
  [ -z "$why" ] || { echo "screenshots.sh: windows: $why" >&2; return 1; }
  if [ ! -f "$WG_EXE" ]; then
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target quarnel-fwupdate
  fi
  mkdir -p "$work/windows"
  wg_start "$work/windows"

  start_windows --simulate
  import -window "$dialog" "$out/windows-start.png"
  wg_keys "$dialog" Tab space
  # Mid-way through the write, while "Processing..." is up (it blinks).
  wait_until 120 "the write to be under way" wg_has_match "$report" '^progress (2[5-9]|3[0-9])$'
  wait_until 10 "Processing..." wg_last_is "$report" "status " "status #7F0000 Processing..."
  import -window "$dialog" "$out/windows-updating.png"
  wait_until 600 "FW UPDATE OK!" wg_has_line "$report" "status #007F00 FW UPDATE OK!"
  import -window "$dialog" "$out/windows-ok.png"
  end_windows

  start_windows --simulate-fault=flip:0
  wg_keys "$dialog" Tab space
  wait_until 600 "the message box" window_named "^$WG_PRODUCT\$"
  shot_with_box "$out/windows-fail-message.png"
  dismiss_box
  wait_until 30 "FW UPDATE FAIL!" wg_has_line "$report" "status #7F0000 FW UPDATE FAIL!"
  import -window "$dialog" "$out/windows-fail.png"
  end_windows

  # No device with any of the product IDs the dialog tries.
  start_windows --simulate=1234
  wg_keys "$dialog" Tab space
  wait_until 60 "the message box" window_named "^$WG_PRODUCT\$"
  dismiss_box
  wait_until 30 "Fail to connect device!" wg_has_line "$report" \
    "status #7F0000 Fail to connect device!"
  import -window "$dialog" "$out/windows-no-device.png"
  end_windows

  wg_stop
  echo "windows ($preset): $(cd "$out" && ls windows-*.png | tr '\n' ' ')"
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
