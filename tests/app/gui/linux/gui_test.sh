#!/usr/bin/env bash
# The windowed program on a private X server, driven through the server's input path with
# xdotool and watched through its --report file and screenshots.
#
#   gui_test.sh CASE PROGRAM TITLED_WINDOW_HELPER
#
# CASE: update-ok | update-fail | busy-esc | single-instance | no-display. Exits 77 (skipped)
# when a tool is missing (no-display needs none).
set -uo pipefail

case_name=$1
program=$2
helper=$3
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../../../../scripts/lib/xsession.sh
source "$here/../../../../scripts/lib/xsession.sh"

missing=$(xsession_missing_tools)
if [ -n "$missing" ] && [ "$case_name" != no-display ]; then
  echo "skipped: the GUI tests need $missing (scripts/install-deps.sh --all installs them)"
  exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  xsession_stop
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -n "${report:-}" ] && [ -f "$report" ]; then
    echo "--- report (without progress lines)" >&2
    grep -v '^progress' "$report" >&2
  fi
  [ -f "$work/program.log" ] && { echo "--- program output" >&2; cat "$work/program.log" >&2; }
  exit 1
}

# Help, the version and mistakes without any display, and a start without one: no X server
# needed. Where Xvfb is at hand, the same words and codes with a display.
if [ "$case_name" = no-display ]; then
  # No display of any kind: no X, no Wayland, not even a default Wayland socket.
  mkdir -m 700 "$work/run"
  headless() { env -u DISPLAY -u WAYLAND_DISPLAY -u GDK_BACKEND XDG_RUNTIME_DIR="$work/run" "$@"; }
  expect() { # expect LABEL CODE FIRST_LINE_OF_STDOUT FIRST_LINE_OF_STDERR
    [ "$(cat "$work/$1.code")" = "$2" ] || fail "$1: exit code $(cat "$work/$1.code"), not $2"
    [ "$(head -n 1 "$work/$1.out")" = "$3" ] || fail "$1: stdout '$(head -n 1 "$work/$1.out")'"
    [ "$(head -n 1 "$work/$1.err")" = "$4" ] || fail "$1: stderr '$(head -n 1 "$work/$1.err")'"
  }
  run_all() { # run_all PREFIX [env...]
    local prefix=$1
    shift
    "$@" "$program" --help >"$work/$prefix-help.out" 2>"$work/$prefix-help.err"
    echo $? >"$work/$prefix-help.code"
    "$@" "$program" --simulate --version >"$work/$prefix-version.out" 2>"$work/$prefix-version.err"
    echo $? >"$work/$prefix-version.code"
    "$@" "$program" --bogus >"$work/$prefix-bogus.out" 2>"$work/$prefix-bogus.err"
    echo $? >"$work/$prefix-bogus.code"
  }
  run_all none headless
  expect none-help 0 "usage: quarnel-fwupdate [options]" ""
  expect none-version 0 "$(head -n 1 "$work/none-version.out" | grep '^quarnel-fwupdate [0-9]')" ""
  expect none-bogus 64 "" "quarnel-fwupdate: unknown option '--bogus'"
  # The toolkit's own options are left to it, never taken for mistakes.
  headless "$program" --class=Q --display :4711 --version >"$work/gtk.out" 2>"$work/gtk.err" ||
    fail "GTK's options before --version: exit code $?, $(cat "$work/gtk.err")"
  cmp -s "$work/gtk.out" "$work/none-version.out" || fail "GTK's options changed --version"
  no_display="quarnel-fwupdate: cannot open a display; in a terminal use quarnel-fwupdate-cli"
  for how in "unset" "DISPLAY=:4711"; do
    if [ "$how" = unset ]; then
      headless "$program" --simulate >"$work/start.out" 2>"$work/start.err"
    else
      headless env "$how" "$program" --simulate >"$work/start.out" 2>"$work/start.err"
    fi
    code=$?
    [ "$code" -eq 1 ] || fail "no display ($how): exit code $code, not 1"
    [ ! -s "$work/start.out" ] || fail "no display ($how): stdout '$(cat "$work/start.out")'"
    [ "$(cat "$work/start.err")" = "$no_display" ] ||
      fail "no display ($how): stderr '$(cat "$work/start.err")'"
  done
  if [ -z "$(xsession_missing_tools)" ] && xsession_start "$work"; then
    run_all shown env
    for what in help version bogus; do
      for part in out err code; do
        cmp -s "$work/none-$what.$part" "$work/shown-$what.$part" ||
          fail "--$what: $part differs with a display"
      done
    done
  else
    echo "(no X server here: the words with a display were not compared)"
  fi
  echo "ok: $case_name"
  exit 0
fi

# Numbers of the dialog's template in dialog units, from the header the window is built from:
# the values of the names given, on one line in their order; fails when one is missing.
dialog_units() {
  awk -v names="$*" '
    BEGIN { n = split(names, want, " ") }
    $1 == "#define" { value[$2] = $3 }
    END {
      for (i = 1; i <= n; i++) {
        if (!(want[i] in value)) exit 1
        printf "%s%s", value[want[i]], (i < n ? " " : "\n")
      }
    }' "$here/../../../../resources/DialogLayout.h"
}
units=$(dialog_units DLG_WIDTH DLG_HEIGHT DLG_STATUS_X DLG_STATUS_Y DLG_STATUS_W DLG_STATUS_H) ||
  fail "resources/DialogLayout.h lacks the dialog's size or the status label's place"
read -r dialog_w dialog_h status_x status_y status_w status_h <<<"$units"

# The run lock lives in the runtime directory: one of its own, so runs never meet.
export XDG_RUNTIME_DIR="$work/run" TMPDIR="$work"
mkdir -m 700 "$XDG_RUNTIME_DIR"
export NO_AT_BRIDGE=1
xsession_start "$work" || fail "no X server"

# Starts the program with a report file and waits for the dialog. Sets program_pid, report
# and dialog.
start_dialog() {
  report="$work/report-$RANDOM.txt"
  "$program" --report="$report" "$@" >>"$work/program.log" 2>&1 &
  program_pid=$!
  pids+=("$program_pid")
  wait_until 20 "the image version line" has_line "$report" \
    "status #00007F Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]" ||
    fail "the dialog did not start"
  wait_until 10 "the dialog window" window_named "$QUARNEL_DIALOG_TITLE_RE" ||
    fail "no window with the dialog's caption"
  dialog=$(window_named "$QUARNEL_DIALOG_TITLE_RE")
  wait_until 10 "the dialog to get the keyboard" eval '[ "$(xdotool getwindowfocus)" = "$dialog" ]' ||
    fail "the dialog did not get the input focus"
}

# Waits for the program to end and checks that it ended with 0.
expect_exit_0() {
  wait_until 15 "the program to exit" eval "! kill -0 $program_pid 2>/dev/null" ||
    fail "the program did not exit"
  wait "$program_pid"
  local code=$?
  [ "$code" -eq 0 ] || fail "exit code $code, not 0"
}

# Presses Start Update from the keyboard: the focus starts on Exit, Tab moves to Start Update.
press_start_update() {
  xdotool key Tab
  xdotool key space
  wait_until 10 "the run to start" has_line "$report" "enable 1000 0" ||
    fail "Tab, space did not start the update"
}

# How many pixels of the status label in a screenshot of the screen are close to COLOUR.
status_pixels() {
  local shot=$1 colour=$2
  local X Y WIDTH HEIGHT WINDOW SCREEN
  eval "$(xdotool getwindowgeometry --shell "$dialog")"
  local x=$((X + WIDTH * status_x / dialog_w)) y=$((Y + HEIGHT * status_y / dialog_h))
  local w=$((WIDTH * status_w / dialog_w)) h=$((HEIGHT * status_h / dialog_h))
  convert "$shot" -crop "${w}x${h}+${x}+${y}" +repage -fuzz 20% -fill black -opaque "$colour" \
    -fuzz 0 -fill white +opaque black -format '%[fx:round((1-mean)*w*h)]' info:
}

count_lines() {
  grep -c -- "$2" "$1"
}

case "$case_name" in
  update-ok)
    start_dialog --simulate
    for line in "text 1004 1852" "text 1006 5028" "progress 0" "status #00007F Ready"; do
      has_line "$report" "$line" || fail "no start-up line '$line'"
    done
    press_start_update
    # The terminal it was started from closes in the middle of the write: the run goes on.
    kill -HUP "$program_pid" || fail "could not send the hang-up"
    wait_until 120 "FW UPDATE OK!" has_line "$report" "status #007F00 FW UPDATE OK!" ||
      fail "no verdict"
    for line in "dots #007F00 .." "progress 100" "enable 1 1"; do
      has_line "$report" "$line" || fail "no line '$line' in the run"
    done
    [ "$(count_lines "$report" '^message')" -eq 0 ] || fail "a message box during a good run"
    # The icon, in every size, from the PNGs built in.
    icons=$(xprop -len 1000000 -id "$dialog" _NET_WM_ICON |
      grep -o 'Icon ([0-9]* x [0-9]*)' | tr '\n' ' ')
    [ "$icons" = "Icon (16 x 16) Icon (32 x 32) Icon (48 x 48) Icon (256 x 256) " ] ||
      fail "window icons: '$icons'"
    import -window root "$work/ok.png"
    green=$(status_pixels "$work/ok.png" '#007F00')
    [ "$green" -ge 20 ] || fail "only $green dark green pixels in the status label"
    xdotool key Escape
    wait_until 10 "closed" has_line "$report" "closed" || fail "Esc did not close the dialog"
    expect_exit_0
    ;;

  update-fail)
    start_dialog --simulate-fault=flip:0
    press_start_update
    wait_until 120 "the message box" grep -q '^message' "$report" || fail "no message box"
    wait_until 10 "the message box window" window_named "^$QUARNEL_PRODUCT_TITLE\$" ||
      fail "no window with the product title"
    has_line "$report" "message Fail to update firmware!! Try to update again." ||
      fail "wrong message"
    # The verdict shows once the box is dismissed.
    ! grep -q 'FW UPDATE FAIL!' "$report" || fail "the verdict came before the box closed"
    xdotool key Return
    wait_until 10 "FW UPDATE FAIL!" has_line "$report" "status #7F0000 FW UPDATE FAIL!" ||
      fail "Enter did not dismiss the message box"
    [ "$(count_lines "$report" '^message')" -eq 1 ] || fail "not exactly one message box"
    import -window root "$work/fail.png"
    red=$(status_pixels "$work/fail.png" '#7F0000')
    green=$(status_pixels "$work/fail.png" '#007F00')
    [ "$red" -ge 20 ] || fail "only $red dark red pixels in the status label"
    [ "$green" -eq 0 ] || fail "$green dark green pixels in the status label of a failed run"
    xdotool key Escape
    wait_until 10 "closed" has_line "$report" "closed" || fail "Esc did not close the dialog"
    expect_exit_0
    ;;

  busy-esc)
    # The device stops answering: the run stays in progress and Exit stays locked for 30 s.
    start_dialog --simulate-fault=silent-after:5
    press_start_update
    wait_until 10 "Exit to be locked" has_line "$report" "enable 1 0" || fail "Exit not disabled"
    # Esc, and a window manager's close button (as far as the program sees it).
    xdotool key Escape
    "$helper" --close="$dialog" || fail "could not ask the dialog to close"
    # Exit unlocks after 30 s; neither must have changed anything by then.
    wait_until 120 "Exit to unlock" last_is "$report" "enable 1 " "enable 1 1" ||
      fail "Exit never unlocked"
    ! has_line "$report" "closed" || fail "the dialog closed while Exit was disabled"
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended while Exit was disabled"
    "$helper" --close="$dialog" || fail "could not ask the dialog to close"
    # The run had no verdict: one box says what that means before the dialog closes.
    wait_until 10 "the message box" has_line "$report" "message The update was stopped before it finished. The firmware may be partly written: keep the device connected and run the update again." ||
      fail "no message box saying the update was stopped"
    wait_until 10 "the message box window" window_named "^$QUARNEL_PRODUCT_TITLE\$" ||
      fail "no window with the product title"
    ! has_line "$report" "closed" || fail "the dialog closed before the box was dismissed"
    xdotool key Return
    wait_until 10 "closed" has_line "$report" "closed" ||
      fail "the close button did not close once Exit was unlocked"
    [ "$(count_lines "$report" '^message')" -eq 1 ] || fail "not exactly one message box"
    expect_exit_0
    ;;

  single-instance)
    # Starts the stand-in window with these options; sets helper_out.
    start_helper() {
      helper_out="$work/helper-$RANDOM.txt"
      "$helper" "$@" >"$helper_out" 2>&1 &
      helper_pid=$!
      pids+=("$helper_pid")
      wait_until 10 "the stand-in window" has_line "$helper_out" ready ||
        fail "the stand-in window did not come up: $(cat "$helper_out")"
    }
    stop_helper() {
      kill "$helper_pid" 2>/dev/null
      wait "$helper_pid" 2>/dev/null
    }
    # A second copy ends at once without a window of its own.
    expect_second_copy_ends() {
      report="$work/report-$RANDOM.txt"
      "$program" --simulate --report="$report" >>"$work/program.log" 2>&1 &
      program_pid=$!
      pids+=("$program_pid")
      expect_exit_0
      [ ! -e "$report" ] || fail "the second copy opened its dialog ($1)"
    }

    # The title in WM_NAME only, no window manager: mapped, raised and focused by the program.
    start_helper --wm-name="$QUARNEL_PRODUCT_TITLE"
    expect_second_copy_ends "WM_NAME"
    wait_until 10 "the window to be raised" has_line "$helper_out" unobscured ||
      fail "the window with WM_NAME was not raised"
    wait_until 10 "the window to get the focus" has_line "$helper_out" focus ||
      fail "the window with WM_NAME did not get the focus"
    stop_helper

    # In a frame, under a window manager that has gone (its check window no longer exists):
    # the frame is raised and the window inside focused.
    start_helper --net-name="$QUARNEL_PRODUCT_TITLE" --frame --stale-wm
    expect_second_copy_ends "frame, stale window manager"
    wait_until 10 "the frame to be raised" has_line "$helper_out" unobscured ||
      fail "the frame was not raised"
    wait_until 10 "the framed window to get the focus" has_line "$helper_out" focus ||
      fail "the framed window did not get the focus"
    stop_helper

    # _NET_WM_NAME in other letter case, in a frame, under a window manager: it is asked to
    # activate the window inside the frame.
    start_helper --net-name="QUARNEL usb digital audio FIRMWARE update" --wm-name=other --frame --wm
    expect_second_copy_ends "window manager"
    wait_until 10 "the activation request" has_line "$helper_out" "activate titled" ||
      fail "no _NET_ACTIVE_WINDOW request for the framed window: $(cat "$helper_out")"
    stop_helper

    # A title that only begins like the product's is another program: the dialog opens, with
    # the focus on Exit, so Enter closes it.
    start_helper --wm-name="$QUARNEL_PRODUCT_TITLE 2"
    start_dialog --simulate
    has_line "$helper_out" unobscured && fail "the other program's window was raised"
    xdotool key Return
    wait_until 10 "closed" has_line "$report" "closed" || fail "Enter did not press Exit"
    expect_exit_0
    stop_helper
    ;;

  *)
    echo "unknown case $case_name" >&2
    exit 64
    ;;
esac
echo "ok: $case_name"
