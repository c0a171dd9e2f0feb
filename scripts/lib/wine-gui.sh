# Driving the Windows program under Wine on a private X server, for its GUI test and
# scripts/screenshots.sh. Source it, set WG_ARCH (i686 or x86_64), WG_PREFIX (the Wine prefix
# of these runs) and WG_EXE (quarnel-fwupdate.exe), then:
#   wg_enter_root SCRIPT ARGS  runs SCRIPT again in the 32-bit root where only it has Wine
#   wg_missing               what is missing to run the program here (empty: nothing)
#   wg_start WORKDIR         Xvfb and a fresh Wine server on it; wg_stop ends both
#   wg_start_app NAME ARGS   starts the program in the background; wg_exit_code NAME waits
# Waits poll with a deadline; none of them sleeps for a fixed time to let something happen.
source "$(dirname "${BASH_SOURCE[0]}")/xsession.sh"

WG_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WG_WORK=""
# The dialog's caption on the built-in emulated unit (which the tests use), and the product
# title that captions its message boxes.
WG_TITLE="Quarnel USB Digital Async. Audio Firmware Update (emulated device)"
WG_PRODUCT="$QUARNEL_PRODUCT_TITLE"
WG_VERSION_LINE="status #00007F Ver. 23.07.0110.0001  2014-01-20.[0]  Product [Async.]"

wg_wine() {
  sh "$WG_ROOT/scripts/wine-run.sh" "$WG_ARCH" "$WG_PREFIX" "$@"
}

# wg_enter_root SCRIPT ARGS...: where only the 32-bit root (scripts/win32-root.sh) can start
# WG_ARCH programs, runs the calling script again inside it, so that the X server, the X tools
# and Wine all come from the root; elsewhere returns at once.
wg_enter_root() {
  [ "$(wg_wine --where 2>/dev/null)" = root ] || return 0
  exec bash "$WG_ROOT/scripts/win32-root.sh" run --bind "$(dirname "$WG_PREFIX")" \
    --bind "$(dirname "$WG_EXE")" -- bash "$@"
}

wg_missing() {
  local missing
  missing=$(xsession_missing_tools wineserver)
  if [ -n "$missing" ]; then
    echo "missing $missing (scripts/install-deps.sh --all installs them)"
    return
  fi
  wg_wine --check
}

wg_start() {
  WG_WORK=$1
  xsession_start "$WG_WORK" || return 1
  # DISPLAY is set before Wine's first start in the prefix. A Wine server left over from a run
  # on another display would keep that display: start afresh.
  WINEPREFIX="$WG_PREFIX" wineserver -k >/dev/null 2>&1 || true
  # No window manager here: Wine draws the captions itself.
  wg_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
}

# Ends every Wine process of the prefix, then the X server.
wg_stop() {
  WINEPREFIX="$WG_PREFIX" wineserver -k >/dev/null 2>&1 || true
  xsession_stop
}

# A file of the work folder as the program names it (drive Z: is the root).
wg_winpath() { echo "Z:$WG_WORK/$1"; }

wg_start_app() {
  local name=$1
  shift
  rm -f "$WG_WORK/$name.rc"
  (
    wg_wine "$WG_EXE" "$@" >"$WG_WORK/$name.log" 2>&1
    echo $? >"$WG_WORK/$name.rc"
  ) </dev/null >/dev/null 2>&1 &
}

# wg_exit_code NAME SECONDS: prints the program's exit code once it has ended.
wg_exit_code() {
  wait_until "$2" "$1 to end" test -s "$WG_WORK/$1.rc" || return 1
  cat "$WG_WORK/$1.rc"
}

# The lines of a report; the program writes them with Windows line ends.
wg_lines() { [ -f "$1" ] && tr -d '\r' <"$1"; }
wg_has_line() { wg_lines "$1" | grep -qxF -- "$2"; }
wg_has_match() { wg_lines "$1" | grep -qE -- "$2"; }

# wg_window TITLE SECONDS: prints the X window of the top-level window titled TITLE.
wg_window() {
  local pattern
  pattern="^$(printf '%s' "$1" | sed 's/[].[*^$()+?{}|\\]/\\&/g')\$"
  wait_until "$2" "a window titled '$1' on screen" wg_viewable_named "$pattern" || return 1
  wg_viewable_named "$pattern"
}

# wg_viewable_named PATTERN: the first window on screen whose title matches. Wine names a
# window before it maps it, and may keep unmapped windows of the same title beside it.
wg_viewable_named() {
  local w
  for w in $(xdotool search --name "$1" 2>/dev/null); do
    if wg_viewable "$w"; then
      echo "$w"
      return 0
    fi
  done
  return 1
}

# wg_keys WINDOW KEY...: gives WINDOW the keyboard and types the keys through the X server's
# input path (XTEST), as a keyboard would.
wg_keys() {
  local window=$1
  shift
  # Wine names a window before it maps it: the keyboard can only go to one on screen.
  wait_until 30 "window $window on screen" wg_viewable "$window" || return 1
  xdotool windowfocus --sync "$window" && xdotool key --delay 50 "$@"
}

# wg_viewable WINDOW: the window is mapped and shown.
wg_viewable() {
  xwininfo -id "$1" 2>/dev/null | grep -q "Map State: IsViewable"
}

# wg_count_colour PNG '#RRGGBB': how many pixels have exactly that colour.
wg_count_colour() {
  convert "$1" -alpha off -fill black +opaque "$2" -fill white -opaque "$2" \
    -format '%[fx:round(mean*w*h)]' info:
}

# wg_last_is FILE PREFIX LINE: the last line of FILE that starts with PREFIX is LINE.
wg_last_is() {
  [ "$(wg_lines "$1" | awk -v prefix="$2" 'index($0, prefix) == 1 { last = $0 } END { print last }')" = "$3" ]
}
