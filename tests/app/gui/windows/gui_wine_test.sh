#!/usr/bin/env bash
# The Windows program under Wine on a virtual display, driven with the keyboard through the X
# server, watched through its --report file and screenshots.
#   gui_wine_test.sh CASE ARCH PREFIX EXE TITLE_EXE
# CASE: update-ok, update-fail, second-instance, raises-running or usage-error; ARCH: i686 or
# x86_64; PREFIX: the Wine prefix to use; EXE: quarnel-fwupdate.exe; TITLE_EXE: the test's
# window titled with the product title (TitleWindow.cpp). Runs in the 32-bit root
# (scripts/win32-root.sh) where only that root can start ARCH programs. Exits 77 (skipped) where
# Wine, Xvfb or the X tools are missing; under CI, which installs them, that fails instead.
set -uo pipefail
test_case=$1
WG_ARCH=$2
WG_PREFIX=$3
WG_EXE=$4
title_exe=$5
source "$(dirname "$0")/../../../../scripts/lib/wine-gui.sh"

# The first start in a new prefix sets Wine up; later waits are for the program itself.
STARTUP_S=180
STEP_S=60
UPDATE_S=600

wg_enter_root "$0" "$@"
why=$(wg_missing)
missing=$?
if [ "$missing" -ne 0 ] || [ -n "$why" ]; then
  # 77: the kernel runs no 32-bit program, which no installing changes.
  if [ "${CI:-}" = true ] && [ "$missing" -ne 77 ]; then
    echo "FAILED under CI: $why"
    exit 1
  fi
  echo "skipped: $why"
  exit 77
fi
work=$(mktemp -d)
trap 'wg_stop; rm -rf "$work"' EXIT
trap 'exit 143' INT TERM
wg_start "$work" || exit 1

failed=0
report=""
app=""
window=""

fail() {
  echo "FAILED: $*"
  failed=1
}

# expect LINE SECONDS: the report gets LINE within the time.
expect() {
  wait_until "$2" "'$1'" wg_has_line "$report" "$1" || fail "no line '$1' within $2 s"
}

keys() { wg_keys "$@" || fail "cannot type into window $1"; }

# open_dialog NAME ARGS...: starts the program with a report and waits for its dialog, whose X
# window it leaves in `window`.
open_dialog() {
  app=$1
  shift
  report="$work/$app.txt"
  wg_start_app "$app" --report="$(wg_winpath "$app.txt")" "$@"
  if ! wait_until "$STARTUP_S" "the dialog" wg_has_line "$report" "$WG_VERSION_LINE"; then
    fail "no start-up line '$WG_VERSION_LINE'"
    return 1
  fi
  window=$(wg_window "$WG_TITLE" "$STEP_S") || { fail "no dialog on screen"; return 1; }
}

# Esc closes the dialog; the program ends with 0.
close_dialog() {
  local code
  keys "$window" Escape
  expect "closed" "$STEP_S"
  code=$(wg_exit_code "$app" "$STEP_S") || fail "the program did not end"
  [ "${code:-}" = 0 ] || fail "exit code ${code:-none}, not 0"
}

# expect_pixels '#RRGGBB' WHAT: the dialog on screen shows that colour.
expect_pixels() {
  local shot="$work/$app.png" count
  import -window "$window" "$shot" || fail "no screenshot"
  count=$(wg_count_colour "$shot" "$1")
  [ "${count:-0}" -gt 20 ] || fail "no $2 on screen (${count:-0} pixels of $1)"
}

# Start-up, an update driven from the keyboard, Esc refused while Exit is locked.
update_ok() {
  open_dialog ok --simulate || return
  expect "text 1004 1852" 1
  expect "text 1006 5028" 1
  # The focus starts on Exit: Tab reaches Start Update and space presses it.
  keys "$window" Tab space
  expect "enable 1 0" "$STEP_S"
  expect "status #7F0000 Processing..." "$STEP_S"
  # Exit is locked while the device is written: Esc changes nothing.
  keys "$window" Escape
  expect "status #007F00 FW UPDATE OK!" "$UPDATE_S"
  wg_has_line "$report" "closed" && fail "Esc closed the dialog during the update"
  wg_has_line "$report" "progress 100" || fail "the progress bar never reached 100"
  expect_pixels "#007F00" "dark green verdict"
  close_dialog
}

# A verify failure: one message box, dismissed with Enter, then the red verdict.
update_fail() {
  open_dialog flip --simulate-fault=flip:0 || return
  keys "$window" Tab space
  wait_until "$UPDATE_S" "a message" wg_has_match "$report" "^message " || fail "no message box"
  expect "message Fail to update firmware!! Try to update again." 1
  local box
  if box=$(wg_window "$WG_PRODUCT" "$STEP_S"); then
    keys "$box" Return
  else
    fail "the message box is not on screen"
  fi
  expect "status #7F0000 FW UPDATE FAIL!" "$STEP_S"
  [ "$(wg_lines "$report" | grep -c '^message ')" = 1 ] || fail "more than one message box"
  expect_pixels "#7F0000" "dark red verdict"
  close_dialog
}

# While the first program's message box is open (its caption is the product title), a
# second start ends at once without a dialog.
second_instance() {
  open_dialog first --simulate=1234 || return
  keys "$window" Tab space
  expect "message Fail to connect USB device!" "$STEP_S"
  local box code
  if ! box=$(wg_window "$WG_PRODUCT" "$STEP_S"); then
    fail "the message box is not on screen"
    return
  fi
  wg_start_app second --simulate --report="$(wg_winpath second.txt)"
  code=$(wg_exit_code second "$STARTUP_S") || fail "the second start did not end"
  [ "${code:-}" = 0 ] || fail "the second start ended with ${code:-none}, not 0"
  [ -e "$work/second.txt" ] && fail "the second start opened a dialog"
  keys "$box" Return
  expect "status #7F0000 Fail to connect device!" "$STEP_S"
  close_dialog
}

# The window found under the product title is restored and brought forward.
raises_running() {
  local code
  report="$work/titled.txt"
  WG_EXE=$title_exe wg_start_app titled "$(wg_winpath titled.txt)"
  expect ready "$STARTUP_S"
  [ "$failed" = 0 ] || return
  wg_start_app raiser --simulate --report="$(wg_winpath raiser.txt)"
  code=$(wg_exit_code raiser "$STARTUP_S") || fail "the second start did not end"
  [ "${code:-}" = 0 ] || fail "the second start ended with ${code:-none}, not 0"
  [ -e "$work/raiser.txt" ] && fail "the second start opened a dialog"
  expect restored "$STEP_S"
  expect activated "$STEP_S"
}

# A mistake in the options: a message box under the product title, and once it is dismissed
# the usage code of both windowed programs.
usage_error() {
  local box code
  wg_start_app usage --bogus
  if box=$(wg_window "$WG_PRODUCT" "$STARTUP_S"); then
    keys "$box" Return
  else
    fail "no message box for an unknown option"
  fi
  code=$(wg_exit_code usage "$STEP_S") || fail "the program did not end"
  [ "${code:-}" = 64 ] || fail "exit code ${code:-none} for an unknown option, not 64"
}

case "$test_case" in
  update-ok) update_ok ;;
  update-fail) update_fail ;;
  second-instance) second_instance ;;
  raises-running) raises_running ;;
  usage-error) usage_error ;;
  *) echo "unknown case $test_case" >&2; exit 64 ;;
esac

if [ "$failed" != 0 ]; then
  echo "the report of the last program:"
  wg_lines "$report" | sed 's/^/    /'
  exit 1
fi
echo "ok: $test_case"
